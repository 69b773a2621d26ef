#pragma once

#include "sandbox/HttpMessages.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::sandbox {

struct FixtureDevice;
struct ServiceState;

/**
 * The account and device REST endpoints ("auth/", "verify-2fa-token/", "register/", "reset-password/",
 * "profile/", "devices/", "devices/<serial>/", "devices/<serial>/ports/"). Errors are JSON bodies: a field name
 * with a list of texts for refused input, {"detail": text} otherwise. Thread-safe (state lives in ServiceState).
 */
class RestEndpoints {
public:
    explicit RestEndpoints(ServiceState& state);

    /** path: the request path after the service prefix, e.g. "profile/". */
    void handle(const HttpRequest& request, std::string_view path, Responder respond);

private:
    HttpResponse signIn(const Json& body);
    HttpResponse verifySecondFactor(const Json& body);
    HttpResponse registerAccount(const Json& body);
    HttpResponse resetPassword(const Json& body);
    HttpResponse updateProfile(const std::string& email, const Json& body);
    HttpResponse devices(const std::string& email);
    void openPort(const std::string& email, const FixtureDevice& device, const Json& body, Responder respond);
    Json deviceRecord(const FixtureDevice& device) const;
    /** The device of the path "devices/<serial>/..." if the account owns it. */
    const FixtureDevice* ownedDevice(const std::string& email, std::string_view serial) const;

    ServiceState& m_state;
};

} // namespace vantrel::sandbox
