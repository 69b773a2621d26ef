#pragma once

#include "core/RPCMessage.h"

#include <optional>
#include <string>

namespace vantrel {

/** One JSON-RPC call: the envelope, the method and its parameters. */
struct GenericMessage : RPCMessage {
    std::string method; ///< "method"
    std::optional<Json> params; ///< "params": absent until the first addParam, and then not sent
    bool retry = false; ///< not sent
    bool doNotUseCache = false; ///< not sent

    static GenericMessage initWithMethod(std::string method);

    /** Creates the parameter map when it is absent and stores a present value under key; returns *this. */
    GenericMessage& addParam(const JsonField& value, const std::string& key);

    /** The envelope, "method", and "params" when there are parameters. */
    Json toDictionary() const;
};

} // namespace vantrel
