#include "core/NotificationCenter.h"

#include <utility>
#include <vector>

namespace vantrel {

NotificationCenter::Registration::Registration(NotificationCenter* center, std::uint64_t id)
    : m_center(center)
    , m_id(id)
{
}

NotificationCenter::Registration::Registration(Registration&& other) noexcept
    : m_center(std::exchange(other.m_center, nullptr))
    , m_id(std::exchange(other.m_id, 0))
{
}

NotificationCenter::Registration& NotificationCenter::Registration::operator=(Registration&& other) noexcept
{
    if (this != &other) {
        reset();
        m_center = std::exchange(other.m_center, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

NotificationCenter::Registration::~Registration()
{
    reset();
}

void NotificationCenter::Registration::reset()
{
    if (m_center != nullptr) {
        m_center->remove(m_id);
        m_center = nullptr;
    }
}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::Registration NotificationCenter::addObserver(std::string name, Observer observer)
{
    std::lock_guard lock(m_mutex);
    const std::uint64_t id = m_nextId++;
    m_observers.emplace(id, Entry{std::move(name), std::make_shared<const Observer>(std::move(observer))});
    return Registration(this, id);
}

void NotificationCenter::post(std::string_view name, Notification::Object object)
{
    std::vector<std::shared_ptr<const Observer>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, entry] : m_observers) {
            if (entry.name == name) {
                matching.push_back(entry.observer);
            }
        }
    }
    const Notification notification{std::string(name), std::move(object)};
    for (const auto& observer : matching) {
        (*observer)(notification);
    }
}

void NotificationCenter::remove(std::uint64_t id)
{
    std::lock_guard lock(m_mutex);
    m_observers.erase(id);
}

} // namespace vantrel
