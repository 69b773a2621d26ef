#include "sandbox/Sandbox.h"

#include "ShellCore/IoContextPool.h"
#include "core/Deployment.h"
#include "platform/AtomicFile.h"
#include "sandbox/HttpListener.h"
#include "sandbox/SandboxError.h"
#include "sandbox/ServiceRouter.h"
#include "sandbox/ServiceState.h"
#include "sandbox/TlsCredentials.h"

#include <boost/asio/buffer.hpp>
#include <fmt/format.h>

#include <openssl/ssl.h>

namespace vantrel::sandbox {

namespace net = boost::asio;

namespace {

/** The value as it can stand in a shell "export" line: unchanged when plain, else single-quoted. */
std::string shellWord(const std::string& value)
{
    const bool plain = !value.empty()
        && value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789/:._-+=@%,")
            == std::string::npos;
    if (plain) {
        return value;
    }
    std::string quoted = "'";
    for (const char c : value) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

Result<void> loadCredentials(net::ssl::context& tls, TlsCredentials& credentials)
{
    boost::system::error_code error;
    tls.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 | net::ssl::context::no_sslv3
                        | net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1,
                    error);
    if (!error) {
        tls.use_certificate_chain(net::buffer(credentials.serverCertificatePem), error);
    }
    if (!error) {
        tls.use_private_key(net::buffer(credentials.serverKeyPem), net::ssl::context::pem, error);
    }
    credentials.wipe();
    if (error) {
        return sandboxError(SandboxErrorCode::certificate, "loading the server certificate: " + error.message());
    }
    // Idle connections give their TLS buffers back: the relay keeps many connections open.
    SSL_CTX_set_mode(tls.native_handle(), SSL_MODE_RELEASE_BUFFERS);
    return {};
}

} // namespace

Sandbox::Sandbox(std::unique_ptr<ServiceState> state, std::filesystem::path directory, unsigned loops)
    : m_state(std::move(state))
    , m_tls(net::ssl::context::tls_server)
    , m_router(std::make_unique<ServiceRouter>(*m_state))
    , m_directory(std::move(directory))
    , m_loops(std::make_unique<IoContextPool>(loops))
{
}

Result<std::unique_ptr<Sandbox>> Sandbox::start(SandboxOptions options)
{
    auto fixture = Fixture::fromJson(options.fixture ? *options.fixture : Fixture::defaultJson());
    if (!fixture) {
        return fixture.error();
    }
    std::error_code fileError;
    std::filesystem::create_directories(options.directory, fileError);
    if (fileError) {
        return sandboxError(SandboxErrorCode::files,
                            "cannot create " + options.directory.string() + ": " + fileError.message());
    }
    auto credentials = TlsCredentials::issue();
    if (!credentials) {
        return credentials.error();
    }
    fileError = platform::writeFileAtomically(options.directory / "ca.pem", credentials.value().caCertificatePem, 0644);
    if (fileError) {
        return sandboxError(SandboxErrorCode::files, "cannot write ca.pem: " + fileError.message());
    }
    auto state = std::make_unique<ServiceState>(std::move(fixture).value());
    state->pingInterval = options.relayPingInterval;
    std::unique_ptr<Sandbox> sandbox(new Sandbox(std::move(state), options.directory, std::max(1U, options.threads)));
    if (auto loaded = loadCredentials(sandbox->m_tls, credentials.value()); !loaded) {
        return loaded.error();
    }
    if (auto opened = sandbox->openPorts(); !opened) {
        return opened.error();
    }
    sandbox->run();
    if (auto written = sandbox->writeEnvironmentFile(); !written) {
        return written.error();
    }
    return sandbox;
}

Result<void> Sandbox::openPorts()
{
    auto listener = HttpListener::open(*m_loops, m_tls, *m_state, *m_router);
    if (!listener) {
        return listener.error();
    }
    m_listener = std::move(listener).value();
    m_state->origin = fmt::format("https://127.0.0.1:{}", m_listener->port());
    for (const FixtureDevice& device : m_state->fixture.devices) {
        for (const auto& [port, target] : device.targets) {
            if (target.kind == DeviceTarget::Kind::address) {
                const auto host = net::ip::make_address(target.host == "localhost" ? "127.0.0.1" : target.host);
                m_state->targets[{device.serial, port}] = net::ip::tcp::endpoint(host, target.port);
                continue;
            }
            auto service = BuiltinService::open(*m_loops, target.kind, fmt::format("{}:{}", device.serial, port));
            if (!service) {
                return service.error();
            }
            m_state->targets[{device.serial, port}] = service.value()->endpoint();
            m_state->builtins[service.value()->name()] = service.value();
        }
    }
    return {};
}

void Sandbox::run()
{
    m_listener->start();
    for (const auto& [name, service] : m_state->builtins) {
        service->start();
    }
    m_loops->startThreads();
    m_firstLoopThread = std::thread([loops = m_loops.get()]() { loops->runMain(); });
}

Sandbox::~Sandbox()
{
    if (m_listener) {
        m_listener->close();
    }
    for (const auto& [name, service] : m_state->builtins) {
        service->close();
    }
    m_loops->stop();
    if (m_firstLoopThread.joinable()) {
        m_firstLoopThread.join();
    }
    // Acceptors must go before the loops; sessions still queued there go with them.
    m_listener.reset();
    m_state->builtins.clear();
}

Result<void> Sandbox::writeEnvironmentFile() const
{
    std::string text;
    for (const auto& [name, value] : environment()) {
        text += fmt::format("export {}={}\n", name, shellWord(value));
    }
    if (const auto error = platform::writeFileAtomically(m_directory / "env", text, 0644)) {
        return sandboxError(SandboxErrorCode::files, "cannot write env: " + error.message());
    }
    return {};
}

std::string Sandbox::serviceUrl() const
{
    return m_state->origin + std::string(paths::kService);
}

std::string Sandbox::webUrl() const
{
    return m_state->origin + std::string(paths::kWeb);
}

std::string Sandbox::rpcUrl() const
{
    return m_state->origin + std::string(paths::kRpc);
}

std::string Sandbox::relayUrl() const
{
    return fmt::format("wss://127.0.0.1:{}{}", m_listener->port(), paths::kRelay);
}

std::string Sandbox::releaseUrl() const
{
    return m_state->origin + std::string(paths::kRelease);
}

std::string Sandbox::analyticsUrl() const
{
    return fmt::format("{}{}{}/events", m_state->origin, paths::kAnalytics, deployment::kAnalyticsProjectId);
}

std::string Sandbox::controlUrl() const
{
    return m_state->origin + std::string(paths::kControl);
}

std::filesystem::path Sandbox::caFile() const
{
    return m_directory / "ca.pem";
}

std::map<std::string, std::string> Sandbox::environment() const
{
    return {
        {"VANTREL_SERVICE_URL", serviceUrl()},  {"VANTREL_WEB_URL", webUrl()},
        {"VANTREL_RPC_URL", rpcUrl()},          {"VANTREL_RELAY_URL", relayUrl()},
        {"VANTREL_RELEASE_URL", releaseUrl()},  {"VANTREL_ANALYTICS_URL", analyticsUrl()},
        {"VANTREL_CA_FILE", caFile().string()}, {"VANTREL_SANDBOX_CONTROL_URL", controlUrl()},
    };
}

const Fixture& Sandbox::fixture() const
{
    return m_state->fixture;
}

void Sandbox::addFault(Fault fault)
{
    m_state->addFault(std::move(fault));
}

void Sandbox::clearFaults()
{
    m_state->faults.clear();
}

bool Sandbox::setForwardingPorts(const std::string& email, Json ports)
{
    return m_state->accounts.setForwardingPorts(email, std::move(ports));
}

std::vector<Json> Sandbox::analyticsBatches() const
{
    return m_state->traffic.analyticsBatches();
}

std::vector<RecordedRequest> Sandbox::requests() const
{
    return m_state->traffic.requests();
}

RelayCounters Sandbox::relayCounters() const
{
    return m_state->relays.counters();
}

const BuiltinService* Sandbox::builtin(const std::string& serial, std::int64_t port) const
{
    const auto found = m_state->builtins.find(fmt::format("{}:{}", serial, port));
    return found == m_state->builtins.end() ? nullptr : found->second.get();
}

std::optional<BuiltinCounters> Sandbox::builtinCounters(const std::string& serial, std::int64_t port) const
{
    const BuiltinService* service = builtin(serial, port);
    return service ? std::optional(service->counters()) : std::nullopt;
}

std::optional<std::string> Sandbox::bannerLine(const std::string& serial, std::int64_t port) const
{
    const BuiltinService* service = builtin(serial, port);
    return service ? std::optional(service->bannerLine()) : std::nullopt;
}

} // namespace vantrel::sandbox
