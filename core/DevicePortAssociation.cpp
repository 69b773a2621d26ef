#include "core/DevicePortAssociation.h"

#include "core/CRUDHelper.h"

namespace vantrel {
namespace {

constexpr const char* kIdKey = "id";
constexpr const char* kLocalPortKey = "local_port";
constexpr const char* kLocalAddressKey = "local_address";
constexpr const char* kIsUnrestrictedKey = "is_unrestricted";
constexpr const char* kRemotePortKey = "remote_port";
constexpr const char* kDeviceKey = "device";

} // namespace

DevicePortAssociation DevicePortAssociation::fromDict(const Json& dictionary)
{
    DevicePortAssociation association;
    association.ID = CRUDHelper::getValueForKey(kIdKey, dictionary);
    association.localPort = CRUDHelper::getValueForKey(kLocalPortKey, dictionary);
    association.localAddress = CRUDHelper::getValueForKey(kLocalAddressKey, dictionary);
    association.remotePort = CRUDHelper::getValueForKey(kRemotePortKey, dictionary);
    association.isUnrestricted = boolValueOf(CRUDHelper::getValueForKey(kIsUnrestrictedKey, dictionary));
    association.device = RESTShellDevice::createFromDict(CRUDHelper::getValueForKey(kDeviceKey, dictionary));
    return association;
}

Json DevicePortAssociation::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(ID, kIdKey, dictionary);
    CRUDHelper::putValue(localPort, kLocalPortKey, dictionary);
    CRUDHelper::putValue(localAddress, kLocalAddressKey, dictionary);
    CRUDHelper::putValue(isUnrestricted, kIsUnrestrictedKey, dictionary);
    CRUDHelper::putValue(remotePort, kRemotePortKey, dictionary);
    CRUDHelper::putValue(device.toDictionary(), kDeviceKey, dictionary);
    return dictionary;
}

bool DevicePortAssociation::isEqual(const DevicePortAssociation& other) const
{
    const auto mine = textOf(ID);
    const auto theirs = textOf(other.ID);
    return mine && theirs && *mine == *theirs;
}

} // namespace vantrel
