#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform {

/** What a finished child process left behind. */
struct ProcessOutcome {
    int exitStatus = -1;        ///< the exit code, or -1 when the process ended by a signal
    std::string standardOutput; ///< everything it wrote to standard output
};

/**
 * Runs program with arguments (no shell), waits for it to end and collects its standard output.
 * Standard error and standard input stay those of the caller. Blocks the calling thread.
 * Nothing when the program could not be started.
 */
std::optional<ProcessOutcome> runProcess(const std::string& program, const std::vector<std::string>& arguments);

} // namespace vantrel::platform
