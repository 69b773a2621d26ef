#include "sandbox/ControlEndpoint.h"

#include "sandbox/ServiceState.h"

#include <vector>

namespace vantrel::sandbox {

namespace http = boost::beast::http;

ControlEndpoint::ControlEndpoint(ServiceState& state)
    : m_state(state)
{
}

void ControlEndpoint::handle(const HttpRequest& request, std::string_view path, Responder respond)
{
    const auto method = request.method();
    if (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    if (path == "faults") {
        if (method == http::verb::post) {
            respond(addFaults(request));
        } else if (method == http::verb::delete_) {
            m_state.faults.clear();
            respond(jsonResponse(HttpStatus::ok, Json {{"faults", Json::array()}}));
        } else {
            respond(jsonResponse(HttpStatus::ok, Json {{"faults", m_state.faults.toJson()}}));
        }
        return;
    }
    constexpr std::string_view kAccounts = "accounts/";
    constexpr std::string_view kPorts = "/ports";
    if (path.substr(0, kAccounts.size()) == kAccounts && path.size() > kAccounts.size() + kPorts.size()
        && path.substr(path.size() - kPorts.size()) == kPorts && method == http::verb::put) {
        respond(setPorts(request, path.substr(kAccounts.size(), path.size() - kAccounts.size() - kPorts.size())));
        return;
    }
    if (method != http::verb::get) {
        respond(detailResponse(HttpStatus::method_not_allowed, "Not allowed on this control."));
    } else if (path == "analytics") {
        respond(jsonResponse(HttpStatus::ok, Json {{"batches", m_state.traffic.analyticsBatches()}}));
    } else if (path == "relay") {
        respond(jsonResponse(HttpStatus::ok, m_state.relays.counters().toJson()));
    } else if (path == "builtins") {
        Json builtins = Json::object();
        for (const auto& [name, service] : m_state.builtins) {
            builtins[name] = service->counters().toJson();
        }
        respond(jsonResponse(HttpStatus::ok, builtins));
    } else if (path == "requests") {
        Json requests = Json::array();
        for (const RecordedRequest& recorded : m_state.traffic.requests()) {
            requests.push_back(recorded.toJson());
        }
        respond(jsonResponse(HttpStatus::ok, Json {{"requests", requests}}));
    } else {
        respond(detailResponse(HttpStatus::not_found, "Not found."));
    }
}

HttpResponse ControlEndpoint::addFaults(const HttpRequest& request)
{
    const auto body = parseJson(request.body());
    if (!body) {
        return detailResponse(HttpStatus::bad_request, "The body must be a fault object or a list of them.");
    }
    const Json list = body->is_array() ? *body : Json::array({*body});
    std::vector<Fault> faults;
    for (const Json& entry : list) {
        auto fault = Fault::fromJson(entry);
        if (!fault) {
            return detailResponse(HttpStatus::bad_request, fault.error().description);
        }
        faults.push_back(std::move(fault).value());
    }
    for (Fault& fault : faults) {
        m_state.addFault(std::move(fault));
    }
    return jsonResponse(HttpStatus::created, Json {{"faults", m_state.faults.toJson()}});
}

HttpResponse ControlEndpoint::setPorts(const HttpRequest& request, std::string_view email)
{
    const auto body = parseJson(request.body());
    if (!body || !body->is_object() || !body->contains("ports")) {
        return detailResponse(HttpStatus::bad_request, "The body must be {\"ports\": [port, ...] or null}.");
    }
    if (!m_state.accounts.setForwardingPorts(std::string(email), (*body)["ports"])) {
        return detailResponse(HttpStatus::bad_request, "Unknown account, or \"ports\" is not a list of integers.");
    }
    return jsonResponse(HttpStatus::ok, m_state.accounts.profile(std::string(email)));
}

} // namespace vantrel::sandbox
