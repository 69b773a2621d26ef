#include "sandbox/RelayRegistry.h"

#include <fmt/format.h>

#include <algorithm>
#include <random>

namespace vantrel::sandbox {

Json RelayCounters::toJson() const
{
    return {{"connections_opened", connectionsOpened},
            {"connections_open", connectionsOpen},
            {"routes_opened", routesOpened},
            {"routes_open", routesOpen},
            {"bytes_to_targets", bytesToTargets},
            {"bytes_from_targets", bytesFromTargets},
            {"pings_sent", pingsSent},
            {"pongs_received", pongsReceived},
            {"missed_pongs", missedPongs},
            {"packets_ignored", packetsIgnored}};
}

std::string RelayRegistry::add(const std::weak_ptr<RelaySession>& session, const std::string& serial)
{
    thread_local std::mt19937 random(std::random_device {}());
    std::lock_guard lock(m_mutex);
    const std::uint64_t order = ++m_nextOrder;
    std::string identity = fmt::format("relay-{}-{:08x}", order, random());
    m_sessions[identity] = Entry {order, serial, session};
    connectionsOpened.fetch_add(1);
    return identity;
}

void RelayRegistry::remove(const std::string& identity)
{
    std::lock_guard lock(m_mutex);
    m_sessions.erase(identity);
}

std::shared_ptr<RelaySession> RelayRegistry::find(const std::string& identity, std::string* serial) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_sessions.find(identity);
    if (found == m_sessions.end()) {
        return nullptr;
    }
    if (serial) {
        *serial = found->second.serial;
    }
    return found->second.session.lock();
}

std::vector<std::shared_ptr<RelaySession>> RelayRegistry::openSessions() const
{
    std::vector<std::pair<std::uint64_t, std::shared_ptr<RelaySession>>> ordered;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [identity, entry] : m_sessions) {
            if (auto session = entry.session.lock()) {
                ordered.emplace_back(entry.order, std::move(session));
            }
        }
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::shared_ptr<RelaySession>> sessions;
    for (auto& [order, session] : ordered) {
        sessions.push_back(std::move(session));
    }
    return sessions;
}

std::int64_t RelayRegistry::nextRoute()
{
    return m_nextRoute.fetch_add(1);
}

RelayCounters RelayRegistry::counters() const
{
    RelayCounters counters;
    {
        std::lock_guard lock(m_mutex);
        counters.connectionsOpen = static_cast<std::int64_t>(m_sessions.size());
    }
    counters.connectionsOpened = connectionsOpened.load();
    counters.routesOpened = routesOpened.load();
    counters.routesOpen = routesOpen.load();
    counters.bytesToTargets = bytesToTargets.load();
    counters.bytesFromTargets = bytesFromTargets.load();
    counters.pingsSent = pingsSent.load();
    counters.pongsReceived = pongsReceived.load();
    counters.missedPongs = missedPongs.load();
    counters.packetsIgnored = packetsIgnored.load();
    return counters;
}

} // namespace vantrel::sandbox
