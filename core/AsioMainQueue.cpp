#include "core/AsioMainQueue.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>

namespace vantrel {

AsioMainQueue::AsioMainQueue(boost::asio::any_io_executor executor)
    : m_executor(std::move(executor))
{
}

void AsioMainQueue::post(Task task)
{
    boost::asio::post(m_executor, std::move(task));
}

void AsioMainQueue::postAfter(std::chrono::milliseconds delay, Task task)
{
    auto timer = std::make_shared<boost::asio::steady_timer>(m_executor, delay);
    timer->async_wait([timer, task = std::move(task)](const boost::system::error_code& error) {
        if (!error) {
            task();
        }
    });
}

} // namespace vantrel
