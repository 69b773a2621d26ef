#pragma once

#include "core/JsonValue.h"

namespace vantrel {

/** Which device ports a user may forward, as the profile's "port_forwarding_ports" says. */
class PortGrant {
public:
    /** No list: no restriction is known. [] none, [-1] every port, any other list only the listed ports. */
    explicit PortGrant(const JsonField& forwardingPorts);

    bool allowsNothing() const { return m_kind == Kind::Nothing; }
    bool allowsEverything() const { return m_kind == Kind::Everything || m_kind == Kind::Unknown; }
    bool isUnrestrictedList() const { return m_kind == Kind::Everything; }
    bool isKnown() const { return m_kind != Kind::Unknown; }
    /** Whether the remote port (decimal text, or a number) is allowed. */
    bool allows(const JsonField& remotePort) const;

private:
    enum class Kind { Unknown, Nothing, Everything, Listed };
    Kind m_kind;
    JsonField m_ports;
};

} // namespace vantrel
