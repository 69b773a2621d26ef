#pragma once

#include <atomic>

namespace vantrel {

/**
 * Set by the daemon at start: a sign-in token that the service client learns by itself then stays in the
 * preferences and is not sent on as a settings command (which would be a command from the daemon to itself).
 */
inline std::atomic<bool> IS_DAEMON{false};

} // namespace vantrel
