#pragma once

#include "core/JsonValue.h"

namespace vantrel {

/**
 * One device as the service's device list returns it. Every keyed field holds the member's JSON value as it
 * arrived (absent when missing or null). msgSerial identifies the device towards the relay.
 */
struct RESTShellDevice {
    JsonField msgAgentVersion;
    JsonField msgDescription;
    JsonField msgCreatedTime;
    JsonField msgDiskCapacity;
    JsonField msgDiskUsed;
    JsonField msgMachineType;
    JsonField msgMachineTypeDisplay;
    JsonField msgMachineTypeShortDisplay;
    JsonField msgName;
    JsonField msgOnline;
    JsonField msgOperatingSystem;
    JsonField msgPortsUrl;
    JsonField msgProcessorSpeed;
    JsonField msgRamCapacity;
    JsonField msgRebootUrl;
    JsonField msgUname;
    JsonField msgUrl;
    JsonField msgSerial;
    JsonField msgWormholeSlug;
    JsonField msgOnlineState; ///< no key of its own; set by nothing
    JsonField msgDiagnosticPermitted;
    JsonField msgToolsPermitted;
    JsonField msgWormholeEnabled;
    JsonField msgUpgradeAgent; ///< no key in these conversions; filled from the local device cache
    JsonField msgPortForwardingPorts;

    /** A record filled from the dictionary; an absent or non-object dictionary gives a record with every field absent. */
    static RESTShellDevice createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    /** Every present keyed field under its key. */
    Json toDictionary() const;

    bool operator==(const RESTShellDevice&) const = default;
};

} // namespace vantrel
