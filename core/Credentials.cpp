#include "core/Credentials.h"

#include "core/CRUDHelper.h"

namespace vantrel {
namespace {

constexpr const char* kUsernameKey = "username";
constexpr const char* kPasswordKey = "password";

} // namespace

Credentials Credentials::initWithUsername(std::string username, std::string password)
{
    return Credentials{std::move(username), std::move(password)};
}

std::optional<Credentials> Credentials::fromDictionary(const Json& dictionary)
{
    auto username = textOf(CRUDHelper::getValueForKey(kUsernameKey, dictionary));
    auto password = textOf(CRUDHelper::getValueForKey(kPasswordKey, dictionary));
    if (!username || !password) {
        return std::nullopt;
    }
    return Credentials{std::move(*username), std::move(*password)};
}

Json Credentials::toDictionary() const
{
    return Json{{kUsernameKey, username}, {kPasswordKey, password}};
}

} // namespace vantrel
