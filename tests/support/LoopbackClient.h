#pragma once

#include "platform/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::testing {

/**
 * A blocking TCP client for tests, every step bounded by a deadline: connects to 127.0.0.1:port, sends, and
 * reads exactly what the test expects.
 */
class LoopbackClient {
public:
    using Deadline = std::chrono::milliseconds;

    /** Connects to 127.0.0.1:port, retrying until the deadline (the listener may still be starting). */
    static std::optional<LoopbackClient> connect(std::uint16_t port, Deadline deadline = std::chrono::seconds(10));

    /** Sends everything, or fails when the peer does not take it before the deadline. */
    bool send(std::string_view bytes, Deadline deadline = std::chrono::seconds(10));
    /** Sends what the socket takes without waiting; how many bytes that was. */
    std::size_t sendWithoutWaiting(std::string_view bytes);
    /** Reads exactly size bytes; nothing when the connection ends or the deadline passes first. */
    std::optional<std::string> receive(std::size_t size, Deadline deadline = std::chrono::seconds(10));
    /** Reads up to the first line feed (included). */
    std::optional<std::string> receiveLine(Deadline deadline = std::chrono::seconds(10));
    /** Whether the peer closes the connection (after any bytes still in flight) before the deadline. */
    bool waitForClose(Deadline deadline = std::chrono::seconds(10));
    /** Closes the sending direction. */
    void shutdownSending();

private:
    explicit LoopbackClient(int fd);
    bool waitUntil(short events, std::chrono::steady_clock::time_point stopAt);

    platform::UniqueFd m_fd;
};

/** A TCP port of 127.0.0.1 and :: that was free a moment ago. */
std::uint16_t freeLoopbackPort();

} // namespace vantrel::testing
