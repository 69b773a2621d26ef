#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::platform {

/** Outcome of an authorization request; 0 means granted, as callers compare against it. */
enum class AuthorizationStatus : std::int32_t {
    Granted = 0,
    Denied = 1,    ///< the user is not allowed, or interaction was needed but not allowed
    Dismissed = 2, ///< the user closed the admin prompt
    Failed = 3,    ///< the authorization service could not be asked
};

/**
 * The system's authorization service: whether the current user may perform a named action (an admin prompt
 * may ask for a password), and running a tool with admin rights. Blocks the calling thread while the prompt
 * is shown.
 */
class Authority {
public:
    virtual ~Authority() = default;

    /** Checks the action for this process; with allowInteraction the user may be asked to authenticate. */
    virtual AuthorizationStatus checkAction(const std::string& actionId, bool allowInteraction) = 0;

    /** Runs tool with admin rights, asking the user where needed; Granted when the tool ran. */
    virtual AuthorizationStatus runWithAdminRights(const std::string& tool,
                                                   const std::vector<std::string>& arguments) = 0;
};

/** The authority backed by polkit (pkcheck for checks, pkexec to run a tool). */
std::unique_ptr<Authority> makePolkitAuthority();

} // namespace vantrel::platform
