#pragma once

#include "core/JsonValue.h"

namespace vantrel {

/** The answer of a sign-in or sign-up: the token, and whether a second factor is still required. */
struct RESTLoginResponse {
    JsonField msgToken;
    bool msgAuthyToken = false;

    static RESTLoginResponse createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    /** Only the token. */
    Json toDictionary() const;
};

/** The answer of a second-factor verification. */
struct RESTVerifyTokenResponse {
    JsonField msgToken;
    JsonField msgError;

    static RESTVerifyTokenResponse createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    Json toDictionary() const;
};

/** The answer of a port-open call: the device-side port of the relay route and the service type. */
struct RESTPortsResponse {
    JsonField msgPort;
    JsonField msgService;

    static RESTPortsResponse createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    Json toDictionary() const;
};

} // namespace vantrel
