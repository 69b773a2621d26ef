#pragma once

#include "core/Error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

/** A listener of a routing handler. Callbacks run on the handler's executor. */
class ShellRoutingHandlerDelegate {
public:
    virtual ~ShellRoutingHandlerDelegate() = default;

    /** The relay told the identity of this relay connection. */
    virtual void ShellOnIdentityRetrieved(const std::string& identity) = 0;
    /** The device's port is open at this relay port. */
    virtual void ShellOnPortOpened(std::int64_t port) = 0;
    /**
     * Bytes arrived from the device's port. data is valid during the call only, unless the listener calls
     * suspendDelivery() on the handler during the call; it then stays valid until resumeDelivery().
     */
    virtual void ShellOnRouteSet(std::int64_t port, std::string_view data) = 0;
    /** The relay connection ended. */
    virtual void ShellOnDisconnectedWithCode(std::int64_t code, const std::string& reason, bool wasClean) = 0;
    /** The relay connection failed, or the handler was closed. */
    virtual void ShellOnError(const Error& error) = 0;
};

} // namespace vantrel
