#pragma once

#include <filesystem>

namespace vantrel::platform {

/**
 * Folders the programs keep their files in. Each has a compiled-in default and an environment variable that
 * replaces it (how tests and the demo point the programs at temporary folders).
 */
namespace paths {

/** The shared folder of the settings and forwards files: $VANTREL_CACHE_DIR, else "/var/cache/Vantrel". */
std::filesystem::path sharedCacheDirectory();

/**
 * The folder of the per-program preferences files: $VANTREL_CONFIG_DIR; else "/var/lib/vantrel" for root;
 * else $XDG_CONFIG_HOME/corvane, or ~/.config/corvane.
 */
std::filesystem::path preferencesDirectory();

/** The user's documents folder: $VANTREL_DOCUMENTS_DIR, else $XDG_DOCUMENTS_DIR, else ~/Documents. */
std::filesystem::path documentsDirectory();

/** Where the installation finalizer tool is installed: $VANTREL_FINALIZER_PATH, else "/usr/local/bin/Tessmark". */
std::filesystem::path finalizerToolPath();

} // namespace paths
} // namespace vantrel::platform
