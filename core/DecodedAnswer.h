#pragma once

#include "core/HttpClient.h"
#include "core/JsonValue.h"

#include <optional>

namespace vantrel {

/**
 * What the service clients make of an HTTP outcome: the failure the client reports (transport, a status outside
 * 200-299, an unaccepted content type or an undecodable body), the HTTP status and the decoded JSON body. An
 * answer's body is decoded whenever its content type is accepted, also for a failed status, so that error bodies
 * can be read.
 */
struct DecodedAnswer {
    std::optional<Error> clientError;
    unsigned status = 0; ///< 0 when no answer arrived
    std::optional<Json> body; ///< absent for an empty, null, unaccepted or undecodable body

    /** Decodes an outcome; accepted content types: "application/javascript", "text/html", "text/xml",
     *  "application/json" (and none for an empty body). */
    static DecodedAnswer decode(const Result<http::Response>& outcome);
};

} // namespace vantrel
