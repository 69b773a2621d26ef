#pragma once

#include "core/KeenTracker.h"

#include <functional>
#include <optional>
#include <string>

namespace vantrel {

class SecureStorage;

/** Records a fresh installation (the finalizer tool) and reports it once (the daemon). */
class FinalizerTracker final : public KeenTracker {
public:
    using SerialSource = std::function<std::optional<std::string>()>;

    FinalizerTracker(AnalyticsClient& client, const SecureStorage& storage, SerialSource serialSource);

    static FinalizerTracker& sharedTracker();

    /** The machine's serial number, or nothing. */
    std::optional<std::string> serialNumber() const { return m_serialSource(); }
    /** Sends the daemon the stored settings with this machine's serial ("Not available" without one) to report. */
    void markInstallationToTrack() const;
    /** Queues {"guid": serial} in "InstallationEvent" as it is (no global filling, no user) and uploads. */
    void sendInstallation(const std::string& serial);

    std::string getAppVersion() const override { return versionString; }
    void setVersionString(std::string version) { versionString = std::move(version); }

private:
    const SecureStorage& m_storage;
    SerialSource m_serialSource;
    std::string versionString;
};

} // namespace vantrel
