#include "platform/Log.h"

#include <mutex>
#include <unistd.h>

namespace vantrel {
namespace {

struct LogState {
    std::mutex mutex;
    std::function<void(std::string_view)> capture; // guarded by mutex
};

LogState& logState()
{
    static LogState state;
    return state;
}

} // namespace

void logLine(std::string_view line)
{
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    if (state.capture) {
        state.capture(line);
        return;
    }
    std::string text(line);
    text.push_back('\n');
    // One write call per line keeps lines whole even when other processes share the stream.
    const char* data = text.data();
    std::size_t remaining = text.size();
    while (remaining > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, remaining);
        if (written <= 0) {
            return;
        }
        data += written;
        remaining -= static_cast<std::size_t>(written);
    }
}

LogCapture::LogCapture(std::function<void(std::string_view)> receiver)
{
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    state.capture = std::move(receiver);
}

LogCapture::~LogCapture()
{
    LogState& state = logState();
    std::lock_guard lock(state.mutex);
    state.capture = nullptr;
}

} // namespace vantrel
