#pragma once

#include "ShellCore/RoutingServer.h"

#include "core/DevicePortAssociation.h"
#include "core/IPCCommand.h"
#include "core/SettingsMessage.h"

#include "platform/SignalBus.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/**
 * The background process that runs the forwards: on start and on every settings change it re-reads the shared
 * files and starts one listener per forward the signed-in user is granted; it writes the shared files on behalf
 * of the application and the finalizer (commands), answers pings, refreshes the user's port grants every 5 seconds
 * and reports a fresh installation once. Runs on the main queue (a strand of the process's io_context).
 */
class Daemon {
public:
    /** Commands longer than this are refused: no settings or forwards file is anywhere near this size. */
    static constexpr std::size_t kMaxCommandSize = 1024 * 1024;
    static constexpr std::chrono::seconds kProfileRefreshInterval{5};

    /** A daemon whose forwarded connections run on pool and whose own logic runs on mainExecutor. */
    Daemon(IoContextPool& pool, boost::asio::any_io_executor mainExecutor);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    /** The start sequence: observers, the stored token, the first review and the profile refresh loop. Once. */
    void start();
    void stop();
    /** Closes every listener (and so every forwarded connection); for the end of the process. */
    void closeListeners();

    void reviewSettings();
    void startServer(const DevicePortAssociation& association);
    void updateProfile();

    void commandSetSettings(const std::string& settingsText);
    void commandSetData(const std::string& forwardsText);
    void commandProvideSettings();
    void commandProvideData();

    /** "1.6 (1.16)". */
    static std::string getAppVersion();

    const std::vector<std::shared_ptr<RoutingServer>>& servers() const { return runningServers; }

private:
    void CallbackPing();
    void CallbackSettings();
    void CallbackCommand(const std::optional<std::string>& text, const platform::SignalSender& sender);
    void dispatch(const IPCCommand& command);
    void reportInstallationIfMarked(SettingsMessage settings);
    void applyGrants(const JsonField& forwardingPorts);

    IoContextPool& m_pool;
    boost::asio::any_io_executor m_mainExecutor;
    bool started = false;
    std::vector<std::shared_ptr<RoutingServer>> runningServers;
};

} // namespace vantrel
