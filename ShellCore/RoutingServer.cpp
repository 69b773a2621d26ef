#include "ShellCore/RoutingServer.h"

#include "core/PortNumber.h"

#include "platform/Log.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>

namespace vantrel {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(200);

std::string textForLog(const JsonField& field)
{
    return textOf(field).value_or(isPresent(field) ? toCompactJson(field) : "(null)");
}

} // namespace

RoutingServer::RoutingServer(PrivateTag, std::shared_ptr<const DevicePortAssociation> forward, IoContextPool& pool,
                             const asio::any_io_executor& mainExecutor)
    : association(std::move(forward))
    , m_pool(pool)
    , m_mainExecutor(mainExecutor)
{
}

std::shared_ptr<RoutingServer> RoutingServer::createWithAssociation(
    std::shared_ptr<const DevicePortAssociation> association, IoContextPool& pool,
    const asio::any_io_executor& mainExecutor)
{
    return std::make_shared<RoutingServer>(PrivateTag{}, std::move(association), pool, mainExecutor);
}

Result<void> RoutingServer::listen()
{
    if (m_closed) {
        return Error{"vantrel.listener", 2, "the listener was closed before it listened", nullptr};
    }
    logFormat("[v:{}] Listening on port: {}", appVersion, textForLog(association->localPort));
    const auto port = portNumberOf(association->localPort);
    Result<void> bound = port ? bindEveryAddress(*port)
                              : Result<void>(Error{"vantrel.listener", 1, "not a port number: "
                                                                               + textForLog(association->localPort),
                                                   nullptr});
    if (!bound) {
        logFormat("[v:{}] Error listening on port: {}", appVersion, bound.error().description);
        server.clear();
        return bound;
    }
    for (auto& acceptor : server) {
        doAccept(*acceptor);
    }
    return {};
}

Result<void> RoutingServer::bindEveryAddress(std::uint16_t port)
{
    // One IPv6 socket that also takes IPv4 connections where the system has IPv6; else IPv4 alone.
    const auto open = [this, port](const tcp& protocol, bool dualStack) -> error_code {
        auto acceptor = std::make_unique<Acceptor>(m_mainExecutor);
        error_code error;
        acceptor->open(protocol, error);
        if (!error && dualStack) {
            acceptor->set_option(asio::ip::v6_only(false), error);
        }
        if (!error) {
            acceptor->set_option(Acceptor::reuse_address(true), error);
        }
        if (!error) {
            acceptor->bind(tcp::endpoint(protocol, port), error);
        }
        if (!error) {
            acceptor->listen(asio::socket_base::max_listen_connections, error);
        }
        if (!error) {
            server.push_back(std::move(acceptor));
        }
        return error;
    };
    error_code error = open(tcp::v6(), true);
    if (error == asio::error::address_family_not_supported || error == boost::system::errc::address_not_available) {
        error = open(tcp::v4(), false);
    }
    if (error) {
        return Error{"vantrel.listener", error.value(), error.message(), nullptr};
    }
    return {};
}

void RoutingServer::doAccept(Acceptor& acceptor)
{
    acceptor.async_accept(m_pool.nextExecutor(),
                          [self = shared_from_this(), &acceptor](const error_code& error, tcp::socket socket) {
                              self->onAccept(acceptor, error, std::move(socket));
                          });
}

void RoutingServer::onAccept(Acceptor& acceptor, const error_code& error, tcp::socket socket)
{
    if (error == asio::error::operation_aborted || server.empty()) {
        return; // closed
    }
    if (error) {
        // Out of descriptors or memory, or the client gave up: try again shortly rather than spin.
        logFormat("[v:{}] could not accept a connection: {}", appVersion, error.message());
        auto retry = std::make_shared<asio::steady_timer>(m_mainExecutor, kAcceptRetryDelay);
        retry->async_wait([self = shared_from_this(), retry, &acceptor](const error_code& waitError) {
            if (!waitError && !self->server.empty()) {
                self->doAccept(acceptor);
            }
        });
        return;
    }
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    auto channel = RemoteLocalChannel::createWithServer(std::move(socket), association);
    channels.push_back(channel);
    std::weak_ptr<RoutingServer> weakSelf = shared_from_this();
    std::weak_ptr<RemoteLocalChannel> weakChannel = channel;
    asio::dispatch(channel->executor(), [channel, weakSelf, weakChannel, version = appVersion, main = m_mainExecutor] {
        channel->setAppVersion(version);
        channel->setOnClosed([weakSelf, weakChannel, main] {
            asio::post(main, [weakSelf, weakChannel] {
                auto self = weakSelf.lock();
                auto ended = weakChannel.lock();
                if (self && ended) {
                    self->drop(ended);
                }
            });
        });
        channel->start();
        channel->setUpAndStartHandler();
    });
    doAccept(acceptor);
}

void RoutingServer::drop(const std::shared_ptr<RemoteLocalChannel>& channel)
{
    channels.erase(std::remove(channels.begin(), channels.end(), channel), channels.end());
}

void RoutingServer::close()
{
    m_closed = true;
    if (!server.empty()) {
        for (auto& acceptor : server) {
            error_code ignored;
            acceptor->close(ignored);
        }
        server.clear();
        logFormat("[V:{}] socketDidDisconnect: {}", appVersion, "(null)");
    }
    for (auto& channel : channels) {
        asio::dispatch(channel->executor(), [channel] { channel->close(); });
    }
    channels.clear();
}

} // namespace vantrel
