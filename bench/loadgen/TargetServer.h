#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>

namespace vantrel::bench {

/**
 * The far end of every forwarding path: listens on 127.0.0.1 and gives each accepted connection a TargetSession.
 * Single-threaded: the io_context it was made with must be run by one thread, and the server must outlive that
 * run (its accept handler refers to it).
 */
class TargetServer {
public:
    /** Binds 127.0.0.1:port (0 picks a free port); throws when the port cannot be bound. */
    TargetServer(boost::asio::io_context& context, std::uint16_t port);

    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }
    void start() { doAccept(); }

private:
    void doAccept();

    boost::asio::ip::tcp::acceptor m_acceptor;
};

} // namespace vantrel::bench
