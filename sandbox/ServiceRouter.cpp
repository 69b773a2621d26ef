#include "sandbox/ServiceRouter.h"

namespace vantrel::sandbox {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

ServiceRouter::ServiceRouter(ServiceState& state)
    : m_rest(state)
    , m_rpc(state)
    , m_sites(state)
    , m_control(state)
{
}

void ServiceRouter::route(const HttpRequest& request, Responder respond)
{
    const RequestTarget target = RequestTarget::parse(request.target());
    const std::string_view path = target.path;
    if (startsWith(path, paths::kService)) {
        m_rest.handle(request, path.substr(paths::kService.size()), std::move(respond));
    } else if (path == paths::kRpc) {
        m_rpc.handle(request, target, std::move(respond));
    } else if (startsWith(path, paths::kControl)) {
        m_control.handle(request, path.substr(paths::kControl.size()), std::move(respond));
    } else if (startsWith(path, paths::kWeb) || startsWith(path, paths::kRelease)
               || startsWith(path, paths::kAnalytics)) {
        m_sites.handle(request, path, std::move(respond));
    } else {
        respond(detailResponse(HttpStatus::not_found, "Not found."));
    }
}

} // namespace vantrel::sandbox
