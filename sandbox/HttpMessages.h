#pragma once

#include "core/JsonValue.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace vantrel::sandbox {

using HttpRequest = boost::beast::http::request<boost::beast::http::string_body>;
using HttpResponse = boost::beast::http::response<boost::beast::http::string_body>;
using HttpStatus = boost::beast::http::status;

/** Takes the answer to one request; called once, from any thread. */
using Responder = std::function<void(HttpResponse)>;

/** Where the sandbox hosts each part of the service on its one HTTPS port. */
namespace paths {
inline constexpr std::string_view kService = "/apps/";
inline constexpr std::string_view kWeb = "/www/";
inline constexpr std::string_view kRpc = "/jsonrpc/v2/";
inline constexpr std::string_view kRelay = "/m2m/";
inline constexpr std::string_view kRelease = "/releases/";
inline constexpr std::string_view kAnalytics = "/analytics/3.0/projects/";
inline constexpr std::string_view kControl = "/control/";
} // namespace paths

/** A request target split into its path and its query members (percent-decoded). */
struct RequestTarget {
    std::string path;
    std::map<std::string, std::string> query;

    static RequestTarget parse(std::string_view target);
};

/** An answer with a JSON body and "Content-Type: application/json". */
HttpResponse jsonResponse(HttpStatus status, const Json& body);

/** An answer with a body of the given content type. */
HttpResponse bytesResponse(HttpStatus status, std::string body, std::string_view contentType);

/** {"detail": text} with the status: the service's usual error body. */
HttpResponse detailResponse(HttpStatus status, std::string_view detail);

} // namespace vantrel::sandbox
