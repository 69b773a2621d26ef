#pragma once

#include "core/Error.h"

#include <string>

namespace vantrel::sandbox {

/** Domain of every Error the sandbox reports to its starter. */
inline constexpr const char* kSandboxErrorDomain = "vantrel.sandbox";

/** Stable codes of the sandbox's errors (logs and tests use them). */
enum class SandboxErrorCode {
    badFixture = 1, ///< the fixture JSON does not describe accounts, devices and release as documented
    badFault = 2, ///< a fault description that names no known kind or has a wrong member
    certificate = 3, ///< the CA or the server certificate could not be made
    listen = 4, ///< a loopback port could not be opened
    files = 5, ///< DIR, ca.pem or env could not be written
};

inline Error sandboxError(SandboxErrorCode code, std::string description)
{
    return Error {kSandboxErrorDomain, static_cast<std::int64_t>(code), std::move(description), nullptr};
}

} // namespace vantrel::sandbox
