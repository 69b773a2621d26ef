#pragma once

#include "core/HttpClient.h"
#include "core/JsonValue.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vantrel {

/**
 * Queues usage events per collection and uploads them in batches to the analytics service. The queue lives in a
 * file, so events survive the end of the process and an outage of the service; it holds at most kMaxQueuedEvents
 * (the oldest go first when it is full). A failed upload is retried with growing pauses. Every event gets the
 * global properties. Used on the main queue only.
 */
class AnalyticsClient {
public:
    using Completion = std::function<void()>;

    static constexpr std::size_t kMaxQueuedEvents = 1000;
    static constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
    static constexpr std::chrono::milliseconds kLongestRetryDelay{5 * 60 * 1000};

    /** A client whose queue is kept in queueFile, uploading to uploadUrl over client. */
    AnalyticsClient(std::filesystem::path queueFile, std::string uploadUrl, http::Client& client);

    /** The client of the process: its queue sits beside the program's preferences. */
    static AnalyticsClient& sharedClient();

    /** The project and its keys; events are uploaded with the write key. Starts uploading what is queued. */
    void configure(std::string projectId, std::string writeKey, std::string readKey);
    /** A dictionary added to every event queued from now on (the event's own members win). */
    void setGlobalProperties(Json properties);

    /** Queues the event in the named collection. */
    void addEvent(const std::string& collection, Json event);
    /** Uploads everything queued; finished runs once the attempt has ended, whatever its outcome. */
    void upload(Completion finished = {});

    /** The events waiting for upload, as {"collection": [events...]}. */
    Json queuedEvents() const;

private:
    void load();
    void save() const;
    void scheduleRetry();

    const std::filesystem::path m_queueFile;
    const std::string m_uploadUrl;
    http::Client& m_client;
    std::string m_writeKey;
    Json m_globalProperties = Json::object();
    Json m_queue = Json::array(); ///< [{"collection": name, "event": {...}}, ...], oldest first
    bool m_uploading = false;
    bool m_retryPending = false;
    std::chrono::milliseconds m_retryDelay = kFirstRetryDelay;
};

} // namespace vantrel
