#include "core/ShellKeenTracker.h"

#include "core/ShellUserDefaults.h"

namespace vantrel {

ShellKeenTracker::ShellKeenTracker(AnalyticsClient& client, const ShellUserDefaults& preferences, Clock clock)
    : KeenTracker(client, std::move(clock))
    , m_preferences(preferences)
{
}

ShellKeenTracker& ShellKeenTracker::sharedTracker()
{
    static ShellKeenTracker tracker(AnalyticsClient::sharedClient(), ShellUserDefaults::sharedInstance());
    return tracker;
}

void ShellKeenTracker::fillDataWithUser(Json& data) const
{
    const auto user = m_preferences.getRESTShellUser();
    if (user && isPresent(user->msgEmail)) {
        data[KEY_USER_NAME] = user->msgEmail;
    }
}

void ShellKeenTracker::fillDataWithCommonElements(Json& data) const
{
    fillDataWithUser(data);
}

} // namespace vantrel
