#pragma once

#include <string>

namespace vantrel::platform {

/** What the running program says about itself: the identity of its preferences and its version. */
struct ProgramInfo {
    std::string identifier;   ///< reverse-DNS name, e.g. "com.corvane.VantrelDaemon"; names the preferences file
    std::string shortVersion; ///< marketing version, e.g. "1.6"
    std::string build;        ///< build number, e.g. "1.16"
};

/**
 * Records the running program's information. Each program's main calls it once, before any other thread
 * starts and before any shared instance is made.
 */
void setCurrentProgram(ProgramInfo info);

/** The information given to setCurrentProgram, or a neutral one (identifier "com.corvane.Unnamed") before that. */
const ProgramInfo& currentProgram();

/** The operating system's version text, e.g. "12.8" (from /etc/os-release, else the kernel release). */
std::string operatingSystemVersion();

} // namespace vantrel::platform
