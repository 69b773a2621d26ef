#pragma once

#include "sandbox/HttpMessages.h"

#include <optional>
#include <string>

namespace vantrel::sandbox {

struct FixtureDevice;
struct ServiceState;

/**
 * The JSON-RPC 2.0 endpoint: "auth.login", "devices.open_terminal", "m2m.open_echo_service",
 * "m2m.get_device_identities". The token comes in the "auth" query member. Every answer is HTTP 200 with
 * either "result" (plus the call's "cache_token") or "error" {"code", "message"}: code 9 for a missing or
 * invalid token, code 1 (session keep-alive) through an rpc_error fault. A request carrying the current
 * "cache_token" of its call gets {"cached": true} without a result. Thread-safe.
 */
class RpcEndpoint {
public:
    static constexpr std::int64_t kInvalidToken = 9;
    static constexpr std::int64_t kBadCredentials = 2;
    static constexpr std::int64_t kDeviceNotFound = 3;
    static constexpr std::int64_t kInvalidRequest = -32600;
    static constexpr std::int64_t kMethodNotFound = -32601;
    static constexpr std::int64_t kInvalidParams = -32602;
    static constexpr std::int64_t kParseError = -32700;

    explicit RpcEndpoint(ServiceState& state);

    void handle(const HttpRequest& request, const RequestTarget& target, Responder respond);

private:
    /** The call's result, or an error {"code", "message"} in the second member. */
    struct Outcome {
        Json result;
        Json error;
    };

    Outcome call(const std::string& method, const Json& params, const std::optional<std::string>& email);
    Outcome login(const Json& params);
    const FixtureDevice* deviceByKey(const std::string& email, const Json& key) const;

    ServiceState& m_state;
};

} // namespace vantrel::sandbox
