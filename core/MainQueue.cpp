#include "core/MainQueue.h"

#include <atomic>
#include <stdexcept>

namespace vantrel {
namespace {

std::atomic<MainQueue*>& installedQueue()
{
    static std::atomic<MainQueue*> queue{nullptr};
    return queue;
}

} // namespace

MainQueue* MainQueue::installed()
{
    return installedQueue().load(std::memory_order_acquire);
}

MainQueue& MainQueue::shared()
{
    MainQueue* queue = installed();
    if (queue == nullptr) {
        throw std::logic_error("no main queue installed");
    }
    return *queue;
}

void MainQueue::install(MainQueue* queue)
{
    installedQueue().store(queue, std::memory_order_release);
}

} // namespace vantrel
