#include "tests/sandbox/SandboxTestFixture.h"

#include <chrono>

namespace vantrel::sandbox::testing {
namespace {

using boost::beast::http::verb;

TEST_F(SandboxTest, CertificateIsTrustedForTheLoopbackNamesOnly)
{
    const struct {
        const char* serverName;
        bool trusted;
    } cases[] = {{"127.0.0.1", true}, {"localhost", true}, {"::1", true}, {"apps.corvane.com", false}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.serverName);
        EXPECT_EQ(!client(test.serverName)->connect(), test.trusted);
    }
}

TEST_F(SandboxTest, SignInAnswersWhatTheSignInScreensExpect)
{
    const struct {
        const char* name;
        Json body;
        int status;
        std::size_t members; ///< members of the answer body
        Json twoFactor; ///< expected "2fa" of a successful answer
    } cases[] = {
        {"right password", {{"email", kDemoEmail}, {"password", kDemoPassword}}, 200, 2, false},
        {"e-mail with blanks and capitals",
         {{"email", "  Demo@Corvane.TEST "}, {"password", kDemoPassword}},
         200,
         2,
         false},
        {"second-factor account", {{"email", kTwoFactorEmail}, {"password", "twofactor-password"}}, 200, 2, true},
        {"known e-mail, no password", {{"email", kDemoEmail}}, 400, 1, Json()},
        {"unknown e-mail, no password", {{"email", "nobody@corvane.test"}}, 400, 2, Json()},
        {"wrong password", {{"email", kDemoEmail}, {"password", "nope"}}, 400, 2, Json()},
        {"unknown e-mail with password", {{"email", "nobody@corvane.test"}, {"password", "x"}}, 400, 2, Json()},
    };
    auto http = client();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const Answer answer = http->post(service("auth/"), test.body);
        ASSERT_EQ(answer.status, test.status) << answer.body;
        EXPECT_EQ(answer.header("content-type"), "application/json");
        const Json json = answer.json();
        ASSERT_TRUE(json.is_object());
        EXPECT_EQ(json.size(), test.members) << answer.body;
        if (test.status == 200) {
            EXPECT_EQ(json["2fa"], test.twoFactor);
            EXPECT_TRUE(json["token"].is_string());
        } else if (test.members == 2) {
            EXPECT_EQ(json["non_field_errors"], Json::array({"Invalid email or password"}));
        }
    }
    EXPECT_EQ(http->post(service("auth/"), {{"email", kDemoEmail}, {"password", kDemoPassword}}).json()["token"],
              kDemoToken);
}

TEST_F(SandboxTest, SecondFactorTradesThePreAuthenticationTokenForTheAccountToken)
{
    auto http = client();
    const Json signIn =
        http->post(service("auth/"), {{"email", kTwoFactorEmail}, {"password", "twofactor-password"}}).json();
    const std::string preToken = signIn["token"].get<std::string>();
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(preToken)).status, 401);

    const Answer wrong = http->post(service("verify-2fa-token/"), {{"email", kTwoFactorEmail}, {"token", "000000"}},
                                    tokenHeader(preToken));
    EXPECT_EQ(wrong.status, 400);
    EXPECT_EQ(wrong.json(), (Json {{"2fa", {"Invalid code"}}}));

    const Answer right = http->post(service("verify-2fa-token/"), {{"email", kTwoFactorEmail}, {"token", "246810"}},
                                    tokenHeader(preToken));
    ASSERT_EQ(right.status, 200);
    const std::string token = right.json()["token"].get<std::string>();
    EXPECT_NE(token, preToken);
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(token)).json()["email"], kTwoFactorEmail);
}

TEST_F(SandboxTest, ProfileFollowsTheTokenAndThePortGrants)
{
    auto http = client();
    const Json profile = http->get(service("profile/"), tokenHeader(kDemoToken)).json();
    for (const char* member : {"email", "email_verified", "has_usable_password", "install_command", "install_token",
                               "name", "device_limit", "port_forwarding_ports"}) {
        EXPECT_TRUE(profile.contains(member)) << member;
    }
    EXPECT_EQ(profile["device_limit"], 2);
    EXPECT_EQ(profile["port_forwarding_ports"], Json::array({-1}));
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(kRestrictedToken)).json()["port_forwarding_ports"],
              Json::array({22}));

    ASSERT_TRUE(sandbox().setForwardingPorts(kDemoEmail, Json()));
    EXPECT_FALSE(http->get(service("profile/"), tokenHeader(kDemoToken)).json().contains("port_forwarding_ports"));
    EXPECT_FALSE(sandbox().setForwardingPorts("nobody@corvane.test", Json::array()));

    const Answer renamed = http->send(verb::put, service("profile/"), R"({"name":"Renamed"})", tokenHeader(kDemoToken));
    EXPECT_EQ(renamed.status, 200);
    EXPECT_EQ(renamed.json()["name"], "Renamed");

    EXPECT_EQ(http->send(verb::delete_, service("auth/"), {}, tokenHeader(kDemoToken)).status, 200);
    const Answer signedOut = http->get(service("profile/"), tokenHeader(kDemoToken));
    EXPECT_EQ(signedOut.status, 401);
    EXPECT_EQ(signedOut.json(), (Json {{"detail", "Invalid token."}}));
    // Signing in again makes the token valid again.
    http->post(service("auth/"), {{"email", kDemoEmail}, {"password", kDemoPassword}});
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(kDemoToken)).status, 200);
}

TEST_F(SandboxTest, EveryAuthenticatedPathRefusesAnUnknownToken)
{
    const struct {
        verb method;
        std::string path;
    } cases[] = {{verb::get, "profile/"},
                 {verb::put, "profile/"},
                 {verb::get, "devices/"},
                 {verb::delete_, "auth/"},
                 {verb::post, std::string("devices/") + kGateway + "/ports/"}};
    auto http = client();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        const Answer answer = http->send(test.method, service(test.path), "{}", tokenHeader("no-such-token"));
        EXPECT_EQ(answer.status, 401);
        EXPECT_EQ(answer.json(), (Json {{"detail", "Invalid token."}}));
    }
    EXPECT_EQ(http->get(service("profile/")).status, 401);
}

TEST_F(SandboxTest, DevicesCarryEveryRecordMemberAndPortsUrlsBackToTheSandbox)
{
    auto http = client();
    const Json devices = http->get(service("devices/"), tokenHeader(kDemoToken)).json();
    ASSERT_TRUE(devices.is_array());
    ASSERT_EQ(devices.size(), 3U);
    for (const Json& device : devices) {
        SCOPED_TRACE(device.value("serial", "?"));
        for (const char* member : {"agent_version",
                                   "description",
                                   "created_time",
                                   "machine_type",
                                   "machine_type_display",
                                   "machine_type_short_display",
                                   "name",
                                   "online",
                                   "operating_system",
                                   "ports_url",
                                   "reboot_url",
                                   "uname",
                                   "url",
                                   "serial",
                                   "wormhole_slug",
                                   "diagnostics_permitted",
                                   "tools_permitted",
                                   "wormhole_enabled",
                                   "port_forwarding_ports",
                                   "upgrade"}) {
            EXPECT_TRUE(device.contains(member)) << member;
        }
        EXPECT_FALSE(device.contains("targets"));
        EXPECT_EQ(device["ports_url"],
                  sandbox().serviceUrl() + "devices/" + device["serial"].get<std::string>() + "/ports/");
    }
    EXPECT_EQ(devices[0]["port_forwarding_ports"], Json::array({22, 80}));
    EXPECT_EQ(http->get(service("devices/"), tokenHeader(kRestrictedToken)).json().size(), 2U);
}

TEST_F(SandboxTest, OneConnectionCarriesEveryRequestAndLargeBodies)
{
    auto http = client();
    const std::string large = R"({"email":")" + std::string(3 * 1024 * 1024, 'a') + R"("})";
    const Answer refused = http->send(verb::post, service("auth/"), large);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(http->get(service("devices/"), tokenHeader(kDemoToken)).status, 200);
    const Answer version =
        http->get(targetOf(sandbox().releaseUrl()) + "quillmont/corvane-vantrel-releases-osx/master/latest.txt");
    EXPECT_EQ(version.status, 200);
    EXPECT_EQ(version.body, "1.7");
    EXPECT_EQ(http->connections(), 1);

    const auto requests = sandbox().requests();
    ASSERT_GE(requests.size(), 3U);
    EXPECT_EQ(requests[1].headers.at("authorization"), std::string("Token ") + kDemoToken);
}

TEST_F(SandboxTest, RegisterGivesAWorkingTokenAndResetPasswordAnswersDetail)
{
    auto http = client();
    const Answer registered = http->post(service("register/"), {{"email", "new@corvane.test"}});
    ASSERT_EQ(registered.status, 201);
    const std::string token = registered.json()["token"].get<std::string>();
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(token)).json()["email"], "new@corvane.test");
    EXPECT_EQ(http->post(service("register/"), {{"email", "new@corvane.test"}}).status, 400);

    const Answer reset = http->post(service("reset-password/"), {{"email", kDemoEmail}});
    EXPECT_EQ(reset.status, 200);
    EXPECT_TRUE(reset.json()["detail"].is_string());
    EXPECT_EQ(http->post(service("reset-password/"), Json::object()).status, 400);
}

TEST_F(SandboxTest, WebHostAndReleaseSitePublishTheFixtureRelease)
{
    auto http = client();
    const Answer versions = http->get(targetOf(sandbox().webUrl()) + "static/files/app_versions.json");
    EXPECT_EQ(versions.json()["ios"]["Vantrel"], (Json {{"version", "1.7"}, {"build", "170"}}));

    const std::string releases = targetOf(sandbox().releaseUrl()) + "quillmont/corvane-vantrel-releases-osx/";
    const Answer package = http->get(releases + "releases/download/1.7/CorvaneVantrelSetup.pkg");
    EXPECT_EQ(package.status, 200);
    EXPECT_EQ(package.body.size(), 65536U);
    EXPECT_EQ(http->get(releases + "releases/download/0.1/CorvaneVantrelSetup.pkg").status, 404);
}

TEST_F(SandboxTest, AnalyticsCollectorAcknowledgesAndKeepsEveryBatch)
{
    auto http = client();
    const std::string events = targetOf(sandbox().analyticsUrl());
    const Json batch = {{"clickstream", {{{"page", "Login1Page"}}, {{"page", "Login2Page"}}}},
                        {"InstallationEvent", {{{"guid", "SERIAL"}}}}};
    const Answer answer = http->post(events, batch, {{"Authorization", "WRITEKEY"}});
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.json(),
              (Json {{"clickstream", {{{"success", true}}, {{"success", true}}}},
                     {"InstallationEvent", {{{"success", true}}}}}));
    EXPECT_EQ(http->post(events, batch).status, 401);
    EXPECT_EQ(http->post(events, Json::array({1}), {{"Authorization", "WRITEKEY"}}).status, 400);

    const auto batches = sandbox().analyticsBatches();
    ASSERT_EQ(batches.size(), 1U);
    EXPECT_EQ(batches[0]["key"], "WRITEKEY");
    EXPECT_EQ(batches[0]["events"], batch);
    EXPECT_EQ(sandbox().analyticsUrl().find(batches[0]["project"].get<std::string>() + "/events") != std::string::npos,
              true);
    EXPECT_EQ(http->get(targetOf(sandbox().controlUrl()) + "analytics").json()["batches"].size(), 1U);
}

TEST_F(SandboxTest, JsonRpcAnswersResultsErrorsAndCachedAnswers)
{
    auto http = client();
    const std::string rpc = targetOf(sandbox().rpcUrl());
    const auto call = [&](const std::string& method, const Json& params, const std::string& query,
                          const Json& cacheToken = Json()) {
        Json body = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
        if (!cacheToken.is_null()) {
            body["cache_token"] = cacheToken;
        }
        return http->post(rpc + query, body).json();
    };
    const Json login = call("auth.login", {{"email", kDemoEmail}, {"password", kDemoPassword}}, "");
    EXPECT_EQ(login["result"]["token"], kDemoToken);
    EXPECT_EQ(call("auth.login", {{"email", kDemoEmail}, {"password", "x"}}, "")["error"]["code"], 2);

    const Json echo = {{"device_pk", 101}, {"client_identity", "client-1"}};
    EXPECT_EQ(call("m2m.open_echo_service", echo, "?auth=bad")["error"]["code"], 9);
    EXPECT_EQ(call("m2m.open_echo_service", echo, "")["error"]["code"], 9);
    const Json opened = call("m2m.open_echo_service", echo, std::string("?auth=") + kDemoToken);
    ASSERT_TRUE(opened.contains("result")) << opened;
    EXPECT_EQ(opened["id"], 1);
    const Json cached = call("m2m.open_echo_service", echo, std::string("?auth=") + kDemoToken, opened["cache_token"]);
    EXPECT_EQ(cached["cached"], true);
    EXPECT_FALSE(cached.contains("result"));

    sandbox().addFault(Fault::rpc("devices.open_terminal", 1, "Session keep-alive required"));
    const Json terminal = {{"device_pk", 101}, {"name", "t"}, {"terminal_identity", "id-7"}};
    EXPECT_EQ(call("devices.open_terminal", terminal, std::string("?auth=") + kDemoToken)["error"]["code"], 1);
    EXPECT_TRUE(call("devices.open_terminal", terminal, std::string("?auth=") + kDemoToken).contains("result"));
    EXPECT_EQ(call("no.such.method", Json::object(), "")["error"]["code"], -32601);
    EXPECT_EQ(http->send(verb::post, rpc, "{not json").json()["error"]["code"], -32700);
}

TEST_F(SandboxTest, HttpFaultsAnswerCloseAndDelayThenStop)
{
    auto http = client();
    sandbox().addFault(Fault::answer("profile/", 503, Json {{"detail", "Down for maintenance."}}));
    const Answer faulted = http->get(service("profile/"), tokenHeader(kDemoToken));
    EXPECT_EQ(faulted.status, 503);
    EXPECT_EQ(faulted.json(), (Json {{"detail", "Down for maintenance."}}));
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(kDemoToken)).status, 200);

    sandbox().addFault(Fault::closing("devices/"));
    const Answer closed = http->get(service("devices/"), tokenHeader(kDemoToken));
    EXPECT_EQ(closed.status, 0);
    EXPECT_TRUE(closed.error);
    EXPECT_EQ(http->get(service("devices/"), tokenHeader(kDemoToken)).status, 200);

    sandbox().addFault(Fault::delayed("devices/", std::chrono::milliseconds(300), 1));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(http->get(service("devices/"), tokenHeader(kDemoToken)).status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
}

TEST_F(SandboxTest, StatusFaultsThatAllowNoBodyAnswerWithoutOneAndKeepTheConnection)
{
    auto http = client();
    const std::string rpc = targetOf(sandbox().rpcUrl());
    for (const int status : {304, 204}) {
        SCOPED_TRACE(status);
        sandbox().addFault(Fault::answer("jsonrpc/v2/", status, Json {{"detail", "a body that cannot be sent"}}));
        const Answer faulted = http->send(verb::post, rpc, "{}");
        EXPECT_EQ(faulted.status, status);
        EXPECT_TRUE(faulted.body.empty());
        EXPECT_EQ(http->get(service("profile/"), tokenHeader(kDemoToken)).status, 200);
    }
}

TEST_F(SandboxTest, ControlEndpointManagesFaultsAndPortGrants)
{
    auto http = client();
    const std::string control = targetOf(sandbox().controlUrl());
    const Answer added = http->post(control + "faults", {{"kind", "status"}, {"path", "devices/"}, {"status", 500}});
    EXPECT_EQ(added.status, 201);
    EXPECT_EQ(http->get(control + "faults").json()["faults"].size(), 1U);
    EXPECT_EQ(http->send(verb::delete_, control + "faults").status, 200);
    EXPECT_EQ(http->get(service("devices/"), tokenHeader(kDemoToken)).status, 200);

    const Answer bad = http->post(control + "faults", {{"kind", "explode"}});
    EXPECT_EQ(bad.status, 400);
    EXPECT_NE(bad.json()["detail"].get<std::string>().find("explode"), std::string::npos);

    const Answer ports = http->send(verb::put, control + "accounts/demo@corvane.test/ports", R"({"ports":[22]})");
    EXPECT_EQ(ports.status, 200);
    EXPECT_EQ(http->get(service("profile/"), tokenHeader(kDemoToken)).json()["port_forwarding_ports"],
              Json::array({22}));
}

} // namespace
} // namespace vantrel::sandbox::testing
