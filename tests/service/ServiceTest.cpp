// The service client against the sandbox service: the account and device endpoints, the error texts the
// screens show, and the HTTP client's behaviour on bad answers.

#include "core/NetworkError.h"
#include "core/RESTShellDevice.h"
#include "core/LocalizedText.h"
#include "core/NotificationCenter.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"
#include "core/TlsClient.h"

#include "tests/support/MainQueueFixture.h"
#include "tests/support/SandboxEnvironment.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using sandbox::Fault;
using testing::SandboxEnvironment;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SandboxEnvironment());

constexpr const char* kDemoEmail = "demo@corvane.test";
constexpr const char* kDemoPassword = "demo-password";
constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";

/** Completions land here; the test runs the main queue until one has. */
template <class T>
struct Outcome {
    std::optional<GenericRESTResponse<T>> response;
    auto receiver()
    {
        return [this](GenericRESTResponse<T> answer) { response = std::move(answer); };
    }
};

class ServiceTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    ServiceTest()
    {
        SandboxEnvironment::sandbox().clearFaults();
        preferences().clearUserData();
    }

    static ShellRESTAPI& api() { return ShellRESTAPI::sharedAPI(); }
    static ShellUserDefaults& preferences() { return ShellUserDefaults::sharedInstance(); }

    template <class T>
    GenericRESTResponse<T> wait(Outcome<T>& outcome)
    {
        EXPECT_TRUE(runUntil([&] { return outcome.response.has_value(); }, 40s));
        return outcome.response.value_or(GenericRESTResponse<T>{});
    }

    std::optional<sandbox::RecordedRequest> lastRequestTo(const std::string& pathEnd)
    {
        auto requests = SandboxEnvironment::sandbox().requests();
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            const std::string path = it->target.substr(0, it->target.find('?'));
            if (path.size() >= pathEnd.size() && path.compare(path.size() - pathEnd.size(), pathEnd.size(), pathEnd) == 0) {
                return *it;
            }
        }
        return std::nullopt;
    }
};

TEST_F(ServiceTest, SignInStoresTheTokenWithoutSendingOneBefore)
{
    preferences().setAuthToken("old-token", false);
    Outcome<RESTLoginResponse> outcome;
    api().connect(kDemoEmail, kDemoPassword, outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_FALSE(response.error) << response.error->text();
    EXPECT_EQ(response.result->msgToken, kDemoToken);
    EXPECT_FALSE(response.result->msgAuthyToken);
    EXPECT_EQ(preferences().getAuthToken(), kDemoToken);

    const auto request = lastRequestTo("auth/");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->headers.count("authorization"), 0u) << "sign-in goes without the old token";
    EXPECT_EQ(Json::parse(request->body), (Json{{"email", kDemoEmail}, {"password", kDemoPassword}}));
}

TEST_F(ServiceTest, SignInFailuresCountTheMembersOfTheErrorBody)
{
    struct Case {
        const char* email;
        std::optional<std::string> password;
        std::int32_t members;
    };
    const Case cases[] = {
        {kDemoEmail, "wrong", 2},                  // a wrong password
        {"nobody@corvane.test", "whatever", 2},    // an unknown account
        {kDemoEmail, std::nullopt, 1},             // the e-mail step: a known address
        {"nobody@corvane.test", std::nullopt, 2},  // the e-mail step: an unknown address
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.email);
        Outcome<RESTLoginResponse> outcome;
        api().connect(c.email, c.password, outcome.receiver());
        const auto response = wait(outcome);
        ASSERT_TRUE(response.error);
        EXPECT_EQ(response.error->description, "Invalid email or password");
        EXPECT_EQ(response.error->code, 400);
        EXPECT_EQ(response.errorCount, c.members);
    }
}

TEST_F(ServiceTest, SecondFactorReplacesThePreliminaryToken)
{
    Outcome<RESTLoginResponse> signIn;
    api().connect("twofactor@corvane.test", "twofactor-password", signIn.receiver());
    const auto first = wait(signIn);
    ASSERT_FALSE(first.error);
    EXPECT_TRUE(first.result->msgAuthyToken);

    Outcome<RESTVerifyTokenResponse> wrongCode;
    api().verifyTokenWithEmail("twofactor@corvane.test", "000000", wrongCode.receiver());
    EXPECT_TRUE(wait(wrongCode).error);

    Outcome<RESTVerifyTokenResponse> verify;
    api().verifyTokenWithEmail("twofactor@corvane.test", "246810", verify.receiver());
    const auto verified = wait(verify);
    ASSERT_FALSE(verified.error);
    EXPECT_EQ(verified.result->msgToken, "twofactor-token-52d0e6a7c913");
    EXPECT_EQ(preferences().getAuthToken(), "twofactor-token-52d0e6a7c913");
}

TEST_F(ServiceTest, ProfileIsReadWithTheStoredTokenAndKeptInThePreferences)
{
    preferences().setAuthToken(kDemoToken, false);
    Outcome<RESTShellUser> outcome;
    api().getProfileWithToken(std::nullopt, outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_FALSE(response.error);
    EXPECT_EQ(response.result->msgEmail, kDemoEmail);
    EXPECT_EQ(response.result->msgForwardingPorts, Json::array({-1}));
    EXPECT_EQ(preferences().getRESTShellUser(), response.result);
    EXPECT_EQ(lastRequestTo("profile/")->headers.at("authorization"), std::string("Token ") + kDemoToken);
}

TEST_F(ServiceTest, AnUnknownTokenPostsSessionExpiredAndReadsTheErrorBody)
{
    std::vector<Notification> expired;
    auto registration = NotificationCenter::defaultCenter().addObserver(
        nSessionExpired, [&expired](const Notification& notification) { expired.push_back(notification); });
    Outcome<RESTShellUser> outcome;
    api().getProfileWithToken("not-a-token", outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_TRUE(response.error);
    EXPECT_EQ(response.httpStatus, 401u);
    EXPECT_EQ(response.errorCount, 1);
    EXPECT_EQ(response.error->description, "Invalid token.");
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(std::get<const void*>(expired[0].object), static_cast<const void*>(&api()));
    EXPECT_FALSE(preferences().getRESTShellUser()) << "a failed profile call stores nothing";
}

TEST_F(ServiceTest, DevicesCarryEveryMemberOfTheRecord)
{
    preferences().setAuthToken(kDemoToken, false);
    Outcome<Json> outcome;
    api().getDevices(outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_FALSE(response.error);
    ASSERT_TRUE(response.result->is_array());
    ASSERT_FALSE(response.result->empty());
    const RESTShellDevice device = RESTShellDevice::createFromDict(response.result->front());
    EXPECT_TRUE(isPresent(device.msgSerial));
    EXPECT_TRUE(textOf(device.msgPortsUrl)->rfind(SandboxEnvironment::sandbox().serviceUrl(), 0) == 0);
}

TEST_F(ServiceTest, PortsCallSendsIdentityServiceAndPortAsText)
{
    preferences().setAuthToken(kDemoToken, false);
    const std::string portsUrl = SandboxEnvironment::sandbox().serviceUrl() + "devices/CRV-SANDBOX-0001/ports/";
    for (const JsonField& port : {JsonField("22"), JsonField()}) {
        Outcome<Json> outcome;
        api().callPorts(portsUrl, "id-7", port, "redirect-port", outcome.receiver());
        wait(outcome); // refused: no relay connection has this identity; the body is what counts here
        Json expected = {{"m2m_identity", "id-7"}, {"service", "redirect-port"}};
        if (isPresent(port)) {
            expected["port"] = "22";
        }
        EXPECT_EQ(Json::parse(lastRequestTo("ports/")->body), expected);
    }
}

TEST_F(ServiceTest, ErrorBodiesAndBrokenAnswersBecomeClearErrors)
{
    preferences().setAuthToken(kDemoToken, false);
    struct Case {
        const char* name;
        Fault fault;
        std::optional<std::string> description; // nothing: any error will do, only not a crash or a result
    };
    const Case cases[] = {
        {"two texts joined", Fault::answer("devices/", 403, {{"a", {"First."}}, {"b", "Second."}}), "First.Second."},
        {"non-text members count but add nothing", Fault::answer("devices/", 400, {{"a", 5}, {"b", {{"x", 1}}}}), ""},
        {"an error without a body", Fault::answer("devices/", 502, Json::array()), std::nullopt},
        {"closed without an answer", Fault::closing("devices/", 2), std::nullopt},
        {"a body too large", Fault::answer("devices/", 200, std::string(17 * 1024 * 1024, 'x')), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxEnvironment::sandbox().clearFaults();
        SandboxEnvironment::sandbox().addFault(c.fault);
        Outcome<Json> outcome;
        api().getDevices(outcome.receiver());
        const auto response = wait(outcome);
        ASSERT_TRUE(response.error);
        EXPECT_FALSE(response.result);
        if (c.description) {
            EXPECT_EQ(response.error->description, *c.description);
        }
    }
}

TEST_F(ServiceTest, AProfileAnswerOfTheWrongShapeIsAnErrorAndStoresNothing)
{
    preferences().setAuthToken(kDemoToken, false);
    SandboxEnvironment::sandbox().addFault(Fault::answer("profile/", 200, Json::array({"not", "a", "profile"})));
    Outcome<RESTShellUser> outcome;
    api().getProfileWithToken(std::nullopt, outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_TRUE(response.error);
    EXPECT_EQ(response.error->code, NetworkError::kCannotDecodeContent);
    EXPECT_FALSE(preferences().getRESTShellUser());
}

TEST_F(ServiceTest, AFailureWhileTheNetworkIsUnreachableIsTheNoConnectionError)
{
    class Offline final : public AbstractAPI {
    public:
        using AbstractAPI::AbstractAPI;
        std::string getCallURL() const override { return SandboxEnvironment::sandbox().serviceUrl(); }
        bool connected(const std::string&) const override { return false; }
    };
    Offline offline(http::Client::shared());
    SandboxEnvironment::sandbox().addFault(Fault::answer("profile/", 500));
    Outcome<Json> outcome;
    offline.prepareRESTOperationWithMessage(nullptr, std::nullopt, "profile/", kMethodGet, std::nullopt, std::nullopt,
                                            outcome.receiver());
    const auto response = wait(outcome);
    ASSERT_TRUE(response.error);
    EXPECT_EQ(response.error->code, 0);
    EXPECT_EQ(response.error->description, localizedText("crv_core_no_connection"));
}

TEST_F(ServiceTest, ProgressIsShownWhileARequestRunsAndHiddenWhenItIsReleased)
{
    std::vector<std::string> notices;
    auto show = NotificationCenter::defaultCenter().addObserver(nShowProgress, [&](const auto& n) { notices.push_back(n.name); });
    auto hide = NotificationCenter::defaultCenter().addObserver(nHideProgress, [&](const auto& n) { notices.push_back(n.name); });
    Outcome<Json> outcome;
    api().getDevices(outcome.receiver());
    EXPECT_EQ(notices, std::vector<std::string>{nShowProgress});
    wait(outcome);
    EXPECT_TRUE(runUntil([&] { return notices.size() == 2; }));
    EXPECT_EQ(notices.back(), nHideProgress);
}

// ---- The HTTP client itself ----

class HttpClientTest : public ServiceTest {
protected:
    Result<http::Response> exchange(http::Client& client, http::Request request)
    {
        std::optional<Result<http::Response>> outcome;
        client.send(std::move(request), [&](Result<http::Response> answer) {
            queue().post([&outcome, answer = std::move(answer)] { outcome = answer; });
        });
        EXPECT_TRUE(runUntil([&] { return outcome.has_value(); }, 40s));
        return outcome.value_or(Result<http::Response>(networkError(0, "no answer")));
    }

    http::Request profileRequest(std::chrono::milliseconds timeout = http::kDefaultTimeout)
    {
        http::Request request;
        request.url = SandboxEnvironment::sandbox().serviceUrl() + "profile/";
        request.headers = {{"Authorization", std::string("Token ") + kDemoToken}};
        request.timeout = timeout;
        return request;
    }
};

TEST_F(HttpClientTest, SequentialRequestsShareOneKeptAliveConnection)
{
    http::Client client(tls::sharedClientContext());
    for (int i = 0; i < 5; ++i) {
        const auto answer = exchange(client, profileRequest());
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer.value().status, 200u);
    }
    EXPECT_EQ(client.connectionsOpened(), 1u);
}

TEST_F(HttpClientTest, AKeptConnectionThatTheServerDroppedIsReplaced)
{
    http::Client client(tls::sharedClientContext());
    ASSERT_TRUE(exchange(client, profileRequest()));
    SandboxEnvironment::sandbox().addFault(Fault::closing("profile/", 1));
    const auto answer = exchange(client, profileRequest());
    ASSERT_TRUE(answer) << answer.error().text();
    EXPECT_EQ(answer.value().status, 200u);
    EXPECT_EQ(client.connectionsOpened(), 2u);
}

TEST_F(HttpClientTest, AServerThatNeverAnswersTimesOut)
{
    http::Client client(tls::sharedClientContext());
    SandboxEnvironment::sandbox().addFault(Fault::delayed("profile/", 5s, 1));
    const auto answer = exchange(client, profileRequest(300ms));
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().code, NetworkError::kTimedOut);
}

TEST_F(HttpClientTest, AServerWithAnUntrustedCertificateIsRefused)
{
    http::Client untrusting(tls::makeClientContext(std::nullopt)); // the system's store only
    const auto answer = exchange(untrusting, profileRequest());
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().code, NetworkError::kServerCertificateUntrusted);
    EXPECT_NE(answer.error().description.find("not trusted"), std::string::npos);
}

} // namespace
} // namespace vantrel
