#pragma once

#include "core/CoreData/PersistentStoreCoordinator.h"
#include "core/NotificationCenter.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace vantrel {

class ManagedObjectContext;

/** The store file's name in the documents folder. */
inline constexpr const char* DB_NAME = "Corvane.sqlite";

/**
 * Posted on the default notification center, on the main queue, after a save of another context reached the
 * main context (the object is the manager). Whoever shows cached devices reads them again from the main context.
 */
inline constexpr const char* nMainContextDidMerge = "nMainContextDidMerge";

/**
 * Owner of the device store: the coordinator of the file DB_NAME in a documents folder, and the main context
 * used on the main queue. Both are made on first use and kept until clearAllData.
 *
 * A store that cannot be opened (not a database, another kind of database, a newer version) is deleted and
 * made anew. When that is impossible the cache works without a store for the rest of the run (or until
 * clearAllData): reads give nothing and changes fail and are logged. persistentStoreCoordinator()->status() tells
 * which case happened; StoreStatus::undeletable is the one the user should be told about.
 *
 * Every context's save is announced; a save of a context other than the main one that is bound to the current
 * coordinator is merged on the main queue (updateMainContext): the main context holds no rows between calls, so
 * it already reads the saved data, and the merge tells observers through nMainContextDidMerge.
 *
 * Threads: any thread may call the manager. managedObjectContext() is for the main queue's thread only.
 */
class CoreDataManager {
public:
    /** A manager of the store in documentsDirectory (made when missing); opens nothing yet. */
    explicit CoreDataManager(std::filesystem::path documentsDirectory);
    ~CoreDataManager();
    CoreDataManager(const CoreDataManager&) = delete;
    CoreDataManager& operator=(const CoreDataManager&) = delete;

    /** The process-wide manager of the store in the user's documents folder. */
    static CoreDataManager& instance();

    /** Where the store file is (whether or not it exists). */
    std::filesystem::path storeFile() const;

    /**
     * The main context, made (with the coordinator, if needed) on first call; on the main queue's thread only.
     * Valid until clearAllData, which ends it in a later main-queue task, so a task may keep using what it got.
     */
    ManagedObjectContext& managedObjectContext();

    /** The coordinator, made by newCoordinator on first call. */
    std::shared_ptr<PersistentStoreCoordinator> persistentStoreCoordinator();

    /** Saves the context when it has changes; a failure is logged ("Unresolved error ...") and goes no further. */
    static void saveContext(ManagedObjectContext& context);

    /**
     * Erases the cache: closes every context's connection to the store, deletes the store file with its
     * write-ahead log and shared memory (also one left by an earlier run), and drops the main context and the
     * coordinator; the next use starts with a new, empty file. Callable from the background operation queue while
     * the main queue uses the main context: the main context is closed at once but destroyed on the main queue.
     */
    void clearAllData();

    /** Receives every context's did-save announcement (on the saving thread) and schedules the merge. */
    void mergeChanges(const Notification& didSave);

    /** Refreshes the main context after another context saved and posts nMainContextDidMerge; main queue only. */
    void updateMainContext(const Notification& didSave);

private:
    std::shared_ptr<PersistentStoreCoordinator> newCoordinator() const;
    std::shared_ptr<PersistentStoreCoordinator> coordinatorLocked();

    const std::filesystem::path m_directory;
    std::mutex m_mutex; // guards the two members below
    std::shared_ptr<PersistentStoreCoordinator> m_coordinator; // shared with every context bound to it
    std::unique_ptr<ManagedObjectContext> m_mainContext; // used on the main queue's thread only
    std::shared_ptr<const bool> m_lifetime = std::make_shared<const bool>(true); // watched by posted merges
    NotificationCenter::Registration m_didSave; // declared last: ends first
};

} // namespace vantrel
