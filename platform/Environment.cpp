#include "platform/Environment.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vantrel::platform {

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

std::string homeDirectory()
{
    if (auto home = environmentValue("HOME")) {
        return *home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

bool runsAsRoot()
{
    return geteuid() == 0;
}

} // namespace vantrel::platform
