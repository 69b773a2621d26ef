#pragma once

#include "core/JsonValue.h"
#include "sandbox/HttpMessages.h"

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::sandbox {

/** One request as the sandbox received it (header names in lower case, body cut at 64 KiB). */
struct RecordedRequest {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers;
    std::string body;

    Json toJson() const;
};

/**
 * What clients sent: the last requests (at most 1,000, oldest dropped) and every analytics upload, for tests to
 * inspect. Thread-safe.
 */
class TrafficLog {
public:
    void recordRequest(const HttpRequest& request);
    std::vector<RecordedRequest> requests() const;

    /** Keeps one analytics upload: {"project": id, "key": write key, "events": body}. */
    void addAnalyticsBatch(Json batch);
    std::vector<Json> analyticsBatches() const;

private:
    static constexpr std::size_t kMaxRequests = 1000;
    static constexpr std::size_t kMaxRecordedBody = 64 * 1024;

    mutable std::mutex m_mutex;
    std::deque<RecordedRequest> m_requests; ///< guarded by m_mutex
    std::vector<Json> m_analyticsBatches; ///< guarded by m_mutex
};

} // namespace vantrel::sandbox
