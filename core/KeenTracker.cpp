#include "core/KeenTracker.h"

#include "platform/ProgramInfo.h"
#include "platform/SystemIdentity.h"

#include <chrono>
#include <fmt/format.h>

namespace vantrel {

KeenTracker::KeenTracker(AnalyticsClient& client, Clock clock)
    : m_client(client)
    , m_clock(std::move(clock))
{
}

double KeenTracker::systemClock()
{
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

void KeenTracker::initializeWithProjectId(const std::string& projectId, const std::string& writeKey,
                                          const std::string& readKey)
{
    if (initialized) {
        return;
    }
    initialized = true;
    summaryMap.clear();
    sessionStartTimeDict.clear();
    m_client.configure(projectId, writeKey, readKey);
    Json properties = Json::object();
    fillDictWithGlobalProperties(properties);
    m_client.setGlobalProperties(std::move(properties));
}

bool KeenTracker::trackRawEventForName(const std::string& collection, const Json& data, Completion completion)
{
    if (collection.empty() || !data.is_object() || data.empty()) {
        return false;
    }
    m_client.addEvent(collection, data);
    m_client.upload(std::move(completion));
    return true;
}

bool KeenTracker::trackHandledEventForName(const std::string& collection, Json data, Completion completion)
{
    if (data.is_null()) {
        return false;
    }
    fillDataWithCommonElements(data);
    return trackRawEventForName(collection, data, std::move(completion));
}

void KeenTracker::trackPageViewForPage(const std::string& page)
{
    if (!page.empty()) {
        trackHandledEventForName("clickstream", {{"event_type", "macos_page_opened"}, {"page", page}});
    }
}

void KeenTracker::incrementSummaryNumericValueForKey(const std::string& key)
{
    ++summaryMap[key];
}

void KeenTracker::ensureTimer(const std::string& timerKey)
{
    sessionStartTimeDict.try_emplace(timerKey, m_clock());
    summaryMap.try_emplace(timerKey, 0);
}

void KeenTracker::sessionPageViewUnPause(const std::string& timerKey)
{
    ensureTimer(timerKey);
    sessionStartTimeDict[timerKey] = m_clock();
}

void KeenTracker::sessionPageViewPause(const std::string& timerKey)
{
    ensureTimer(timerKey);
    summaryMap[timerKey] += static_cast<std::int64_t>(m_clock() - sessionStartTimeDict[timerKey]);
}

void KeenTracker::updateAndFlushKeenSummaryMapWithCompletionHandler(Completion completion)
{
    Json summary = Json::object();
    for (const auto& [key, value] : summaryMap) {
        summary[key] = value;
    }
    trackHandledEventForName("session_summary", std::move(summary), std::move(completion));
    summaryMap.clear();
    sessionStartTimeDict.clear();
}

void KeenTracker::fillDictWithGlobalProperties(Json& dictionary) const
{
    const auto [major, minor] = platform::operatingSystemMajorMinor();
    dictionary["client"] = customClient.value_or("macOS");
    dictionary["app_version"] = getAppVersion();
    dictionary["os_version"] = fmt::format("{}.{}", major, minor);
}

void KeenTracker::fillDataWithCommonElements(Json& data) const
{
    fillDataWithUser(data);
    fillDataWithCompany(data);
}

std::string KeenTracker::getAppVersion() const
{
    const platform::ProgramInfo& program = platform::currentProgram();
    return fmt::format("{} ({})", program.shortVersion, program.build);
}

} // namespace vantrel
