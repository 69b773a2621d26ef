#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/append.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/websocket/teardown.hpp>

#include <openssl/ssl.h>

#include <array>
#include <cstddef>
#include <memory>

namespace vantrel {

/**
 * A TLS stream straight over a TCP socket, for connections that are many and long-lived (one per forwarded
 * connection). OpenSSL reads and writes the socket itself, and its record buffers are released while a
 * connection is idle, so an open connection costs a few KiB instead of the tens of KiB of a buffered TLS stream.
 * Meets the AsyncReadStream / AsyncWriteStream requirements (a WebSocket stream runs on top of it).
 *
 * At most one read and one write may be outstanding; all operations run on the stream's executor, which must be
 * serial (a loop run by one thread, or a strand).
 */
class TlsStream {
public:
    using executor_type = boost::asio::any_io_executor;
    using Socket = boost::asio::ip::tcp::socket;

    enum class Role { Client, Server };

    /**
     * A stream whose TLS connection is made from context: as a client (the context must verify peers; see
     * core/TlsClient.h), or as a server (the context holds the certificate).
     */
    TlsStream(const executor_type& executor, SSL_CTX* context, Role role = Role::Client);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    executor_type get_executor() { return m_socket.get_executor(); }
    Socket& socket() { return m_socket; }
    SSL* native_handle() { return m_ssl.get(); }

    /** Runs the handshake once the TCP connection is made; handler(error_code, 0). */
    template <class Handler>
    auto async_handshake(Handler&& handler);

    template <class MutableBufferSequence, class Handler>
    auto async_read_some(const MutableBufferSequence& buffers, Handler&& handler);

    template <class ConstBufferSequence, class Handler>
    auto async_write_some(const ConstBufferSequence& buffers, Handler&& handler);

    /** Sends a TLS close notification if it can without waiting, then closes the socket. */
    void shutdownAndClose();

    /** The outcome of one attempt of an OpenSSL call on the non-blocking socket. */
    struct Attempt {
        enum class Status { Done, WantRead, WantWrite } status = Status::Done;
        boost::system::error_code error;
        std::size_t transferred = 0;
    };

private:
    template <class Try>
    class Operation;

    using Pieces = std::array<boost::asio::const_buffer, 16>;

    Attempt socketReady();
    Attempt handshakeOnce();
    Attempt readOnce(void* data, std::size_t size);
    Attempt writeOnce(const Pieces& pieces, std::size_t count);
    Attempt outcomeOf(int result, std::size_t transferred);

    Socket m_socket;
    std::unique_ptr<SSL, decltype(&SSL_free)> m_ssl;
    bool m_socketPrepared = false;
};

/** One OpenSSL call retried as the socket becomes ready; completes through the stream's executor, never inline. */
template <class Try>
class TlsStream::Operation {
public:
    Operation(TlsStream& stream, Try attempt)
        : m_stream(stream)
        , m_try(std::move(attempt))
    {
    }

    template <class Self>
    void operator()(Self& self, boost::system::error_code error = {}, std::size_t transferred = 0)
    {
        if (m_state == State::Completing || (m_state == State::Waiting && error)) {
            self.complete(error, transferred);
            return;
        }
        const bool initiating = m_state == State::Starting;
        const Attempt outcome = m_try();
        switch (outcome.status) {
        case Attempt::Status::WantRead:
            m_state = State::Waiting;
            m_stream.m_socket.async_wait(Socket::wait_read, std::move(self));
            return;
        case Attempt::Status::WantWrite:
            m_state = State::Waiting;
            m_stream.m_socket.async_wait(Socket::wait_write, std::move(self));
            return;
        case Attempt::Status::Done:
            if (initiating) {
                m_state = State::Completing;
                boost::asio::post(boost::asio::append(std::move(self), outcome.error, outcome.transferred));
            } else {
                self.complete(outcome.error, outcome.transferred);
            }
            return;
        }
    }

private:
    enum class State { Starting, Waiting, Completing };

    TlsStream& m_stream; // not owned; outlives the operation (operations keep their owner alive)
    Try m_try;
    State m_state = State::Starting;
};

template <class Handler>
auto TlsStream::async_handshake(Handler&& handler)
{
    return boost::asio::async_compose<Handler, void(boost::system::error_code, std::size_t)>(
        Operation(*this, [this] { return handshakeOnce(); }), handler, m_socket);
}

template <class MutableBufferSequence, class Handler>
auto TlsStream::async_read_some(const MutableBufferSequence& buffers, Handler&& handler)
{
    boost::asio::mutable_buffer first;
    for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers); ++it) {
        const boost::asio::mutable_buffer buffer = *it;
        if (buffer.size() > 0) {
            first = buffer;
            break;
        }
    }
    return boost::asio::async_compose<Handler, void(boost::system::error_code, std::size_t)>(
        Operation(*this, [this, first] { return readOnce(first.data(), first.size()); }), handler, m_socket);
}

template <class ConstBufferSequence, class Handler>
auto TlsStream::async_write_some(const ConstBufferSequence& buffers, Handler&& handler)
{
    // The first pieces of the sequence are enough: a WebSocket frame comes as a header and its payload, an HTTP
    // request as a handful of pieces that should share one record.
    Pieces pieces{};
    std::size_t count = 0;
    for (auto it = boost::asio::buffer_sequence_begin(buffers);
         it != boost::asio::buffer_sequence_end(buffers) && count < pieces.size(); ++it) {
        const boost::asio::const_buffer buffer = *it;
        if (buffer.size() > 0) {
            pieces[count++] = buffer;
        }
    }
    return boost::asio::async_compose<Handler, void(boost::system::error_code, std::size_t)>(
        Operation(*this, [this, pieces, count] { return writeOnce(pieces, count); }), handler, m_socket);
}

/** Closes the stream at once (how a timed-out WebSocket operation ends it). */
void beast_close_socket(TlsStream& stream);

/** Closing a WebSocket over this stream ends with the TLS close notification and the socket's close. */
void teardown(boost::beast::role_type role, TlsStream& stream, boost::system::error_code& error);

template <class Handler>
void async_teardown(boost::beast::role_type role, TlsStream& stream, Handler&& handler)
{
    boost::system::error_code error;
    teardown(role, stream, error);
    boost::asio::post(stream.get_executor(), boost::asio::append(std::forward<Handler>(handler), error));
}

} // namespace vantrel
