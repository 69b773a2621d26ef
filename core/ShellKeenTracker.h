#pragma once

#include "core/KeenTracker.h"

namespace vantrel {

class ShellUserDefaults;

/** The application's tracker (the daemon starts it too): every handled event names the signed-in user. */
class ShellKeenTracker final : public KeenTracker {
public:
    ShellKeenTracker(AnalyticsClient& client, const ShellUserDefaults& preferences, Clock clock = systemClock);

    static ShellKeenTracker& sharedTracker();

    /** Puts "username" = the held profile's e-mail into the data when a profile with an e-mail is held. */
    void fillDataWithUser(Json& data) const override;
    void fillDataWithCommonElements(Json& data) const override;
    std::string getAppVersion() const override { return versionString; }

    void setVersionString(std::string version) { versionString = std::move(version); }

private:
    const ShellUserDefaults& m_preferences;
    std::string versionString;
};

} // namespace vantrel
