#pragma once

#include "ShellCore/RelayPacket.h"

#include "core/Error.h"

#include <cstdint>
#include <string>

namespace vantrel {

/** A listener of a relay connection. Callbacks run on the connection's executor. */
class M2MRoutingSocketConnectorDelegate {
public:
    virtual ~M2MRoutingSocketConnectorDelegate() = default;

    /** Every incoming packet except pings. */
    virtual void M2MOnMessageReceived(const RelayPacket& packet) = 0;
    /** The connection was closed. */
    virtual void M2MOnDisconnectedWithCode(std::int64_t code, const std::string& reason, bool wasClean) = 0;
    /** The connection failed, or could not be opened. */
    virtual void M2MOnError(const Error& error) = 0;
    /** The connection is open. */
    virtual void M2MOnConnected() = 0;
};

} // namespace vantrel
