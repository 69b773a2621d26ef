#include "core/CoreData/DeviceListReader.h"

#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/ManagedObjectContext.h"

#include <utility>

namespace vantrel {

DeviceListReader::DeviceListReader(CoreDataManager& manager)
    : m_manager(manager)
    , m_saves(std::make_shared<std::atomic<std::uint64_t>>(0))
    , m_saveObserver(NotificationCenter::defaultCenter().addObserver(
          nManagedObjectContextDidSave, [saves = m_saves](const Notification&) { saves->fetch_add(1); }))
{
}

DeviceListReader::~DeviceListReader() = default;

std::vector<DeviceListReader::Record> DeviceListReader::devicesMatching(const std::string& searchText)
{
    ManagedObjectContext& reading = context();
    const std::vector<std::int64_t> objectIDs = searchText.empty()
        ? LocalRESTShellDevice::getAllObjectIDsInContext(reading)
        : LocalRESTShellDevice::getObjectIDsByQuery(searchText, reading);
    return recordsFor(objectIDs);
}

ManagedObjectContext& DeviceListReader::context()
{
    const auto coordinator = m_manager.persistentStoreCoordinator();
    if (m_context == nullptr || m_context->persistentStoreCoordinator() != coordinator || !m_context->hasStore()) {
        m_context = std::make_unique<ManagedObjectContext>(coordinator);
    }
    return *m_context;
}

std::vector<DeviceListReader::Record> DeviceListReader::recordsFor(const std::vector<std::int64_t>& objectIDs)
{
    if (m_madeAfter != m_saves->load()) {
        rebuild();
    }
    std::vector<Record> records;
    records.reserve(objectIDs.size());
    for (const std::int64_t objectID : objectIDs) {
        const auto found = m_records.find(objectID);
        if (found == m_records.end()) {
            break;
        }
        records.push_back(found->second);
    }
    if (records.size() == objectIDs.size()) {
        return records;
    }
    // The objectIDs were read after a save that the records have not seen yet: make them again, once; an
    // objectID still missing belongs to a device deleted in between.
    rebuild();
    records.clear();
    for (const std::int64_t objectID : objectIDs) {
        if (const auto found = m_records.find(objectID); found != m_records.end()) {
            records.push_back(found->second);
        }
    }
    return records;
}

void DeviceListReader::rebuild()
{
    // Read before the devices: a save that lands while they are read makes the next call rebuild again.
    m_madeAfter = m_saves->load();
    std::vector<LocalRESTShellDevice> devices = LocalRESTShellDevice::getAllInContext(context());
    std::vector<std::int64_t> objectIDs;
    objectIDs.reserve(devices.size());
    for (const LocalRESTShellDevice& device : devices) {
        objectIDs.push_back(device.objectID);
    }
    std::vector<RESTShellDevice> messages = LocalRESTShellDevice::toMessages(std::move(devices));
    m_records.clear();
    m_records.reserve(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        m_records.emplace(objectIDs[i], std::make_shared<const RESTShellDevice>(std::move(messages[i])));
    }
}

} // namespace vantrel
