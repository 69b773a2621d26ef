#include "core/RESTShellDevice.h"

#include "core/KeyedFields.h"
#include "core/ServiceKeys.h"

#include <array>

namespace vantrel {
namespace {

using Field = KeyedField<RESTShellDevice>;

constexpr std::array kFields{
    Field{DEVICE_FIELD_AGENT_VERSION, &RESTShellDevice::msgAgentVersion},
    Field{DEVICE_FIELD_DESCRIPTION, &RESTShellDevice::msgDescription},
    Field{DEVICE_FIELD_CREATED_TIME, &RESTShellDevice::msgCreatedTime},
    Field{DEVICE_FIELD_DISK_CAPACITY, &RESTShellDevice::msgDiskCapacity},
    Field{DEVICE_FIELD_DISK_USED, &RESTShellDevice::msgDiskUsed},
    Field{DEVICE_FIELD_MACHINE_TYPE, &RESTShellDevice::msgMachineType},
    Field{DEVICE_FIELD_MACHINE_TYPE_DISPLAY, &RESTShellDevice::msgMachineTypeDisplay},
    Field{DEVICE_MACHINE_TYPE_SHORT_DISPLAY, &RESTShellDevice::msgMachineTypeShortDisplay},
    Field{DEVICE_FIELD_NAME, &RESTShellDevice::msgName},
    Field{DEVICE_FIELD_ONLINE, &RESTShellDevice::msgOnline},
    Field{DEVICE_FIELD_OPERATING_SYSTEM, &RESTShellDevice::msgOperatingSystem},
    Field{DEVICE_FIELD_PORTS_URL, &RESTShellDevice::msgPortsUrl},
    Field{DEVICE_FIELD_PROCESSOR_SPEED, &RESTShellDevice::msgProcessorSpeed},
    Field{DEVICE_FIELD_RAM_CAPACITY, &RESTShellDevice::msgRamCapacity},
    Field{DEVICE_FIELD_REBOOT_URL, &RESTShellDevice::msgRebootUrl},
    Field{DEVICE_FIELD_UNAME, &RESTShellDevice::msgUname},
    Field{DEVICE_FIELD_URL, &RESTShellDevice::msgUrl},
    Field{DEVICE_FIELD_SERIAL, &RESTShellDevice::msgSerial},
    Field{DEVICE_FIELD_WORMHOLE_SLUG, &RESTShellDevice::msgWormholeSlug},
    Field{DEVICE_FIELD_DIAGNOSTICS_PERMITTED, &RESTShellDevice::msgDiagnosticPermitted},
    Field{DEVICE_FIELD_TOOLS_PERMITTED, &RESTShellDevice::msgToolsPermitted},
    Field{DEVICE_FIELD_WORMHOLE_ENABLED, &RESTShellDevice::msgWormholeEnabled},
    Field{DEVICE_FIELD_PORT_FORWARDING_PORTS, &RESTShellDevice::msgPortForwardingPorts},
};

} // namespace

RESTShellDevice RESTShellDevice::createFromDict(const Json& dictionary)
{
    RESTShellDevice device;
    device.inflateFromDictionary(dictionary);
    return device;
}

void RESTShellDevice::inflateFromDictionary(const Json& dictionary)
{
    inflateKeyedFields<RESTShellDevice>(*this, kFields, dictionary);
}

Json RESTShellDevice::toDictionary() const
{
    Json dictionary = Json::object();
    putKeyedFields<RESTShellDevice>(*this, kFields, dictionary);
    return dictionary;
}

} // namespace vantrel
