#include "platform/Authorization.h"

#include "platform/Environment.h"
#include "platform/ProcessRunner.h"

#include <unistd.h>

namespace vantrel::platform {
namespace {

constexpr const char* kPkcheck = "/usr/bin/pkcheck";
constexpr const char* kPkexec = "/usr/bin/pkexec";

class PolkitAuthority final : public Authority {
public:
    AuthorizationStatus checkAction(const std::string& actionId, bool allowInteraction) override
    {
        std::vector<std::string> arguments{"--action-id", actionId, "--process", std::to_string(::getpid())};
        if (allowInteraction) {
            arguments.emplace_back("--allow-user-interaction");
        }
        const auto outcome = runProcess(kPkcheck, arguments);
        if (!outcome) {
            return AuthorizationStatus::Failed;
        }
        // pkcheck: 0 authorized, 1 not authorized, 2 interaction needed, 3 prompt dismissed, else an error.
        switch (outcome->exitStatus) {
        case 0:
            return AuthorizationStatus::Granted;
        case 1:
        case 2:
            return AuthorizationStatus::Denied;
        case 3:
            return AuthorizationStatus::Dismissed;
        default:
            return AuthorizationStatus::Failed;
        }
    }

    AuthorizationStatus runWithAdminRights(const std::string& tool, const std::vector<std::string>& arguments) override
    {
        std::optional<ProcessOutcome> outcome;
        if (runsAsRoot()) {
            outcome = runProcess(tool, arguments);
        } else {
            std::vector<std::string> withTool{tool};
            withTool.insert(withTool.end(), arguments.begin(), arguments.end());
            outcome = runProcess(kPkexec, withTool);
            // pkexec: 126 the user did not authenticate, 127 it could not authorize at all.
            if (outcome && outcome->exitStatus == 126) {
                return AuthorizationStatus::Dismissed;
            }
            if (outcome && outcome->exitStatus == 127) {
                return AuthorizationStatus::Failed;
            }
        }
        return outcome ? AuthorizationStatus::Granted : AuthorizationStatus::Failed;
    }
};

} // namespace

std::unique_ptr<Authority> makePolkitAuthority()
{
    return std::make_unique<PolkitAuthority>();
}

} // namespace vantrel::platform
