#include "core/CoreData/CoreDataManager.h"

#include "core/CoreData/ManagedObjectContext.h"
#include "core/CoreData/StoreError.h"
#include "core/CoreData/StoreSchema.h"
#include "core/MainQueue.h"

#include "platform/Paths.h"

#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

namespace vantrel {
namespace {

/** Ends a retired main context on the main queue, after whatever task still uses it. */
void retireOnMainQueue(std::unique_ptr<ManagedObjectContext> context)
{
    MainQueue* queue = MainQueue::installed();
    if (context == nullptr || queue == nullptr) {
        return; // destroyed here: without a main queue nothing else can be using it
    }
    queue->post([retired = std::shared_ptr<ManagedObjectContext>(std::move(context))] {});
}

} // namespace

CoreDataManager::CoreDataManager(std::filesystem::path documentsDirectory)
    : m_directory(std::move(documentsDirectory))
    , m_didSave(NotificationCenter::defaultCenter().addObserver(
          nManagedObjectContextDidSave, [this](const Notification& didSave) { mergeChanges(didSave); }))
{
}

CoreDataManager::~CoreDataManager() = default;

CoreDataManager& CoreDataManager::instance()
{
    static CoreDataManager manager(platform::paths::documentsDirectory());
    return manager;
}

std::filesystem::path CoreDataManager::storeFile() const
{
    return m_directory / DB_NAME;
}

ManagedObjectContext& CoreDataManager::managedObjectContext()
{
    std::lock_guard lock(m_mutex);
    if (m_mainContext == nullptr) {
        m_mainContext = std::make_unique<ManagedObjectContext>(coordinatorLocked());
    }
    return *m_mainContext;
}

std::shared_ptr<PersistentStoreCoordinator> CoreDataManager::persistentStoreCoordinator()
{
    std::lock_guard lock(m_mutex);
    return coordinatorLocked();
}

std::shared_ptr<PersistentStoreCoordinator> CoreDataManager::coordinatorLocked()
{
    if (m_coordinator == nullptr) {
        m_coordinator = newCoordinator();
    }
    return m_coordinator;
}

std::shared_ptr<PersistentStoreCoordinator> CoreDataManager::newCoordinator() const
{
    std::error_code folderError;
    std::filesystem::create_directories(m_directory, folderError);
    if (folderError) {
        logUnresolved(storeError(StoreErrorCode::cannotOpen, "The documents folder cannot be made",
                                 Error {"filesystem", folderError.value(), folderError.message(), nullptr}));
        return std::make_shared<PersistentStoreCoordinator>(std::nullopt, StoreStatus::unavailable);
    }
    const std::filesystem::path file = storeFile();
    auto prepared = StoreSchema::prepareStore(file);
    if (prepared) {
        return std::make_shared<PersistentStoreCoordinator>(file, StoreStatus::opened);
    }
    logUnresolved(prepared.error());
    std::error_code ignored;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ignored))) {
        return std::make_shared<PersistentStoreCoordinator>(std::nullopt, StoreStatus::unavailable);
    }
    if (!PersistentStoreCoordinator::destroyPersistentStore(file)) {
        logUnresolved(
            storeError(StoreErrorCode::cannotOpen, "The damaged device store cannot be deleted: " + file.string()));
        return std::make_shared<PersistentStoreCoordinator>(std::nullopt, StoreStatus::undeletable);
    }
    prepared = StoreSchema::prepareStore(file);
    if (!prepared) {
        logUnresolved(prepared.error());
        return std::make_shared<PersistentStoreCoordinator>(std::nullopt, StoreStatus::unavailable);
    }
    return std::make_shared<PersistentStoreCoordinator>(file, StoreStatus::recreated);
}

void CoreDataManager::saveContext(ManagedObjectContext& context)
{
    if (!context.hasChanges()) {
        return;
    }
    if (auto saved = context.save(); !saved) {
        logUnresolved(saved.error());
    }
}

void CoreDataManager::clearAllData()
{
    std::unique_ptr<ManagedObjectContext> retired;
    {
        // Held throughout, so no new coordinator can open the old file between closing and deleting it.
        std::lock_guard lock(m_mutex);
        if (m_coordinator != nullptr) {
            m_coordinator->removeStore();
        }
        (void)PersistentStoreCoordinator::destroyPersistentStore(storeFile());
        m_coordinator.reset();
        retired = std::move(m_mainContext);
    }
    retireOnMainQueue(std::move(retired));
}

void CoreDataManager::mergeChanges(const Notification& didSave)
{
    const auto* sender = std::get_if<const void*>(&didSave.object);
    if (sender == nullptr) {
        return;
    }
    // Only the identity of the sender is used: it is alive while its announcement is delivered.
    const auto* context = static_cast<const ManagedObjectContext*>(*sender);
    {
        std::lock_guard lock(m_mutex);
        if (m_coordinator == nullptr || context->persistentStoreCoordinator() != m_coordinator
            || context == m_mainContext.get()) {
            return;
        }
    }
    MainQueue* queue = MainQueue::installed();
    if (queue == nullptr) {
        return;
    }
    queue->post([this, lifetime = std::weak_ptr<const bool>(m_lifetime), didSave] {
        if (lifetime.lock()) {
            updateMainContext(didSave);
        }
    });
}

void CoreDataManager::updateMainContext(const Notification& /*didSave*/)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_mainContext != nullptr && m_mainContext->thread() != std::this_thread::get_id()) {
            throw std::logic_error("updateMainContext runs on the main queue's thread only");
        }
    }
    // Nothing to drop: the main context keeps no rows and its connection reads the latest saved state.
    NotificationCenter::defaultCenter().post(nMainContextDidMerge, static_cast<const void*>(this));
}

} // namespace vantrel
