#pragma once

#include "core/JsonValue.h"

#include <optional>
#include <string>

namespace vantrel {

/** A user name and password pair kept in the preferences. */
struct Credentials {
    std::string username;
    std::string password;

    static Credentials initWithUsername(std::string username, std::string password);
    /** A record only when the dictionary holds both "username" and "password" as texts. */
    static std::optional<Credentials> fromDictionary(const Json& dictionary);
    Json toDictionary() const;
};

} // namespace vantrel
