#include "core/IPCCommand.h"
#include "core/SecureStorage.h"
#include "core/ShellUserDefaults.h"
#include "core/VantrelDaemonUtils.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/MainQueueFixture.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vantrel {
namespace {

// What the application side of a test has received. Observers stay registered for the life of the process, so
// each test's observers write into state of their own that outlives them.
struct Received {
    int pongs = 0;
    std::vector<IPCCommand> commands;
};

std::shared_ptr<Received> observeAsApplication()
{
    auto received = std::make_shared<Received>();
    VantrelDaemonUtils::addObserverForPingAsDaemon([received] { ++received->pongs; }, false);
    VantrelDaemonUtils::addObserverForCommandAsDaemon(
        [received](const std::optional<std::string>& text, const platform::SignalSender&) {
            received->commands.push_back(IPCCommand::fromString(text.value_or("")));
        },
        false);
    return received;
}

IPCCommand command(std::int64_t code, std::string data)
{
    IPCCommand made;
    made.code = code;
    made.data = std::move(data);
    return made;
}

class MessagingTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    void startDaemonSide()
    {
        m_peer = std::make_unique<testing::ChildProcess>(VANTREL_BUS_PEER, std::vector<std::string>{});
        ASSERT_TRUE(m_peer->waitForLine("ready", std::chrono::seconds(10)));
    }

    // Sends a marker command through the peer and runs until it comes back: everything the peer sent before it
    // has arrived by then, because the bus keeps the order of one sender's messages.
    void roundTripMarker(const std::shared_ptr<Received>& received, const std::string& marker)
    {
        VantrelDaemonUtils::sendCommandAsDaemon(false, command(IPCCommand::kSetData, marker));
        ASSERT_TRUE(runUntil([&] { return !received->commands.empty() && received->commands.back().data == marker; }));
    }

    std::unique_ptr<testing::ChildProcess> m_peer;
};

TEST_F(MessagingTest, EveryPingAddressedToTheDaemonIsAnsweredOnce)
{
    auto received = observeAsApplication();
    startDaemonSide();
    for (int i = 0; i < 3; ++i) {
        VantrelDaemonUtils::sendPingAsDaemon(false);
    }
    roundTripMarker(received, "after pings");
    EXPECT_EQ(received->pongs, 3);
}

TEST_F(MessagingTest, ForwardsCommandRoundTripsItsDataTextUnchanged)
{
    auto received = observeAsApplication();
    startDaemonSide();
    const std::string data = R"({"E1":{"id":"E1","local_port":"8022","device":{"name":"Åre \"lab\""}}})" "\n\t\\";
    VantrelDaemonUtils::sendCommandAsDaemon(false, command(IPCCommand::kSetData, data));
    ASSERT_TRUE(runUntil([&] { return !received->commands.empty(); }));
    EXPECT_EQ(received->commands.front().code, IPCCommand::kSetData);
    EXPECT_EQ(received->commands.front().data, data);
}

TEST_F(MessagingTest, AProcessNeverReceivesItsOwnPing)
{
    // This process plays the daemon: it listens to pings addressed to the daemon and sends one to the application.
    auto ownPings = std::make_shared<int>(0);
    VantrelDaemonUtils::addObserverForPingAsDaemon([ownPings] { ++*ownPings; }, true);
    auto marker = std::make_shared<bool>(false);
    VantrelDaemonUtils::addObserverForSettingsChangedAsDaemon([marker] { *marker = true; }, false);

    VantrelDaemonUtils::sendPingAsDaemon(true);
    VantrelDaemonUtils::sendSettingsChangedAsDaemon(true); // addressed to the application: comes back to us
    ASSERT_TRUE(runUntil([&] { return *marker; }));
    EXPECT_EQ(*ownPings, 0);
}

TEST_F(MessagingTest, ANewSignInTokenReachesTheDaemonOnlyWhenSavingIsAsked)
{
    testing::TempDirectory folder;
    SecureStorage storage(folder / "Vantrel", folder / "Tessmark", platform::makePolkitAuthority());
    SettingsMessage stored;
    stored.stnInstallationToTrack = "SERIAL-1";
    ASSERT_TRUE(storage.setConfig(stored));
    platform::PreferencesStore store(folder / "prefs.json");
    ShellUserDefaults preferences(store, storage);

    auto received = observeAsApplication();
    startDaemonSide();
    preferences.setAuthToken("not-sent", false);
    preferences.setAuthToken("token-3", true);
    roundTripMarker(received, "after tokens");

    ASSERT_EQ(received->commands.size(), 2u); // the settings command, then the marker
    EXPECT_EQ(received->commands[0].code, IPCCommand::kSetSettings);
    const SettingsMessage sent = SettingsMessage::createFromDict(*parseJson(*textOf(received->commands[0].data)));
    EXPECT_EQ(sent.stnAuthToken, "token-3");
    EXPECT_EQ(sent.stnInstallationToTrack, "SERIAL-1"); // the rest of the stored record travels along
    EXPECT_EQ(preferences.getAuthToken(), "token-3");
}

} // namespace
} // namespace vantrel
