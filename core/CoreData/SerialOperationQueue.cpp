#include "core/CoreData/SerialOperationQueue.h"

#include "core/NotificationCenter.h"

#include <utility>

namespace vantrel {

SerialOperationQueue::SerialOperationQueue()
    : m_worker([this] { run(); })
{
}

SerialOperationQueue::~SerialOperationQueue()
{
    std::deque<Task> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_tasks);
    }
    m_wake.notify_one();
    m_worker.join();
}

SerialOperationQueue& SerialOperationQueue::shared()
{
    // Operations post to the default notification center from the worker: made first, it outlives the queue.
    NotificationCenter::defaultCenter();
    static SerialOperationQueue queue;
    return queue;
}

void SerialOperationQueue::addOperation(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void SerialOperationQueue::run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping) {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace vantrel
