#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace vantrel {

/**
 * Event loops for forwarded connections, one per thread. Each connection is given one loop and stays there, so
 * its reads, writes and TLS work never hop between threads (which costs more than it gains for a stream of
 * bytes), while many connections still spread over every core. Thread-safe.
 */
class IoContextPool {
public:
    /** size loops (at least one); nothing runs until run(). */
    explicit IoContextPool(std::size_t size);
    ~IoContextPool();
    IoContextPool(const IoContextPool&) = delete;
    IoContextPool& operator=(const IoContextPool&) = delete;

    /** The loop the program's main queue runs on. */
    boost::asio::io_context& mainContext() { return *m_contexts.front(); }

    /** The loop for the next connection, in turn. */
    boost::asio::any_io_executor nextExecutor();

    /** Runs every loop but the main one on a thread of its own, until stop(). */
    void startThreads();
    /** Runs the main loop on the calling thread until stop(). */
    void runMain();
    /** Stops every loop and joins the threads started by startThreads. */
    void stop();

private:
    using WorkGuard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;

    std::vector<std::unique_ptr<boost::asio::io_context>> m_contexts;
    std::vector<WorkGuard> m_work;
    std::vector<std::thread> m_threads;
    std::atomic<std::size_t> m_next{0};
};

} // namespace vantrel
