#pragma once

#include <fmt/format.h>

#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

/**
 * Writes one plain line to standard error (journald keeps it when the program runs as a service).
 * Thread-safe: lines from several threads never interleave.
 */
void logLine(std::string_view line);

/** Formats with fmt and logs the result as one line. */
template <class... Args>
void logFormat(fmt::format_string<Args...> format, Args&&... args)
{
    logLine(fmt::format(format, std::forward<Args>(args)...));
}

/**
 * While alive, sends every logged line to the given receiver instead of standard error.
 * For tests that assert on log lines; one capture at a time per process.
 */
class LogCapture {
public:
    explicit LogCapture(std::function<void(std::string_view)> receiver);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

} // namespace vantrel
