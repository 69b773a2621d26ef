#pragma once

#include "core/MainQueue.h"

#include <boost/asio/any_io_executor.hpp>

namespace vantrel {

/**
 * A main queue on an Asio executor: an io_context run by one thread, or a strand of a context run by several.
 * The executor's context must outlive the queue and every task posted to it.
 */
class AsioMainQueue final : public MainQueue {
public:
    explicit AsioMainQueue(boost::asio::any_io_executor executor);

    void post(Task task) override;
    void postAfter(std::chrono::milliseconds delay, Task task) override;

    const boost::asio::any_io_executor& executor() const { return m_executor; }

private:
    boost::asio::any_io_executor m_executor;
};

} // namespace vantrel
