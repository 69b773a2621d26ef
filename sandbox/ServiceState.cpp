#include "sandbox/ServiceState.h"

#include "sandbox/HttpMessages.h"
#include "sandbox/RelaySession.h"

namespace vantrel::sandbox {

std::string ServiceState::serviceUrl() const
{
    return origin + std::string(paths::kService);
}

void ServiceState::addFault(Fault fault)
{
    if (fault.isRelayKind()) {
        for (const auto& session : relays.openSessions()) {
            if (fault.count && *fault.count <= 0) {
                return;
            }
            session->applyFault(fault);
            if (fault.count) {
                --*fault.count;
            }
        }
        if (fault.count && *fault.count <= 0) {
            return;
        }
    }
    faults.add(std::move(fault));
}

} // namespace vantrel::sandbox
