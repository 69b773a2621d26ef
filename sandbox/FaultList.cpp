#include "sandbox/FaultList.h"

namespace vantrel::sandbox {

namespace {

bool pathMatches(const Fault& fault, std::string_view path)
{
    return path.size() >= fault.path.size() && path.substr(path.size() - fault.path.size()) == fault.path;
}

} // namespace

void FaultList::add(Fault fault)
{
    std::lock_guard lock(m_mutex);
    m_faults.push_back(std::move(fault));
}

void FaultList::clear()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

Json FaultList::toJson() const
{
    std::lock_guard lock(m_mutex);
    Json list = Json::array();
    for (const Fault& fault : m_faults) {
        list.push_back(fault.toJson());
    }
    return list;
}

Fault FaultList::useLocked(std::size_t index)
{
    Fault used = m_faults[index];
    if (m_faults[index].count && --*m_faults[index].count <= 0) {
        m_faults.erase(m_faults.begin() + static_cast<std::ptrdiff_t>(index));
    }
    return used;
}

FaultList::HttpPlan FaultList::takeHttp(std::string_view path)
{
    std::lock_guard lock(m_mutex);
    HttpPlan plan;
    for (std::size_t i = 0; i < m_faults.size();) {
        const Fault& fault = m_faults[i];
        const bool wanted = pathMatches(fault, path)
            && ((fault.kind == Fault::Kind::delay) || (fault.kind == Fault::Kind::close && !plan.close)
                || (fault.kind == Fault::Kind::status && !plan.answer && !plan.close));
        if (!wanted) {
            ++i;
            continue;
        }
        const std::size_t before = m_faults.size();
        Fault used = useLocked(i);
        if (used.kind == Fault::Kind::delay) {
            plan.delay += used.delay;
        } else if (used.kind == Fault::Kind::close) {
            plan.close = true;
        } else {
            plan.answer = std::move(used);
        }
        if (m_faults.size() == before) {
            ++i;
        }
    }
    return plan;
}

std::optional<Fault> FaultList::takeRefusePorts()
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        if (m_faults[i].kind == Fault::Kind::refusePorts) {
            return useLocked(i);
        }
    }
    return std::nullopt;
}

std::optional<Fault> FaultList::takeRpcError(std::string_view method)
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        if (m_faults[i].kind == Fault::Kind::rpcError && (m_faults[i].method.empty() || m_faults[i].method == method)) {
            return useLocked(i);
        }
    }
    return std::nullopt;
}

std::vector<Fault> FaultList::takeRelay()
{
    std::lock_guard lock(m_mutex);
    std::vector<Fault> taken;
    for (std::size_t i = 0; i < m_faults.size();) {
        if (!m_faults[i].isRelayKind()) {
            ++i;
            continue;
        }
        const std::size_t before = m_faults.size();
        taken.push_back(useLocked(i));
        if (m_faults.size() == before) {
            ++i;
        }
    }
    return taken;
}

} // namespace vantrel::sandbox
