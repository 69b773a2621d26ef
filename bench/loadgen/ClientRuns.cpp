#include "bench/loadgen/ClientRuns.h"

#include "bench/loadgen/Connection.h"
#include "bench/loadgen/WireProtocol.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace vantrel::bench {

namespace {

using Clock = Connection::Clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

/** How long a connection may take to open and answer its first byte before the run counts it as failed. */
constexpr auto kOpenTimeout = 30s;
/** Hold runs open connections in batches of this many. */
constexpr int kHoldBatch = 50;

/** (time in ns, bytes so far) as seen where the bytes arrive. */
using Progress = std::vector<std::pair<std::int64_t, std::uint64_t>>;

/** Bytes per second over the samples from (first sample + warmup) to the last one; 0 without two samples. */
double steadyRate(const Progress& progress, Seconds warmup)
{
    if (progress.empty()) {
        return 0;
    }
    const auto warmupNs = std::chrono::duration_cast<std::chrono::nanoseconds>(warmup).count();
    const std::int64_t from = progress.front().first + warmupNs;
    auto first =
        std::find_if(progress.begin(), progress.end(), [from](const auto& sample) { return sample.first >= from; });
    if (first == progress.end() || first->first == progress.back().first) {
        return 0;
    }
    const double seconds = static_cast<double>(progress.back().first - first->first) / 1e9;
    return static_cast<double>(progress.back().second - first->second) / seconds;
}

Connection openOrThrow(std::uint16_t port, int receiveBuffer = 0)
{
    auto connection = Connection::open(port, Clock::now() + kOpenTimeout, receiveBuffer);
    if (!connection) {
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
    return std::move(*connection);
}

/** Opens an echo connection and waits for its first byte to come back: the path is then set up end to end. */
Connection openConfirmed(std::uint16_t port)
{
    Connection connection = openOrThrow(port);
    char back = 0;
    const auto deadline = Clock::now() + kOpenTimeout;
    if (!connection.sendAll(std::string {kModeEcho, 'x'}, deadline) || !connection.receiveExactly(&back, 1, deadline)
        || back != 'x') {
        throw std::runtime_error("no echo through 127.0.0.1:" + std::to_string(port));
    }
    return connection;
}

/** Opens size echo connections before confirming any, so that the forwarder sets them up in parallel. */
std::vector<Connection> openBatch(std::uint16_t port, int size)
{
    std::vector<Connection> opening;
    for (int i = 0; i < size; ++i) {
        opening.push_back(openOrThrow(port));
        if (!opening.back().sendAll(std::string {kModeEcho, 'x'}, Clock::now() + kOpenTimeout)) {
            throw std::runtime_error("a new connection refused its first byte");
        }
    }
    for (Connection& connection : opening) {
        char back = 0;
        if (!connection.receiveExactly(&back, 1, Clock::now() + kOpenTimeout) || back != 'x') {
            throw std::runtime_error("a new connection did not echo");
        }
    }
    return opening;
}

Json throughputResult(const std::vector<Progress>& progress, Seconds warmup)
{
    double total = 0;
    std::uint64_t bytes = 0;
    Json perConnection = Json::array();
    for (const Progress& samples : progress) {
        const double rate = steadyRate(samples, warmup);
        total += rate;
        bytes += samples.empty() ? 0 : samples.back().second;
        perConnection.push_back(rate);
    }
    return {{"bytes_per_second", total}, {"total_bytes", bytes}, {"per_connection", perConnection}};
}

/** Sends payload until stop; meanwhile collects the sink's reports until a little after stop. */
void uploadOne(Connection& connection, Clock::time_point stop, Progress& progress)
{
    std::thread reader([&connection, &progress, stop] {
        std::array<unsigned char, SinkReport::kSize> report {};
        // Reports of the last bytes arrive shortly after the sending stops.
        while (connection.receiveExactly(report.data(), report.size(), stop + 300ms)) {
            const SinkReport decoded = SinkReport::decode(report.data());
            progress.emplace_back(decoded.nanoseconds, decoded.bytes);
        }
    });
    const std::string chunk(kChunkSize, 'u');
    bool sending = connection.sendAll(std::string(1, kModeSink), stop);
    while (sending && Clock::now() < stop) {
        sending = connection.sendAll(chunk, stop);
    }
    reader.join();
}

void downloadOne(Connection& connection, Clock::time_point stop, Progress& progress)
{
    if (!connection.sendAll(std::string(1, kModeSource), stop)) {
        return;
    }
    std::vector<char> buffer(4 * kChunkSize);
    std::uint64_t received = 0;
    std::int64_t lastSample = 0;
    while (Clock::now() < stop) {
        const std::size_t got = connection.receiveSome(buffer.data(), buffer.size(), stop);
        if (got == 0) {
            break;
        }
        received += got;
        const std::int64_t now = steadyNanoseconds();
        if (now - lastSample >= 20'000'000 || progress.empty()) {
            progress.emplace_back(now, received);
            lastSample = now;
        }
    }
    progress.emplace_back(steadyNanoseconds(), received);
}

using OneConnection = void (*)(Connection&, Clock::time_point, Progress&);

Json runThroughput(const ThroughputOptions& options, OneConnection run)
{
    std::vector<Connection> connections;
    for (int i = 0; i < options.connections; ++i) {
        connections.push_back(openOrThrow(options.port));
    }
    std::vector<Progress> progress(connections.size());
    const auto stop = Clock::now() + std::chrono::duration_cast<Clock::duration>(options.duration);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        threads.emplace_back([&, i] { run(connections[i], stop, progress[i]); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Json result = throughputResult(progress, options.warmup);
    result["connections"] = options.connections;
    return result;
}

double microsecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

} // namespace

Json runUpload(const ThroughputOptions& options)
{
    return runThroughput(options, uploadOne);
}

Json runDownload(const ThroughputOptions& options)
{
    return runThroughput(options, downloadOne);
}

Json runRoundTrips(std::uint16_t port, std::size_t size, int count, Seconds limit)
{
    Connection connection = openConfirmed(port);
    const std::string message(size, 'p');
    std::string back(size, '\0');
    std::vector<double> samples;
    const auto stop = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    while (static_cast<int>(samples.size()) < count && Clock::now() < stop) {
        const auto start = Clock::now();
        if (!connection.sendAll(message, start + kOpenTimeout)
            || !connection.receiveExactly(back.data(), back.size(), start + kOpenTimeout)) {
            throw std::runtime_error("the echo connection ended during the round trips");
        }
        samples.push_back(microsecondsSince(start));
    }
    return {{"samples_us", samples}, {"size", size}};
}

Json runSetups(std::uint16_t port, int count, Seconds limit)
{
    std::vector<double> samples;
    int failures = 0;
    const auto stop = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    while (static_cast<int>(samples.size()) + failures < count && Clock::now() < stop) {
        const auto start = Clock::now();
        try {
            openConfirmed(port);
            samples.push_back(microsecondsSince(start));
        } catch (const std::runtime_error&) {
            ++failures;
        }
    }
    return {{"samples_us", samples}, {"failures", failures}};
}

Json runHold(std::uint16_t port, const std::vector<int>& counts, const Checkpoint& checkpoint)
{
    std::vector<Connection> held;
    const auto start = Clock::now();
    for (const int count : counts) {
        while (static_cast<int>(held.size()) < count) {
            for (Connection& connection :
                 openBatch(port, std::min(kHoldBatch, count - static_cast<int>(held.size())))) {
                held.push_back(std::move(connection));
            }
        }
        checkpoint({{"event", "holding"},
                    {"connections", held.size()},
                    {"seconds", std::chrono::duration<double>(Clock::now() - start).count()}});
    }
    return {{"held", held.size()}};
}

Json runChurn(std::uint16_t port, int count, int batch, int every, Seconds limit, const Checkpoint& checkpoint)
{
    const auto start = Clock::now();
    const auto stop = start + std::chrono::duration_cast<Clock::duration>(limit);
    int done = 0;
    while (done < count && Clock::now() < stop) {
        const int size = std::min(batch, count - done);
        openBatch(port, size);
        for (int i = 0; i < size; ++i) {
            if (++done % every == 0) {
                checkpoint({{"event", "churned"},
                            {"connections", done},
                            {"seconds", std::chrono::duration<double>(Clock::now() - start).count()}});
            }
        }
    }
    return {{"churned", done},
            {"complete", done == count},
            {"seconds", std::chrono::duration<double>(Clock::now() - start).count()}};
}

Json runSlowReader(std::uint16_t port, double bytesPerSecond, Seconds duration, const Checkpoint& checkpoint)
{
    // A small receive buffer makes the kernel push back on the forwarder soon instead of soaking up megabytes.
    constexpr int kReceiveBuffer = 64 * 1024;
    constexpr std::size_t kReadSize = 16 * 1024;
    Connection connection = openOrThrow(port, kReceiveBuffer);
    const auto start = Clock::now();
    const auto stop = start + std::chrono::duration_cast<Clock::duration>(duration);
    if (!connection.sendAll(std::string(1, kModeSource), stop)) {
        throw std::runtime_error("the source connection refused its mode byte");
    }
    std::vector<char> buffer(kReadSize);
    std::uint64_t received = 0;
    auto nextReport = start;
    while (Clock::now() < stop) {
        // Pace the reads: never ahead of bytesPerSecond since the start.
        const auto allowedAt = start
            + std::chrono::duration_cast<Clock::duration>(Seconds(static_cast<double>(received) / bytesPerSecond));
        std::this_thread::sleep_until(std::min(allowedAt, stop));
        const std::size_t got = connection.receiveSome(buffer.data(), buffer.size(), stop);
        if (got == 0 && Clock::now() < stop) {
            throw std::runtime_error("the source connection ended early");
        }
        received += got;
        if (Clock::now() >= nextReport) {
            checkpoint({{"event", "reading"},
                        {"bytes", received},
                        {"seconds", std::chrono::duration<double>(Clock::now() - start).count()}});
            nextReport += 250ms;
        }
    }
    return {{"bytes", received}, {"seconds", std::chrono::duration<double>(Clock::now() - start).count()}};
}

} // namespace vantrel::bench
