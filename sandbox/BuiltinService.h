#pragma once

#include "core/Result.h"
#include "sandbox/Fixture.h"

#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {
class IoContextPool;
}

namespace vantrel::sandbox {

/** A snapshot of a built-in service's counters. */
struct BuiltinCounters {
    std::int64_t connectionsAccepted = 0;
    std::int64_t connectionsOpen = 0;
    std::int64_t bytesReceived = 0; ///< every byte read from clients (what a sink has swallowed)
    std::int64_t bytesSent = 0;

    Json toJson() const;
};

/**
 * A small TCP service on 127.0.0.1 (ephemeral port) standing in for a device port:
 * - echo: writes back what it reads;
 * - banner: first sends bannerLine(), then echoes;
 * - sink: reads and discards, counting;
 * - source: sends the byte pattern (offset % 251) as fast as the reader takes it, and discards what it reads.
 * The service and its connections run on one loop of the pool (services are spread over the loops in turn), so
 * that nothing a loop owns refers to another loop when the loops are destroyed; counters are atomic. Thread-safe.
 */
class BuiltinService : public std::enable_shared_from_this<BuiltinService> {
public:
    static constexpr std::size_t kPatternModulus = 251;

    static Result<std::shared_ptr<BuiltinService>> open(IoContextPool& loops, DeviceTarget::Kind kind,
                                                        std::string name);

    BuiltinService(IoContextPool& loops, DeviceTarget::Kind kind, std::string name);

    void start();
    void close();

    boost::asio::ip::tcp::endpoint endpoint() const { return m_endpoint; }
    DeviceTarget::Kind kind() const { return m_kind; }
    /** "<serial>:<port>" of the device port it serves. */
    const std::string& name() const { return m_name; }
    /** The line a banner service sends first: "SANDBOX-BANNER <name>\r\n". */
    std::string bannerLine() const;
    BuiltinCounters counters() const;

    std::atomic<std::int64_t> connectionsAccepted {0};
    std::atomic<std::int64_t> connectionsOpen {0};
    std::atomic<std::int64_t> bytesReceived {0};
    std::atomic<std::int64_t> bytesSent {0};

private:
    void doAccept();

    boost::asio::ip::tcp::acceptor m_acceptor; // on the service's loop, with every connection
    const DeviceTarget::Kind m_kind;
    const std::string m_name;
    boost::asio::ip::tcp::endpoint m_endpoint;
};

} // namespace vantrel::sandbox
