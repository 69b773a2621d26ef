#pragma once

#include "sandbox/HttpMessages.h"

#include <string_view>

namespace vantrel::sandbox {

struct ServiceState;

/**
 * The sandbox's own controls over HTTPS, the same as the in-process ones (no authentication; loopback only):
 * POST/GET/DELETE "faults", PUT "accounts/<email>/ports", GET "analytics", "relay", "builtins", "requests".
 * Thread-safe.
 */
class ControlEndpoint {
public:
    explicit ControlEndpoint(ServiceState& state);

    /** path: the request path after the control prefix, e.g. "faults". */
    void handle(const HttpRequest& request, std::string_view path, Responder respond);

private:
    HttpResponse addFaults(const HttpRequest& request);
    HttpResponse setPorts(const HttpRequest& request, std::string_view email);

    ServiceState& m_state;
};

} // namespace vantrel::sandbox
