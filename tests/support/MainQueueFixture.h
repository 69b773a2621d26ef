#pragma once

#include "core/AsioMainQueue.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <optional>

namespace vantrel::testing {

/**
 * A test's own single-threaded main queue: an io_context the test runs in bounded steps. Installed as the
 * program's main queue for the fixture's lifetime.
 */
class MainQueueFixture {
public:
    MainQueueFixture()
        : m_queue(m_context.get_executor())
        , m_installation(m_queue)
    {
    }

    ~MainQueueFixture() { m_work.reset(); }

    /** Runs the main queue until done() holds or the deadline passes; returns whether done() held. */
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        const auto stopAt = std::chrono::steady_clock::now() + deadline;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= stopAt) {
                return false;
            }
            m_context.restart();
            m_context.run_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    /** Runs the main queue for the given time, whatever happens (it waits even when nothing is queued). */
    void runFor(std::chrono::milliseconds duration)
    {
        m_context.restart();
        m_context.run_for(duration);
    }

    boost::asio::io_context& context() { return m_context; }
    MainQueue& queue() { return m_queue; }

private:
    boost::asio::io_context m_context;
    // Keeps the loop waiting for work that other threads will post, instead of returning at once.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work{
        m_context.get_executor()};
    AsioMainQueue m_queue;
    ScopedMainQueue m_installation;
};

} // namespace vantrel::testing
