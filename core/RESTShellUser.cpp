#include "core/RESTShellUser.h"

#include "core/Crypto.h"
#include "core/KeyedFields.h"
#include "core/ServiceKeys.h"

#include <unicode/unistr.h>

#include <array>

namespace vantrel {
namespace {

using Field = KeyedField<RESTShellUser>;

constexpr std::array kFields{
    Field{FIELD_EMAIL, &RESTShellUser::msgEmail},
    Field{FIELD_EMAIL_VERIFIED, &RESTShellUser::msgEmailVerified},
    Field{FIELD_HAS_USABLE_PASSWORD, &RESTShellUser::msgHasUsablePassword},
    Field{FIELD_INSTALL_COMMAND, &RESTShellUser::msgInstallCommand},
    Field{FIELD_INSTALL_TOKEN, &RESTShellUser::msgInstallToken},
    Field{FIELD_NAME, &RESTShellUser::msgName},
    Field{FIELD_DEVICE_LIMIT, &RESTShellUser::msgDeviceLimit},
    Field{FIELD_PORT_FORWARDING_PORTS, &RESTShellUser::msgForwardingPorts},
};

std::string_view trimSpacesAndTabs(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

RESTShellUser RESTShellUser::createFromDict(const Json& dictionary)
{
    RESTShellUser user;
    user.inflateFromDictionary(dictionary);
    return user;
}

void RESTShellUser::inflateFromDictionary(const Json& dictionary)
{
    inflateKeyedFields<RESTShellUser>(*this, kFields, dictionary);
}

Json RESTShellUser::toDictionary() const
{
    Json dictionary = Json::object();
    putKeyedFields<RESTShellUser>(*this, kFields, dictionary);
    return dictionary;
}

void RESTShellUser::clearForSending()
{
    RESTShellUser cleared;
    cleared.msgName = std::move(msgName);
    *this = std::move(cleared);
}

std::optional<std::string> RESTShellUser::computeGravatarHash(std::string_view email)
{
    const std::string_view trimmed = trimSpacesAndTabs(email);
    std::string lowered;
    icu::UnicodeString::fromUTF8(icu::StringPiece(trimmed.data(), static_cast<int32_t>(trimmed.size())))
        .toLower()
        .toUTF8String(lowered);
    return MD5String(lowered);
}

std::optional<std::string> RESTShellUser::MD5String(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    return crypto::md5Hex(text);
}

} // namespace vantrel
