#pragma once

#include <chrono>
#include <functional>

namespace vantrel {

/**
 * The program's main queue: one serial queue on which the shared logic runs (completions of service calls,
 * notification callbacks, timers). Each program backs it with its own event loop and installs it at start.
 * post and postAfter are thread-safe.
 */
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;

    /** Runs task on the main queue, after the tasks already queued. */
    virtual void post(Task task) = 0;

    /** Runs task on the main queue once delay has passed. */
    virtual void postAfter(std::chrono::milliseconds delay, Task task) = 0;

    /** The installed main queue. Using it before install is a programming error (std::logic_error). */
    static MainQueue& shared();

    /** The installed main queue, or nullptr (for code that may outlive the program's event loop). */
    static MainQueue* installed();

    /** Makes queue the program's main queue (nullptr removes it). Called by main, or a test, before use. */
    static void install(MainQueue* queue);
};

/** Installs a main queue for as long as it lives; for tests and programs with a scoped event loop. */
class ScopedMainQueue {
public:
    explicit ScopedMainQueue(MainQueue& queue) { MainQueue::install(&queue); }
    ~ScopedMainQueue() { MainQueue::install(nullptr); }
    ScopedMainQueue(const ScopedMainQueue&) = delete;
    ScopedMainQueue& operator=(const ScopedMainQueue&) = delete;
};

} // namespace vantrel
