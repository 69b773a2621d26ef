#include "core/ShellUserDefaults.h"

#include "core/CRUDHelper.h"
#include "core/IPCCommand.h"
#include "core/SecureStorage.h"
#include "core/VantrelDaemonUtils.h"

namespace vantrel {

ShellUserDefaults::ShellUserDefaults(platform::PreferencesStore& store, const SecureStorage& storage)
    : UserDefaults(store)
    , m_storage(storage)
{
}

ShellUserDefaults& ShellUserDefaults::sharedInstance()
{
    static ShellUserDefaults instance(platform::PreferencesStore::standard(), SecureStorage::sharedStorage());
    instance.setDefaultValues();
    return instance;
}

std::optional<std::string> ShellUserDefaults::getAuthToken() const
{
    return textOf(defaults.value(SETTING_AUTH_TOKEN));
}

void ShellUserDefaults::setAuthToken(const JsonField& token, bool saveInConfig)
{
    defaults.setValue(SETTING_AUTH_TOKEN, token);
    if (!saveInConfig) {
        return;
    }
    SettingsMessage settings = m_storage.getConfig();
    settings.stnAuthToken = token;
    IPCCommand command;
    command.code = IPCCommand::kSetSettings;
    command.data = toCompactJson(settings.toDictionary());
    VantrelDaemonUtils::sendCommandAsDaemon(false, command);
}

std::optional<RESTShellUser> ShellUserDefaults::getRESTShellUser() const
{
    const Json stored = defaults.value(SETTING_REST_SHELL_USER);
    if (!stored.is_object()) {
        return std::nullopt;
    }
    return RESTShellUser::createFromDict(stored);
}

void ShellUserDefaults::setRESTShellUser(const std::optional<RESTShellUser>& user)
{
    defaults.setValue(SETTING_REST_SHELL_USER, user ? user->toDictionary() : Json());
}

std::optional<Credentials> ShellUserDefaults::getCredentials() const
{
    return Credentials::fromDictionary(defaults.value(SETTING_CREDENTIALS));
}

void ShellUserDefaults::setCredentials(const Credentials& credentials)
{
    defaults.setValue(SETTING_CREDENTIALS, credentials.toDictionary());
}

std::optional<UserAccount> ShellUserDefaults::getUserAccount() const
{
    const Json stored = defaults.value(SETTING_USER_ACCOUNT);
    if (!stored.is_object()) {
        return std::nullopt;
    }
    return UserAccount::fromDictionary(stored);
}

void ShellUserDefaults::setUserAccount(std::optional<UserAccount> account)
{
    defaults.setValue(SETTING_USER_ACCOUNT, account ? account->toDictionary() : Json());
}

std::optional<std::string> ShellUserDefaults::getAPNToken() const
{
    return textOf(defaults.value(SETTING_APN_TOKEN));
}

void ShellUserDefaults::setAPNToken(const std::optional<std::string>& token)
{
    defaults.setValue(SETTING_APN_TOKEN, token ? Json(*token) : Json());
}

std::optional<std::string> ShellUserDefaults::getAPICallCacheTokenForCall(const std::string& call) const
{
    const Json map = defaults.value(SETTING_CACHE_TOKEN_MAP);
    return textOf(CRUDHelper::getValueForKey(call, map));
}

void ShellUserDefaults::setAPICallCacheToken(const std::string& token, const std::string& call)
{
    Json map = defaults.value(SETTING_CACHE_TOKEN_MAP);
    if (!map.is_object()) {
        map = Json::object();
    }
    map[call] = token;
    defaults.setValue(SETTING_CACHE_TOKEN_MAP, std::move(map));
}

} // namespace vantrel
