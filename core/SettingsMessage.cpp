#include "core/SettingsMessage.h"

#include "core/CRUDHelper.h"
#include "core/SettingsKeys.h"

#include <limits>

namespace vantrel {
namespace {

using std::chrono::duration;
using std::chrono::system_clock;

std::int32_t counterOf(const Json& dictionary, const char* key)
{
    const std::int64_t value = integerValueOf(CRUDHelper::getValueForKey(key, dictionary));
    // The counters are 32-bit; an out-of-range stored value is clamped rather than wrapped.
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

std::optional<system_clock::time_point> sessionStartOf(const Json& dictionary)
{
    const JsonField value = CRUDHelper::getValueForKey(STN_SESSION_STARTED, dictionary);
    if (!isPresent(value)) {
        return std::nullopt;
    }
    return system_clock::time_point(std::chrono::seconds(integerValueOf(value)));
}

double secondsSince1970(system_clock::time_point moment)
{
    return std::chrono::duration_cast<duration<double>>(moment.time_since_epoch()).count();
}

} // namespace

SettingsMessage SettingsMessage::createFromDict(const Json& dictionary)
{
    SettingsMessage settings;
    settings.stnAuthToken = CRUDHelper::getValueForKey(STN_AUTH_TOKEN, dictionary);
    const JsonField associations = CRUDHelper::getValueForKey(STN_ASSOCIATIONS, dictionary);
    if (associations.is_array()) {
        for (const Json& element : associations) {
            settings.stnAssociations.push_back(DevicePortAssociation::fromDict(element));
        }
    }
    const JsonField user = CRUDHelper::getValueForKey(STN_USER, dictionary);
    if (isPresent(user)) {
        settings.stnUser = RESTShellUser::createFromDict(user);
    }
    settings.stnForwardsCreated = counterOf(dictionary, STN_FORWARDS_CREATED);
    settings.stnForwardsRemoved = counterOf(dictionary, STN_FORWARDS_REMOVED);
    settings.stnForwardsChanged = counterOf(dictionary, STN_FORWARDS_CHANGED);
    settings.stnSessionStarted = sessionStartOf(dictionary);
    settings.stnInstallationToTrack = CRUDHelper::getValueForKey(STN_INSTALLATION_TO_TRACK, dictionary);
    settings.stnVantrelAppChanged = CRUDHelper::getValueForKey(STN_VANTREL_APP_LOGIN_STATUS_CHANGED, dictionary);
    settings.stnVersionToUpgrade = CRUDHelper::getValueForKey(STN_VERSION_TO_UPGRADE, dictionary);
    return settings;
}

Json SettingsMessage::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(stnAuthToken, STN_AUTH_TOKEN, dictionary);
    if (stnUser) {
        CRUDHelper::putValue(stnUser->toDictionary(), STN_USER, dictionary);
    }
    CRUDHelper::putValue(stnForwardsCreated, STN_FORWARDS_CREATED, dictionary);
    CRUDHelper::putValue(stnForwardsRemoved, STN_FORWARDS_REMOVED, dictionary);
    CRUDHelper::putValue(stnForwardsChanged, STN_FORWARDS_CHANGED, dictionary);
    if (stnSessionStarted) {
        CRUDHelper::putValue(secondsSince1970(*stnSessionStarted), STN_SESSION_STARTED, dictionary);
    }
    CRUDHelper::putValue(stnInstallationToTrack, STN_INSTALLATION_TO_TRACK, dictionary);
    CRUDHelper::putValue(stnVantrelAppChanged, STN_VANTREL_APP_LOGIN_STATUS_CHANGED, dictionary);
    CRUDHelper::putValue(stnVersionToUpgrade, STN_VERSION_TO_UPGRADE, dictionary);
    Json associations = Json::array();
    for (const DevicePortAssociation& association : stnAssociations) {
        associations.push_back(association.toDictionary());
    }
    dictionary[STN_ASSOCIATIONS] = std::move(associations);
    return dictionary;
}

} // namespace vantrel
