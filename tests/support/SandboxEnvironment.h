#pragma once

#include "sandbox/Sandbox.h"

#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vantrel::testing {

/**
 * One sandbox service for a whole test binary, started before the first test. It also points the programs'
 * shared instances at it and at temporary folders (through the VANTREL_* variables), which is why there is one
 * per process: the shared instances read those variables once.
 *
 *     // at namespace scope in one test file of the binary
 *     const auto* const environment = ::testing::AddGlobalTestEnvironment(new testing::SandboxEnvironment());
 */
class SandboxEnvironment : public ::testing::Environment {
public:
    /** adjustFixture may change the default fixture before the sandbox starts. */
    explicit SandboxEnvironment(std::function<void(Json& fixture)> adjustFixture = {});
    ~SandboxEnvironment() override;

    void SetUp() override;
    void TearDown() override;

    static sandbox::Sandbox& sandbox();
    static const std::filesystem::path& folder();

private:
    std::function<void(Json&)> m_adjustFixture;
    std::unique_ptr<TempDirectory> m_folder;
    std::unique_ptr<sandbox::Sandbox> m_sandbox;
};

} // namespace vantrel::testing
