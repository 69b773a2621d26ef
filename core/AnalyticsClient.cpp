#include "core/AnalyticsClient.h"

#include "core/Deployment.h"
#include "core/MainQueue.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ProgramInfo.h"

#include <algorithm>

namespace vantrel {
namespace {

constexpr const char* kCollectionKey = "collection";
constexpr const char* kEventKey = "event";

} // namespace

AnalyticsClient::AnalyticsClient(std::filesystem::path queueFile, std::string uploadUrl, http::Client& client)
    : m_queueFile(std::move(queueFile))
    , m_uploadUrl(std::move(uploadUrl))
    , m_client(client)
{
    load();
}

AnalyticsClient& AnalyticsClient::sharedClient()
{
    static AnalyticsClient client(platform::paths::preferencesDirectory()
                                      / (platform::currentProgram().identifier + ".analytics.json"),
                                  deployment::analyticsUrl(), http::Client::shared());
    return client;
}

void AnalyticsClient::configure(std::string, std::string writeKey, std::string)
{
    m_writeKey = std::move(writeKey);
    upload(); // events an earlier run could not deliver
}

void AnalyticsClient::setGlobalProperties(Json properties)
{
    m_globalProperties = properties.is_object() ? std::move(properties) : Json::object();
}

void AnalyticsClient::addEvent(const std::string& collection, Json event)
{
    Json merged = m_globalProperties;
    merged.update(event.is_object() ? event : Json::object());
    m_queue.push_back({{kCollectionKey, collection}, {kEventKey, std::move(merged)}});
    if (m_queue.size() > kMaxQueuedEvents) {
        logFormat("analytics queue is full; dropped the oldest of {} events", m_queue.size());
        m_queue.erase(m_queue.begin());
    }
    save();
}

Json AnalyticsClient::queuedEvents() const
{
    Json batch = Json::object();
    for (const Json& entry : m_queue) {
        batch[entry[kCollectionKey].get<std::string>()].push_back(entry[kEventKey]);
    }
    return batch;
}

void AnalyticsClient::upload(Completion finished)
{
    if (m_queue.empty() || m_uploading) {
        if (finished) {
            finished();
        }
        return;
    }
    m_uploading = true;
    const std::size_t sent = m_queue.size();
    http::Request request;
    request.method = "POST";
    request.url = m_uploadUrl;
    request.headers = {{"Authorization", m_writeKey}, {"Content-Type", "application/json"}};
    request.body = toCompactJson(queuedEvents());
    m_client.send(std::move(request), [this, sent, finished = std::move(finished)](Result<http::Response> outcome) {
        MainQueue* queue = MainQueue::installed();
        if (queue == nullptr) {
            return; // the program has ended; the events stay queued on disk
        }
        queue->post([this, sent, finished, outcome = std::move(outcome)] {
            m_uploading = false;
            if (outcome && outcome.value().status >= 200 && outcome.value().status < 300) {
                // Events queued while the upload was on its way stay for the next one.
                m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(std::min(sent, m_queue.size())));
                m_retryDelay = kFirstRetryDelay;
                save();
            } else {
                logFormat("analytics upload failed: {}",
                          outcome ? "status " + std::to_string(outcome.value().status) : outcome.error().text());
                scheduleRetry();
            }
            if (finished) {
                finished();
            }
        });
    });
}

void AnalyticsClient::scheduleRetry()
{
    if (m_retryPending) {
        return;
    }
    m_retryPending = true;
    MainQueue::shared().postAfter(m_retryDelay, [this] {
        m_retryPending = false;
        upload();
    });
    m_retryDelay = std::min(m_retryDelay * 2, kLongestRetryDelay);
}

void AnalyticsClient::load()
{
    std::string text;
    if (platform::readWholeFile(m_queueFile, text)) {
        return;
    }
    auto stored = parseJson(text);
    if (!stored || !stored->is_array()) {
        logFormat("analytics queue {} is damaged; starting empty", m_queueFile.string());
        return;
    }
    for (Json& entry : *stored) {
        if (entry.is_object() && entry[kCollectionKey].is_string() && entry[kEventKey].is_object()) {
            m_queue.push_back(std::move(entry));
        }
    }
}

void AnalyticsClient::save() const
{
    std::error_code ignored;
    std::filesystem::create_directories(m_queueFile.parent_path(), ignored);
    if (const auto error = platform::writeFileAtomically(m_queueFile, toCompactJson(m_queue), 0600)) {
        logFormat("could not keep the analytics queue in {}: {}", m_queueFile.string(), error.message());
    }
}

} // namespace vantrel
