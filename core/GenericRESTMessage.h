#pragma once

#include "core/Error.h"
#include "core/JsonValue.h"

#include <optional>
#include <string>

namespace vantrel {

/** The parameters of one REST call: the JSON object sent as the body, and whether to leave out the token. */
class GenericRESTMessage {
public:
    /** Creates the parameter map when it is absent and stores a present value under key; returns *this. */
    GenericRESTMessage& addParam(const JsonField& value, const std::string& key);

    /** The parameter map; absent until the first addParam, and then no body is sent. */
    const std::optional<Json>& toDictionary() const { return params; }

    std::optional<Json> params;
    bool skipAuth = false; ///< no "Authorization" header even when a token is known
};

/** The outcome of one REST call: a result (the decoded body, or a record built from it) or an error. */
template <class T = Json>
struct GenericRESTResponse {
    std::optional<T> result;
    std::optional<Error> error;
    std::int32_t errorCount = 0; ///< the number of top-level members of a JSON error body
    unsigned httpStatus = 0;     ///< the answer's HTTP status; 0 when no answer arrived
};

} // namespace vantrel
