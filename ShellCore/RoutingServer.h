#pragma once

#include "ShellCore/IoContextPool.h"
#include "ShellCore/RemoteLocalChannel.h"

#include "core/DevicePortAssociation.h"
#include "core/Result.h"

#include <boost/asio/ip/tcp.hpp>

#include <memory>
#include <string>
#include <vector>

namespace vantrel {

/**
 * The listening socket of one forward: accepts connections on the forward's local port, on every local address
 * (IPv4 and IPv6), and hands each to a new forwarding channel, which runs on a loop of the pool. Owns its
 * channels; a channel that ends is dropped at once, and close() ends every channel still open.
 *
 * Runs on the main queue's executor: every call must be made there.
 */
class RoutingServer final : public std::enable_shared_from_this<RoutingServer> {
public:
    /** A listener for the forward; nothing listens yet. It accepts on mainExecutor; channels run on pool's loops. */
    static std::shared_ptr<RoutingServer> createWithAssociation(std::shared_ptr<const DevicePortAssociation> association,
                                                                IoContextPool& pool,
                                                                const boost::asio::any_io_executor& mainExecutor);

    void setAppVersion(std::string version) { appVersion = std::move(version); }

    /**
     * Starts listening on the forward's local port; a failure is logged and reported, and the listener idles.
     * A listener closed before it got to listen stays closed (a later review owns the port by then).
     */
    Result<void> listen();

    /** Stops listening and closes every channel. Later calls do nothing. */
    void close();

    bool isListening() const { return !server.empty(); }
    std::size_t openChannels() const { return channels.size(); }
    const DevicePortAssociation& forward() const { return *association; }

    struct PrivateTag {};
    RoutingServer(PrivateTag, std::shared_ptr<const DevicePortAssociation> forward, IoContextPool& pool,
                  const boost::asio::any_io_executor& mainExecutor);

private:
    using Acceptor = boost::asio::ip::tcp::acceptor;

    Result<void> bindEveryAddress(std::uint16_t port);
    void doAccept(Acceptor& acceptor);
    void onAccept(Acceptor& acceptor, const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);
    void drop(const std::shared_ptr<RemoteLocalChannel>& channel);

    const std::shared_ptr<const DevicePortAssociation> association;
    std::string appVersion;
    std::vector<std::unique_ptr<Acceptor>> server; ///< one dual-stack acceptor, or one per address family
    std::vector<std::shared_ptr<RemoteLocalChannel>> channels;
    bool m_closed = false;
    IoContextPool& m_pool;
    boost::asio::any_io_executor m_mainExecutor;
};

} // namespace vantrel
