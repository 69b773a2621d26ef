#pragma once

// Keys of the stored settings record; existing settings files use them.

namespace vantrel {

inline constexpr const char* STN_AUTH_TOKEN = "auth_token";
inline constexpr const char* STN_ASSOCIATIONS = "associations";
inline constexpr const char* STN_USER = "user";
inline constexpr const char* STN_FORWARDS_CREATED = "forwards_created";
inline constexpr const char* STN_FORWARDS_REMOVED = "forwards_removed";
inline constexpr const char* STN_FORWARDS_CHANGED = "forwards_changed";
inline constexpr const char* STN_SESSION_STARTED = "session_started";
inline constexpr const char* STN_INSTALLATION_TO_TRACK = "installation_to_track";
inline constexpr const char* STN_VANTREL_APP_LOGIN_STATUS_CHANGED = "vantrel_app_login_status_changed";
inline constexpr const char* STN_VERSION_TO_UPGRADE = "version_to_upgrade";

} // namespace vantrel
