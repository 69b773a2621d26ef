// VantrelDaemon: runs the forwards of the signed-in user. Takes no arguments; stops on SIGTERM or SIGINT.

#include "daemon/Daemon.h"

#include "ShellCore/IoContextPool.h"

#include "core/AsioMainQueue.h"

#include "platform/Log.h"
#include "platform/ProgramInfo.h"

#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>

#include <algorithm>
#include <csignal>
#include <thread>

using namespace vantrel;

int main()
{
    platform::setCurrentProgram({"com.corvane.VantrelDaemon", "1.6", "1.16"});
    std::signal(SIGPIPE, SIG_IGN);

    // The loops and the main queue outlive main(): the network and bus threads of the shared clients may still
    // hand results to the queue while the process ends. One loop per core, up to four: forwarded connections
    // spread over them; the daemon's own logic stays on a strand of the first.
    static IoContextPool loops(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    static const auto mainStrand = boost::asio::make_strand(loops.mainContext());
    static AsioMainQueue mainQueue(mainStrand);
    MainQueue::install(&mainQueue);

    Daemon daemon(loops, mainStrand);
    boost::asio::post(mainStrand, [&daemon] { daemon.start(); });

    boost::asio::signal_set stopSignals(loops.mainContext(), SIGTERM, SIGINT);
    stopSignals.async_wait([&daemon](const boost::system::error_code& error, int signal) {
        if (error) {
            return;
        }
        logFormat("[v:{}] stopping on signal {}", Daemon::getAppVersion(), signal);
        boost::asio::post(mainStrand, [&daemon] {
            daemon.closeListeners();
            loops.stop();
        });
    });

    loops.startThreads();
    loops.runMain();
    loops.stop();
    return 0;
}
