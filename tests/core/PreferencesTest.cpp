#include "core/SecureStorage.h"
#include "core/ShellUserDefaults.h"

#include "tests/support/FakeAuthority.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

class PreferencesTest : public ::testing::Test {
protected:
    testing::TempDirectory folder;
    platform::PreferencesStore store{folder / "com.corvane.Test.json"};
    SecureStorage storage{folder / "Vantrel", folder / "Tessmark", std::make_unique<testing::FakeAuthority>()};
    ShellUserDefaults preferences{store, storage};
};

TEST_F(PreferencesTest, FirstAccessMarksTheLaunchOnceAndClearingForgetsEverything)
{
    EXPECT_TRUE(store.value(SETTING_EVER_LAUNCHED).is_null());
    preferences.setDefaultValues();
    EXPECT_EQ(store.value(SETTING_EVER_LAUNCHED), true);

    preferences.setDebugMode(true);
    UserDefaults base(store);
    EXPECT_TRUE(base.getDebugMode()); // both instances work on the same store

    preferences.setAuthToken("t", false);
    preferences.clearUserData();
    EXPECT_FALSE(preferences.getDebugMode());
    EXPECT_FALSE(preferences.getAuthToken());
    EXPECT_TRUE(store.value(SETTING_EVER_LAUNCHED).is_null());
    preferences.setDefaultValues();
    EXPECT_EQ(store.value(SETTING_EVER_LAUNCHED), true);
}

TEST_F(PreferencesTest, TokenWithoutSavingChangesOnlyThePreference)
{
    preferences.setAuthToken("token-2", false);
    EXPECT_EQ(preferences.getAuthToken(), "token-2");
    EXPECT_FALSE(isPresent(storage.getConfig().stnAuthToken));
    preferences.setAuthToken(Json(), false);
    EXPECT_FALSE(preferences.getAuthToken());
}

TEST_F(PreferencesTest, ProfileIsStoredAsItsDictionaryAndAbsentRemovesIt)
{
    RESTShellUser user = RESTShellUser::createFromDict({{"email", "a@b.c"}, {"port_forwarding_ports", {22}}});
    preferences.setRESTShellUser(user);
    EXPECT_EQ(preferences.getRESTShellUser(), user);
    preferences.setRESTShellUser(std::nullopt);
    EXPECT_FALSE(preferences.getRESTShellUser());
    EXPECT_TRUE(store.value(SETTING_REST_SHELL_USER).is_null());

    store.setValue(SETTING_REST_SHELL_USER, "not a dictionary");
    EXPECT_FALSE(preferences.getRESTShellUser());
}

TEST_F(PreferencesTest, CredentialsNeedBothMembers)
{
    store.setValue(SETTING_CREDENTIALS, {{"username", "u"}});
    EXPECT_FALSE(preferences.getCredentials());
    preferences.setCredentials(Credentials::initWithUsername("u", "p"));
    ASSERT_TRUE(preferences.getCredentials());
    EXPECT_EQ(preferences.getCredentials()->password, "p");
}

TEST_F(PreferencesTest, CacheTokensAreKeptPerCall)
{
    EXPECT_FALSE(preferences.getAPICallCacheTokenForCall("devices.list"));
    preferences.setAPICallCacheToken("c1", "devices.list");
    preferences.setAPICallCacheToken("c2", "profile.get");
    EXPECT_EQ(preferences.getAPICallCacheTokenForCall("devices.list"), "c1");
    EXPECT_EQ(preferences.getAPICallCacheTokenForCall("profile.get"), "c2");
}

TEST_F(PreferencesTest, PreferencesSurviveARestartOfTheProgram)
{
    preferences.setAuthToken("kept", false);
    preferences.setUserAccount(UserAccount::fromDictionary({{"user_id", 4}}));
    platform::PreferencesStore reopened(store.file());
    ShellUserDefaults restarted(reopened, storage);
    EXPECT_EQ(restarted.getAuthToken(), "kept");
    ASSERT_TRUE(restarted.getUserAccount());
    EXPECT_EQ(restarted.getUserAccount()->userId, 4);
}

} // namespace
} // namespace vantrel
