#include "daemon/PortGrant.h"

#include "core/PortNumber.h"

#include <algorithm>

namespace vantrel {
namespace {

bool isListOfOnlyMinusOne(const JsonField& ports)
{
    return ports.is_array() && ports.size() == 1 && integerValueOf(ports[0]) == -1;
}

} // namespace

PortGrant::PortGrant(const JsonField& forwardingPorts)
    : m_ports(forwardingPorts)
{
    if (!isPresent(forwardingPorts)) {
        m_kind = Kind::Unknown;
    } else if (!forwardingPorts.is_array() || forwardingPorts.empty()) {
        m_kind = Kind::Nothing; // an empty list, or something that is no list at all: grant nothing
    } else if (isListOfOnlyMinusOne(forwardingPorts)) {
        m_kind = Kind::Everything;
    } else {
        m_kind = Kind::Listed;
    }
}

bool PortGrant::allows(const JsonField& remotePort) const
{
    switch (m_kind) {
    case Kind::Unknown:
    case Kind::Everything:
        return true;
    case Kind::Nothing:
        return false;
    case Kind::Listed:
        break;
    }
    const auto port = portNumberOf(remotePort);
    return port && std::any_of(m_ports.begin(), m_ports.end(), [&](const Json& granted) {
               return (granted.is_number() || granted.is_string()) && integerValueOf(granted) == *port;
           });
}

} // namespace vantrel
