// The JSON-RPC path against the sandbox's endpoint: what a call sends, how the answer's error, the cached-answer
// protocol and the two special error codes reach the caller, and what happens to the stored token.

#include "core/LocalizedText.h"
#include "core/M2MAPI.h"
#include "core/NetworkError.h"
#include "core/ShellUserDefaults.h"

#include "tests/support/MainQueueFixture.h"
#include "tests/support/SandboxEnvironment.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using sandbox::Fault;
using testing::SandboxEnvironment;

constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";

/** Collects the completions of one call. */
struct RPCOutcome {
    std::vector<GenericResponse> responses;
    AbstractAPI::RPCCompletion receiver()
    {
        return [this](GenericResponse response) {
            responses.push_back(std::move(response));
        };
    }
};

class RPCTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    RPCTest()
    {
        SandboxEnvironment::sandbox().clearFaults();
        preferences().clearUserData();
        preferences().setAuthToken(kDemoToken, false);
    }

    static M2MAPI& api() { return M2MAPI::sharedAPI(); }
    static ShellUserDefaults& preferences() { return ShellUserDefaults::sharedInstance(); }

    /** The single completion of a call; fails the test when there is none or more than one. */
    GenericResponse wait(RPCOutcome& outcome)
    {
        EXPECT_TRUE(runUntil([&] { return !outcome.responses.empty(); }, 40s));
        EXPECT_EQ(outcome.responses.size(), 1u) << "a call completes exactly once";
        return outcome.responses.empty() ? GenericResponse() : outcome.responses.front();
    }

    GenericResponse call(GenericMessage message)
    {
        RPCOutcome outcome;
        api().prepareRPCOperationWithMessage(std::move(message), outcome.receiver());
        return wait(outcome);
    }

    static sandbox::RecordedRequest lastRPCRequest()
    {
        const auto requests = SandboxEnvironment::sandbox().requests();
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            if (it->target.find("/jsonrpc/v2/") == 0) {
                return *it;
            }
        }
        ADD_FAILURE() << "no JSON-RPC request was made";
        return {};
    }
};

TEST_F(RPCTest, ACallSendsTheEnvelopeAndOnlyThePresentParametersWithTheTokenInTheQuery)
{
    struct Case {
        const char* name;
        std::function<void(RPCOutcome&)> run;
        Json params; // null: no "params" member at all
    };
    const Case cases[] = {
        {"no parameters",
         [](RPCOutcome& o) {
             api().prepareRPCOperationWithMessage(GenericMessage::initWithMethod("m2m.x"), o.receiver());
         },
         Json()},
        {"empty texts are left out",
         [](RPCOutcome& o) { api().openTerminalForCompany("acme", 101, "", "", o.receiver()); },
         {{"device_pk", 101}}},
        {"every parameter",
         [](RPCOutcome& o) { api().openTerminalForCompany("acme", 101, "shell", "term-1", o.receiver()); },
         {{"device_pk", 101}, {"name", "shell"}, {"terminal_identity", "term-1"}}},
        {"an absent device key is left out",
         [](RPCOutcome& o) { api().openEchoServiceForClientIdentity("client-1", JsonField(), o.receiver()); },
         {{"client_identity", "client-1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RPCOutcome outcome;
        c.run(outcome);
        wait(outcome);
        const auto request = lastRPCRequest();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, std::string("/jsonrpc/v2/?auth=") + kDemoToken);
        EXPECT_EQ(request.headers.at("user-agent"), "iOS Corvane client");
        EXPECT_EQ(request.headers.count("authorization"), 0u);
        const Json body = Json::parse(request.body);
        EXPECT_EQ(body.at("jsonrpc"), "2.0");
        EXPECT_EQ(body.at("id"), 1);
        EXPECT_FALSE(body.contains("cached")) << "the cached flag is an answer's member";
        EXPECT_FALSE(body.contains("cache_token"));
        EXPECT_EQ(body.value("params", Json()), c.params);
    }
}

TEST_F(RPCTest, WithoutATokenTheQueryIsLeftOutAndTheInvalidTokenErrorIsReported)
{
    preferences().setAuthToken(JsonField(), false);
    RPCOutcome outcome;
    api().getDeviceIdentities(Json::array({101}), outcome.receiver());
    const auto response = wait(outcome);
    EXPECT_EQ(lastRPCRequest().target, "/jsonrpc/v2/");
    ASSERT_TRUE(response.error);
    EXPECT_EQ(response.error->code, kRPCInvalidTokenCode);
    EXPECT_EQ(response.error->description, "Invalid token");
}

TEST_F(RPCTest, ResultsOfTheThreeCallsArriveWithTheirEnvelope)
{
    RPCOutcome identities;
    api().getDeviceIdentities(Json::array({101, "CRV-SANDBOX-0002"}), identities.receiver());
    const auto listed = wait(identities);
    ASSERT_FALSE(listed.error) << listed.error->text();
    EXPECT_EQ(listed.result.at("identities").size(), 2u);
    EXPECT_EQ(listed.result["identities"][0].at("serial"), "CRV-SANDBOX-0001");
    EXPECT_TRUE(textOf(listed.cacheToken));
    EXPECT_EQ(listed.rpcVersion, "2.0");
    EXPECT_FALSE(listed.notModified);

    RPCOutcome echo;
    api().openEchoServiceForClientIdentity("client-1", 101, echo.receiver());
    EXPECT_EQ(wait(echo).result.at("client_identity"), "client-1");

    RPCOutcome unknown;
    api().openTerminalForCompany("acme", 999, "shell", "term-1", unknown.receiver());
    const auto refused = wait(unknown);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, 3);
    EXPECT_EQ(refused.error->description, "Device not found");
    EXPECT_FALSE(isPresent(refused.result));
}

TEST_F(RPCTest, TheInvalidTokenErrorClearsTheStoredTokenExceptWhenConnectingADevice)
{
    struct Case {
        const char* method;
        bool tokenKept;
    };
    const Case cases[] = {{"m2m.get_device_identities", false}, {"auth.connect_device", true}, {"auth.login", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        preferences().setAuthToken(kDemoToken, false);
        SandboxEnvironment::sandbox().addFault(Fault::rpc(c.method, kRPCInvalidTokenCode, "Invalid token"));
        const auto response = call(GenericMessage::initWithMethod(c.method));
        ASSERT_TRUE(response.error);
        EXPECT_EQ(response.error->code, kRPCInvalidTokenCode) << "the error is reported either way";
        EXPECT_EQ(preferences().getAuthToken(), c.tokenKept ? std::optional<std::string>(kDemoToken) : std::nullopt);
    }
}

TEST_F(RPCTest, TheKeepAliveErrorGoesToThePolicyExceptForSignIn)
{
    // A client whose policy takes every call over and keeps the completion for later.
    class KeepingAlive final : public AbstractAPI {
    public:
        using AbstractAPI::AbstractAPI;
        std::string getCallURL() const override { return SandboxEnvironment::sandbox().rpcUrl(); }
        bool performSessionKeepAlivePolicyActionWithMessage(const GenericMessage& message,
                                                            const RPCCompletion& completion) override
        {
            handedOver.push_back(message.method);
            kept = completion;
            return true;
        }
        std::vector<std::string> handedOver;
        RPCCompletion kept;
    };
    KeepingAlive keepingAlive(http::Client::shared());

    SandboxEnvironment::sandbox().addFault(Fault::rpc("", kRPCSessionKeepAliveCode, "Session keep-alive required"));
    RPCOutcome handed;
    keepingAlive.prepareRPCOperationWithMessage(GenericMessage::initWithMethod("m2m.get_device_identities"),
                                                handed.receiver());
    ASSERT_TRUE(runUntil([&] { return !keepingAlive.handedOver.empty(); }, 40s));
    EXPECT_EQ(keepingAlive.handedOver, std::vector<std::string> {"m2m.get_device_identities"});
    EXPECT_TRUE(handed.responses.empty()) << "the policy completes the call, not the request layer";
    keepingAlive.kept(GenericResponse());
    EXPECT_EQ(handed.responses.size(), 1u);

    // Sign-in's keep-alive error, and any call whose policy declines (the shared client's), reach the caller.
    for (AbstractAPI* client : {static_cast<AbstractAPI*>(&keepingAlive), static_cast<AbstractAPI*>(&api())}) {
        const std::string method = client == &api() ? "m2m.open_echo_service" : AbstractAPI::getLoginMethodName();
        SCOPED_TRACE(method);
        SandboxEnvironment::sandbox().addFault(
            Fault::rpc(method, kRPCSessionKeepAliveCode, "Session keep-alive required"));
        RPCOutcome outcome;
        client->prepareRPCOperationWithMessage(GenericMessage::initWithMethod(method), outcome.receiver());
        const auto response = wait(outcome);
        ASSERT_TRUE(response.error);
        EXPECT_EQ(response.error->code, kRPCSessionKeepAliveCode);
        EXPECT_EQ(response.error->description, "Session keep-alive required");
    }
    EXPECT_EQ(keepingAlive.handedOver.size(), 1u);
}

TEST_F(RPCTest, ACachedAnswerIsNotModifiedWithoutResultAndAnHttp304WithoutError)
{
    const auto first =
        call(GenericMessage::initWithMethod("m2m.get_device_identities").addParam(Json::array({101}), "devices"));
    ASSERT_FALSE(first.error);
    ASSERT_TRUE(textOf(first.cacheToken));

    GenericMessage again =
        GenericMessage::initWithMethod("m2m.get_device_identities").addParam(Json::array({101}), "devices");
    again.cacheToken = first.cacheToken;
    const auto cached = call(again);
    EXPECT_EQ(Json::parse(lastRPCRequest().body).at("cache_token"), first.cacheToken);
    EXPECT_TRUE(cached.notModified);
    EXPECT_TRUE(cached.cached);
    EXPECT_FALSE(isPresent(cached.result));
    ASSERT_TRUE(cached.error);
    EXPECT_EQ(cached.error->code, kRPCNotModifiedCode);
    EXPECT_EQ(cached.error->description, localizedText("crv_core_not_modified"));

    SandboxEnvironment::sandbox().addFault(Fault::answer("jsonrpc/v2/", 304, ""));
    const auto notModified = call(GenericMessage::initWithMethod("m2m.get_device_identities"));
    EXPECT_TRUE(notModified.notModified);
    EXPECT_FALSE(notModified.error);
}

TEST_F(RPCTest, FailedAndMalformedAnswersBecomeClearErrors)
{
    struct Case {
        const char* name;
        Fault fault;
        std::int64_t code;
    };
    const Case cases[] = {
        {"a server error", Fault::answer("jsonrpc/v2/", 500), NetworkError::kBadServerResponse},
        {"closed without an answer", Fault::closing("jsonrpc/v2/", 2), NetworkError::kConnectionLost},
        {"a list instead of an answer", Fault::answer("jsonrpc/v2/", 200, Json::array({1})),
         NetworkError::kCannotDecodeContent},
        {"an error member without a message", Fault::answer("jsonrpc/v2/", 200, {{"error", {{"code", 7}}}}), 7},
        {"an error member that is a bare text", Fault::answer("jsonrpc/v2/", 200, {{"error", "broken"}}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxEnvironment::sandbox().clearFaults();
        SandboxEnvironment::sandbox().addFault(c.fault);
        const auto response = call(GenericMessage::initWithMethod("m2m.get_device_identities"));
        ASSERT_TRUE(response.error);
        EXPECT_EQ(response.error->code, c.code);
        EXPECT_FALSE(response.error->description.empty());
        EXPECT_FALSE(response.notModified);
    }
}

} // namespace
} // namespace vantrel
