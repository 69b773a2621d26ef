#pragma once

#include "core/JsonValue.h"
#include "core/Result.h"
#include "sandbox/BuiltinService.h"
#include "sandbox/Fault.h"
#include "sandbox/Fixture.h"
#include "sandbox/RelayRegistry.h"
#include "sandbox/TrafficLog.h"

#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {
class IoContextPool;
}

namespace vantrel::sandbox {

class HttpListener;
class ServiceRouter;
struct ServiceState;

struct SandboxOptions {
    /** Where ca.pem and env are written (created when missing). */
    std::filesystem::path directory;
    /** The fixture (format in sandbox/README.md); none means the default fixture, sandbox/fixture.json. */
    std::optional<Json> fixture;
    /** How often the relay pings each relay connection; a connection that misses a pong is closed. */
    std::chrono::milliseconds relayPingInterval {20000};
    /** Event loops of the sandbox, each run by a thread of its own; a connection stays on one loop. */
    unsigned threads = 2;
};

/**
 * The Corvane service on loopback, for tests, benchmarks and the corvane-sandbox program: REST endpoints,
 * JSON-RPC, public web host, release site, analytics collector and relay, all on one HTTPS port of 127.0.0.1
 * with a certificate from a CA of its own (caFile()).
 *
 *     auto sandbox = Sandbox::start({.directory = temp.path()});
 *     if (!sandbox) { ... sandbox.error() ... }
 *     setenv("VANTREL_SERVICE_URL", sandbox.value()->serviceUrl().c_str(), 1);
 *     sandbox.value()->addFault(Fault::answer("profile/", 500));
 *
 * Runs on its own threads from start until destruction. Every public operation is thread-safe.
 */
class Sandbox {
public:
    /** Makes the certificates, opens the ports, writes DIR/ca.pem and DIR/env and starts serving. */
    static Result<std::unique_ptr<Sandbox>> start(SandboxOptions options);

    /** Stops serving and joins the threads; open connections are dropped. */
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::string serviceUrl() const; ///< REST base, ends in "/"
    std::string webUrl() const; ///< public web host base, ends in "/"
    std::string rpcUrl() const; ///< JSON-RPC endpoint, ends in "/"
    std::string relayUrl() const; ///< "wss://127.0.0.1:<port>/m2m/"
    std::string releaseUrl() const; ///< release site base, ends in "/"
    std::string analyticsUrl() const; ///< events upload address of the product's analytics project
    std::string controlUrl() const; ///< control endpoint base, ends in "/"
    std::filesystem::path caFile() const;
    /** The VANTREL_* variables written to DIR/env. */
    std::map<std::string, std::string> environment() const;

    const Fixture& fixture() const;

    // Controls (the control endpoint offers the same over HTTPS).
    void addFault(Fault fault);
    void clearFaults();
    /** Replaces an account's "port_forwarding_ports" (Json() = no list); false for an unknown e-mail. */
    bool setForwardingPorts(const std::string& email, Json ports);

    // Observations.
    std::vector<Json> analyticsBatches() const;
    std::vector<RecordedRequest> requests() const;
    RelayCounters relayCounters() const;
    /** Counters of the built-in service behind a device port; nothing when the port has none. */
    std::optional<BuiltinCounters> builtinCounters(const std::string& serial, std::int64_t port) const;
    /** The first line a "builtin:banner" device port sends. */
    std::optional<std::string> bannerLine(const std::string& serial, std::int64_t port) const;

private:
    Sandbox(std::unique_ptr<ServiceState> state, std::filesystem::path directory, unsigned loops);

    Result<void> openPorts();
    void run();
    Result<void> writeEnvironmentFile() const;
    const BuiltinService* builtin(const std::string& serial, std::int64_t port) const;

    // Declared before the loops: sessions still queued there refer to them while the loops are destroyed.
    std::unique_ptr<ServiceState> m_state;
    boost::asio::ssl::context m_tls;
    std::unique_ptr<ServiceRouter> m_router;
    const std::filesystem::path m_directory;
    std::unique_ptr<IoContextPool> m_loops;
    std::shared_ptr<HttpListener> m_listener;
    std::thread m_firstLoopThread; // runs the pool's first loop; the pool runs the others
};

} // namespace vantrel::sandbox
