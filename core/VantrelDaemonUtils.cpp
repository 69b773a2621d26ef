#include "core/VantrelDaemonUtils.h"

#include "core/Deployment.h"
#include "core/MainQueue.h"

#include <memory>

namespace vantrel {
namespace {

constexpr const char* kObjectPath = "/com/corvane/Vantrel";
constexpr const char* kPing = "Ping";
constexpr const char* kSettingsChanged = "SettingsChanged";
constexpr const char* kCommand = "Command";

// The bus connection of the process, opened on first use; nothing when the bus cannot be reached.
platform::SignalBus* sharedBus()
{
    static const std::unique_ptr<platform::SignalBus> bus = platform::SignalBus::connect(deployment::busAddress());
    return bus.get();
}

std::string interfaceFor(bool addressedToDaemon)
{
    return std::string(deployment::kNotificationPrefix) + (addressedToDaemon ? "VantrelDaemon" : "Vantrel");
}

void post(bool addressedToDaemon, const char* message, const std::optional<std::string>& argument)
{
    if (platform::SignalBus* bus = sharedBus()) {
        bus->emit(kObjectPath, interfaceFor(addressedToDaemon), message, argument);
    }
}

void observe(bool addressedToDaemon, const char* message, bool wantSenderUid, platform::SignalBus::Handler handler)
{
    if (platform::SignalBus* bus = sharedBus()) {
        bus->subscribe(kObjectPath, interfaceFor(addressedToDaemon), message, wantSenderUid, std::move(handler));
    }
}

// Hands a bus delivery over to the main queue; deliveries after the program's loop has gone are dropped.
void onMainQueue(MainQueue::Task task)
{
    if (MainQueue* queue = MainQueue::installed()) {
        queue->post(std::move(task));
    }
}

} // namespace

std::string VantrelDaemonUtils::notificationName(bool addressedToDaemon, const char* message)
{
    return interfaceFor(addressedToDaemon) + "." + message;
}

void VantrelDaemonUtils::sendPingAsDaemon(bool asDaemon)
{
    post(!asDaemon, kPing, std::nullopt);
}

void VantrelDaemonUtils::sendSettingsChangedAsDaemon(bool asDaemon)
{
    post(!asDaemon, kSettingsChanged, std::nullopt);
}

void VantrelDaemonUtils::sendCommandAsDaemon(bool asDaemon, const IPCCommand& command)
{
    post(!asDaemon, kCommand, command.serialize());
}

void VantrelDaemonUtils::addObserverForPingAsDaemon(Callback callback, bool asDaemon)
{
    observe(asDaemon, kPing, false, [callback = std::move(callback)](const auto&, const auto&) {
        onMainQueue(callback);
    });
}

void VantrelDaemonUtils::addObserverForSettingsChangedAsDaemon(Callback callback, bool asDaemon)
{
    observe(asDaemon, kSettingsChanged, false, [callback = std::move(callback)](const auto&, const auto&) {
        onMainQueue(callback);
    });
}

void VantrelDaemonUtils::addObserverForCommandAsDaemon(CommandCallback callback, bool asDaemon)
{
    observe(asDaemon, kCommand, true,
            [callback = std::move(callback)](const std::optional<std::string>& text,
                                             const platform::SignalSender& sender) {
                onMainQueue([callback, text, sender] { callback(text, sender); });
            });
}

} // namespace vantrel
