// VantrelDaemon: runs the forwards of the signed-in user. Takes no arguments; stops on SIGTERM or SIGINT.

#include "daemon/Daemon.h"

#include "core/AsioMainQueue.h"

#include "platform/Log.h"
#include "platform/ProgramInfo.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>

#include <algorithm>
#include <csignal>
#include <thread>
#include <vector>

using namespace vantrel;

int main()
{
    platform::setCurrentProgram({"com.corvane.VantrelDaemon", "1.6", "1.16"});
    std::signal(SIGPIPE, SIG_IGN);

    // The loop and the main queue outlive main(): the network and bus threads of the shared clients may still
    // hand results to the queue while the process ends.
    static boost::asio::io_context context;
    static const auto mainStrand = boost::asio::make_strand(context);
    static AsioMainQueue mainQueue(mainStrand);
    MainQueue::install(&mainQueue);

    Daemon daemon(context, mainStrand);
    boost::asio::post(mainStrand, [&daemon] { daemon.start(); });

    boost::asio::signal_set stopSignals(context, SIGTERM, SIGINT);
    stopSignals.async_wait([&](const boost::system::error_code& error, int signal) {
        if (error) {
            return;
        }
        logFormat("[v:{}] stopping on signal {}", Daemon::getAppVersion(), signal);
        boost::asio::post(mainStrand, [&daemon] {
            daemon.closeListeners();
            context.stop();
        });
    });

    // Forwarded connections run on strands of their own, so they use every core; the daemon's own logic stays on
    // the main strand.
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < threads; ++i) {
        workers.emplace_back([] { context.run(); });
    }
    context.run();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return 0;
}
