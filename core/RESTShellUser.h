#pragma once

#include "core/JsonValue.h"

#include <optional>
#include <string>

namespace vantrel {

/** The signed-in user's profile as the service returns it; every field as the member arrived. */
struct RESTShellUser {
    JsonField msgEmail;
    JsonField msgEmailVerified;
    JsonField msgHasUsablePassword;
    JsonField msgInstallCommand;
    JsonField msgInstallToken;
    JsonField msgName;
    JsonField msgDeviceLimit;
    /** The device ports this account may forward: the list [-1] means every port, an empty list none. */
    JsonField msgForwardingPorts;

    static RESTShellUser createFromDict(const Json& dictionary);
    void inflateFromDictionary(const Json& dictionary);
    Json toDictionary() const;

    /** Makes every field absent except msgName, so that a profile update sends only the name. */
    void clearForSending();

    /** MD5String of the e-mail with spaces and tabs trimmed at both ends and lower-cased. */
    static std::optional<std::string> computeGravatarHash(std::string_view email);
    /** The MD5 digest of the text's UTF-8 bytes as 32 uppercase hex digits; nothing for an empty text. */
    static std::optional<std::string> MD5String(std::string_view text);

    bool operator==(const RESTShellUser&) const = default;
};

} // namespace vantrel
