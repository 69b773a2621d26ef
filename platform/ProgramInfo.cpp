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
    // The version does not change while a program runs; it is read once.
    static const std::string version = [] {
        std::ifstream release("/etc/os-release");
        std::string line;
        const std::string key = "VERSION_ID=";
        while (std::getline(release, line)) {
            if (line.rfind(key, 0) == 0) {
                return unquoted(line.substr(key.size()));
            }
        }
        utsname names{};
        return uname(&names) == 0 ? std::string(names.release) : std::string("unknown");
    }();
    return version;
}

} // namespace vantrel::platform
