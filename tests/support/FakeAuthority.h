#pragma once

#include "platform/Authorization.h"

#include <string>
#include <vector>

namespace vantrel::testing {

/** An authorization service that answers as told and records what it was asked; no prompt ever shows. */
class FakeAuthority final : public platform::Authority {
public:
    explicit FakeAuthority(platform::AuthorizationStatus status = platform::AuthorizationStatus::Denied)
        : answer(status)
    {
    }

    platform::AuthorizationStatus checkAction(const std::string& actionId, bool) override
    {
        checkedActions.push_back(actionId);
        return answer;
    }

    platform::AuthorizationStatus runWithAdminRights(const std::string& tool, const std::vector<std::string>&) override
    {
        ranTools.push_back(tool);
        return platform::AuthorizationStatus::Granted;
    }

    platform::AuthorizationStatus answer;
    std::vector<std::string> checkedActions;
    std::vector<std::string> ranTools;
};

} // namespace vantrel::testing
