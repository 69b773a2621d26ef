#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vantrel::bench {

// What a load client and the target server say to each other. The first byte a client sends picks the target's
// behaviour for the whole connection; everything after it is payload. The same bytes cross every forwarding path
// unchanged, so one target serves them all.

/** Writes back every byte it reads. */
inline constexpr char kModeEcho = 'E';
/** Reads and discards, and every kReportInterval sends a SinkReport of what it has received so far. */
inline constexpr char kModeSink = 'S';
/** Sends as fast as the reader takes it and ignores what it reads. */
inline constexpr char kModeSource = 'R';

inline constexpr std::chrono::milliseconds kReportInterval {50};
inline constexpr std::size_t kChunkSize = 64 * 1024;

/**
 * A sink's progress, measured where the bytes arrive so that buffers along the path do not count as delivered.
 * The time is the target's steady clock (CLOCK_MONOTONIC), which every process on the machine shares.
 */
struct SinkReport {
    std::int64_t nanoseconds = 0;
    std::uint64_t bytes = 0;

    static constexpr std::size_t kSize = 16;

    void encode(unsigned char* out) const
    {
        std::memcpy(out, &nanoseconds, 8);
        std::memcpy(out + 8, &bytes, 8);
    }

    static SinkReport decode(const unsigned char* in)
    {
        SinkReport report;
        std::memcpy(&report.nanoseconds, in, 8);
        std::memcpy(&report.bytes, in + 8, 8);
        return report;
    }
};

/** The steady clock in nanoseconds, comparable with SinkReport::nanoseconds of another process. */
inline std::int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace vantrel::bench
