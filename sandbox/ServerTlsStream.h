#pragma once

#include "ShellCore/TlsStream.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/role.hpp>

#include <array>
#include <memory>
#include <utility>

namespace vantrel::sandbox {

/**
 * The server's side of an HTTPS or relay connection: a TlsStream that closes as a server should. It sends its TLS
 * close notification, ends its sending side, and closes the socket only once the client has closed (what still
 * arrives is dropped), so the client's own close notification never meets a closed socket and the client sees a
 * clean end instead of a reset. Reads and writes go straight to the TlsStream; a WebSocket runs on top of it
 * after an upgrade (the stream moves into it).
 *
 * Lives on the executor of its TlsStream, like the stream itself.
 */
class ServerTlsStream {
public:
    using executor_type = TlsStream::executor_type;

    explicit ServerTlsStream(std::unique_ptr<TlsStream> stream);

    executor_type get_executor() { return m_stream->get_executor(); }
    TlsStream& tls() { return *m_stream; }

    template <class MutableBufferSequence, class Handler>
    auto async_read_some(const MutableBufferSequence& buffers, Handler&& handler)
    {
        return m_stream->async_read_some(buffers, std::forward<Handler>(handler));
    }

    template <class ConstBufferSequence, class Handler>
    auto async_write_some(const ConstBufferSequence& buffers, Handler&& handler)
    {
        return m_stream->async_write_some(buffers, std::forward<Handler>(handler));
    }

    /** Sends the TLS close notification if the socket takes it now and ends the sending side; stays open. */
    void endSending();

    /** After endSending: drops what arrives until the peer closes, then closes; handler(error_code). */
    template <class Handler> auto async_awaitPeerClose(Handler&& handler);

private:
    class AwaitPeerClose;

    std::unique_ptr<TlsStream> m_stream;
    std::array<char, 256> m_discard {}; // what the peer sends after the close
};

class ServerTlsStream::AwaitPeerClose {
public:
    explicit AwaitPeerClose(ServerTlsStream& stream)
        : m_stream(stream)
    {
    }

    template <class Self> void operator()(Self& self, boost::system::error_code error = {}, std::size_t = 0)
    {
        if (!error) {
            m_stream.tls().socket().async_read_some(boost::asio::buffer(m_stream.m_discard), std::move(self));
            return;
        }
        m_stream.tls().shutdownAndClose();
        self.complete(error == boost::asio::error::eof ? boost::system::error_code() : error);
    }

private:
    ServerTlsStream& m_stream; // not owned; the WebSocket operation keeps its owner alive
};

template <class Handler> auto ServerTlsStream::async_awaitPeerClose(Handler&& handler)
{
    return boost::asio::async_compose<Handler, void(boost::system::error_code)>(AwaitPeerClose(*this), handler,
                                                                                m_stream->socket());
}

/** Closes the stream at once (how a timed-out WebSocket operation ends it). */
void beast_close_socket(ServerTlsStream& stream);

/** A server waits for the client to close first; a client closes at once. */
template <class Handler> void async_teardown(boost::beast::role_type role, ServerTlsStream& stream, Handler&& handler)
{
    if (role == boost::beast::role_type::server) {
        stream.endSending();
        stream.async_awaitPeerClose(std::forward<Handler>(handler));
        return;
    }
    stream.tls().shutdownAndClose();
    boost::asio::post(stream.get_executor(),
                      boost::asio::append(std::forward<Handler>(handler), boost::system::error_code()));
}

} // namespace vantrel::sandbox
