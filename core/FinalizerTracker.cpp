#include "core/FinalizerTracker.h"

#include "core/IPCCommand.h"
#include "core/SecureStorage.h"
#include "core/VantrelDaemonUtils.h"

#include "platform/Log.h"
#include "platform/SystemIdentity.h"

#include <exception>

namespace vantrel {

FinalizerTracker::FinalizerTracker(AnalyticsClient& client, const SecureStorage& storage, SerialSource serialSource)
    : KeenTracker(client)
    , m_storage(storage)
    , m_serialSource(std::move(serialSource))
{
}

FinalizerTracker& FinalizerTracker::sharedTracker()
{
    static FinalizerTracker tracker(AnalyticsClient::sharedClient(), SecureStorage::sharedStorage(),
                                    platform::platformSerialNumber);
    return tracker;
}

void FinalizerTracker::markInstallationToTrack() const
{
    try {
        SettingsMessage settings = m_storage.getConfig();
        settings.stnInstallationToTrack = serialNumber().value_or("Not available");
        IPCCommand command;
        command.code = IPCCommand::kSetSettings;
        command.data = toCompactJson(settings.toDictionary());
        VantrelDaemonUtils::sendCommandAsDaemon(false, command);
    } catch (const std::exception& error) {
        logFormat("could not mark the installation: {}", error.what());
    }
}

void FinalizerTracker::sendInstallation(const std::string& serial)
{
    m_client.addEvent("InstallationEvent", {{"guid", serial}});
    m_client.upload();
}

} // namespace vantrel
