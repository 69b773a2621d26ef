#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::platform {

/** Who sent a signal, as far as the bus can tell. */
struct SignalSender {
    std::string uniqueName;   ///< the sender's connection name on the bus
    std::optional<uid_t> uid; ///< only when asked for at subscription, and only while the sender is connected
};

/**
 * Broadcast signals on a message bus (D-Bus): every connection subscribed to a signal receives it, in
 * whatever process or login session it runs. A signal carries no argument or one text argument.
 * Thread-safe; handlers run on the bus's own thread, one at a time.
 */
class SignalBus {
public:
    using Handler = std::function<void(const std::optional<std::string>& argument, const SignalSender& sender)>;

    virtual ~SignalBus() = default;

    /** Broadcasts the signal; does not wait for any receiver. */
    virtual void emit(const std::string& path, const std::string& interface, const std::string& member,
                      const std::optional<std::string>& argument) = 0;

    /** Calls handler for every such signal from now on. With wantSenderUid the sender's user id is looked up. */
    virtual void subscribe(const std::string& path, const std::string& interface, const std::string& member,
                           bool wantSenderUid, Handler handler) = 0;

    /** This connection's unique name on the bus. */
    virtual std::string uniqueName() const = 0;

    /**
     * Connects to the bus at address (a D-Bus address such as "unix:path=/tmp/bus"), or to the system bus when
     * none is given. Nothing, after a log line, when the bus cannot be reached.
     */
    static std::unique_ptr<SignalBus> connect(const std::optional<std::string>& address);
};

} // namespace vantrel::platform
