// Usage events from the trackers to the sandbox's collector, through the analytics client's on-disk queue.

#include "core/AnalyticsClient.h"
#include "core/Deployment.h"
#include "core/FinalizerTracker.h"
#include "core/SecureStorage.h"
#include "core/ShellKeenTracker.h"
#include "core/ShellUserDefaults.h"

#include "tests/support/FakeAuthority.h"
#include "tests/support/MainQueueFixture.h"
#include "tests/support/SandboxEnvironment.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::SandboxEnvironment;

/** Every event the collector has received since the test began, per collection. */
class Collector {
public:
    Collector()
        : m_seen(SandboxEnvironment::sandbox().analyticsBatches().size())
    {
    }

    std::vector<Json> events(const std::string& collection) const
    {
        std::vector<Json> found;
        const auto batches = SandboxEnvironment::sandbox().analyticsBatches();
        for (std::size_t i = m_seen; i < batches.size(); ++i) {
            for (const Json& event : batches[i]["events"].value(collection, Json::array())) {
                found.push_back(event);
            }
        }
        return found;
    }

private:
    std::size_t m_seen;
};

class UsageTrackerTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    UsageTrackerTest()
    {
        SandboxEnvironment::sandbox().clearFaults();
        tracker.initializeWithProjectId(deployment::kAnalyticsProjectId, deployment::kAnalyticsWriteKey,
                                        deployment::kAnalyticsReadKey);
    }

    void signIn(const char* email) { preferences.setRESTShellUser(RESTShellUser::createFromDict({{"email", email}})); }

    testing::TempDirectory folder;
    platform::PreferencesStore store{folder / "prefs.json"};
    SecureStorage storage{folder / "Vantrel", folder / "Tessmark", std::make_unique<testing::FakeAuthority>()};
    ShellUserDefaults preferences{store, storage};
    AnalyticsClient client{folder / "queue.json", SandboxEnvironment::sandbox().analyticsUrl(), http::Client::shared()};
    double now = 1'700'000'000'000.0; ///< the trackers' clock, in milliseconds
    ShellKeenTracker tracker{client, preferences, [this] { return now; }};
    Collector collector;
};

TEST_F(UsageTrackerTest, PageViewsCarryTheUserAndTheGlobalProperties)
{
    tracker.setVersionString("2.0 (200)");
    signIn("ann@corvane.test");
    EXPECT_FALSE(tracker.trackRawEventForName("clickstream", Json::object()));
    tracker.trackPageViewForPage(""); // nothing for an empty page name
    tracker.trackPageViewForPage("ForwardsPage");
    ASSERT_TRUE(runUntil([&] { return !collector.events("clickstream").empty(); }));
    const Json event = collector.events("clickstream").front();
    EXPECT_EQ(event["page"], "ForwardsPage");
    EXPECT_EQ(event["event_type"], "macos_page_opened");
    EXPECT_EQ(event["username"], "ann@corvane.test");
    EXPECT_EQ(event["client"], "macOS");
    EXPECT_TRUE(event["os_version"].is_string());
    EXPECT_EQ(collector.events("clickstream").size(), 1u);
    EXPECT_EQ(SandboxEnvironment::sandbox().analyticsBatches().back()["key"], deployment::kAnalyticsWriteKey);
}

TEST_F(UsageTrackerTest, TheSessionSummaryCountsAttemptsAndPageTime)
{
    for (int i = 0; i < 3; ++i) {
        tracker.incrementSummaryNumericValueForKey("login_attempts");
    }
    tracker.incrementSummaryNumericValueForKey("reset_password_attempts");
    tracker.sessionPageViewUnPause("time_login1_page");
    now += 1500;
    tracker.sessionPageViewPause("time_login1_page");
    tracker.updateAndFlushKeenSummaryMapWithCompletionHandler({});
    ASSERT_TRUE(runUntil([&] { return !collector.events("session_summary").empty(); }));
    const Json summary = collector.events("session_summary").front();
    EXPECT_EQ(summary["login_attempts"], 3);
    EXPECT_EQ(summary["reset_password_attempts"], 1);
    EXPECT_EQ(summary["time_login1_page"], 1500);
    EXPECT_FALSE(summary.contains("username")) << "nobody is signed in";

    // Nothing happened since: with nobody signed in, the next summary is empty and not even queued.
    ASSERT_TRUE(runUntil([&] { return client.queuedEvents().empty(); }));
    tracker.updateAndFlushKeenSummaryMapWithCompletionHandler({});
    EXPECT_TRUE(client.queuedEvents().empty());
}

TEST_F(UsageTrackerTest, EventsWaitOnDiskWhileTheCollectorIsDownAndArriveLater)
{
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::answer("events", 503, Json(), 1));
    signIn("bob@corvane.test");
    tracker.trackHandledEventForName("clickstream", {{"page", "Login2Page"}, {"event_type", "macos_signin"}});
    EXPECT_EQ(client.queuedEvents()["clickstream"].size(), 1u);
    {
        // A program that ends now loses nothing: the next one finds the event in the queue file.
        AnalyticsClient restarted(folder / "queue.json", SandboxEnvironment::sandbox().analyticsUrl(),
                                  http::Client::shared());
        EXPECT_EQ(restarted.queuedEvents()["clickstream"].size(), 1u);
    }
    ASSERT_TRUE(runUntil([&] { return !collector.events("clickstream").empty(); }, 15s));
    EXPECT_EQ(collector.events("clickstream").front()["username"], "bob@corvane.test");
    EXPECT_TRUE(runUntil([&] { return client.queuedEvents().empty(); }));
}

TEST_F(UsageTrackerTest, TheQueueKeepsTheNewestEventsWhenItIsFull)
{
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::answer("events", 503, Json(), {})); // down for good
    for (std::size_t i = 0; i < AnalyticsClient::kMaxQueuedEvents + 5; ++i) {
        client.addEvent("clickstream", {{"n", i}});
    }
    const Json queued = client.queuedEvents()["clickstream"];
    ASSERT_EQ(queued.size(), AnalyticsClient::kMaxQueuedEvents);
    EXPECT_EQ(queued.front()["n"], 5);
    SandboxEnvironment::sandbox().clearFaults();
}

TEST_F(UsageTrackerTest, AnInstallationIsMarkedWithTheSerialOrNotAvailable)
{
    for (const std::optional<std::string>& serial : {std::optional<std::string>("SERIAL-42"), std::optional<std::string>()}) {
        FinalizerTracker finalizer(client, storage, [serial] { return serial; });
        EXPECT_EQ(finalizer.serialNumber(), serial);
    }
    FinalizerTracker finalizer(client, storage, [] { return std::nullopt; });
    finalizer.sendInstallation("Not available");
    ASSERT_TRUE(runUntil([&] { return !collector.events("InstallationEvent").empty(); }));
    EXPECT_EQ(collector.events("InstallationEvent").front()["guid"], "Not available");
}

} // namespace
} // namespace vantrel
