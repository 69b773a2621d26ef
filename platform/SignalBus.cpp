#include "platform/SignalBus.h"

#include "platform/Log.h"

#include <sdbus-c++/sdbus-c++.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrel::platform {
namespace {

constexpr auto kReconnectDelay = std::chrono::seconds(1);

std::string matchRule(const std::string& path, const std::string& interface, const std::string& member)
{
    return fmt::format("type='signal',path='{}',interface='{}',member='{}'", path, interface, member);
}

std::unique_ptr<sdbus::IConnection> openConnection(const std::optional<std::string>& address)
{
    return address ? sdbus::createSessionBusConnectionWithAddress(*address) : sdbus::createSystemBusConnection();
}

/**
 * A connection with its own event-loop thread. When the bus drops the connection (the bus restarted, say), it
 * logs it, connects again and subscribes again, so the program keeps its messaging instead of ending.
 */
class SdbusSignalBus final : public SignalBus {
public:
    SdbusSignalBus(std::optional<std::string> address, std::unique_ptr<sdbus::IConnection> connection)
        : m_address(std::move(address))
        , m_connection(std::move(connection))
    {
        m_loop = std::thread([this] { runLoop(); });
    }

    ~SdbusSignalBus() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_connection->leaveEventLoop();
        }
        m_wake.notify_all();
        m_loop.join();
        m_emitters.clear(); // they refer to the connection
    }

    void emit(const std::string& path, const std::string& interface, const std::string& member,
              const std::optional<std::string>& argument) override
    {
        std::lock_guard lock(m_mutex);
        try {
            sdbus::IObject& emitter = emitterFor(path);
            auto signal = emitter.createSignal(interface, member);
            if (argument) {
                signal << *argument;
            }
            emitter.emitSignal(signal);
        } catch (const sdbus::Error& error) {
            logFormat("could not send {}.{}: {}", interface, member, error.getMessage());
        }
    }

    void subscribe(const std::string& path, const std::string& interface, const std::string& member,
                   bool wantSenderUid, Handler handler) override
    {
        std::lock_guard lock(m_mutex);
        m_subscriptions.push_back({matchRule(path, interface, member), wantSenderUid, std::move(handler)});
        try {
            addMatch(m_subscriptions.back());
        } catch (const sdbus::Error& error) {
            logFormat("could not subscribe to {}.{}: {}", interface, member, error.getMessage());
        }
    }

    std::string uniqueName() const override
    {
        std::lock_guard lock(m_mutex);
        return m_connection->getUniqueName();
    }

private:
    struct Subscription {
        std::string rule;
        bool wantSenderUid;
        Handler handler;
    };

    void runLoop()
    {
        for (;;) {
            try {
                m_connection->enterEventLoop();
            } catch (const sdbus::Error& error) {
                logFormat("message bus connection lost: {}", error.getMessage());
            }
            std::unique_lock lock(m_mutex);
            if (m_stopping || !reconnect(lock)) {
                return;
            }
        }
    }

    // Waits a moment and connects again, until it works or the bus is being closed; with m_mutex held.
    bool reconnect(std::unique_lock<std::mutex>& lock)
    {
        while (!m_wake.wait_for(lock, kReconnectDelay, [this] { return m_stopping; })) {
            try {
                auto connection = openConnection(m_address);
                m_emitters.clear();
                m_connection = std::move(connection);
                for (const Subscription& subscription : m_subscriptions) {
                    addMatch(subscription);
                }
                logFormat("message bus connection restored");
                return true;
            } catch (const sdbus::Error& error) {
                logFormat("could not connect to the message bus again: {}", error.getMessage());
            }
        }
        return false;
    }

    void addMatch(const Subscription& subscription)
    {
        m_connection->addMatch(
            subscription.rule,
            [handler = subscription.handler, wantUid = subscription.wantSenderUid](sdbus::Message& message) {
                handler(readArgument(message), senderOf(message, wantUid));
            },
            sdbus::floating_slot);
    }

    static std::optional<std::string> readArgument(sdbus::Message& message)
    {
        try {
            std::string argument;
            message >> argument;
            return argument;
        } catch (const sdbus::Error&) {
            return std::nullopt; // a signal without (or with another kind of) argument
        }
    }

    static SignalSender senderOf(sdbus::Message& message, bool wantUid)
    {
        SignalSender sender{message.getSender(), std::nullopt};
        if (wantUid) {
            try {
                sender.uid = message.getCredsUid();
            } catch (const sdbus::Error&) {
                // The sender left the bus before we could ask who it was.
            }
        }
        return sender;
    }

    sdbus::IObject& emitterFor(const std::string& path)
    {
        auto found = m_emitters.find(path);
        if (found == m_emitters.end()) {
            found = m_emitters.emplace(path, sdbus::createObject(*m_connection, path)).first;
        }
        return *found->second;
    }

    const std::optional<std::string> m_address;
    mutable std::mutex m_mutex; // guards everything below but the loop thread itself
    std::condition_variable m_wake;
    std::unique_ptr<sdbus::IConnection> m_connection;
    std::map<std::string, std::unique_ptr<sdbus::IObject>> m_emitters; // one per object path, on m_connection
    std::vector<Subscription> m_subscriptions;
    bool m_stopping = false;
    std::thread m_loop;
};

} // namespace

std::unique_ptr<SignalBus> SignalBus::connect(const std::optional<std::string>& address)
{
    try {
        return std::make_unique<SdbusSignalBus>(address, openConnection(address));
    } catch (const sdbus::Error& error) {
        logFormat("could not connect to the message bus {}: {}", address.value_or("(system)"), error.getMessage());
        return nullptr;
    }
}

} // namespace vantrel::platform
