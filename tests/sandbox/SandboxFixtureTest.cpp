#include "sandbox/FaultList.h"
#include "sandbox/Fixture.h"
#include "sandbox/Sandbox.h"
#include "sandbox/SandboxError.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

namespace vantrel::sandbox {
namespace {

TEST(SandboxFixture, DefaultFixtureHasTheDocumentedAccountsAndDevices)
{
    const auto fixture = Fixture::fromJson(Fixture::defaultJson());
    ASSERT_TRUE(fixture) << fixture.error().text();
    ASSERT_EQ(fixture.value().accounts.size(), 3U);
    const FixtureAccount& demo = fixture.value().accounts[0];
    EXPECT_EQ(demo.email, "demo@corvane.test");
    EXPECT_EQ(demo.profile["port_forwarding_ports"], Json::array({-1}));
    EXPECT_EQ(demo.profile["device_limit"], 2);
    EXPECT_TRUE(fixture.value().accounts[1].secondFactor);
    EXPECT_EQ(fixture.value().accounts[2].profile["port_forwarding_ports"], Json::array({22}));
    const FixtureDevice* gateway = fixture.value().findDevice("CRV-SANDBOX-0001");
    ASSERT_NE(gateway, nullptr);
    EXPECT_EQ(gateway->ports, (std::vector<std::int64_t> {22, 80}));
    EXPECT_EQ(gateway->targets.at(22).kind, DeviceTarget::Kind::echo);
    EXPECT_EQ(gateway->targets.at(80).kind, DeviceTarget::Kind::banner);
}

TEST(SandboxFixture, BrokenFixturesAreRefusedWithTheFaultyMember)
{
    const auto withDevice = [](Json device) {
        return Json {{"accounts", Json::array()}, {"devices", Json::array({std::move(device)})}};
    };
    const struct {
        const char* name;
        Json fixture;
        const char* mentioned;
    } cases[] = {
        {"not an object", Json::array(), "root"},
        {"device without serial", withDevice({{"name", "x"}}), "devices[0]"},
        {"remote target host", withDevice({{"serial", "S"}, {"targets", {{"22", "example.com:22"}}}}), "target \"22\""},
        {"unknown built-in", withDevice({{"serial", "S"}, {"targets", {{"22", "builtin:chargen"}}}}), "target \"22\""},
        {"port out of range", withDevice({{"serial", "S"}, {"targets", {{"70000", "builtin:echo"}}}}), "70000"},
        {"account with unknown device",
         Json {{"devices", Json::array()},
               {"accounts", {{{"email", "a@b"}, {"password", "p"}, {"token", "t"}, {"devices", {"S"}}}}}},
         "unknown device"},
        {"account without token",
         Json {{"devices", Json::array()}, {"accounts", {{{"email", "a@b"}, {"password", "p"}}}}}, "accounts[0]"},
        {"port grants not a list",
         Json {{"devices", Json::array()},
               {"accounts",
                {{{"email", "a@b"},
                  {"password", "p"},
                  {"token", "t"},
                  {"profile", {{"port_forwarding_ports", "all"}}}}}}},
         "port_forwarding_ports"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const auto fixture = Fixture::fromJson(test.fixture);
        ASSERT_FALSE(fixture);
        EXPECT_EQ(fixture.error().domain, kSandboxErrorDomain);
        EXPECT_EQ(fixture.error().code, static_cast<int>(SandboxErrorCode::badFixture));
        EXPECT_NE(fixture.error().description.find(test.mentioned), std::string::npos) << fixture.error().description;
    }
}

TEST(SandboxFixture, StartRefusesABrokenFixtureAndWritesNothing)
{
    testing::TempDirectory directory;
    auto started = Sandbox::start({directory.path(), Json {{"accounts", 1}}, std::chrono::seconds(20), 1});
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().code, static_cast<int>(SandboxErrorCode::badFixture));
    EXPECT_FALSE(std::filesystem::exists(directory / "env"));
}

TEST(SandboxFaults, JsonFormReadsBackAndRefusesUnknownMembers)
{
    const Json good[] = {
        {{"kind", "status"}, {"path", "profile/"}, {"status", 503}, {"body", {{"detail", "x"}}}, {"count", 2}},
        {{"kind", "delay"}, {"path", "devices/"}, {"ms", 250}, {"count", nullptr}},
        {{"kind", "close"}, {"path", "auth/"}, {"count", 1}},
        {{"kind", "relay_malformed"}, {"packet", "integer_type"}, {"bytes", 100}, {"count", 1}},
        {{"kind", "rpc_error"}, {"method", "m2m.open_echo_service"}, {"code", 1}, {"message", "m"}, {"count", 1}},
    };
    for (const Json& json : good) {
        SCOPED_TRACE(json.dump());
        const auto fault = Fault::fromJson(json);
        ASSERT_TRUE(fault) << fault.error().text();
        const Json written = fault.value().toJson();
        for (const auto& [key, value] : json.items()) {
            EXPECT_EQ(written[key], value) << key;
        }
    }
    const Json bad[] = {
        Json::array(),
        {{"kind", "explode"}},
        {{"kind", "status"}, {"status", 99}},
        {{"kind", "delay"}, {"ms", -1}},
        {{"kind", "close"}, {"count", 0}},
        {{"kind", "relay_malformed"}, {"packet", "x"}},
    };
    for (const Json& json : bad) {
        SCOPED_TRACE(json.dump());
        const auto fault = Fault::fromJson(json);
        ASSERT_FALSE(fault);
        EXPECT_EQ(fault.error().code, static_cast<int>(SandboxErrorCode::badFault));
    }
}

TEST(SandboxFaults, CountsAreUsedUpAndPathsMatchTheirEnd)
{
    FaultList faults;
    faults.add(Fault::answer("profile/", 500, Json(), 2));
    faults.add(Fault::delayed("", std::chrono::milliseconds(10)));
    faults.add(Fault::closing("devices/", 1));

    for (int i = 0; i < 2; ++i) {
        const auto plan = faults.takeHttp("/apps/profile/");
        ASSERT_TRUE(plan.answer);
        EXPECT_EQ(plan.answer->status, 500);
        EXPECT_EQ(plan.delay, std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(faults.takeHttp("/apps/profile/").answer);
    const auto closing = faults.takeHttp("/apps/devices/");
    EXPECT_TRUE(closing.close);
    EXPECT_FALSE(faults.takeHttp("/apps/devices/").close);
    EXPECT_EQ(faults.toJson().size(), 1U); // the unlimited delay stays
    faults.clear();
    EXPECT_EQ(faults.takeHttp("/apps/devices/").delay, std::chrono::milliseconds(0));
}

} // namespace
} // namespace vantrel::sandbox
