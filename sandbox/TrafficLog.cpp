#include "sandbox/TrafficLog.h"

#include <algorithm>
#include <cctype>

namespace vantrel::sandbox {

Json RecordedRequest::toJson() const
{
    return {{"method", method}, {"target", target}, {"headers", headers}, {"body", body}};
}

void TrafficLog::recordRequest(const HttpRequest& request)
{
    RecordedRequest recorded;
    recorded.method = std::string(request.method_string());
    recorded.target = std::string(request.target());
    for (const auto& field : request) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        recorded.headers[name] = std::string(field.value());
    }
    recorded.body = request.body().substr(0, kMaxRecordedBody);
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(recorded));
    if (m_requests.size() > kMaxRequests) {
        m_requests.pop_front();
    }
}

std::vector<RecordedRequest> TrafficLog::requests() const
{
    std::lock_guard lock(m_mutex);
    return {m_requests.begin(), m_requests.end()};
}

void TrafficLog::addAnalyticsBatch(Json batch)
{
    std::lock_guard lock(m_mutex);
    m_analyticsBatches.push_back(std::move(batch));
}

std::vector<Json> TrafficLog::analyticsBatches() const
{
    std::lock_guard lock(m_mutex);
    return m_analyticsBatches;
}

} // namespace vantrel::sandbox
