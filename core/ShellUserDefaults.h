#pragma once

#include "core/Credentials.h"
#include "core/RESTShellUser.h"
#include "core/UserAccount.h"
#include "core/UserDefaults.h"

#include <optional>
#include <string>

namespace vantrel {

class SecureStorage;

inline constexpr const char* SETTING_AUTH_TOKEN = "auth_token";
inline constexpr const char* SETTING_REST_SHELL_USER = "rest_shell_user";
inline constexpr const char* SETTING_CREDENTIALS = "credentials";
inline constexpr const char* SETTING_USER_ACCOUNT = "userAccount";
inline constexpr const char* SETTING_APN_TOKEN = "APNToken";
inline constexpr const char* SETTING_CACHE_TOKEN_MAP = "cacheTokenMap";
inline constexpr const char* SETTING_SESSION_KEY = "sessionKey";

/**
 * The signed-in user's values in the program's preferences. The preference "auth_token" is the working copy of
 * the sign-in token that service requests read; the settings file holds the copy shared between programs.
 */
class ShellUserDefaults final : public UserDefaults {
public:
    /** Preferences over store; settings are read from storage when a new token is handed to the daemon. */
    ShellUserDefaults(platform::PreferencesStore& store, const SecureStorage& storage);

    /** The process-wide instance over the program's standard store; every call applies the defaults. */
    static ShellUserDefaults& sharedInstance();

    std::optional<std::string> getAuthToken() const;
    /**
     * Stores the token (an absent one removes it). With saveInConfig, also sends the daemon the stored settings
     * with this token (command 199); returns without waiting for the daemon.
     */
    void setAuthToken(const JsonField& token, bool saveInConfig);

    std::optional<RESTShellUser> getRESTShellUser() const;
    void setRESTShellUser(const std::optional<RESTShellUser>& user);

    /** Only when both the user name and the password are stored. */
    std::optional<Credentials> getCredentials() const;
    void setCredentials(const Credentials& credentials);

    std::optional<UserAccount> getUserAccount() const;
    void setUserAccount(std::optional<UserAccount> account);

    std::optional<std::string> getAPNToken() const;
    void setAPNToken(const std::optional<std::string>& token);

    /** The cache token last received for the named service call. */
    std::optional<std::string> getAPICallCacheTokenForCall(const std::string& call) const;
    void setAPICallCacheToken(const std::string& token, const std::string& call);

private:
    const SecureStorage& m_storage;
};

} // namespace vantrel
