#include "platform/SignalBus.h"

#include "platform/Log.h"

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <mutex>

namespace vantrel::platform {
namespace {

std::string matchRule(const std::string& path, const std::string& interface, const std::string& member)
{
    return fmt::format("type='signal',path='{}',interface='{}',member='{}'", path, interface, member);
}

class SdbusSignalBus final : public SignalBus {
public:
    explicit SdbusSignalBus(std::unique_ptr<sdbus::IConnection> connection)
        : m_connection(std::move(connection))
    {
        m_connection->enterEventLoopAsync();
    }

    ~SdbusSignalBus() override
    {
        m_connection->leaveEventLoop();
        // The emitters refer to the connection, so they go first.
        m_emitters.clear();
    }

    void emit(const std::string& path, const std::string& interface, const std::string& member,
              const std::optional<std::string>& argument) override
    {
        try {
            std::lock_guard lock(m_mutex);
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
        m_connection->addMatch(
            matchRule(path, interface, member),
            [handler = std::move(handler), wantSenderUid](sdbus::Message& message) {
                handler(readArgument(message), senderOf(message, wantSenderUid));
            },
            sdbus::floating_slot);
    }

    std::string uniqueName() const override { return m_connection->getUniqueName(); }

private:
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

    std::unique_ptr<sdbus::IConnection> m_connection;
    std::mutex m_mutex;                                               // guards m_emitters
    std::map<std::string, std::unique_ptr<sdbus::IObject>> m_emitters; // one per object path
};

} // namespace

std::unique_ptr<SignalBus> SignalBus::connect(const std::optional<std::string>& address)
{
    try {
        auto connection = address ? sdbus::createSessionBusConnectionWithAddress(*address)
                                  : sdbus::createSystemBusConnection();
        return std::make_unique<SdbusSignalBus>(std::move(connection));
    } catch (const sdbus::Error& error) {
        logFormat("could not connect to the message bus {}: {}", address.value_or("(system)"), error.getMessage());
        return nullptr;
    }
}

} // namespace vantrel::platform
