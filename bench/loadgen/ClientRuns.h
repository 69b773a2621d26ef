#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantrel::bench {

// The client side of the load runs. Each connects to 127.0.0.1:port (a forwarder, or the target itself for the
// direct path), is bounded in count and time, and returns its figures as JSON for the orchestrating script.

using Seconds = std::chrono::duration<double>;

/** Says what a stepped run has reached and waits until the caller has looked (e.g. measured the forwarder). */
using Checkpoint = std::function<void(const nlohmann::json& event)>;

struct ThroughputOptions {
    std::uint16_t port = 0;
    int connections = 1;
    Seconds duration {2.5};
    /** Left out of the rate, counted from each connection's first delivered bytes: set-up and slow start. */
    Seconds warmup {0.5};
};

/** Client to target: the rate the target saw arrive (its own reports), summed over the connections. */
nlohmann::json runUpload(const ThroughputOptions& options);
/** Target to client: the rate the client read, summed over the connections. */
nlohmann::json runDownload(const ThroughputOptions& options);

/** Round trips of size-byte messages on one connection: samples in microseconds. */
nlohmann::json runRoundTrips(std::uint16_t port, std::size_t size, int count, Seconds limit);

/** Connections opened one after another, each timed from connect() to its first echoed byte (microseconds). */
nlohmann::json runSetups(std::uint16_t port, int count, Seconds limit);

/** Opens echo connections up to each of counts (ascending) and holds them; a checkpoint at each count. */
nlohmann::json runHold(std::uint16_t port, const std::vector<int>& counts, const Checkpoint& checkpoint);

/**
 * Opens, confirms and closes count connections, batch of them at a time (all of a batch closed before the next
 * opens); a checkpoint after every `every`, which a multiple of batch keeps exact. Stops at limit.
 */
nlohmann::json runChurn(std::uint16_t port, int count, int batch, int every, Seconds limit,
                        const Checkpoint& checkpoint);

/** Reads a source at bytesPerSecond through a small receive buffer; a checkpoint about every 250 ms. */
nlohmann::json runSlowReader(std::uint16_t port, double bytesPerSecond, Seconds duration, const Checkpoint& checkpoint);

} // namespace vantrel::bench
