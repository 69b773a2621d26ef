#pragma once

#include "platform/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel::bench {

/**
 * A blocking client connection to 127.0.0.1 for the load runs, with TCP_NODELAY, every wait bounded by a
 * deadline. Sending and receiving may run on two threads at once; close only after both have stopped
 * (wake a blocked receiver with shutdown() first).
 */
class Connection {
public:
    using Clock = std::chrono::steady_clock;

    /** Connects once; nothing when the port refuses or the deadline passes. receiveBuffer 0 keeps the default. */
    static std::optional<Connection> open(std::uint16_t port, Clock::time_point deadline, int receiveBuffer = 0);

    /** Sends all of bytes; false when the peer fails or the deadline passes first. */
    bool sendAll(std::string_view bytes, Clock::time_point deadline);
    /** Reads exactly size bytes into out; false when the connection ends or the deadline passes first. */
    bool receiveExactly(void* out, std::size_t size, Clock::time_point deadline);
    /** Reads what is there (waiting until the deadline for something); 0 at the end, the deadline or an error. */
    std::size_t receiveSome(void* out, std::size_t capacity, Clock::time_point deadline);
    /** Ends both directions so that a thread blocked on this connection returns. */
    void shutdown();

private:
    explicit Connection(int fd);
    bool waitFor(short events, Clock::time_point deadline);

    platform::UniqueFd m_fd;
};

} // namespace vantrel::bench
