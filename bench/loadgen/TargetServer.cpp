#include "bench/loadgen/TargetServer.h"

#include "bench/loadgen/TargetSession.h"

#include <iostream>

namespace vantrel::bench {

namespace asio = boost::asio;

TargetServer::TargetServer(asio::io_context& context, std::uint16_t port)
    : m_acceptor(context, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port))
{
}

void TargetServer::doAccept()
{
    m_acceptor.async_accept([this](const boost::system::error_code& error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted) {
            return;
        }
        if (error) {
            // Out of descriptors, usually: say so once per failure and keep serving the connections we have.
            std::cerr << "target: accept failed: " << error.message() << "\n";
        } else {
            std::make_shared<TargetSession>(std::move(socket))->start();
        }
        doAccept();
    });
}

} // namespace vantrel::bench
