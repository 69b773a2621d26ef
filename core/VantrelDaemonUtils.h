#pragma once

#include "core/IPCCommand.h"

#include "platform/SignalBus.h"

#include <functional>
#include <optional>
#include <string>

namespace vantrel {

/**
 * The notification channel between the application, the daemon and the finalizer: pings, settings-changed
 * signals and commands, each addressed either to the daemon or to the application. A program posts the names
 * addressed to the other side and observes those addressed to itself. Names are the organisation prefix plus
 * "Vantrel." or "VantrelDaemon." plus "Ping", "SettingsChanged" or "Command"; they travel as broadcast signals
 * on the message bus (the system bus unless VANTREL_BUS_ADDRESS names another).
 *
 * The flag argument says on whose behalf a call is made: true for the daemon, false for the application and
 * the finalizer. Observer callbacks run on the main queue. Nothing is queued or acknowledged: a message that
 * arrives while nobody observes it is lost.
 */
class VantrelDaemonUtils {
public:
    VantrelDaemonUtils() = delete;

    using Callback = std::function<void()>;
    /** Receives the command text (nothing when the signal carried none) and who sent it. */
    using CommandCallback = std::function<void(const std::optional<std::string>& text, const platform::SignalSender&)>;

    static void sendPingAsDaemon(bool asDaemon);
    static void sendSettingsChangedAsDaemon(bool asDaemon);
    static void sendCommandAsDaemon(bool asDaemon, const IPCCommand& command);

    static void addObserverForPingAsDaemon(Callback callback, bool asDaemon);
    static void addObserverForSettingsChangedAsDaemon(Callback callback, bool asDaemon);
    static void addObserverForCommandAsDaemon(CommandCallback callback, bool asDaemon);

    /** The full notification name, e.g. notificationName(true, "Ping") is "com.corvane.VantrelDaemon.Ping". */
    static std::string notificationName(bool addressedToDaemon, const char* message);
};

} // namespace vantrel
