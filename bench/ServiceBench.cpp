// The service client against the sandbox in this process: profile calls one after another over one kept-alive
// HTTPS connection, as the daemon's 5-second refresh and the status panel make them. Reports calls per second and
// the latency of each call (p50, p99); the first call, which also opens the TLS connection, is timed apart.

#include "core/AsioMainQueue.h"
#include "core/HttpClient.h"
#include "core/ShellRESTAPI.h"

#include "platform/ProgramInfo.h"
#include "sandbox/Sandbox.h"
#include "tests/support/TempDirectory.h"

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCallTimeout = std::chrono::seconds(10);

/** The service, the main queue and the folders the client writes to, for the whole run. */
struct ServiceSetup {
    testing::TempDirectory folder;
    std::unique_ptr<sandbox::Sandbox> service;
    boost::asio::io_context context;
    AsioMainQueue queue {context.get_executor()};
    std::string token;
};

/** One profile call, run to its completion on the main queue; its latency in microseconds. */
double timedProfileCall(ServiceSetup& setup)
{
    bool done = false;
    bool failed = false;
    const auto start = Clock::now();
    ShellRESTAPI::sharedAPI().getProfileWithToken(setup.token, [&](GenericRESTResponse<RESTShellUser> answer) {
        failed = answer.error.has_value();
        done = true;
    });
    while (!done) {
        if (Clock::now() - start > kCallTimeout) {
            throw std::runtime_error("a profile call took longer than 10 s");
        }
        setup.context.restart();
        setup.context.run_one_for(std::chrono::milliseconds(50));
    }
    if (failed) {
        throw std::runtime_error("a profile call failed");
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double percentile(std::vector<double> samples, double share)
{
    if (samples.empty()) {
        return 0;
    }
    const auto at = static_cast<std::ptrdiff_t>(share * static_cast<double>(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + at, samples.end());
    return samples[static_cast<std::size_t>(at)];
}

void profileCallsOnOneConnection(benchmark::State& state, ServiceSetup& setup)
{
    const double firstCall = timedProfileCall(setup);
    const std::size_t openedBefore = http::Client::shared().connectionsOpened();
    std::vector<double> latencies;
    for (auto _ : state) {
        try {
            latencies.push_back(timedProfileCall(setup));
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["p50_us"] = percentile(latencies, 0.50);
    state.counters["p99_us"] = percentile(latencies, 0.99);
    state.counters["first_call_us"] = firstCall;
    // 0 when every timed call went over the connection the first call opened.
    state.counters["connections_opened"] =
        static_cast<double>(http::Client::shared().connectionsOpened() - openedBefore);
}

} // namespace
} // namespace vantrel

int main(int argc, char** argv)
{
    using namespace vantrel;
    platform::setCurrentProgram({"com.corvane.ServiceBench", "1.6", "1.16"});
    // Static like the shared clients, which may still hand results to the main queue while the process ends.
    static ServiceSetup setup;
    sandbox::SandboxOptions options;
    options.directory = setup.folder.path() / "sandbox";
    auto started = sandbox::Sandbox::start(std::move(options));
    if (!started) {
        std::cerr << "bench_service: the sandbox did not start: " << started.error().text() << "\n";
        return 1;
    }
    setup.service = std::move(started).value();
    // The shared clients read these when first used, below.
    for (const auto& [name, value] : setup.service->environment()) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ::setenv("VANTREL_CACHE_DIR", (setup.folder.path() / "cache").c_str(), 1);
    ::setenv("VANTREL_CONFIG_DIR", (setup.folder.path() / "config").c_str(), 1);
    ::setenv("VANTREL_DOCUMENTS_DIR", (setup.folder.path() / "documents").c_str(), 1);
    setup.token = setup.service->fixture().accounts.front().token;
    MainQueue::install(&setup.queue);
    benchmark::RegisterBenchmark("profileCallsOnOneConnection",
                                 [](benchmark::State& state) { profileCallsOnOneConnection(state, setup); })
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
