#include "core/UserDefaults.h"

#include "core/JsonValue.h"

namespace vantrel {

UserDefaults::UserDefaults(platform::PreferencesStore& store)
    : defaults(store)
{
}

UserDefaults& UserDefaults::coreInstance()
{
    static UserDefaults instance(platform::PreferencesStore::standard());
    instance.setDefaultValues();
    return instance;
}

void UserDefaults::setDefaultValues()
{
    if (integerValueOf(defaults.value(SETTING_EVER_LAUNCHED)) == 0) {
        defaults.setValue(SETTING_EVER_LAUNCHED, true);
    }
}

void UserDefaults::setDebugMode(bool enabled)
{
    defaults.setValue(SETTING_DEBUG_DEV_MODE, enabled);
}

bool UserDefaults::getDebugMode() const
{
    return boolValueOf(defaults.value(SETTING_DEBUG_DEV_MODE));
}

void UserDefaults::clearUserData()
{
    defaults.removeAll();
}

} // namespace vantrel
