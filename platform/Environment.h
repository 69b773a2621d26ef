#pragma once

#include <optional>
#include <string>

namespace vantrel::platform {

/** The value of an environment variable, or nothing when it is unset or empty. Thread-safe for reading. */
std::optional<std::string> environmentValue(const char* name);

/** The home directory of the current user ($HOME, else the password database). */
std::string homeDirectory();

/** Whether the process runs with root's effective user id. */
bool runsAsRoot();

} // namespace vantrel::platform
