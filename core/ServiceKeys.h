#pragma once

// Member names of the service's JSON answers and requests. Every program uses these definitions.

namespace vantrel {

// User profile.
inline constexpr const char* FIELD_EMAIL = "email";
inline constexpr const char* FIELD_EMAIL_VERIFIED = "email_verified";
inline constexpr const char* FIELD_HAS_USABLE_PASSWORD = "has_usable_password";
inline constexpr const char* FIELD_INSTALL_COMMAND = "install_command";
inline constexpr const char* FIELD_INSTALL_TOKEN = "install_token";
inline constexpr const char* FIELD_NAME = "name";
inline constexpr const char* FIELD_DEVICE_LIMIT = "device_limit";
inline constexpr const char* FIELD_PORT_FORWARDING_PORTS = "port_forwarding_ports";

// Device.
inline constexpr const char* DEVICE_FIELD_AGENT_VERSION = "agent_version";
inline constexpr const char* DEVICE_FIELD_DESCRIPTION = "description";
inline constexpr const char* DEVICE_FIELD_CREATED_TIME = "created_time";
inline constexpr const char* DEVICE_FIELD_DISK_CAPACITY = "disk_capacity";
inline constexpr const char* DEVICE_FIELD_DISK_USED = "disk_used";
inline constexpr const char* DEVICE_FIELD_MACHINE_TYPE = "machine_type";
inline constexpr const char* DEVICE_FIELD_MACHINE_TYPE_DISPLAY = "machine_type_display";
inline constexpr const char* DEVICE_MACHINE_TYPE_SHORT_DISPLAY = "machine_type_short_display";
inline constexpr const char* DEVICE_FIELD_NAME = "name";
inline constexpr const char* DEVICE_FIELD_ONLINE = "online";
inline constexpr const char* DEVICE_FIELD_OPERATING_SYSTEM = "operating_system";
inline constexpr const char* DEVICE_FIELD_PORTS_URL = "ports_url";
inline constexpr const char* DEVICE_FIELD_PROCESSOR_SPEED = "processor_speed";
inline constexpr const char* DEVICE_FIELD_RAM_CAPACITY = "ram_capacity";
inline constexpr const char* DEVICE_FIELD_REBOOT_URL = "reboot_url";
inline constexpr const char* DEVICE_FIELD_UNAME = "uname";
inline constexpr const char* DEVICE_FIELD_URL = "url";
inline constexpr const char* DEVICE_FIELD_SERIAL = "serial";
inline constexpr const char* DEVICE_FIELD_WORMHOLE_SLUG = "wormhole_slug";
inline constexpr const char* DEVICE_FIELD_DIAGNOSTICS_PERMITTED = "diagnostics_permitted";
inline constexpr const char* DEVICE_FIELD_TOOLS_PERMITTED = "tools_permitted";
inline constexpr const char* DEVICE_FIELD_WORMHOLE_ENABLED = "wormhole_enabled";
inline constexpr const char* DEVICE_FIELD_PORT_FORWARDING_PORTS = "port_forwarding_ports";
inline constexpr const char* DEVICE_FIELD_UPGRADE_AGENT = "upgrade";

// Answers of the account and port endpoints.
inline constexpr const char* FIELD_TOKEN = "token";
inline constexpr const char* FIELD_2FA = "2fa";
inline constexpr const char* FIELD_ERROR = "2fa";
inline constexpr const char* FIELD_PORT = "port";
inline constexpr const char* FIELD_SERVICE = "service";

// Published application versions.
inline constexpr const char* FIELD_VERSION = "version";
inline constexpr const char* FIELD_BUILD = "build";

} // namespace vantrel
