#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantrel::testing {

/**
 * A program the test runs as a child process: its standard output and standard error are collected by a
 * reader thread (so the child never blocks on a full pipe) and can be waited on with a deadline. The child is
 * terminated (SIGTERM, then SIGKILL after a grace period) when this object goes away.
 */
class ChildProcess {
public:
    /** Starts program; environment entries ("NAME=value") are added to this process's environment. */
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /** Waits until a whole line of standard output equals line. */
    bool waitForLine(std::string_view line, std::chrono::milliseconds deadline);
    /** Waits until standard error contains text (anywhere after what earlier calls consumed, see below). */
    bool waitForError(std::string_view text, std::chrono::milliseconds deadline);

    /** Everything written to standard error so far. */
    std::string standardError() const;
    std::string standardOutput() const;

    /** Sends SIGTERM and waits for the exit; returns the exit status (-1 when ended by a signal). */
    int terminate(std::chrono::milliseconds grace = std::chrono::seconds(10));
    /** Waits for the child to exit on its own; the exit status, or nothing when the deadline passed. */
    std::optional<int> waitForExit(std::chrono::milliseconds deadline);

    pid_t pid() const { return m_pid; }

private:
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline);
    void readOutput(int outputFd, int errorFd);

    pid_t m_pid = -1;
    std::optional<int> m_exitStatus;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_output; // guarded by m_mutex
    std::string m_error;  // guarded by m_mutex
    bool m_closed = false; // guarded by m_mutex: both pipes reached their end
    std::thread m_reader;
};

} // namespace vantrel::testing
