#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vantrel {

class CoreDataManager;
class ManagedObjectContext;

/**
 * A unit of background work with a completion step. The work runs on the process-wide serial operation queue
 * (SerialOperationQueue::shared: one operation at a time, in enqueue order) with a store context of its own; the
 * completion runs afterwards on the main queue. The operation announces itself with the progress notices
 * nShowProgress, nHideProgress, nSetProgress and nSetText on the default notification center, posted from the
 * queue's thread.
 *
 * The work step may use the store only through getThreadManagedObjectContext(); its saves reach the main context
 * through the manager's merge, which is posted to the main queue before the completion.
 *
 * Lifetime: shared by the queue, until the work has run, and by the posted completion, until it has run.
 */
class AsyncOperation : public std::enable_shared_from_this<AsyncOperation> {
public:
    /** The work: runs once on the queue's thread and receives its operation (for its context and its notices). */
    using WorkStep = std::function<void(AsyncOperation&)>;
    using CompletionStep = std::function<void()>;

    /** An operation with one work step that announces itself with show and hide only when indicate is set. */
    static std::shared_ptr<AsyncOperation> initWithBlock(WorkStep work, CompletionStep completion, bool indicate,
                                                         CoreDataManager& manager);

    /**
     * An operation with one work step that, when notify is set, announces itself with progress 0, the caption,
     * show, and finally hide.
     */
    static std::shared_ptr<AsyncOperation> initWithBlock(WorkStep work, CompletionStep completion, bool notify,
                                                         std::string initialText, CoreDataManager& manager);

    AsyncOperation(const AsyncOperation&) = delete;
    AsyncOperation& operator=(const AsyncOperation&) = delete;

    /** Adds the operation to the process-wide serial queue (made on first use); returns the operation. */
    std::shared_ptr<AsyncOperation> enqueue();

    /**
     * Run by the queue on its thread: the opening notices, main, the closing notices, then the completion is
     * posted to the main queue (not awaited). An exception escaping the work step is logged and ends the step.
     */
    void start();

    /** Makes the operation's context, bound to the manager's coordinator, then runs the work step. */
    void main();

    /** The context made by main, for the work step on the queue's thread. */
    ManagedObjectContext& getThreadManagedObjectContext();

    void updateProgress(float progress);
    void updateText(const std::string& text);
    /** Posts nHideProgress; nothing else (a work step that has not started still runs). */
    void cancel();

    void notifyOfStart(bool started);
    void notifyOfProgress(float progress);
    void notifyOfInfo(const std::string& text);

private:
    AsyncOperation(WorkStep work, CompletionStep completion, CoreDataManager& manager);

    WorkStep m_work;
    CoreDataManager& m_manager; // the process's manager outlives every operation
    std::unique_ptr<ManagedObjectContext> managedObjectContext; // made and released on the queue's thread
    bool mShouldNotify = false;
    bool mShouldIndicate = false;
    std::string mInitialText;
    CompletionStep mCompletionBlock;
};

} // namespace vantrel
