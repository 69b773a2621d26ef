#include "platform/ProgramInfo.h"

#include <fstream>
#include <sys/utsname.h>

namespace vantrel::platform {
namespace {

ProgramInfo& programInfoSlot()
{
    static ProgramInfo info{"com.corvane.Unnamed", "", ""};
    return info;
}

std::string unquoted(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

} // namespace

void setCurrentProgram(ProgramInfo info)
{
    programInfoSlot() = std::move(info);
}

const ProgramInfo& currentProgram()
{
    return programInfoSlot();
}

std::string operatingSystemVersion()
{
    std::ifstream release("/etc/os-release");
    std::string line;
    const std::string key = "VERSION_ID=";
    while (std::getline(release, line)) {
        if (line.rfind(key, 0) == 0) {
            return unquoted(line.substr(key.size()));
        }
    }
    utsname names{};
    if (uname(&names) == 0) {
        return names.release;
    }
    return "unknown";
}

} // namespace vantrel::platform
