// vantrel-loadgen: the load generator of the forwarding benchmarks, loopback only.
//   vantrel-loadgen target [--port N]                      serve echo, sink and source connections until SIGTERM
//   vantrel-loadgen upload|download --port N [--connections K] [--seconds S] [--warmup S]
//   vantrel-loadgen rtt --port N [--size B] [--count K] [--seconds S]
//   vantrel-loadgen setup --port N [--count K] [--seconds S]
//   vantrel-loadgen hold --port N --counts 1,100,1000      waits for a line on stdin at each count
//   vantrel-loadgen churn --port N [--count K] [--batch K] [--every K] [--seconds S]   waits at each step
//   vantrel-loadgen slowread --port N [--rate BYTES_PER_S] [--seconds S]
// Results are JSON on standard output: progress events one per line, then the result as the last line.
// Exit status 2 means bad arguments, 1 a failed run (the reason on standard error).

#include "bench/loadgen/ClientRuns.h"
#include "bench/loadgen/TargetServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <charconv>
#include <csignal>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace {

using namespace vantrel::bench;
using Json = nlohmann::json;

class Arguments {
public:
    /** Reads "--name value" pairs; false when one is malformed. */
    bool parse(int argc, char** argv)
    {
        for (int i = 2; i < argc; i += 2) {
            const std::string name = argv[i];
            if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
                return false;
            }
            m_values[name.substr(2)] = argv[i + 1];
        }
        return true;
    }

    double number(const std::string& name, double fallback) const
    {
        const auto found = m_values.find(name);
        if (found == m_values.end()) {
            return fallback;
        }
        double value = 0;
        const std::string& text = found->second;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || value < 0) {
            throw std::invalid_argument("--" + name + " needs a non-negative number");
        }
        return value;
    }

    int integer(const std::string& name, int fallback) const { return static_cast<int>(number(name, fallback)); }

    std::uint16_t port() const
    {
        const int port = integer("port", 0);
        if (port <= 0 || port > 65535) {
            throw std::invalid_argument("--port needs a port number");
        }
        return static_cast<std::uint16_t>(port);
    }

    std::vector<int> list(const std::string& name) const
    {
        std::vector<int> values;
        const auto found = m_values.find(name);
        std::stringstream text(found == m_values.end() ? "" : found->second);
        for (std::string item; std::getline(text, item, ',');) {
            values.push_back(std::stoi(item));
        }
        if (values.empty()) {
            throw std::invalid_argument("--" + name + " needs a comma-separated list");
        }
        return values;
    }

private:
    std::map<std::string, std::string> m_values;
};

void print(const Json& line)
{
    std::cout << line.dump() << std::endl;
}

/** Prints the event and waits until the orchestrator has measured and writes a line back. */
void printAndWait(const Json& event)
{
    print(event);
    std::string go;
    std::getline(std::cin, go);
}

int serveTarget(const Arguments& arguments)
{
    boost::asio::io_context context;
    vantrel::bench::TargetServer server(context, static_cast<std::uint16_t>(arguments.integer("port", 0)));
    boost::asio::signal_set stop(context, SIGINT, SIGTERM);
    stop.async_wait([&context](const boost::system::error_code&, int) { context.stop(); });
    server.start();
    print({{"event", "listening"}, {"port", server.port()}});
    context.run();
    return 0;
}

std::optional<Json> runClient(const std::string& command, const Arguments& arguments)
{
    ThroughputOptions throughput;
    if (command == "upload" || command == "download") {
        throughput.port = arguments.port();
        throughput.connections = std::max(1, arguments.integer("connections", 1));
        throughput.duration = Seconds(arguments.number("seconds", 2.5));
        throughput.warmup = Seconds(arguments.number("warmup", 0.5));
        return command == "upload" ? runUpload(throughput) : runDownload(throughput);
    }
    if (command == "rtt") {
        return runRoundTrips(arguments.port(), static_cast<std::size_t>(arguments.integer("size", 64)),
                             arguments.integer("count", 2000), Seconds(arguments.number("seconds", 2)));
    }
    if (command == "setup") {
        return runSetups(arguments.port(), arguments.integer("count", 200), Seconds(arguments.number("seconds", 4)));
    }
    if (command == "hold") {
        return runHold(arguments.port(), arguments.list("counts"), printAndWait);
    }
    if (command == "churn") {
        return runChurn(arguments.port(), arguments.integer("count", 10000), std::max(1, arguments.integer("batch", 1)),
                        std::max(1, arguments.integer("every", 1000)), Seconds(arguments.number("seconds", 240)),
                        printAndWait);
    }
    if (command == "slowread") {
        return runSlowReader(arguments.port(), std::max(1.0, arguments.number("rate", 1e6)),
                             Seconds(arguments.number("seconds", 6)), print);
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::string command = argc > 1 ? argv[1] : "";
    Arguments arguments;
    if (!arguments.parse(argc, argv)) {
        std::cerr << "vantrel-loadgen: arguments come as --name value pairs\n";
        return 2;
    }
    try {
        if (command == "target") {
            return serveTarget(arguments);
        }
        const std::optional<Json> result = runClient(command, arguments);
        if (!result) {
            std::cerr << "usage: vantrel-loadgen target|upload|download|rtt|setup|hold|churn|slowread --port N ...\n";
            return 2;
        }
        print(*result);
        return 0;
    } catch (const std::invalid_argument& error) {
        std::cerr << "vantrel-loadgen: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "vantrel-loadgen: " << error.what() << "\n";
        return 1;
    }
}
