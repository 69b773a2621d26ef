#pragma once

#include "core/JsonValue.h"

namespace vantrel {

// Members of JSON-RPC calls and their answers.
inline constexpr const char* FIELD_CACHE_TOKEN = "cache_token";
inline constexpr const char* FIELD_ID = "id";
inline constexpr const char* FIELD_RPC_VERIOS = "jsonrpc";
inline constexpr const char* FIELD_CACHED = "cached";
inline constexpr const char* FIELD_METHOD = "method";
inline constexpr const char* FIELD_PARAMS = "params";
inline constexpr const char* FIELD_RESULT = "result";

/**
 * The envelope shared by JSON-RPC calls and their answers. A call that carries the cache token of an earlier
 * answer lets the service answer "cached" instead of repeating a result that has not changed.
 */
struct RPCMessage {
    JsonField cacheToken; ///< "cache_token"; absent unless a cached answer is to be revalidated
    JsonField callId = 1; ///< "id"
    JsonField rpcVersion = "2.0"; ///< "jsonrpc"
    bool cached = false; ///< "cached": the service reports the cached answer as still valid

    /** A record with the four members of dictionary as they stand (absent when missing; "cached" then false). */
    static RPCMessage fromDictionary(const Json& dictionary);
    void fillFromDictionary(const Json& dictionary);

    /** The present members, and "cached" always, as a JSON boolean. */
    Json toDictionary() const;
};

} // namespace vantrel
