#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel {

/**
 * A queue that runs its tasks one at a time, in the order they were added, on a worker thread of its own.
 * Thread-safe. Destroying the queue lets the running task end, drops the tasks not started and joins the worker.
 */
class SerialOperationQueue {
public:
    using Task = std::function<void()>;

    SerialOperationQueue();
    ~SerialOperationQueue();
    SerialOperationQueue(const SerialOperationQueue&) = delete;
    SerialOperationQueue& operator=(const SerialOperationQueue&) = delete;

    /** The process-wide queue of background operations, made on first use. */
    static SerialOperationQueue& shared();

    void addOperation(Task task);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks; // guarded by m_mutex
    bool m_stopping = false; // guarded by m_mutex
    std::thread m_worker; // declared last: starts once everything it uses exists
};

} // namespace vantrel
