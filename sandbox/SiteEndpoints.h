#pragma once

#include "sandbox/HttpMessages.h"

#include <string_view>

namespace vantrel::sandbox {

struct ServiceState;

/**
 * The hosts around the service: the public web host (static/files/app_versions.json), the release site
 * (latest.txt and the installer package) and the analytics collector (event uploads). Thread-safe.
 */
class SiteEndpoints {
public:
    static constexpr std::string_view kReleaseRepository = "quillmont/corvane-vantrel-releases-osx/";
    static constexpr std::string_view kPackageName = "CorvaneVantrelSetup.pkg";

    explicit SiteEndpoints(ServiceState& state);

    /** path: the whole request path. */
    void handle(const HttpRequest& request, std::string_view path, Responder respond);

private:
    HttpResponse release(std::string_view path) const;
    HttpResponse analytics(const HttpRequest& request, std::string_view path);

    ServiceState& m_state;
};

} // namespace vantrel::sandbox
