#pragma once

#include "core/RESTShellDevice.h"

#include <cstdint>

namespace vantrel {

/** One forward: a local TCP port bound to one port of one remote device. */
struct DevicePortAssociation {
    JsonField ID;           ///< the forward's identifier, an uppercase UUID text; kept across edits
    JsonField localPort;    ///< local TCP port as decimal text
    JsonField localAddress; ///< carried through conversions, set by nothing
    bool isUnrestricted = false;
    JsonField remotePort;   ///< TCP port on the device as decimal text
    RESTShellDevice device; ///< the target device, stored whole; never absent
    bool isSelected = false; ///< not stored: check mark in the forwards list
    std::int32_t order = 0;  ///< not stored: position in the forwards list

    /** A forward from its dictionary; a missing "device" gives a device record with every field absent. */
    static DevicePortAssociation fromDict(const Json& dictionary);
    /** "is_unrestricted" is always written; the other absent fields leave their keys out. */
    Json toDictionary() const;

    /** Equal exactly when both identifiers are present and equal texts; the other fields do not count. */
    bool isEqual(const DevicePortAssociation& other) const;
};

} // namespace vantrel
