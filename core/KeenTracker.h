#pragma once

#include "core/AnalyticsClient.h"
#include "core/JsonValue.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace vantrel {

inline constexpr const char* KEY_USER_NAME = "username";

/**
 * Reports usage to the analytics service: page views and a few actions as events, and a per-session summary of
 * counters and page times. Events go through the process's analytics client, which adds the global properties
 * ("client", "app_version", "os_version") to each. Used on the main queue.
 */
class KeenTracker {
public:
    using Completion = AnalyticsClient::Completion;
    /** The current time in milliseconds since 1970-01-01 00:00 UTC. */
    using Clock = std::function<double()>;

    explicit KeenTracker(AnalyticsClient& client, Clock clock = systemClock);
    virtual ~KeenTracker() = default;
    KeenTracker(const KeenTracker&) = delete;
    KeenTracker& operator=(const KeenTracker&) = delete;

    /** Configures the analytics client and sets the global properties; only the first call counts. */
    void initializeWithProjectId(const std::string& projectId, const std::string& writeKey, const std::string& readKey);

    /** Hands the event to the client and starts an upload; false (nothing sent) for an empty name or data. */
    bool trackRawEventForName(const std::string& collection, const Json& data, Completion completion = {});
    /** As trackRawEventForName, after adding the common elements (the user) to the data. */
    bool trackHandledEventForName(const std::string& collection, Json data, Completion completion = {});
    void trackPageViewForPage(const std::string& page);

    void incrementSummaryNumericValueForKey(const std::string& key);
    void sessionPageViewUnPause(const std::string& timerKey);
    void sessionPageViewPause(const std::string& timerKey);
    /** Sends the session summary and starts a new one. */
    void updateAndFlushKeenSummaryMapWithCompletionHandler(Completion completion);

    void fillDictWithGlobalProperties(Json& dictionary) const;
    virtual void fillDataWithCommonElements(Json& data) const;
    virtual void fillDataWithUser(Json&) const {}
    virtual void fillDataWithCompany(Json&) const {}
    /** The version reported in events: the program's short version and build as "1.6 (1.16)". */
    virtual std::string getAppVersion() const;

    void setCustomClient(std::optional<std::string> client) { customClient = std::move(client); }
    const std::map<std::string, std::int64_t>& summary() const { return summaryMap; }

    static double systemClock();

protected:
    AnalyticsClient& m_client;

private:
    void ensureTimer(const std::string& timerKey);

    Clock m_clock;
    bool initialized = false;
    std::optional<std::string> customClient;
    std::map<std::string, std::int64_t> summaryMap;
    std::map<std::string, double> sessionStartTimeDict;
};

} // namespace vantrel
