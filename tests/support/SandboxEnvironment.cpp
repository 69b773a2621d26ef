#include "tests/support/SandboxEnvironment.h"

#include "sandbox/DefaultFixture.h"

#include <cstdlib>
#include <stdexcept>

namespace vantrel::testing {
namespace {

SandboxEnvironment* g_current = nullptr; // the binary's one environment, while it is set up

} // namespace

SandboxEnvironment::SandboxEnvironment(std::function<void(Json&)> adjustFixture)
    : m_adjustFixture(std::move(adjustFixture))
{
}

SandboxEnvironment::~SandboxEnvironment() = default;

void SandboxEnvironment::SetUp()
{
    m_folder = std::make_unique<TempDirectory>();
    Json fixture = Json::parse(sandbox::defaultFixtureText());
    if (m_adjustFixture) {
        m_adjustFixture(fixture);
    }
    auto started = sandbox::Sandbox::start({.directory = m_folder->path() / "sandbox", .fixture = fixture});
    if (!started) {
        throw std::runtime_error("the sandbox did not start: " + started.error().text());
    }
    m_sandbox = std::move(started).value();
    for (const auto& [name, value] : m_sandbox->environment()) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ::setenv("VANTREL_CACHE_DIR", (m_folder->path() / "cache").c_str(), 1);
    ::setenv("VANTREL_CONFIG_DIR", (m_folder->path() / "config").c_str(), 1);
    ::setenv("VANTREL_DOCUMENTS_DIR", (m_folder->path() / "documents").c_str(), 1);
    ::setenv("VANTREL_FINALIZER_PATH", (m_folder->path() / "Tessmark").c_str(), 1);
    g_current = this;
}

void SandboxEnvironment::TearDown()
{
    g_current = nullptr;
    m_sandbox.reset();
}

sandbox::Sandbox& SandboxEnvironment::sandbox()
{
    if (g_current == nullptr || !g_current->m_sandbox) {
        throw std::logic_error("no sandbox environment is set up");
    }
    return *g_current->m_sandbox;
}

const std::filesystem::path& SandboxEnvironment::folder()
{
    if (g_current == nullptr) {
        throw std::logic_error("no sandbox environment is set up");
    }
    return g_current->m_folder->path();
}

} // namespace vantrel::testing
