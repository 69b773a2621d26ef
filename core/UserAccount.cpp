#include "core/UserAccount.h"

#include "core/CRUDHelper.h"

namespace vantrel {
namespace {

constexpr const char* kUserIdKey = "user_id";
constexpr const char* kIsDeveloperKey = "is_developer";
constexpr const char* kCompanyIdKey = "company_id";
constexpr const char* kCompanyNameKey = "company_name";
constexpr const char* kDatabaseIdKey = "database_id";
constexpr const char* kDatabaseNameKey = "database_name";
constexpr const char* kProfileKey = "profile";

} // namespace

UserAccount UserAccount::fromDictionary(const Json& dictionary)
{
    UserAccount account;
    account.inflate(dictionary);
    return account;
}

void UserAccount::inflate(const Json& dictionary)
{
    isDeveloper = CRUDHelper::getValueForKey(kIsDeveloperKey, dictionary);
    const JsonField profile = CRUDHelper::getValueForKey(kProfileKey, dictionary);
    if (profile.is_object()) {
        userId = CRUDHelper::getValueForKey(kUserIdKey, profile);
    }
    if (!isPresent(userId)) {
        userId = CRUDHelper::getValueForKey(kUserIdKey, dictionary);
    }
    companyId = CRUDHelper::getValueForKey(kCompanyIdKey, dictionary);
    companyName = CRUDHelper::getValueForKey(kCompanyNameKey, dictionary);
    databaseId = CRUDHelper::getValueForKey(kDatabaseIdKey, dictionary);
    databaseName = CRUDHelper::getValueForKey(kDatabaseNameKey, dictionary);
}

Json UserAccount::toDictionary()
{
    if (!isPresent(isDeveloper)) {
        isDeveloper = 0;
    }
    Json dictionary = Json::object();
    CRUDHelper::putValue(isDeveloper, kIsDeveloperKey, dictionary);
    CRUDHelper::putObject(userId, kUserIdKey, dictionary);
    CRUDHelper::putObject(companyId, kCompanyIdKey, dictionary);
    CRUDHelper::putObject(databaseId, kDatabaseIdKey, dictionary);
    CRUDHelper::putObject(companyName, kCompanyNameKey, dictionary);
    CRUDHelper::putObject(databaseName, kDatabaseNameKey, dictionary);
    return dictionary;
}

} // namespace vantrel
