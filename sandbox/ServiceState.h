#pragma once

#include "sandbox/AccountBook.h"
#include "sandbox/BuiltinService.h"
#include "sandbox/FaultList.h"
#include "sandbox/Fixture.h"
#include "sandbox/RelayRegistry.h"
#include "sandbox/TrafficLog.h"

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <map>
#include <string>
#include <utility>

namespace vantrel::sandbox {

/**
 * Everything the sessions of one sandbox share. The plain members (fixture, origin, targets, ping settings) are
 * set before the first session starts and never change afterwards; the components are thread-safe.
 * Owned by the Sandbox, which outlives every session.
 */
struct ServiceState {
    explicit ServiceState(Fixture fixtureData)
        : fixture(std::move(fixtureData))
        , accounts(fixture.accounts)
    {
    }

    const Fixture fixture;
    AccountBook accounts;
    FaultList faults;
    RelayRegistry relays;
    TrafficLog traffic;

    std::string origin; ///< "https://127.0.0.1:<port>", no trailing "/"
    /** Where each device port is connected: (serial, port) -> loopback endpoint. */
    std::map<std::pair<std::string, std::int64_t>, boost::asio::ip::tcp::endpoint> targets;
    /** The built-in services by name ("<serial>:<port>"). */
    std::map<std::string, std::shared_ptr<BuiltinService>> builtins;
    std::chrono::milliseconds pingInterval {20000};

    std::string serviceUrl() const;

    /**
     * Puts a fault in force. A relay fault first goes to the open relay connections, oldest first, one use
     * each; what is left of its count waits for new connections.
     */
    void addFault(Fault fault);
};

} // namespace vantrel::sandbox
