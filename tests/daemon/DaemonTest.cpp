// VantrelDaemon as a user runs it: the real program on a private bus, against the sandbox service, with this test
// playing the application.

#include "core/IPCCommand.h"
#include "core/SecureStorage.h"
#include "core/VantrelDaemonUtils.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/FakeAuthority.h"
#include "tests/support/LoopbackClient.h"
#include "tests/support/MainQueueFixture.h"
#include "tests/support/SandboxEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::LoopbackClient;
using testing::SandboxEnvironment;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SandboxEnvironment());

constexpr const char* kDemoEmail = "demo@corvane.test";
constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";
constexpr const char* kGateway = "CRV-SANDBOX-0001"; // 22: echo, 80: banner

/** What the application side has heard from the daemon. Observers live as long as the process: state is shared. */
struct Heard {
    int settingsChanged = 0;
    int pongs = 0;
    std::vector<IPCCommand> commands;
};

class DaemonTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    DaemonTest()
        : m_heard(std::make_shared<Heard>())
    {
        auto heard = m_heard;
        VantrelDaemonUtils::addObserverForSettingsChangedAsDaemon([heard] { ++heard->settingsChanged; }, false);
        VantrelDaemonUtils::addObserverForPingAsDaemon([heard] { ++heard->pongs; }, false);
        VantrelDaemonUtils::addObserverForCommandAsDaemon(
            [heard](const std::optional<std::string>& text, const platform::SignalSender&) {
                heard->commands.push_back(IPCCommand::fromString(text.value_or("")));
            },
            false);
        SandboxEnvironment::sandbox().clearFaults();
        SandboxEnvironment::sandbox().setForwardingPorts(kDemoEmail, Json::array({-1}));
        std::ofstream(finalizerTool()) << "#!/bin/sh\n";
    }

    ~DaemonTest() override
    {
        if (m_daemon) {
            m_daemon->terminate();
        }
    }

    std::filesystem::path finalizerTool() const { return m_folder / "Tessmark"; }

    std::vector<std::string> programEnvironment() const
    {
        return {"VANTREL_CACHE_DIR=" + (m_folder / "cache").string(),
                "VANTREL_CONFIG_DIR=" + (m_folder / "config").string(),
                "VANTREL_FINALIZER_PATH=" + finalizerTool().string()};
    }

    /** Stores a signed-in user (with a port list, or none) as the application would have. */
    void signIn(const Json& forwardingPorts = Json::array({-1}))
    {
        SettingsMessage settings;
        settings.stnAuthToken = kDemoToken;
        Json user = {{"email", kDemoEmail}, {"name", "Demo User"}};
        if (isPresent(forwardingPorts)) {
            user["port_forwarding_ports"] = forwardingPorts;
        }
        settings.stnUser = RESTShellUser::createFromDict(user);
        ASSERT_TRUE(m_storage.setConfig(settings));
    }

    /** A forward of a fresh local port to a port of the gateway; returns the local port. */
    std::uint16_t addForward(const std::string& remotePort, const std::string& id)
    {
        const std::uint16_t localPort = testing::freeLoopbackPort();
        const std::string serial = kGateway;
        const std::string deviceUrl = SandboxEnvironment::sandbox().serviceUrl() + "devices/" + serial + "/";
        Json forwards = m_storage.getData();
        forwards[id] = {{"id", id},
                        {"local_port", std::to_string(localPort)},
                        {"remote_port", remotePort},
                        {"is_unrestricted", false},
                        {"device", {{"serial", serial}, {"name", "Gateway"}, {"ports_url", deviceUrl + "ports/"}}}};
        EXPECT_TRUE(m_storage.setData(forwards));
        return localPort;
    }

    void startDaemon()
    {
        m_daemon = std::make_unique<ChildProcess>(VANTREL_DAEMON_PROGRAM, std::vector<std::string>{}, programEnvironment());
        ASSERT_TRUE(m_daemon->waitForError("Daemon reviews settings", 20s)) << m_daemon->standardError();
        ASSERT_TRUE(daemonAnswersPings());
    }

    bool daemonAnswersPings()
    {
        const int before = m_heard->pongs;
        VantrelDaemonUtils::sendPingAsDaemon(false);
        return runUntil([&] { return m_heard->pongs > before; }, 10s);
    }

    void send(std::int64_t code, std::optional<std::string> data)
    {
        IPCCommand command;
        command.code = code;
        if (data) {
            command.data = *data;
        }
        VantrelDaemonUtils::sendCommandAsDaemon(false, command);
    }

    /** Sends a command that makes the daemon review, and waits for its confirmation. */
    bool sendAndWaitForReview(std::int64_t code, const std::string& data)
    {
        const int before = m_heard->settingsChanged;
        send(code, data);
        return runUntil([&] { return m_heard->settingsChanged > before; }, 20s);
    }

    static bool listens(std::uint16_t port) { return LoopbackClient::connect(port, 100ms).has_value(); }

    static bool echoes(std::uint16_t port)
    {
        auto client = LoopbackClient::connect(port, 5s);
        return client && client->send("ping?") && client->receive(5) == "ping?";
    }

    testing::TempDirectory m_temp;
    std::filesystem::path m_folder = m_temp.path();
    SecureStorage m_storage{m_folder / "cache", m_folder / "Tessmark", std::make_unique<testing::FakeAuthority>()};
    std::shared_ptr<Heard> m_heard;
    std::unique_ptr<ChildProcess> m_daemon;
};

TEST_F(DaemonTest, AStoredForwardCarriesBytesAndEachClientGetsItsOwnChannel)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-ECHO");
    startDaemon();
    auto first = LoopbackClient::connect(port);
    auto second = LoopbackClient::connect(port);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->send("first client"));
    ASSERT_TRUE(second->send("second client"));
    EXPECT_EQ(second->receive(13), "second client");
    EXPECT_EQ(first->receive(12), "first client");
}

TEST_F(DaemonTest, PortGrantsDecideWhichForwardsRun)
{
    struct Case {
        const char* name;
        Json ports;
        bool port22;
        bool port80;
        std::vector<std::string> refusals;
    };
    const std::vector<Case> cases = {
        {"no list", Json(), true, true, {}},
        {"every port", Json::array({-1}), true, true, {}},
        {"port 22 only", Json::array({22}), true, false, {"You're not allowed to assign remote port 80.\n"}},
        {"no port", Json::array(), false, false,
         {"You're not allowed to assign any remote port.\n", "You're not allowed to assign any remote port.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_daemon.reset();
        m_storage.clearData();
        SandboxEnvironment::sandbox().setForwardingPorts(kDemoEmail, c.ports);
        signIn(c.ports);
        const std::uint16_t ssh = addForward("22", "F-22");
        const std::uint16_t web = addForward("80", "F-80");
        startDaemon();
        EXPECT_EQ(listens(ssh), c.port22);
        EXPECT_EQ(listens(web), c.port80);
        const std::string log = m_daemon->standardError();
        std::size_t found = 0;
        for (std::size_t at = 0; (at = log.find("You're not allowed", at)) != std::string::npos; ++at) {
            ++found;
        }
        EXPECT_EQ(found, c.refusals.size()) << log;
        for (const std::string& refusal : c.refusals) {
            EXPECT_NE(log.find(refusal), std::string::npos) << refusal;
        }
    }
}

TEST_F(DaemonTest, ARevokedPortClosesItsListenerWithinOneRefresh)
{
    signIn();
    const std::uint16_t ssh = addForward("22", "F-22");
    const std::uint16_t web = addForward("80", "F-80");
    startDaemon();
    ASSERT_TRUE(echoes(ssh));
    ASSERT_TRUE(listens(web));
    SandboxEnvironment::sandbox().setForwardingPorts(kDemoEmail, Json::array({22}));
    EXPECT_TRUE(runUntil([&] { return !listens(web); }, 12s));
    EXPECT_TRUE(echoes(ssh));
}

TEST_F(DaemonTest, ASettingsCommandIsStoredExactlyAndAnswered)
{
    startDaemon();
    const std::string text = R"({"auth_token": "demo-token-7f3a9c2e41b8",   "forwards_created": 3, "x": "ü"})";
    ASSERT_TRUE(sendAndWaitForReview(IPCCommand::kSetSettings, text));
    EXPECT_EQ(m_storage.getConfigString(), text);
    // The log shows the command without the token.
    EXPECT_EQ(m_daemon->standardError().find("demo-token-7f3a9c2e41b8"), std::string::npos);
    EXPECT_NE(m_daemon->standardError().find("(from uid "), std::string::npos);
}

TEST_F(DaemonTest, ProvideCommandsAnswerWithTheFilesContents)
{
    signIn();
    addForward("22", "F-22");
    startDaemon();
    send(IPCCommand::kProvideSettings, std::nullopt);
    send(IPCCommand::kProvideData, std::nullopt);
    ASSERT_TRUE(runUntil([&] { return m_heard->commands.size() >= 2; }));
    EXPECT_EQ(m_heard->commands[0].code, IPCCommand::kProvideSettings);
    EXPECT_EQ(m_heard->commands[0].data, *m_storage.getConfigString());
    EXPECT_EQ(m_heard->commands[1].code, IPCCommand::kProvideData);
    EXPECT_EQ(m_heard->commands[1].data, *m_storage.getDataString());
}

TEST_F(DaemonTest, ASettingsChangeEndsOpenForwardedConnections)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-22");
    startDaemon();
    auto client = LoopbackClient::connect(port);
    ASSERT_TRUE(client && client->send("x") && client->receive(1) == "x");
    ASSERT_TRUE(sendAndWaitForReview(IPCCommand::kSetSettings, *m_storage.getConfigString()));
    EXPECT_TRUE(client->waitForClose());
    EXPECT_TRUE(echoes(port)) << "the forward itself runs on";
}

TEST_F(DaemonTest, TheInstallationIsReportedOnceAndTheFinalizerRemoved)
{
    signIn();
    startDaemon();
    // The collector is down for the first upload; the event must still arrive.
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::answer("events", 503));
    const std::size_t batchesBefore = SandboxEnvironment::sandbox().analyticsBatches().size();
    const int reviews = m_heard->settingsChanged;
    ChildProcess finalizer(TESSMARK_PROGRAM, {"ignored", "arguments"}, programEnvironment());
    ASSERT_EQ(finalizer.waitForExit(10s), 0);
    ASSERT_TRUE(runUntil([&] { return m_heard->settingsChanged > reviews; }, 20s));

    const auto installationEvents = [&] {
        std::vector<Json> events;
        const auto batches = SandboxEnvironment::sandbox().analyticsBatches();
        for (std::size_t i = batchesBefore; i < batches.size(); ++i) {
            for (const Json& event : batches[i]["events"].value("InstallationEvent", Json::array())) {
                events.push_back(event);
            }
        }
        return events;
    };
    ASSERT_TRUE(runUntil([&] { return !installationEvents().empty(); }, 20s));
    const Json event = installationEvents().front();
    EXPECT_TRUE(event["guid"].is_string() && !event["guid"].get<std::string>().empty());
    // The daemon starts the installation tracker last, so its global properties are the ones every event gets.
    EXPECT_EQ(event["client"], "macOS");
    EXPECT_EQ(event["app_version"], "1.6 (1.16)");
    EXPECT_TRUE(event["os_version"].is_string());

    const SettingsMessage settings = m_storage.getConfig();
    EXPECT_FALSE(isPresent(settings.stnInstallationToTrack));
    EXPECT_EQ(settings.stnAuthToken, kDemoToken) << "the rest of the settings survive";
    EXPECT_FALSE(std::filesystem::exists(finalizerTool()));

    // Another review finds no marker and reports nothing more.
    ASSERT_TRUE(sendAndWaitForReview(IPCCommand::kSetSettings, *m_storage.getConfigString()));
    runFor(1500ms);
    EXPECT_EQ(installationEvents().size(), 1u);
}

TEST_F(DaemonTest, BadCommandsAreLoggedAndTheDaemonGoesOn)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-22");
    startDaemon();
    send(5, "unknown code");
    send(IPCCommand::kSetData, std::nullopt);
    VantrelDaemonUtils::sendCommandAsDaemon(false, IPCCommand::fromString("[1, 2]"));
    send(IPCCommand::kSetSettings, std::string(1024 * 1024 + 1, ' '));
    ASSERT_TRUE(daemonAnswersPings());
    EXPECT_TRUE(m_daemon->waitForError("is too large", 5s));
    EXPECT_TRUE(echoes(port)) << "nothing of this touched the running forward";
    EXPECT_EQ(m_storage.getConfig().stnAuthToken, kDemoToken);
}

TEST_F(DaemonTest, ASettingsFileDamagedBehindItsBackReadsAsSignedOutUntilItIsWrittenAgain)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-22");
    startDaemon();
    ASSERT_TRUE(echoes(port));
    const std::string settings = *m_storage.getConfigString();
    std::ofstream(*m_storage.getConfigUrl(), std::ios::trunc) << "not what was written";
    const int reviews = m_heard->settingsChanged;
    VantrelDaemonUtils::sendSettingsChangedAsDaemon(false);
    ASSERT_TRUE(m_daemon->waitForError("Daemon received review settings message.", 10s));
    EXPECT_FALSE(listens(port)) << "without a readable token no forward runs";
    EXPECT_TRUE(daemonAnswersPings());
    EXPECT_EQ(m_heard->settingsChanged, reviews);
    ASSERT_TRUE(sendAndWaitForReview(IPCCommand::kSetSettings, settings));
    EXPECT_TRUE(echoes(port));
}

TEST_F(DaemonTest, AForwardWithBadPortsIsSkippedAndTheOthersStart)
{
    signIn();
    const std::uint16_t good = addForward("22", "F-GOOD");
    Json forwards = m_storage.getData();
    forwards["F-WORDS"] = {{"id", "F-WORDS"}, {"local_port", "eighty"}, {"remote_port", "22"}, {"device", Json::object()}};
    forwards["F-RANGE"] = {{"id", "F-RANGE"}, {"local_port", "70000"}, {"remote_port", "22"}, {"device", Json::object()}};
    forwards["not-a-forward"] = "text";
    ASSERT_TRUE(m_storage.setData(forwards));
    startDaemon();
    EXPECT_TRUE(echoes(good));
    EXPECT_TRUE(m_daemon->waitForError("skipped the forward F-WORDS", 5s));
    EXPECT_TRUE(m_daemon->waitForError("skipped the forward F-RANGE", 5s));
}

TEST_F(DaemonTest, AServiceThatFailsTheProfileIsLoggedAndRetried)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-22");
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::answer("profile/", 500, Json(), 2));
    startDaemon();
    EXPECT_TRUE(m_daemon->waitForError("error getting user", 10s));
    EXPECT_TRUE(echoes(port));
}

TEST_F(DaemonTest, TerminationClosesTheListenersAndLeavesTheFilesAlone)
{
    signIn();
    const std::uint16_t port = addForward("22", "F-22");
    startDaemon();
    ASSERT_TRUE(echoes(port));
    const auto settingsBefore = m_storage.getConfigString();
    const auto forwardsBefore = m_storage.getDataString();
    EXPECT_EQ(m_daemon->terminate(), 0);
    EXPECT_FALSE(listens(port));
    EXPECT_EQ(m_storage.getConfigString(), settingsBefore);
    EXPECT_EQ(m_storage.getDataString(), forwardsBefore);
}

} // namespace
} // namespace vantrel
