#pragma once

#include "ShellCore/M2MRoutingSocketConnector.h"
#include "ShellCore/ShellRoutingHandlerDelegate.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/**
 * The relay side of one forwarded connection: owns the relay connection for the forward's device, asks the
 * relay for the connection's identity as soon as it is open, turns the relay's packets into calls on its
 * listeners and sends the listeners' bytes to the device. Runs on its executor (the channel's), like
 * every listener callback; bytes from the device are delivered one packet at a time, in arrival order, and a
 * listener may hold the next delivery back until it has written the bytes (suspendDelivery).
 */
class ShellRoutingHandler final : private M2MRoutingSocketConnectorDelegate {
public:
    /** A handler for the device; the relay connection is not opened yet. */
    ShellRoutingHandler(const std::string& serial, const boost::asio::any_io_executor& executor);
    ~ShellRoutingHandler() override;
    ShellRoutingHandler(const ShellRoutingHandler&) = delete;
    ShellRoutingHandler& operator=(const ShellRoutingHandler&) = delete;

    /** Appends a listener (not owned) unless it is listed already. */
    void addDelegate(ShellRoutingHandlerDelegate* delegate);
    void removeDelegate(ShellRoutingHandlerDelegate* delegate);

    /** Opens the relay connection; the identity request goes out once it is open. */
    void startGetDeviceIdentifier();
    /** Sends [type, port, data] once the relay connection is open; dropped before that (see the connector). */
    void sendMessage(std::int64_t type, std::int64_t port, std::string_view data,
                     M2MRoutingSocketConnector::WriteCompletion whenSent = {});
    void sendResizeControl(std::optional<int> width, std::optional<int> height, std::optional<std::int64_t> port);

    /** Closes the relay connection, tells the listeners "Connection reset programmatically", then forgets them. */
    void close();

    void suspendDelivery();
    void resumeDelivery();

    std::optional<std::int64_t> getRoutingPort() const { return routingPort; }
    void setRoutingPort(std::optional<std::int64_t> port) { routingPort = port; }
    const std::optional<std::string>& getAwaitedIdentity() const { return awaitedIdentity; }

private:
    void M2MOnMessageReceived(const RelayPacket& packet) override;
    void M2MOnDisconnectedWithCode(std::int64_t code, const std::string& reason, bool wasClean) override;
    void M2MOnError(const Error& error) override;
    void M2MOnConnected() override;

    void onDeviceBytes(const RelayPacket& packet);
    std::vector<ShellRoutingHandlerDelegate*> getSafeDelegates() const { return delegates; }

    std::shared_ptr<M2MRoutingSocketConnector> connector; // owned (its pending operations share it)
    std::vector<ShellRoutingHandlerDelegate*> delegates;  // not owned
    bool awaitingConnection = false;
    std::optional<std::string> awaitedIdentity;
    std::optional<std::int64_t> routingPort;
};

} // namespace vantrel
