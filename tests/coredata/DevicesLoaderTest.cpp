// The device loader against the sandbox service: what a screen is told, in which order, with which rows; the
// refresh; failures; and a loader that goes away while its work is under way.

#include "core/CoreData/DevicesLoader.h"
#include "core/CoreData/AsyncOperation.h"
#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/SerialOperationQueue.h"
#include "core/NotificationCenter.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"

#include "tests/support/MainQueueFixture.h"
#include "tests/support/SandboxEnvironment.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using sandbox::Fault;
using testing::SandboxEnvironment;
using DeviceList = DevicesLoader::DeviceList;

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SandboxEnvironment());

constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";
constexpr auto kNoRefresh = std::chrono::hours(1);

/** The rows in short: a device by its serial ("x" after it when unavailable), the header as "|". */
std::string rowsOf(const DeviceList& list)
{
    std::string text;
    for (const auto& row : list) {
        text += text.empty() ? "" : " ";
        text += row.isOversubscribeHeader ? "|" : textOf(row.device->msgSerial).value_or("?");
        text += !row.isOversubscribeHeader && !row.available ? "x" : "";
    }
    return text;
}

/** A screen: records what the loader tells it, in order, and the lists it receives. */
struct Screen {
    std::vector<std::string> events;
    DeviceList lastList;

    void attach(DevicesLoader& loader)
    {
        loader.setOnPreloadedDevices([this](DeviceList& list) { received("preloaded", list); });
        loader.setOnPreloadedDevicesSilently([this](DeviceList& list) { received("preloadedSilently", list); });
        loader.setOnLoadedDevices([this](DeviceList& list) { received("loaded", list); });
        loader.setOnNoMatchQuery([this] { events.emplace_back("noMatch"); });
        loader.setOnNoResult([this] { events.emplace_back("noResult"); });
        loader.setOnResult([this] { events.emplace_back("result"); });
        loader.setOnProgressOn([this](bool empty) { events.emplace_back(empty ? "progressOn(empty)" : "progressOn"); });
        loader.setOnProgressOff([this] { events.emplace_back("progressOff"); });
        loader.setOnErrorLoading([this](const std::string& message) { events.push_back("error: " + message); });
    }

    void received(const char* event, const DeviceList& list)
    {
        events.emplace_back(event);
        lastList = list;
    }

    bool saw(const std::string& event) const { return count(event) > 0; }
    long count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }
};

class DevicesLoaderTest : public ::testing::Test, protected testing::MainQueueFixture {
protected:
    DevicesLoaderTest()
    {
        SandboxEnvironment::sandbox().clearFaults();
        preferences().clearUserData();
        preferences().setAuthToken(kDemoToken, false);
    }

    ~DevicesLoaderTest() override
    {
        // Requests still under way (slow answers) end here, not in the shared HTTP client as the program exits.
        EXPECT_TRUE(runUntil([this] { return m_requestsReleased >= m_requestsStarted; }, 30s));
        // Background work of the test's loaders must not outlive the store it uses.
        std::promise<void> idle;
        SerialOperationQueue::shared().addOperation([&idle] { idle.set_value(); });
        idle.get_future().wait_for(30s);
    }

    static ShellUserDefaults& preferences() { return ShellUserDefaults::sharedInstance(); }

    std::unique_ptr<DevicesLoader> makeLoader(Screen& screen, std::chrono::milliseconds refresh = kNoRefresh)
    {
        auto loader = std::make_unique<DevicesLoader>(manager, ShellRESTAPI::sharedAPI(), preferences(), refresh);
        screen.attach(*loader);
        return loader;
    }

    void seed(const std::vector<std::string>& serials)
    {
        Json answer = Json::array();
        for (const auto& serial : serials) {
            answer.push_back({{"serial", serial}, {"name", "device " + serial}});
        }
        ASSERT_TRUE(LocalRESTShellDevice::clearInContext(manager.managedObjectContext()).ok());
        ASSERT_TRUE(LocalRESTShellDevice::devicesFromMessages(answer, manager.managedObjectContext()).ok());
    }

    std::vector<std::string> cachedSerials()
    {
        std::vector<std::string> serials;
        for (const auto& device : LocalRESTShellDevice::getAllInContext(manager.managedObjectContext())) {
            serials.push_back(device.serial.value_or("?"));
        }
        return serials;
    }

    static void setDeviceLimit(const JsonField& limit)
    {
        RESTShellUser user;
        user.msgDeviceLimit = limit;
        preferences().setRESTShellUser(user);
    }

    /** Runs the main queue until the background work queued so far has completed there. */
    void drainBackground()
    {
        bool done = false;
        AsyncOperation::initWithBlock(
            nullptr, [&done] { done = true; }, false, manager)
            ->enqueue();
        ASSERT_TRUE(runUntil([&] { return done; }, 30s));
    }

    static std::size_t deviceListRequests()
    {
        const auto requests = SandboxEnvironment::sandbox().requests();
        return static_cast<std::size_t>(std::count_if(
            requests.begin(), requests.end(), [](const auto& request) { return request.target == "/apps/devices/"; }));
    }

    testing::TempDirectory documents;
    CoreDataManager manager {documents.path()};

private:
    // Every request operation announces its start and its release (on the main queue).
    int m_requestsStarted = 0;
    int m_requestsReleased = 0;
    NotificationCenter::Registration m_starts = NotificationCenter::defaultCenter().addObserver(
        nShowProgress, [this](const Notification&) { ++m_requestsStarted; });
    NotificationCenter::Registration m_releases = NotificationCenter::defaultCenter().addObserver(
        nHideProgress, [this](const Notification&) { ++m_requestsReleased; });
};

TEST_F(DevicesLoaderTest, TheDeviceLimitMarksRowsAndPlacesTheHeader)
{
    seed({"A", "B", "C", "D"});
    const struct {
        JsonField limit;
        const char* rows;
        std::vector<std::int32_t> indexes; // devices count from 0, the header has 0
    } cases[] = {
        {JsonField(), "A B C D", {0, 1, 2, 3}}, {2, "A B | Cx Dx", {0, 1, 0, 2, 3}},
        {1, "A | Bx Cx Dx", {0, 0, 1, 2, 3}},   {0, "| Ax Bx Cx Dx", {0, 0, 1, 2, 3}},
        {-1, "Ax Bx Cx Dx", {0, 1, 2, 3}},      {4, "A B C D", {0, 1, 2, 3}},
    };
    Screen screen;
    auto loader = makeLoader(screen);
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.limit.dump());
        setDeviceLimit(entry.limit);
        screen.events.clear();
        loader->preloadDevicesSilent(true, true, false);
        ASSERT_TRUE(runUntil([&] { return screen.saw("result"); }));
        EXPECT_EQ(screen.events, (std::vector<std::string> {"preloadedSilently", "result"}));
        EXPECT_EQ(rowsOf(screen.lastList), entry.rows);
        std::vector<std::int32_t> indexes;
        for (const auto& row : screen.lastList) {
            indexes.push_back(row.index);
            EXPECT_TRUE(row.preloaded);
            EXPECT_FALSE(row.loadError);
            EXPECT_EQ(row.device == nullptr, row.isOversubscribeHeader);
        }
        EXPECT_EQ(indexes, entry.indexes);
        EXPECT_EQ(rowsOf(loader->getDevicesCollection()), entry.rows);
    }
}

TEST_F(DevicesLoaderTest, AFirstLoadShowsTheCacheThenTheServiceListAndStartsTheRefresh)
{
    setDeviceLimit(2);
    Screen screen;
    auto loader = makeLoader(screen);
    loader->preloadDevicesSilent(true, true, false);
    ASSERT_TRUE(runUntil([&] { return screen.saw("result"); }));
    EXPECT_EQ(screen.events, (std::vector<std::string> {"preloadedSilently", "result"})) << "not noResult";
    EXPECT_TRUE(screen.lastList.empty());

    loader->loadDevices(false);
    EXPECT_TRUE(loader->isFetchingData());
    ASSERT_TRUE(runUntil([&] { return screen.saw("progressOff"); }, 30s));
    EXPECT_EQ(screen.events,
              (std::vector<std::string> {"preloadedSilently", "result", "progressOn(empty)", "loaded", "progressOff"}));
    EXPECT_EQ(rowsOf(screen.lastList), "CRV-SANDBOX-0001 CRV-SANDBOX-0002 | CRV-SANDBOX-0003x");
    EXPECT_FALSE(screen.lastList.front().preloaded);
    EXPECT_EQ(screen.lastList.front().device->msgName, "Gateway");
    EXPECT_FALSE(loader->isFetchingData());
    EXPECT_TRUE(loader->isPollingPlanted());
    EXPECT_EQ(cachedSerials(), (std::vector<std::string> {"CRV-SANDBOX-0001", "CRV-SANDBOX-0002", "CRV-SANDBOX-0003"}));
}

TEST_F(DevicesLoaderTest, ASearchNarrowsEveryListAndOneWithoutMatchesSaysSo)
{
    Screen screen;
    auto loader = makeLoader(screen);
    loader->setSearchQuery("GATE");
    loader->loadDevices(true);
    ASSERT_TRUE(runUntil([&] { return screen.saw("progressOff"); }, 30s));
    EXPECT_EQ(rowsOf(screen.lastList), "CRV-SANDBOX-0001");
    EXPECT_EQ(cachedSerials().size(), 3u) << "the whole answer is cached";

    const struct {
        const char* query;
        std::vector<std::string> events;
        const char* rows;
    } cases[] = {
        {"no such device", {"preloadedSilently", "noMatch"}, ""},
        {"bulk", {"preloadedSilently", "result"}, "CRV-SANDBOX-0002"},
        {"", {"preloadedSilently", "result"}, "CRV-SANDBOX-0001 CRV-SANDBOX-0002 CRV-SANDBOX-0003"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.query);
        screen.events.clear();
        loader->setSearchQuery(entry.query);
        loader->preloadDevicesSilent(true, true, false);
        drainBackground();
        EXPECT_EQ(screen.events, entry.events);
        EXPECT_EQ(rowsOf(screen.lastList), entry.rows);
    }
}

TEST_F(DevicesLoaderTest, AFailedLoadDeliversTheCacheWithLoadError)
{
    const struct {
        const char* name;
        Fault fault;
        bool silent;
        std::vector<std::string> cached;
        std::vector<std::string> events;
    } cases[] = {
        {"service error",
         Fault::answer("devices/", 500, {{"detail", "Down for maintenance."}}),
         false,
         {"A", "B"},
         {"progressOn", "error: Down for maintenance.", "preloaded", "result", "progressOff"}},
        {"silent refresh",
         Fault::answer("devices/", 500),
         true,
         {"A", "B"},
         {"preloadedSilently", "result", "progressOff"}},
        {"not a device list",
         Fault::answer("devices/", 200, {{"detail", "x"}}),
         false,
         {"A", "B"},
         {"progressOn", "error: The device list is not a list", "preloaded", "result", "progressOff"}},
        {"empty cache",
         Fault::closing("devices/", 2),
         false,
         {},
         {"progressOn(empty)", "error: *", "preloaded", "noResult", "result", "progressOff"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        seed(entry.cached);
        Screen screen;
        auto loader = makeLoader(screen);
        loader->preloadDevicesSilent(true, true, false);
        drainBackground();
        screen.events.clear();

        SandboxEnvironment::sandbox().clearFaults();
        SandboxEnvironment::sandbox().addFault(entry.fault);
        loader->loadDevices(entry.silent);
        ASSERT_TRUE(runUntil([&] { return screen.saw("progressOff"); }, 30s));
        ASSERT_EQ(screen.events.size(), entry.events.size()) << ::testing::PrintToString(screen.events);
        for (std::size_t i = 0; i < entry.events.size(); ++i) {
            if (entry.events[i] == "error: *") {
                EXPECT_GT(screen.events[i].size(), std::string("error: ").size()) << "a clear message";
            } else {
                EXPECT_EQ(screen.events[i], entry.events[i]);
            }
        }
        EXPECT_EQ(screen.lastList.size(), entry.cached.size());
        for (const auto& row : screen.lastList) {
            EXPECT_TRUE(row.loadError);
            EXPECT_FALSE(row.preloaded);
        }
        EXPECT_EQ(cachedSerials(), entry.cached) << "a failure keeps the cache";
    }
}

TEST_F(DevicesLoaderTest, TheRefreshPlantsEachTickAsTheLastStartsAndStaysSilent)
{
    Screen screen;
    auto loader = makeLoader(screen, 100ms);
    // Every answer takes 2 s: ticks every 100 ms keep asking meanwhile, their requests overlap.
    SandboxEnvironment::sandbox().addFault(Fault::delayed("devices/", 2s));
    loader->loadDevices(true);
    ASSERT_TRUE(runUntil([&] { return screen.saw("loaded"); }, 30s));
    const std::size_t first = deviceListRequests();
    ASSERT_TRUE(runUntil([&] { return deviceListRequests() >= first + 2; }, 30s));
    EXPECT_EQ(screen.count("loaded"), 1) << "the ticks did not wait for the answers";

    SandboxEnvironment::sandbox().clearFaults();
    ASSERT_TRUE(runUntil([&] { return screen.count("loaded") >= 3; }, 30s));
    EXPECT_FALSE(screen.saw("progressOn") || screen.saw("progressOn(empty)"));
    EXPECT_EQ(screen.count("progressOff"), screen.count("loaded"));
}

TEST_F(DevicesLoaderTest, ADestroyedLoaderIsToldNothingMoreAndStopsRefreshing)
{
    // Destroyed while its list and its request are under way.
    std::vector<std::string> hidden;
    auto hide = NotificationCenter::defaultCenter().addObserver(
        nHideProgress, [&hidden](const Notification& notice) { hidden.push_back(notice.name); });
    SandboxEnvironment::sandbox().addFault(Fault::delayed("devices/", 300ms, 1));
    Screen screen;
    auto loader = makeLoader(screen);
    loader->preloadDevicesSilent(true, true, false);
    loader->loadDevices(false);
    loader.reset();
    ASSERT_TRUE(runUntil([&] { return !hidden.empty(); }, 30s)) << "the request's completion has run";
    drainBackground();
    EXPECT_EQ(screen.events, (std::vector<std::string> {"progressOn(empty)"}));

    // Destroyed by its screen from within a delivery: the rest of the delivery is not made.
    Screen closing;
    loader = makeLoader(closing);
    loader->setOnPreloadedDevicesSilently([&](DeviceList&) {
        closing.events.emplace_back("preloadedSilently");
        loader.reset();
    });
    loader->preloadDevicesSilent(true, true, false);
    drainBackground();
    EXPECT_EQ(closing.events, (std::vector<std::string> {"preloadedSilently"}));

    // Destroyed with a refresh pending: no request follows.
    Screen refreshing;
    loader = makeLoader(refreshing, 50ms);
    loader->loadDevices(true);
    ASSERT_TRUE(runUntil([&] { return refreshing.saw("loaded"); }, 30s));
    ASSERT_TRUE(loader->isPollingPlanted());
    const std::size_t requests = deviceListRequests();
    loader.reset();
    runFor(300ms);
    EXPECT_EQ(deviceListRequests(), requests);
}

} // namespace
} // namespace vantrel
