#include "core/CRUDHelper.h"
#include "core/Credentials.h"
#include "core/DevicePortAssociation.h"
#include "core/RESTShellUser.h"
#include "core/SettingsMessage.h"
#include "core/UserAccount.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(CRUDHelper, NullMissingAndNonObjectDictionariesReadAsAbsent)
{
    const Json dictionary = {{"null", nullptr}, {"empty", ""}, {"zero", 0}};
    EXPECT_FALSE(isPresent(CRUDHelper::getValueForKey("null", dictionary)));
    EXPECT_FALSE(isPresent(CRUDHelper::getValueForKey("missing", dictionary)));
    EXPECT_FALSE(isPresent(CRUDHelper::getValueForKey("empty", Json())));
    EXPECT_FALSE(isPresent(CRUDHelper::getValueForKey("0", Json::array({1}))));
    EXPECT_EQ(CRUDHelper::getValueForKey("empty", dictionary), "");
    EXPECT_EQ(CRUDHelper::getValueForKey("zero", dictionary), 0);
}

TEST(CRUDHelper, PutValueRemovesForAbsentAndPutObjectLeavesUnchanged)
{
    Json dictionary = {{"a", 1}, {"b", 2}};
    CRUDHelper::putValue(Json(), "a", dictionary);
    CRUDHelper::putObject(Json(), "b", dictionary);
    CRUDHelper::putObject("x", "c", dictionary);
    EXPECT_EQ(dictionary, (Json{{"b", 2}, {"c", "x"}}));
}

TEST(CRUDHelper, SortArrayIsStableAndLeavesItsInputAlone)
{
    const Json input = Json::parse(R"([{"n": 2, "id": "a"}, {"n": 1, "id": "b"}, {"n": 2, "id": "c"}])");
    const Json ascending = CRUDHelper::sortArray(input, "n", true);
    const Json descending = CRUDHelper::sortArray(input, "n", false);
    EXPECT_EQ(ascending[0]["id"], "b");
    EXPECT_EQ(ascending[1]["id"], "a");
    EXPECT_EQ(ascending[2]["id"], "c");
    EXPECT_EQ(descending[0]["id"], "a");
    EXPECT_EQ(descending[2]["id"], "b");
    EXPECT_EQ(input[0]["id"], "a");
}

TEST(DevicePortAssociation, MissingDeviceAndFlagReadAsEmptyDeviceAndFalse)
{
    const auto association = DevicePortAssociation::fromDict({{"id", "A"}, {"local_port", "8022"}});
    EXPECT_FALSE(association.isUnrestricted);
    EXPECT_EQ(association.device, RESTShellDevice());
    const Json written = association.toDictionary();
    EXPECT_EQ(written, (Json{{"id", "A"}, {"local_port", "8022"}, {"is_unrestricted", false}, {"device", Json::object()}}));
}

TEST(DevicePortAssociation, RoundTripKeepsValuesOfUnexpectedTypesUnchanged)
{
    const Json stored = Json::parse(R"({"id": "0F8E", "local_port": 8022, "remote_port": "22",
        "local_address": "", "is_unrestricted": true,
        "device": {"serial": "S-1", "online": true, "disk_used": 1.5, "port_forwarding_ports": [22, 80],
                   "name": null, "unknown_member": 1}})");
    Json expected = stored;
    expected["device"].erase("name");
    expected["device"].erase("unknown_member");
    EXPECT_EQ(DevicePortAssociation::fromDict(stored).toDictionary(), expected);
}

TEST(DevicePortAssociation, EqualityIsByPresentIdentifiersOnly)
{
    auto first = DevicePortAssociation::fromDict({{"id", "X"}, {"remote_port", "22"}});
    auto second = DevicePortAssociation::fromDict({{"id", "X"}, {"remote_port", "80"}});
    auto anonymous = DevicePortAssociation::fromDict(Json::object());
    EXPECT_TRUE(first.isEqual(second));
    EXPECT_FALSE(anonymous.isEqual(anonymous));
    EXPECT_FALSE(first.isEqual(anonymous));
}

TEST(SettingsMessage, DefaultsFromAnEmptyOrAbsentDictionary)
{
    for (const Json& dictionary : {Json::object(), Json(), Json::array()}) {
        const SettingsMessage settings = SettingsMessage::createFromDict(dictionary);
        EXPECT_FALSE(isPresent(settings.stnAuthToken));
        EXPECT_TRUE(settings.stnAssociations.empty());
        EXPECT_FALSE(settings.stnUser);
        EXPECT_EQ(settings.stnForwardsCreated, 0);
        EXPECT_EQ(settings.toDictionary(), (Json{{"associations", Json::array()}, {"forwards_created", 0},
                                                 {"forwards_removed", 0}, {"forwards_changed", 0}}));
    }
}

TEST(SettingsMessage, SessionStartReadsWholeSecondsAndWritesSecondsWithFraction)
{
    auto settings = SettingsMessage::createFromDict({{"session_started", 1700000000.75}});
    const Json written = settings.toDictionary();
    ASSERT_TRUE(written["session_started"].is_number_float());
    EXPECT_DOUBLE_EQ(written["session_started"].get<double>(), 1700000000.0);

    settings.stnSessionStarted = std::chrono::system_clock::time_point(std::chrono::milliseconds(1500));
    EXPECT_DOUBLE_EQ(settings.toDictionary()["session_started"].get<double>(), 1.5);
}

TEST(SettingsMessage, FullRecordRoundTripsAndNullsWriteNoKey)
{
    const Json stored = Json::parse(R"({"auth_token": "tok", "user": {"email": "a@b.c", "port_forwarding_ports": [-1]},
        "associations": [{"id": "1", "is_unrestricted": false, "device": {}}],
        "forwards_created": 3, "forwards_removed": 1, "forwards_changed": 2,
        "installation_to_track": "SER", "vantrel_app_login_status_changed": 1, "version_to_upgrade": "1.7"})");
    EXPECT_EQ(SettingsMessage::createFromDict(stored).toDictionary(), stored);

    const auto withNulls = SettingsMessage::createFromDict({{"auth_token", nullptr}, {"user", nullptr}});
    const Json written = withNulls.toDictionary();
    EXPECT_FALSE(written.contains("auth_token"));
    EXPECT_FALSE(written.contains("user"));
}

TEST(RESTShellUser, ClearForSendingKeepsOnlyTheName)
{
    auto user = RESTShellUser::createFromDict({{"email", "a@b.c"}, {"name", "Ann"}, {"device_limit", 2}});
    user.clearForSending();
    EXPECT_EQ(user.toDictionary(), (Json{{"name", "Ann"}}));
}

TEST(RESTShellUser, GravatarHashTrimsAndLowercasesAndIsUppercaseHex)
{
    EXPECT_EQ(RESTShellUser::MD5String(""), std::nullopt);
    EXPECT_EQ(RESTShellUser::MD5String("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(RESTShellUser::computeGravatarHash(" \tMyEmailAddress@Example.COM \t"),
              RESTShellUser::MD5String("myemailaddress@example.com"));
    EXPECT_EQ(RESTShellUser::computeGravatarHash("ÅSA@Example.com"), RESTShellUser::MD5String("åsa@example.com"));
}

TEST(UserAccount, UserIdFromProfileWinsOverTopLevel)
{
    EXPECT_EQ(UserAccount::fromDictionary({{"profile", {{"user_id", 7}}}, {"user_id", 9}}).userId, 7);
    EXPECT_EQ(UserAccount::fromDictionary({{"user_id", 9}}).userId, 9);
    EXPECT_EQ(UserAccount::fromDictionary({{"profile", {{"other", 1}}}, {"user_id", 9}}).userId, 9);
}

TEST(UserAccount, ToDictionaryAlwaysWritesIsDeveloper)
{
    auto account = UserAccount::fromDictionary({{"company_name", "Acme"}});
    EXPECT_EQ(account.toDictionary(), (Json{{"is_developer", 0}, {"company_name", "Acme"}}));
    EXPECT_EQ(account.isDeveloper, 0);
}

TEST(Credentials, OnlyBothMembersMakeARecord)
{
    EXPECT_FALSE(Credentials::fromDictionary({{"username", "u"}}));
    EXPECT_FALSE(Credentials::fromDictionary(Json()));
    const auto credentials = Credentials::fromDictionary({{"username", "u"}, {"password", "p"}});
    ASSERT_TRUE(credentials);
    EXPECT_EQ(credentials->toDictionary(), (Json{{"username", "u"}, {"password", "p"}}));
}

} // namespace
} // namespace vantrel
