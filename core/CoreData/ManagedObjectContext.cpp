#include "core/CoreData/ManagedObjectContext.h"

#include "core/CoreData/DeviceTable.h"
#include "core/CoreData/PersistentStoreCoordinator.h"
#include "core/CoreData/StoreConnection.h"
#include "core/CoreData/StoreError.h"
#include "core/NotificationCenter.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace vantrel {

struct ManagedObjectContext::OpenStore {
    // Declared first so that it is closed after the statements below are finalized.
    std::unique_ptr<StoreConnection> connection;
    SqliteStatement begin;
    SqliteStatement commit;
    SqliteStatement rollback;
    DeviceTable devices;

    static Result<std::unique_ptr<OpenStore>> open(const std::filesystem::path& file)
    {
        auto connection = StoreConnection::open(file);
        if (!connection) {
            return connection.error();
        }
        auto begin = connection.value()->prepare("BEGIN IMMEDIATE");
        auto commit = connection.value()->prepare("COMMIT");
        auto rollback = connection.value()->prepare("ROLLBACK");
        auto devices = DeviceTable::prepare(*connection.value());
        for (const Error* error : {begin ? nullptr : &begin.error(), commit ? nullptr : &commit.error(),
                                   rollback ? nullptr : &rollback.error(), devices ? nullptr : &devices.error()}) {
            if (error != nullptr) {
                return *error;
            }
        }
        return std::unique_ptr<OpenStore>(new OpenStore {std::move(connection).value(), std::move(begin).value(),
                                                         std::move(commit).value(), std::move(rollback).value(),
                                                         std::move(devices).value()});
    }
};

namespace {

Error noStoreError()
{
    return storeError(StoreErrorCode::noStore, "The device store is not available");
}

} // namespace

ManagedObjectContext::ManagedObjectContext(std::shared_ptr<PersistentStoreCoordinator> coordinator)
    : m_coordinator(std::move(coordinator))
    , m_thread(std::this_thread::get_id())
{
    // Opening under the registry lock: a removeStore cannot slip between seeing the file and connecting to it
    // (which would make the file anew behind the coordinator's back).
    std::lock_guard lock(m_coordinator->m_contextsMutex);
    if (m_coordinator->m_storeFile) {
        auto opened = OpenStore::open(*m_coordinator->m_storeFile);
        if (opened) {
            m_store = std::move(opened).value();
        } else {
            logUnresolved(storeError(StoreErrorCode::cannotOpen, "The device store cannot be opened", opened.error()));
        }
    }
    m_coordinator->m_contexts.push_back(this);
}

ManagedObjectContext::~ManagedObjectContext()
{
    {
        std::lock_guard lock(m_coordinator->m_contextsMutex);
        auto& contexts = m_coordinator->m_contexts;
        contexts.erase(std::remove(contexts.begin(), contexts.end(), this), contexts.end());
    }
    // No longer registered, so nothing else touches the store: closing it rolls back unsaved changes.
    m_store.reset();
}

void ManagedObjectContext::detachStore()
{
    m_store.reset();
}

bool ManagedObjectContext::hasStore() const
{
    std::shared_lock lock(m_coordinator->m_storeLock);
    return m_store != nullptr;
}

bool ManagedObjectContext::hasChanges() const
{
    std::shared_lock lock(m_coordinator->m_storeLock);
    return m_store != nullptr && m_store->connection->inTransaction();
}

Result<void> ManagedObjectContext::save()
{
    {
        std::shared_lock lock(m_coordinator->m_storeLock);
        if (m_store == nullptr) {
            return noStoreError();
        }
        if (!m_store->connection->inTransaction()) {
            return {};
        }
        if (auto committed = m_store->commit.run(); !committed) {
            return storeError(StoreErrorCode::save, "The device store could not be saved", committed.error());
        }
    }
    // Announced without the store lock: an observer may use the store.
    NotificationCenter::defaultCenter().post(nManagedObjectContextDidSave, static_cast<const void*>(this));
    return {};
}

void ManagedObjectContext::rollback()
{
    std::shared_lock lock(m_coordinator->m_storeLock);
    if (m_store != nullptr && m_store->connection->inTransaction()) {
        (void)m_store->rollback.run();
    }
}

Result<void> ManagedObjectContext::read(const Step& step)
{
    std::shared_lock lock(m_coordinator->m_storeLock);
    if (m_store == nullptr) {
        return noStoreError();
    }
    return step(m_store->devices);
}

Result<void> ManagedObjectContext::change(const Step& step)
{
    std::shared_lock lock(m_coordinator->m_storeLock);
    if (m_store == nullptr) {
        return noStoreError();
    }
    if (!m_store->connection->inTransaction()) {
        if (auto begun = m_store->begin.run(); !begun) {
            return storeError(StoreErrorCode::statement, "The device store cannot be changed now", begun.error());
        }
    }
    return step(m_store->devices);
}

} // namespace vantrel
