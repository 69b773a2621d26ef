#include "sandbox/RestEndpoints.h"

#include "sandbox/RelaySession.h"
#include "sandbox/ServiceState.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>

namespace vantrel::sandbox {

namespace http = boost::beast::http;

namespace {

constexpr std::string_view kRedirectPort = "redirect-port";

HttpResponse fieldError(HttpStatus status, std::string_view field, std::string_view message)
{
    return jsonResponse(status, Json {{field, Json::array({message})}});
}

HttpResponse notAllowed(const HttpRequest& request)
{
    return detailResponse(HttpStatus::method_not_allowed,
                          fmt::format("Method \"{}\" not allowed.", std::string_view(request.method_string())));
}

/** The body as a JSON object; an empty body reads as {}. Nothing for anything else. */
std::optional<Json> bodyObject(const HttpRequest& request)
{
    if (request.body().empty()) {
        return Json::object();
    }
    auto json = parseJson(request.body());
    if (!json || !json->is_object()) {
        return std::nullopt;
    }
    return json;
}

/** A non-empty text member. */
std::optional<std::string> textMember(const Json& body, const char* key)
{
    auto text = textOf(body.value(key, Json()));
    if (!text || text->empty()) {
        return std::nullopt;
    }
    return text;
}

/** The token of an "Authorization: Token <t>" header. */
std::optional<std::string> tokenOf(const HttpRequest& request)
{
    constexpr std::string_view kScheme = "Token ";
    const std::string_view header = request[http::field::authorization];
    if (header.substr(0, kScheme.size()) != kScheme) {
        return std::nullopt;
    }
    return std::string(header.substr(kScheme.size()));
}

/** A port given as decimal text (or a JSON integer): the whole text must be digits. */
std::optional<std::int64_t> portMember(const Json& value)
{
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (!value.is_string()) {
        return std::nullopt;
    }
    const std::string& text = value.get_ref<const std::string&>();
    std::int64_t port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return port;
}

} // namespace

RestEndpoints::RestEndpoints(ServiceState& state)
    : m_state(state)
{
}

void RestEndpoints::handle(const HttpRequest& request, std::string_view path, Responder respond)
{
    const auto method = request.method();
    const auto body = bodyObject(request);
    if (!body && (method == http::verb::post || method == http::verb::put || method == http::verb::patch)) {
        respond(fieldError(HttpStatus::bad_request, "non_field_errors", "The request body is not a JSON object."));
        return;
    }
    // Endpoints without a signed-in user.
    if (path == "auth/" && method == http::verb::post) {
        respond(signIn(*body));
        return;
    }
    if (path == "verify-2fa-token/" || path == "register/" || path == "reset-password/") {
        if (method != http::verb::post) {
            respond(notAllowed(request));
        } else if (path == "verify-2fa-token/") {
            respond(verifySecondFactor(*body));
        } else if (path == "register/") {
            respond(registerAccount(*body));
        } else {
            respond(resetPassword(*body));
        }
        return;
    }
    const auto token = tokenOf(request);
    const auto email = token ? m_state.accounts.emailForToken(*token) : std::nullopt;
    if (!email) {
        respond(detailResponse(HttpStatus::unauthorized,
                               token ? "Invalid token." : "Authentication credentials were not provided."));
        return;
    }
    if (path == "auth/") {
        if (method != http::verb::delete_) {
            respond(notAllowed(request));
            return;
        }
        m_state.accounts.signOut(*token);
        respond(detailResponse(HttpStatus::ok, "Successfully logged out."));
    } else if (path == "profile/") {
        if (method == http::verb::get) {
            respond(jsonResponse(HttpStatus::ok, m_state.accounts.profile(*email)));
        } else if (method == http::verb::put || method == http::verb::patch) {
            respond(updateProfile(*email, *body));
        } else {
            respond(notAllowed(request));
        }
    } else if (path == "devices/") {
        respond(method == http::verb::get ? devices(*email) : notAllowed(request));
    } else if (path.substr(0, 8) == "devices/") {
        // "devices/<serial>/" or "devices/<serial>/ports/"
        const std::string_view rest = path.substr(8);
        const auto slash = rest.find('/');
        const FixtureDevice* device =
            slash == std::string_view::npos ? nullptr : ownedDevice(*email, rest.substr(0, slash));
        const std::string_view action = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (!device || (action != "" && action != "ports/")) {
            respond(detailResponse(HttpStatus::not_found, "Not found."));
        } else if (action == "ports/") {
            if (method == http::verb::post) {
                openPort(*email, *device, *body, std::move(respond));
            } else {
                respond(notAllowed(request));
            }
        } else {
            respond(method == http::verb::get ? jsonResponse(HttpStatus::ok, deviceRecord(*device))
                                              : notAllowed(request));
        }
    } else {
        respond(detailResponse(HttpStatus::not_found, "Not found."));
    }
}

HttpResponse RestEndpoints::signIn(const Json& body)
{
    const auto email = textMember(body, "email");
    const auto password = textMember(body, "password");
    if (!email) {
        return fieldError(HttpStatus::bad_request, "email", "This field is required.");
    }
    if (!password && m_state.accounts.knows(*email)) {
        return fieldError(HttpStatus::bad_request, "password", "This field is required.");
    }
    const auto outcome = m_state.accounts.signIn(*email, password.value_or(std::string()));
    switch (outcome.outcome) {
    case AccountBook::PasswordCheck::signedIn:
        return jsonResponse(HttpStatus::ok, Json {{"token", outcome.token}, {"2fa", false}});
    case AccountBook::PasswordCheck::secondFactorNeeded:
        return jsonResponse(HttpStatus::ok, Json {{"token", outcome.token}, {"2fa", true}});
    case AccountBook::PasswordCheck::unknownEmail:
    case AccountBook::PasswordCheck::wrongPassword:
        break;
    }
    const char* emailProblem = outcome.outcome == AccountBook::PasswordCheck::unknownEmail
        ? "No account with this e-mail address."
        : "The password does not match this e-mail address.";
    return jsonResponse(HttpStatus::bad_request,
                        Json {{"email", Json::array({emailProblem})},
                              {"non_field_errors", Json::array({"Invalid email or password"})}});
}

HttpResponse RestEndpoints::verifySecondFactor(const Json& body)
{
    const auto email = textMember(body, "email");
    const auto code = textMember(body, "token");
    if (!email || !code) {
        return fieldError(HttpStatus::bad_request, email ? "token" : "email", "This field is required.");
    }
    const auto token = m_state.accounts.verifySecondFactor(*email, *code);
    if (!token) {
        return fieldError(HttpStatus::bad_request, "2fa", "Invalid code");
    }
    return jsonResponse(HttpStatus::ok, Json {{"token", *token}});
}

HttpResponse RestEndpoints::registerAccount(const Json& body)
{
    const auto email = textMember(body, "email");
    if (!email || email->find('@') == std::string::npos) {
        return fieldError(HttpStatus::bad_request, "email", "Enter a valid email address.");
    }
    const auto token = m_state.accounts.registerAccount(*email);
    if (!token) {
        return fieldError(HttpStatus::bad_request, "email", "A user with this email address already exists.");
    }
    return jsonResponse(HttpStatus::created, Json {{"token", *token}});
}

HttpResponse RestEndpoints::resetPassword(const Json& body)
{
    const auto email = textMember(body, "email");
    if (!email || email->find('@') == std::string::npos) {
        return fieldError(HttpStatus::bad_request, "email", "Enter a valid email address.");
    }
    return detailResponse(HttpStatus::ok, "Password reset e-mail has been sent.");
}

HttpResponse RestEndpoints::updateProfile(const std::string& email, const Json& body)
{
    if (!body.contains("name") || !body["name"].is_string()) {
        return fieldError(HttpStatus::bad_request, "name", "This field is required.");
    }
    m_state.accounts.setName(email, body["name"].get<std::string>());
    return jsonResponse(HttpStatus::ok, m_state.accounts.profile(email));
}

HttpResponse RestEndpoints::devices(const std::string& email)
{
    Json list = Json::array();
    for (const std::string& serial : m_state.accounts.devicesOf(email)) {
        if (const FixtureDevice* device = m_state.fixture.findDevice(serial)) {
            list.push_back(deviceRecord(*device));
        }
    }
    return jsonResponse(HttpStatus::ok, list);
}

Json RestEndpoints::deviceRecord(const FixtureDevice& device) const
{
    Json record = device.record;
    const std::string base = m_state.serviceUrl() + "devices/" + device.serial + "/";
    record["url"] = base;
    record["ports_url"] = base + "ports/";
    record["reboot_url"] = base + "reboot/";
    record["online"] = device.online;
    if (!record.contains("upgrade")) {
        record["upgrade"] = Json();
    }
    return record;
}

const FixtureDevice* RestEndpoints::ownedDevice(const std::string& email, std::string_view serial) const
{
    const auto owned = m_state.accounts.devicesOf(email);
    if (std::find(owned.begin(), owned.end(), serial) == owned.end()) {
        return nullptr;
    }
    return m_state.fixture.findDevice(std::string(serial));
}

void RestEndpoints::openPort(const std::string& email, const FixtureDevice& device, const Json& body, Responder respond)
{
    const auto identity = textMember(body, "m2m_identity");
    const auto service = textMember(body, "service");
    if (!identity) {
        respond(fieldError(HttpStatus::bad_request, "m2m_identity", "This field is required."));
        return;
    }
    if (service != std::string(kRedirectPort)) {
        respond(fieldError(HttpStatus::bad_request, "service",
                           fmt::format("Unsupported service; this sandbox offers \"{}\".", kRedirectPort)));
        return;
    }
    const auto port = body.contains("port") ? portMember(body["port"]) : std::nullopt;
    if (!port) {
        respond(fieldError(HttpStatus::bad_request, "port", "A port number is required."));
        return;
    }
    if (std::find(device.ports.begin(), device.ports.end(), *port) == device.ports.end()) {
        respond(fieldError(HttpStatus::bad_request, "port", fmt::format("Port {} is not open on this device.", *port)));
        return;
    }
    if (!m_state.accounts.grantsPort(email, *port)) {
        respond(detailResponse(HttpStatus::forbidden,
                               fmt::format("Port forwarding to port {} is not allowed for this account.", *port)));
        return;
    }
    std::string relaySerial;
    const auto session = m_state.relays.find(*identity, &relaySerial);
    if (!session || relaySerial != device.serial) {
        respond(fieldError(HttpStatus::bad_request, "m2m_identity",
                           "No relay connection to this device has this identity."));
        return;
    }
    if (const auto refusal = m_state.faults.takeRefusePorts()) {
        respond(jsonResponse(static_cast<HttpStatus>(refusal->status), refusal->answerBody()));
        return;
    }
    const auto target = m_state.targets.find({device.serial, *port});
    if (target == m_state.targets.end()) {
        respond(detailResponse(HttpStatus::bad_gateway, fmt::format("Nothing serves port {} of this device.", *port)));
        return;
    }
    session->openRoute(target->second, [respond = std::move(respond)](std::optional<std::int64_t> route) {
        if (!route) {
            respond(detailResponse(HttpStatus::bad_gateway, "The device port did not answer."));
            return;
        }
        respond(jsonResponse(HttpStatus::ok, Json {{"port", *route}, {"service", kRedirectPort}}));
    });
}

} // namespace vantrel::sandbox
