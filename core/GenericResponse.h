#pragma once

#include "core/Error.h"
#include "core/RPCMessage.h"

#include <optional>

namespace vantrel {

/** The outcome of one JSON-RPC call: the answer's envelope and result, or an error. */
struct GenericResponse : RPCMessage {
    JsonField result; ///< "result" of the answer
    std::optional<Error> error; ///< absent on success
    bool notModified = false; ///< the service reported that the cached answer is still valid

    static GenericResponse createFromDictionary(const Json& dictionary);
    /** The envelope members and "result", as they stand. */
    void fillFromDictionary(const Json& dictionary);
};

} // namespace vantrel
