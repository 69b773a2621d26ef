#pragma once

#include "core/NotificationCenter.h"
#include "core/RESTShellDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel {

class CoreDataManager;
class ManagedObjectContext;

/**
 * Reads the device cache for the lists of a device loader, off the main queue. A list is the device records
 * (LocalRESTShellDevice::toMessage) of the devices that match a search, in list order. Making 10,000 records costs
 * tens of milliseconds and finding the matching objectIDs about one, so the records are made once per state of
 * the store, kept by objectID and shared read-only with every list built from them; a search then only looks up
 * the objectIDs the store's search index gives.
 *
 * The records are made again after any context's save (every change of the store's content is one), seen through
 * nManagedObjectContextDidSave. The reader keeps a context of its own, so that its reads find the store's pages
 * already cached; it is made anew when the store was erased or replaced (CoreDataManager::clearAllData).
 *
 * Threads: used by one thread only (the background operation queue's), where it also makes its context; it may
 * be made on any thread and should be destroyed on the thread that uses it.
 */
class DeviceListReader {
public:
    using Record = std::shared_ptr<const RESTShellDevice>;

    explicit DeviceListReader(CoreDataManager& manager);
    ~DeviceListReader();
    DeviceListReader(const DeviceListReader&) = delete;
    DeviceListReader& operator=(const DeviceListReader&) = delete;

    /**
     * The records of the cached devices that match searchText (as LocalRESTShellDevice::getByQuery matches; an
     * empty text: every device), ordered as the store orders its lists.
     */
    std::vector<Record> devicesMatching(const std::string& searchText);

private:
    ManagedObjectContext& context();
    std::vector<Record> recordsFor(const std::vector<std::int64_t>& objectIDs);
    void rebuild();

    CoreDataManager& m_manager; // the process's manager, or a test's, outlives its loaders
    std::unique_ptr<ManagedObjectContext> m_context; // made and used on the reading thread
    std::shared_ptr<std::atomic<std::uint64_t>> m_saves; // counted on the saving threads
    std::optional<std::uint64_t> m_madeAfter; // the save count read before the records were last made
    std::unordered_map<std::int64_t, Record> m_records;
    NotificationCenter::Registration m_saveObserver; // declared last: ends first
};

} // namespace vantrel
