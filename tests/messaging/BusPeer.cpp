// The daemon side of the messaging tests, as a separate process: answers every ping addressed to the daemon
// with a ping to the application, and sends every command addressed to the daemon back to the application
// unchanged. Prints "ready" once it listens; stops on SIGTERM.

#include "core/AsioMainQueue.h"
#include "core/IPCCommand.h"
#include "core/VantrelDaemonUtils.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>

using namespace vantrel;

int main()
{
    boost::asio::io_context context;
    AsioMainQueue queue(context.get_executor());
    ScopedMainQueue installation(queue);

    VantrelDaemonUtils::addObserverForPingAsDaemon([] { VantrelDaemonUtils::sendPingAsDaemon(true); }, true);
    VantrelDaemonUtils::addObserverForCommandAsDaemon(
        [](const std::optional<std::string>& text, const platform::SignalSender&) {
            VantrelDaemonUtils::sendCommandAsDaemon(true, IPCCommand::fromString(text.value_or("")));
        },
        true);

    boost::asio::signal_set stop(context, SIGTERM, SIGINT);
    stop.async_wait([&context](const boost::system::error_code&, int) { context.stop(); });
    std::puts("ready");
    std::fflush(stdout);
    context.run();
    return 0;
}
