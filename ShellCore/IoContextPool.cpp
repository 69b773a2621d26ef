#include "ShellCore/IoContextPool.h"

#include <algorithm>

namespace vantrel {

IoContextPool::IoContextPool(std::size_t size)
{
    for (std::size_t i = 0; i < std::max<std::size_t>(size, 1); ++i) {
        // One thread per loop: the hint lets the loop skip its internal locking.
        m_contexts.push_back(std::make_unique<boost::asio::io_context>(1));
        m_work.emplace_back(m_contexts.back()->get_executor());
    }
}

IoContextPool::~IoContextPool()
{
    stop();
}

boost::asio::any_io_executor IoContextPool::nextExecutor()
{
    const std::size_t index = m_next.fetch_add(1, std::memory_order_relaxed) % m_contexts.size();
    return m_contexts[index]->get_executor();
}

void IoContextPool::startThreads()
{
    for (std::size_t i = 1; i < m_contexts.size(); ++i) {
        m_threads.emplace_back([context = m_contexts[i].get()] { context->run(); });
    }
}

void IoContextPool::runMain()
{
    m_contexts.front()->run();
}

void IoContextPool::stop()
{
    m_work.clear();
    for (auto& context : m_contexts) {
        context->stop();
    }
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
}

} // namespace vantrel
