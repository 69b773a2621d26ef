#include "sandbox/SiteEndpoints.h"

#include "sandbox/ServiceState.h"

#include <fmt/format.h>

#include <algorithm>

namespace vantrel::sandbox {

namespace http = boost::beast::http;

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

HttpResponse analyticsError(HttpStatus status, std::string_view code, std::string_view message)
{
    return jsonResponse(status, Json {{"error_code", code}, {"message", message}});
}

} // namespace

SiteEndpoints::SiteEndpoints(ServiceState& state)
    : m_state(state)
{
}

void SiteEndpoints::handle(const HttpRequest& request, std::string_view path, Responder respond)
{
    if (startsWith(path, paths::kAnalytics)) {
        respond(request.method() == http::verb::post
                    ? analytics(request, path.substr(paths::kAnalytics.size()))
                    : detailResponse(HttpStatus::method_not_allowed, "Events are uploaded with POST."));
        return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
        respond(detailResponse(HttpStatus::method_not_allowed, "Only GET is served here."));
        return;
    }
    if (path == std::string(paths::kWeb) + "static/files/app_versions.json") {
        respond(jsonResponse(HttpStatus::ok, m_state.fixture.release.appVersions));
    } else if (startsWith(path, paths::kRelease)) {
        respond(release(path.substr(paths::kRelease.size())));
    } else {
        respond(detailResponse(HttpStatus::not_found, "Not found."));
    }
}

HttpResponse SiteEndpoints::release(std::string_view path) const
{
    const FixtureRelease& published = m_state.fixture.release;
    if (!startsWith(path, kReleaseRepository)) {
        return bytesResponse(HttpStatus::not_found, "Not Found", "text/plain; charset=utf-8");
    }
    path.remove_prefix(kReleaseRepository.size());
    if (path == "master/latest.txt") {
        return bytesResponse(HttpStatus::ok, published.version, "text/plain; charset=utf-8");
    }
    if (path == fmt::format("releases/download/{}/{}", published.version, kPackageName)) {
        std::string package(published.packageSize, '\0');
        for (std::size_t i = 0; i < package.size(); ++i) {
            package[i] = static_cast<char>(i % 251);
        }
        return bytesResponse(HttpStatus::ok, std::move(package), "application/octet-stream");
    }
    return bytesResponse(HttpStatus::not_found, "Not Found", "text/plain; charset=utf-8");
}

HttpResponse SiteEndpoints::analytics(const HttpRequest& request, std::string_view path)
{
    // path: "<project id>/events"
    const auto slash = path.find('/');
    const std::string_view project = path.substr(0, slash);
    if (slash == std::string_view::npos || path.substr(slash) != "/events" || project.empty()) {
        return analyticsError(HttpStatus::not_found, "ResourceNotFoundError", "Unknown analytics resource.");
    }
    const std::string key(request[http::field::authorization]);
    if (key.empty()) {
        return analyticsError(HttpStatus::unauthorized, "InvalidApiKeyError", "An API key is required.");
    }
    const auto body = parseJson(request.body());
    const bool wellFormed = body && body->is_object() && std::all_of(body->begin(), body->end(), [](const Json& list) {
                                return list.is_array() && std::all_of(list.begin(), list.end(), [](const Json& e) {
                                           return e.is_object();
                                       });
                            });
    if (!wellFormed) {
        return analyticsError(HttpStatus::bad_request, "InvalidEventError",
                              "The body must map collection names to lists of event objects.");
    }
    Json answer = Json::object();
    for (const auto& [collection, events] : body->items()) {
        answer[collection] = Json::array();
        for (std::size_t i = 0; i < events.size(); ++i) {
            answer[collection].push_back({{"success", true}});
        }
    }
    m_state.traffic.addAnalyticsBatch(Json {{"project", project}, {"key", key}, {"events", *body}});
    return jsonResponse(HttpStatus::ok, answer);
}

} // namespace vantrel::sandbox
