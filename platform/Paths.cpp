#include "platform/Paths.h"

#include "platform/Environment.h"

namespace vantrel::platform::paths {

std::filesystem::path sharedCacheDirectory()
{
    return environmentValue("VANTREL_CACHE_DIR").value_or("/var/cache/Vantrel");
}

std::filesystem::path preferencesDirectory()
{
    if (auto configured = environmentValue("VANTREL_CONFIG_DIR")) {
        return *configured;
    }
    if (runsAsRoot()) {
        return "/var/lib/vantrel";
    }
    if (auto xdg = environmentValue("XDG_CONFIG_HOME")) {
        return std::filesystem::path(*xdg) / "corvane";
    }
    return std::filesystem::path(homeDirectory()) / ".config" / "corvane";
}

std::filesystem::path documentsDirectory()
{
    if (auto configured = environmentValue("VANTREL_DOCUMENTS_DIR")) {
        return *configured;
    }
    if (auto xdg = environmentValue("XDG_DOCUMENTS_DIR")) {
        return *xdg;
    }
    return std::filesystem::path(homeDirectory()) / "Documents";
}

std::filesystem::path finalizerToolPath()
{
    return environmentValue("VANTREL_FINALIZER_PATH").value_or("/usr/local/bin/Tessmark");
}

} // namespace vantrel::platform::paths
