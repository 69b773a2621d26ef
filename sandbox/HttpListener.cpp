#include "sandbox/HttpListener.h"

#include "ShellCore/IoContextPool.h"
#include "platform/Log.h"
#include "sandbox/HttpSession.h"
#include "sandbox/SandboxError.h"

#include <boost/asio/post.hpp>

namespace vantrel::sandbox {

namespace net = boost::asio;

HttpListener::HttpListener(IoContextPool& loops, net::ssl::context& tls, ServiceState& state, ServiceRouter& router)
    : m_loops(loops)
    , m_tls(tls)
    , m_state(state)
    , m_router(router)
    , m_acceptor(loops.mainContext())
{
}

Result<std::shared_ptr<HttpListener>> HttpListener::open(IoContextPool& loops, net::ssl::context& tls,
                                                         ServiceState& state, ServiceRouter& router)
{
    auto listener = std::make_shared<HttpListener>(loops, tls, state, router);
    boost::system::error_code error;
    const net::ip::tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), 0);
    listener->m_acceptor.open(endpoint.protocol(), error);
    if (!error) {
        listener->m_acceptor.set_option(net::socket_base::reuse_address(true), error);
    }
    if (!error) {
        listener->m_acceptor.bind(endpoint, error);
    }
    if (!error) {
        listener->m_acceptor.listen(net::socket_base::max_listen_connections, error);
    }
    if (error) {
        return sandboxError(SandboxErrorCode::listen, "cannot listen on 127.0.0.1: " + error.message());
    }
    listener->m_port = listener->m_acceptor.local_endpoint().port();
    return listener;
}

void HttpListener::start()
{
    net::post(m_acceptor.get_executor(), [self = shared_from_this()]() { self->doAccept(); });
}

void HttpListener::close()
{
    net::post(m_acceptor.get_executor(), [self = shared_from_this()]() {
        boost::system::error_code ignored;
        self->m_acceptor.close(ignored);
    });
}

void HttpListener::doAccept()
{
    m_acceptor.async_accept(
        m_loops.nextExecutor(),
        [self = shared_from_this()](const boost::system::error_code& error, net::ip::tcp::socket socket) {
            self->onAccept(error, std::move(socket));
        });
}

void HttpListener::onAccept(const boost::system::error_code& error, net::ip::tcp::socket socket)
{
    if (error == net::error::operation_aborted || !m_acceptor.is_open()) {
        return;
    }
    if (!error) {
        // Answers and relay packets are small writes in a row: waiting to coalesce them only adds latency.
        boost::system::error_code ignored;
        socket.set_option(net::ip::tcp::no_delay(true), ignored);
        std::make_shared<HttpSession>(std::move(socket), m_tls, m_state, m_router)->run();
    } else {
        logFormat("sandbox: accept failed: {}", error.message());
    }
    doAccept();
}

} // namespace vantrel::sandbox
