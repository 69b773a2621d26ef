#pragma once

#include "core/JsonValue.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::sandbox {

class RelaySession;

/** A snapshot of the relay's counters. */
struct RelayCounters {
    std::int64_t connectionsOpened = 0; ///< relay WebSocket connections accepted since start
    std::int64_t connectionsOpen = 0; ///< relay connections open now
    std::int64_t routesOpened = 0; ///< routes connected to a target since start
    std::int64_t routesOpen = 0; ///< routes open now
    std::int64_t bytesToTargets = 0; ///< payload bytes of type-5 packets written to targets
    std::int64_t bytesFromTargets = 0; ///< payload bytes read from targets and sent as type-6 packets
    std::int64_t pingsSent = 0;
    std::int64_t pongsReceived = 0;
    std::int64_t missedPongs = 0; ///< connections closed because a pong did not come in time
    std::int64_t packetsIgnored = 0; ///< client messages that were not a packet the relay acts on

    Json toJson() const;
};

/**
 * The live relay connections by identity, and the relay's counters. Holds weak references only: a session
 * registers when its handshake is done and unregisters when it ends. Thread-safe; callers call sessions after
 * the registry's lock is released.
 */
class RelayRegistry {
public:
    /** Registers a session and returns the fresh identity it answers type-1 packets with. */
    std::string add(const std::weak_ptr<RelaySession>& session, const std::string& serial);
    void remove(const std::string& identity);

    /** The session with this identity if it is still open, and the device serial it was opened for. */
    std::shared_ptr<RelaySession> find(const std::string& identity, std::string* serial = nullptr) const;

    /** Every open session, oldest first. */
    std::vector<std::shared_ptr<RelaySession>> openSessions() const;

    /** A route number, unique for the sandbox's lifetime. */
    std::int64_t nextRoute();

    RelayCounters counters() const;

    std::atomic<std::int64_t> connectionsOpened {0};
    std::atomic<std::int64_t> routesOpened {0};
    std::atomic<std::int64_t> routesOpen {0};
    std::atomic<std::int64_t> bytesToTargets {0};
    std::atomic<std::int64_t> bytesFromTargets {0};
    std::atomic<std::int64_t> pingsSent {0};
    std::atomic<std::int64_t> pongsReceived {0};
    std::atomic<std::int64_t> missedPongs {0};
    std::atomic<std::int64_t> packetsIgnored {0};

private:
    struct Entry {
        std::uint64_t order = 0;
        std::string serial;
        std::weak_ptr<RelaySession> session;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, Entry> m_sessions; ///< by identity; guarded by m_mutex
    std::uint64_t m_nextOrder = 0; ///< guarded by m_mutex
    std::atomic<std::int64_t> m_nextRoute {2201};
};

} // namespace vantrel::sandbox
