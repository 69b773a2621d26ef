#include "core/CoreData/PersistentStoreCoordinator.h"

#include "core/CoreData/ManagedObjectContext.h"

#include <system_error>
#include <utility>

namespace vantrel {

PersistentStoreCoordinator::PersistentStoreCoordinator(std::optional<std::filesystem::path> storeFile,
                                                       StoreStatus status)
    : m_status(status)
    , m_storeFile(std::move(storeFile))
{
}

bool PersistentStoreCoordinator::hasStore() const
{
    std::lock_guard lock(m_contextsMutex);
    return m_storeFile.has_value();
}

void PersistentStoreCoordinator::removeStore()
{
    std::unique_lock storeLock(m_storeLock);
    std::lock_guard lock(m_contextsMutex);
    for (ManagedObjectContext* context : m_contexts) {
        context->detachStore();
    }
    m_storeFile.reset();
}

bool PersistentStoreCoordinator::destroyPersistentStore(const std::filesystem::path& storeFile)
{
    std::error_code error;
    std::filesystem::remove(storeFile, error);
    if (error) {
        return false;
    }
    // The log and the shared memory belong to the file just removed; a new store must not find them.
    std::error_code ignored;
    std::filesystem::remove(storeFile.string() + "-wal", ignored);
    std::filesystem::remove(storeFile.string() + "-shm", ignored);
    return true;
}

} // namespace vantrel
