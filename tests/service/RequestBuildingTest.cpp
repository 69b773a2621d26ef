#include "core/AbstractAPI.h"
#include "core/SecureStorage.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"
#include "core/Url.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel {
namespace {

std::optional<std::string> headerOf(const http::Request& request, const std::string& name)
{
    const auto found = std::find_if(request.headers.begin(), request.headers.end(),
                                    [&](const auto& header) { return header.first == name; });
    return found == request.headers.end() ? std::nullopt : std::optional<std::string>(found->second);
}

class RequestBuildingTest : public ::testing::Test {
protected:
    testing::ScopedEnvironment serviceUrl{"VANTREL_SERVICE_URL", "https://127.0.0.1:9/api/"};
    testing::TempDirectory folder;
    platform::PreferencesStore store{folder / "prefs.json"};
    SecureStorage storage{folder / "Vantrel", folder / "Tessmark", platform::makePolkitAuthority()};
    ShellUserDefaults preferences{store, storage};
    ShellRESTAPI api{http::Client::shared(), preferences};
};

TEST_F(RequestBuildingTest, PathsJoinTheBaseAndAnEmptyAbsoluteAddressCountsAsAbsent)
{
    EXPECT_EQ(api.prepareCleanRESTRequestWithMessage(nullptr, "", "auth/", kMethodPost, std::nullopt).url,
              "https://127.0.0.1:9/api/auth/");
    EXPECT_EQ(api.prepareCleanRESTRequestWithMessage(nullptr, std::nullopt, std::nullopt, kMethodGet, std::nullopt).url,
              "https://127.0.0.1:9/api/");
    EXPECT_EQ(api.prepareCleanRESTRequestWithMessage(nullptr, "https://h/x/ports/", "auth/", kMethodGet, std::nullopt)
                  .url,
              "https://h/x/ports/");
}

TEST_F(RequestBuildingTest, MethodCodesAndHeaders)
{
    const std::pair<int, const char*> methods[] = {{0, "GET"}, {1, "POST"}, {2, "PUT"}, {3, "PATCH"}, {4, "DELETE"}, {9, "GET"}};
    for (const auto& [code, text] : methods) {
        EXPECT_EQ(AbstractAPI::resolveMethod(code), text);
    }
    GenericRESTMessage empty;
    const http::Request request = api.prepareCleanRESTRequestWithMessage(&empty, std::nullopt, "auth/", kMethodPost,
                                                                         std::nullopt);
    EXPECT_EQ(request.method, "POST");
    EXPECT_FALSE(request.body); // no parameters, no body, whatever the method
    EXPECT_EQ(headerOf(request, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(request, "Accept"), "application/json");
    EXPECT_EQ(headerOf(request, "User-Agent")->rfind("Corvane/", 0), 0u);
}

TEST_F(RequestBuildingTest, TheTokenTravelsUnlessSkippedOrReplacedByAnEmptyOne)
{
    preferences.setAuthToken("stored", false);
    GenericRESTMessage skipping;
    skipping.skipAuth = true;
    struct Case {
        const GenericRESTMessage* message;
        std::optional<std::string> customToken;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {nullptr, std::nullopt, "Token stored"},
        {nullptr, "custom", "Token custom"},
        {nullptr, "", std::nullopt},
        {&skipping, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto request = api.prepareCleanRESTRequestWithMessage(c.message, std::nullopt, "x/", kMethodGet, c.customToken);
        EXPECT_EQ(headerOf(request, "Authorization"), c.expected);
    }
}

TEST_F(RequestBuildingTest, ParametersBecomeACompactJsonBodyAndAbsentValuesAreLeftOut)
{
    GenericRESTMessage message;
    message.addParam("id-1", "m2m_identity").addParam("redirect-port", "service").addParam(Json(), "port");
    const auto request = api.prepareCleanRESTRequestWithMessage(&message, "https://h/p/", std::nullopt, kMethodPost,
                                                                std::nullopt);
    EXPECT_EQ(request.body, R"({"m2m_identity":"id-1","service":"redirect-port"})");
}

TEST_F(RequestBuildingTest, DebugModeSelectsTheTestDomainUnlessAnAddressIsConfigured)
{
    testing::ScopedEnvironment compiledDefault("VANTREL_SERVICE_URL", std::nullopt);
    EXPECT_EQ(api.getCallURL(), "https://apps.corvane.com/");
    preferences.setDebugMode(true);
    EXPECT_EQ(api.getCallURL(), "https://apps.staging.corvane.com/");
}

TEST(Url, PartsOfAddresses)
{
    const auto parsed = parseUrl("wss://relay.example:8443/m2m/?device=S-1");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed.value().host, "relay.example");
    EXPECT_EQ(parsed.value().port, 8443);
    EXPECT_EQ(parsed.value().target, "/m2m/?device=S-1");
    EXPECT_EQ(parsed.value().hostHeader(), "relay.example:8443");

    const auto plain = parseUrl("https://[::1]");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain.value().host, "::1");
    EXPECT_EQ(plain.value().port, 443);
    EXPECT_EQ(plain.value().target, "/");
    EXPECT_EQ(plain.value().hostHeader(), "[::1]");
    EXPECT_TRUE(plain.value().hostIsAddress());

    for (const char* bad : {"", "not a url", "/relative/path", "https://:80/"}) {
        EXPECT_FALSE(parseUrl(bad)) << bad;
    }
}

} // namespace
} // namespace vantrel
