#include "platform/SystemIdentity.h"

#include "platform/AtomicFile.h"
#include "platform/ProgramInfo.h"

#include <cstdlib>

namespace vantrel::platform {
namespace {

std::optional<std::string> firstLineOf(const char* file)
{
    std::string content;
    if (readWholeFile(file, content)) {
        return std::nullopt;
    }
    content = content.substr(0, content.find('\n'));
    const auto begin = content.find_first_not_of(" \t\r");
    const auto end = content.find_last_not_of(" \t\r");
    if (begin == std::string::npos) {
        return std::nullopt;
    }
    return content.substr(begin, end - begin + 1);
}

} // namespace

std::optional<std::string> platformSerialNumber()
{
    for (const char* source : {"/sys/class/dmi/id/product_serial", "/etc/machine-id"}) {
        if (auto serial = firstLineOf(source)) {
            return serial;
        }
    }
    return std::nullopt;
}

std::pair<long, long> operatingSystemMajorMinor()
{
    const std::string version = operatingSystemVersion();
    char* end = nullptr;
    const long major = std::strtol(version.c_str(), &end, 10);
    const long minor = (end != nullptr && *end == '.') ? std::strtol(end + 1, nullptr, 10) : 0;
    return {major, minor};
}

} // namespace vantrel::platform
