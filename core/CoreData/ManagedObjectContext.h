#pragma once

#include "core/Result.h"

#include <functional>
#include <memory>
#include <thread>

namespace vantrel {

class DeviceTable;
class PersistentStoreCoordinator;

/** Posted on the default notification center after a context committed changes; the object is the context. */
inline constexpr const char* nManagedObjectContextDidSave = "nManagedObjectContextDidSave";

/**
 * A scratch pad over the store: one SQLite connection of its own to the coordinator's file. Changes made through
 * a context stay in it until save: the first change opens a write transaction, save commits it (and announces
 * nManagedObjectContextDidSave), rollback drops it. Until then other contexts keep seeing the last saved state,
 * so a clear followed by a refill is seen by others all at once or not at all. Reads see the context's own
 * unsaved changes and otherwise the latest saved state of the file; the context keeps no rows between calls.
 *
 * A context without a store (its coordinator has none, its connection failed, or the store was removed) reads
 * nothing and fails every change with StoreErrorCode::noStore.
 *
 * Threads: a context belongs to the thread that made it and is used only there. A write transaction holds the
 * file's single write lock until save or rollback, so other contexts' changes wait for it (up to
 * StoreConnection::kBusyTimeoutMilliseconds): keep changes short and save them promptly.
 */
class ManagedObjectContext {
public:
    using Step = std::function<Result<void>(DeviceTable&)>;

    explicit ManagedObjectContext(std::shared_ptr<PersistentStoreCoordinator> coordinator);
    ~ManagedObjectContext();
    ManagedObjectContext(const ManagedObjectContext&) = delete;
    ManagedObjectContext& operator=(const ManagedObjectContext&) = delete;

    const std::shared_ptr<PersistentStoreCoordinator>& persistentStoreCoordinator() const { return m_coordinator; }

    /** The thread that made the context, the only one that may use it. */
    std::thread::id thread() const { return m_thread; }

    bool hasStore() const;

    /** Whether the context holds changes that are not saved. */
    bool hasChanges() const;

    /** Commits the context's changes (nothing to do without changes). On failure the changes stay unsaved. */
    Result<void> save();

    /** Drops the context's unsaved changes. */
    void rollback();

    /** Runs a read of the device table; fails with noStore without a store. */
    Result<void> read(const Step& step);

    /** Runs a change of the device table inside the context's write transaction, opening it first if needed. */
    Result<void> change(const Step& step);

private:
    friend class PersistentStoreCoordinator;
    struct OpenStore;

    /** Closes the connection; called by the coordinator with its store lock held exclusively. */
    void detachStore();

    const std::shared_ptr<PersistentStoreCoordinator> m_coordinator;
    const std::thread::id m_thread;
    std::unique_ptr<OpenStore> m_store; // guarded by the coordinator's store lock; null without a store
};

} // namespace vantrel
