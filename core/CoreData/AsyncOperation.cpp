#include "core/CoreData/AsyncOperation.h"

#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/ManagedObjectContext.h"
#include "core/CoreData/SerialOperationQueue.h"
#include "core/MainQueue.h"
#include "core/NotificationCenter.h"

#include "platform/Log.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace vantrel {

AsyncOperation::AsyncOperation(WorkStep work, CompletionStep completion, CoreDataManager& manager)
    : m_work(std::move(work))
    , m_manager(manager)
    , mCompletionBlock(std::move(completion))
{
}

std::shared_ptr<AsyncOperation> AsyncOperation::initWithBlock(WorkStep work, CompletionStep completion, bool indicate,
                                                              CoreDataManager& manager)
{
    std::shared_ptr<AsyncOperation> operation(new AsyncOperation(std::move(work), std::move(completion), manager));
    operation->mShouldIndicate = indicate;
    return operation;
}

std::shared_ptr<AsyncOperation> AsyncOperation::initWithBlock(WorkStep work, CompletionStep completion, bool notify,
                                                              std::string initialText, CoreDataManager& manager)
{
    std::shared_ptr<AsyncOperation> operation(new AsyncOperation(std::move(work), std::move(completion), manager));
    operation->mShouldNotify = notify;
    operation->mInitialText = std::move(initialText);
    return operation;
}

std::shared_ptr<AsyncOperation> AsyncOperation::enqueue()
{
    auto self = shared_from_this();
    SerialOperationQueue::shared().addOperation([self] { self->start(); });
    return self;
}

void AsyncOperation::start()
{
    if (mShouldNotify) {
        notifyOfProgress(0.0F);
        notifyOfInfo(mInitialText);
        notifyOfStart(true);
    }
    if (mShouldIndicate) {
        notifyOfStart(true);
    }
    try {
        main();
    } catch (const std::exception& exception) {
        logFormat("A background operation failed: {}", exception.what());
    }
    // The context stays on the thread that made it.
    managedObjectContext.reset();
    if (mShouldNotify) {
        notifyOfStart(false);
    }
    if (mShouldIndicate) {
        notifyOfStart(false);
    }
    if (!mCompletionBlock) {
        return;
    }
    MainQueue* queue = MainQueue::installed();
    if (queue == nullptr) {
        logFormat("A background operation ended without a main queue; its completion is dropped");
        return;
    }
    queue->post([self = shared_from_this()] { self->mCompletionBlock(); });
}

void AsyncOperation::main()
{
    managedObjectContext = std::make_unique<ManagedObjectContext>(m_manager.persistentStoreCoordinator());
    if (m_work) {
        m_work(*this);
    }
}

ManagedObjectContext& AsyncOperation::getThreadManagedObjectContext()
{
    if (managedObjectContext == nullptr) {
        throw std::logic_error("getThreadManagedObjectContext is for the work step only");
    }
    return *managedObjectContext;
}

void AsyncOperation::updateProgress(float progress)
{
    notifyOfProgress(progress);
}

void AsyncOperation::updateText(const std::string& text)
{
    notifyOfInfo(text);
}

void AsyncOperation::cancel()
{
    notifyOfStart(false);
}

void AsyncOperation::notifyOfStart(bool started)
{
    NotificationCenter::defaultCenter().post(started ? nShowProgress : nHideProgress);
}

void AsyncOperation::notifyOfProgress(float progress)
{
    NotificationCenter::defaultCenter().post(nSetProgress, progress);
}

void AsyncOperation::notifyOfInfo(const std::string& text)
{
    NotificationCenter::defaultCenter().post(nSetText, text);
}

} // namespace vantrel
