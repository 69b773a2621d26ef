// corvane-sandbox: the Corvane service on loopback, for trying the programs and for tests in other processes.
//   corvane-sandbox --dir DIR [--fixture FILE] [--ping-interval-ms N]
// Writes DIR/ca.pem and DIR/env, prints "ready" once serving, and stops cleanly on SIGINT or SIGTERM.

#include "sandbox/Sandbox.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

namespace {

constexpr const char* kUsage = "usage: corvane-sandbox --dir DIR [--fixture FILE] [--ping-interval-ms N]\n";

std::optional<vantrel::Json> readFixture(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "corvane-sandbox: cannot read " << file << "\n";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto json = vantrel::parseJson(text.str());
    if (!json) {
        std::cerr << "corvane-sandbox: " << file << " is not valid JSON\n";
    }
    return json;
}

/** Fills options from the command line; false (after a message) when it is not usable. */
bool parseArguments(int argc, char** argv, vantrel::sandbox::SandboxOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (i + 1 >= argc) {
            std::cerr << kUsage;
            return false;
        }
        const std::string value = argv[++i];
        if (argument == "--dir") {
            options.directory = value;
        } else if (argument == "--fixture") {
            options.fixture = readFixture(value);
            if (!options.fixture) {
                return false;
            }
        } else if (argument == "--ping-interval-ms") {
            long long milliseconds = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), milliseconds);
            if (ec != std::errc() || end != value.data() + value.size() || milliseconds <= 0) {
                std::cerr << "corvane-sandbox: --ping-interval-ms needs a positive number\n";
                return false;
            }
            options.relayPingInterval = std::chrono::milliseconds(milliseconds);
        } else {
            std::cerr << kUsage;
            return false;
        }
    }
    if (options.directory.empty()) {
        std::cerr << kUsage;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    vantrel::sandbox::SandboxOptions options;
    if (!parseArguments(argc, argv, options)) {
        return 2;
    }
    // Signals are caught before "ready" so that a supervisor may stop the program right after it.
    boost::asio::io_context signalContext;
    boost::asio::signal_set signals(signalContext, SIGINT, SIGTERM);
    signals.async_wait([](const boost::system::error_code&, int) {});

    auto sandbox = vantrel::sandbox::Sandbox::start(std::move(options));
    if (!sandbox) {
        std::cerr << "corvane-sandbox: " << sandbox.error().text() << "\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    signalContext.run();
    return 0;
}
