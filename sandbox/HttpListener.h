#pragma once

#include "core/Result.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>

namespace vantrel {
class IoContextPool;
}

namespace vantrel::sandbox {

class ServiceRouter;
struct ServiceState;

/**
 * Accepts HTTPS connections on 127.0.0.1 (ephemeral port) and starts an HttpSession for each, on the pool's loops
 * in turn (the connection and everything it opens stay on that loop). Built by open(), which reports a port that
 * cannot be opened; the acceptor runs on the pool's first loop until close().
 */
class HttpListener : public std::enable_shared_from_this<HttpListener> {
public:
    static Result<std::shared_ptr<HttpListener>> open(IoContextPool& loops, boost::asio::ssl::context& tls,
                                                      ServiceState& state, ServiceRouter& router);

    HttpListener(IoContextPool& loops, boost::asio::ssl::context& tls, ServiceState& state, ServiceRouter& router);

    void start();
    /** Stops accepting; thread-safe. */
    void close();
    unsigned short port() const { return m_port; }

private:
    void doAccept();
    void onAccept(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);

    IoContextPool& m_loops; // owned by the Sandbox, outlives the listener
    boost::asio::ssl::context& m_tls; // owned by the Sandbox, outlives the listener
    ServiceState& m_state;
    ServiceRouter& m_router;
    boost::asio::ip::tcp::acceptor m_acceptor; // touched on its loop only after start
    unsigned short m_port = 0;
};

} // namespace vantrel::sandbox
