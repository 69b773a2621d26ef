#include "sandbox/RpcEndpoint.h"

#include "sandbox/ServiceState.h"

#include <fmt/format.h>

#include <algorithm>

namespace vantrel::sandbox {

namespace {

Json rpcError(std::int64_t code, std::string_view message)
{
    return Json {{"code", code}, {"message", message}};
}

/** A cache token for a result: FNV-1a of its compact JSON, stable within and across runs. */
std::string cacheTokenOf(const std::string& method, const Json& result)
{
    std::uint64_t hash = 1469598103934665603ULL;
    for (const char c : method + toCompactJson(result)) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return fmt::format("{:016x}", hash);
}

} // namespace

RpcEndpoint::RpcEndpoint(ServiceState& state)
    : m_state(state)
{
}

void RpcEndpoint::handle(const HttpRequest& request, const RequestTarget& target, Responder respond)
{
    Json answer = {{"jsonrpc", "2.0"}, {"id", Json()}};
    const auto body = parseJson(request.body());
    if (request.method() != boost::beast::http::verb::post) {
        respond(detailResponse(HttpStatus::method_not_allowed, "JSON-RPC calls are POST requests."));
        return;
    }
    if (!body) {
        answer["error"] = rpcError(kParseError, "Parse error");
        respond(jsonResponse(HttpStatus::ok, answer));
        return;
    }
    answer["id"] = body->is_object() ? body->value("id", Json()) : Json();
    if (!body->is_object() || !body->value("method", Json()).is_string()) {
        answer["error"] = rpcError(kInvalidRequest, "Invalid Request");
        respond(jsonResponse(HttpStatus::ok, answer));
        return;
    }
    const std::string method = (*body)["method"].get<std::string>();
    const auto token = target.query.find("auth");
    const auto email = token == target.query.end() ? std::nullopt : m_state.accounts.emailForToken(token->second);
    Outcome outcome;
    if (const auto fault = m_state.faults.takeRpcError(method)) {
        outcome.error = rpcError(fault->code, fault->message);
    } else {
        outcome = call(method, body->value("params", Json::object()), email);
    }
    if (!outcome.error.is_null()) {
        answer["error"] = outcome.error;
        respond(jsonResponse(HttpStatus::ok, answer));
        return;
    }
    const std::string cacheToken = cacheTokenOf(method, outcome.result);
    answer["cache_token"] = cacheToken;
    if (body->value("cache_token", Json()) == Json(cacheToken)) {
        answer["cached"] = true;
    } else {
        answer["result"] = outcome.result;
    }
    respond(jsonResponse(HttpStatus::ok, answer));
}

RpcEndpoint::Outcome RpcEndpoint::call(const std::string& method, const Json& params,
                                       const std::optional<std::string>& email)
{
    if (method == "auth.login") {
        return login(params);
    }
    const bool known =
        method == "devices.open_terminal" || method == "m2m.open_echo_service" || method == "m2m.get_device_identities";
    if (!known) {
        return {Json(), rpcError(kMethodNotFound, "Method not found")};
    }
    if (!email) {
        return {Json(), rpcError(kInvalidToken, "Invalid token")};
    }
    if (!params.is_object()) {
        return {Json(), rpcError(kInvalidParams, "Invalid params")};
    }
    if (method == "m2m.get_device_identities") {
        Json identities = Json::array();
        for (const Json& key : params.value("devices", Json::array())) {
            if (const FixtureDevice* device = deviceByKey(*email, key)) {
                identities.push_back({{"device_pk", device->pk},
                                      {"serial", device->serial},
                                      {"identity", "device-" + device->serial},
                                      {"online", device->online}});
            }
        }
        return {Json {{"identities", identities}}, Json()};
    }
    const FixtureDevice* device = deviceByKey(*email, params.value("device_pk", Json()));
    if (!device) {
        return {Json(), rpcError(kDeviceNotFound, "Device not found")};
    }
    if (method == "devices.open_terminal") {
        return {Json {{"device_pk", device->pk},
                      {"name", params.value("name", Json("terminal"))},
                      {"terminal_identity", params.value("terminal_identity", Json())},
                      {"device_identity", "device-" + device->serial}},
                Json()};
    }
    return {Json {{"device_pk", device->pk},
                  {"client_identity", params.value("client_identity", Json())},
                  {"echo_identity", "echo-" + device->serial}},
            Json()};
}

RpcEndpoint::Outcome RpcEndpoint::login(const Json& params)
{
    const auto email = params.is_object() ? textOf(params.value("email", Json())) : std::nullopt;
    const auto password = params.is_object() ? textOf(params.value("password", Json())) : std::nullopt;
    if (!email || !password) {
        return {Json(), rpcError(kInvalidParams, "Invalid params: email and password are required")};
    }
    const auto signIn = m_state.accounts.signIn(*email, *password);
    if (signIn.outcome == AccountBook::PasswordCheck::signedIn
        || signIn.outcome == AccountBook::PasswordCheck::secondFactorNeeded) {
        return {
            Json {{"token", signIn.token}, {"2fa", signIn.outcome == AccountBook::PasswordCheck::secondFactorNeeded}},
            Json()};
    }
    return {Json(), rpcError(kBadCredentials, "Invalid email or password")};
}

const FixtureDevice* RpcEndpoint::deviceByKey(const std::string& email, const Json& key) const
{
    for (const std::string& serial : m_state.accounts.devicesOf(email)) {
        const FixtureDevice* device = m_state.fixture.findDevice(serial);
        if (device && ((key.is_number_integer() && key.get<std::int64_t>() == device->pk) || key == Json(serial))) {
            return device;
        }
    }
    return nullptr;
}

} // namespace vantrel::sandbox
