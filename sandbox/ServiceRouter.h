#pragma once

#include "sandbox/ControlEndpoint.h"
#include "sandbox/HttpMessages.h"
#include "sandbox/RestEndpoints.h"
#include "sandbox/RpcEndpoint.h"
#include "sandbox/SiteEndpoints.h"

namespace vantrel::sandbox {

struct ServiceState;

/** Sends each request to the part of the service its path names (paths::k...); 404 for anything else. */
class ServiceRouter {
public:
    explicit ServiceRouter(ServiceState& state);

    /** Answers through respond, exactly once, possibly later and from another thread. Thread-safe. */
    void route(const HttpRequest& request, Responder respond);

private:
    RestEndpoints m_rest;
    RpcEndpoint m_rpc;
    SiteEndpoints m_sites;
    ControlEndpoint m_control;
};

} // namespace vantrel::sandbox
