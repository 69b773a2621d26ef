#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

namespace vantrel {

class ManagedObjectContext;

/** How the store came to be (or not to be) when its coordinator was made. */
enum class StoreStatus {
    opened, ///< the file opened as it was: new, current, or migrated from an older build
    recreated, ///< the file could not be opened, so it was deleted and made anew, empty
    unavailable, ///< no store: the file could not be made (folder missing or not writable) and none was there
    undeletable, ///< no store: the file could not be opened nor deleted; the user should be told
};

/**
 * The store file that contexts are bound to, or no store. Every context bound here opens its own connection to
 * the file; the coordinator keeps the list of them so that removeStore can close them all before the file goes.
 *
 * Thread-safety: contexts on any thread may be bound and used at once. Each context operation holds the store
 * lock shared; removeStore holds it exclusively, so it waits for running operations and no operation sees a
 * connection half closed.
 */
class PersistentStoreCoordinator {
public:
    /** A coordinator of the store at storeFile, or without a store (nothing), with the status of its opening. */
    PersistentStoreCoordinator(std::optional<std::filesystem::path> storeFile, StoreStatus status);
    PersistentStoreCoordinator(const PersistentStoreCoordinator&) = delete;
    PersistentStoreCoordinator& operator=(const PersistentStoreCoordinator&) = delete;

    StoreStatus status() const { return m_status; }

    /** Whether the coordinator has a store (false without one from the start, and after removeStore). */
    bool hasStore() const;

    /**
     * Closes every bound context's connection (their unsaved changes are lost) and forgets the store; contexts
     * bound later have no store either. The file stays: deleting it is the caller's next step.
     */
    void removeStore();

    /** Deletes a store file with its write-ahead log and shared-memory files; true when the store file is gone. */
    static bool destroyPersistentStore(const std::filesystem::path& storeFile);

private:
    friend class ManagedObjectContext;

    const StoreStatus m_status;
    mutable std::shared_mutex m_storeLock; // shared: one context operation; exclusive: removeStore
    mutable std::mutex m_contextsMutex; // guards m_storeFile and m_contexts; taken after m_storeLock
    std::optional<std::filesystem::path> m_storeFile;
    std::vector<ManagedObjectContext*> m_contexts; // not owned: each context registers itself while it lives
};

} // namespace vantrel
