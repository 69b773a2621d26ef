#pragma once

#include "ShellCore/BufferPool.h"
#include "ShellCore/DeviceConnectionData.h"
#include "ShellCore/ShellRoutingHandler.h"

#include "core/DevicePortAssociation.h"
#include "core/GenericRESTMessage.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/**
 * Carries one accepted local TCP connection to one port of the remote device. Reads the local client at once,
 * starts a routing handler for the forward's device and, once the relay has told the identity of its connection,
 * asks the service to open the forward's remote port towards it. From then on local bytes go to the device in
 * type-5 packets and the device's bytes (type 6) are written to the local client. Bytes read before the route is
 * known wait in a buffer and go first. Any failure on either side closes the whole channel.
 *
 * Flow control: at most one read of the local client is on its way to the relay, and the relay is not read while
 * the local client has not taken the previous delivery, so a fast side can never fill the daemon's memory; at
 * most kMaxBufferedBytes wait for the route.
 *
 * Runs on the accepted socket's executor (one loop, one thread; never the main queue's strand): every call must be
 * made there.
 */
class RemoteLocalChannel final : public std::enable_shared_from_this<RemoteLocalChannel>,
                                 private ShellRoutingHandlerDelegate {
public:
    using Socket = boost::asio::ip::tcp::socket;

    /** Local bytes held while the route is not known yet; reading stops beyond this. */
    static constexpr std::size_t kMaxBufferedBytes = 1024 * 1024;
    /** Time the relay and the service have to open the route before the channel gives up. */
    static constexpr std::chrono::seconds kRouteTimeout{30};

    /** A channel for an accepted connection; it runs on the socket's executor, which must be serial. */
    static std::shared_ptr<RemoteLocalChannel> createWithServer(Socket server,
                                                                std::shared_ptr<const DevicePortAssociation> association);

    /** Issues the first read of the local connection. */
    void start();
    void setAppVersion(std::string version) { appVersion = std::move(version); }
    /** Starts the relay side: a routing handler for the forward's device, which opens its relay connection. */
    void setUpAndStartHandler();
    /** Ends the channel: the local connection and the relay connection are closed. Later calls do nothing. */
    void close();

    /** Called once, on the channel's executor, when the channel has closed. */
    void setOnClosed(std::function<void()> onClosed) { m_onClosed = std::move(onClosed); }

    boost::asio::any_io_executor executor() { return server.get_executor(); }

    struct PrivateTag {};
    RemoteLocalChannel(PrivateTag, Socket socket, std::shared_ptr<const DevicePortAssociation> forward);

private:
    void waitForLocalBytes();
    void onLocalReadable(const boost::system::error_code& error);
    void onLocalBytes(BufferPool::Buffer buffer, std::size_t size);
    void afterLocalBytesSent();
    bool sendBufferedBytes();
    void onLocalDisconnected(const boost::system::error_code& error);

    void requestPort(const std::string& identity);
    void onPortAnswer(const GenericRESTResponse<Json>& response);
    void routeKnown(std::int64_t port);

    void ShellOnIdentityRetrieved(const std::string& identity) override;
    void ShellOnPortOpened(std::int64_t port) override;
    void ShellOnRouteSet(std::int64_t port, std::string_view data) override;
    void ShellOnDisconnectedWithCode(std::int64_t code, const std::string& reason, bool wasClean) override;
    void ShellOnError(const Error& error) override;

    bool closed = false;
    bool routeSet = false; ///< bytes from the device have arrived
    std::string appVersion;
    Socket server; ///< the local client's connection
    std::unique_ptr<ShellRoutingHandler> shellHandler;
    const std::shared_ptr<const DevicePortAssociation> association;
    std::optional<std::string> identity;
    DeviceConnectionData currentDeviceConnection;
    std::string writeBuffer; ///< local bytes read before the route was known

    std::optional<BufferPool::Buffer> m_sending; ///< the local read on its way to the relay
    std::string m_sendingBuffered;              ///< writeBuffer's bytes on their way to the relay
    bool m_readingStopped = false;              ///< writeBuffer is full: no local read until it has gone
    boost::asio::steady_timer m_routeDeadline;
    std::function<void()> m_onClosed;
};

} // namespace vantrel
