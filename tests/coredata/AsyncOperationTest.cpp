#include "tests/coredata/DeviceStoreFixture.h"

#include "core/CoreData/AsyncOperation.h"
#include "core/NotificationCenter.h"

#include <boost/asio/executor_work_guard.hpp>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::testing {
namespace {

using Device = LocalRESTShellDevice;

/** Lines written from the queue's thread and read on the test's thread once the work has ended. */
class EventLog {
public:
    void add(std::string line)
    {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
        m_threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::string> lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::thread::id> threads()
    {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<std::thread::id> m_threads;
};

// Work steps keep what they write to in shared pointers: a test that fails early must not leave them pointing at
// its ended locals. Completions run only while the test runs the main queue, so they may use locals.
class BackgroundOperation : public DeviceStoreFixture {
protected:
    /** Waits (bounded) until the queue has run every operation of the test, which use the manager. */
    void TearDown() override
    {
        auto drained = std::make_shared<std::promise<void>>();
        auto done = drained->get_future();
        AsyncOperation::initWithBlock([drained](AsyncOperation&) { drained->set_value(); }, nullptr, false, *manager)
            ->enqueue();
        EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }

    /** Records the four progress notices into log while the registrations live. */
    static std::vector<NotificationCenter::Registration> recordNotices(const std::shared_ptr<EventLog>& log)
    {
        auto& center = NotificationCenter::defaultCenter();
        std::vector<NotificationCenter::Registration> registrations;
        registrations.push_back(center.addObserver(nShowProgress, [log](const Notification&) { log->add("show"); }));
        registrations.push_back(center.addObserver(nHideProgress, [log](const Notification&) { log->add("hide"); }));
        registrations.push_back(center.addObserver(nSetProgress, [log](const Notification& notice) {
            log->add(fmt::format("progress {}", std::get<float>(notice.object)));
        }));
        registrations.push_back(center.addObserver(
            nSetText, [log](const Notification& notice) { log->add("text " + std::get<std::string>(notice.object)); }));
        return registrations;
    }

    const std::thread::id m_mainThread = std::this_thread::get_id();
};

TEST_F(BackgroundOperation, AnnouncesItselfOnTheQueueAndCompletesOnTheMainQueue)
{
    const auto work = [](const std::shared_ptr<EventLog>& log) {
        return [log](AsyncOperation& operation) {
            log->add("work");
            operation.updateProgress(0.5F);
        };
    };
    const struct {
        const char* name;
        bool notify;
        bool indicate;
        std::vector<std::string> notices;
    } cases[] = {
        {"indicate", false, true, {"show", "work", "progress 0.5", "hide"}},
        {"notify", true, false, {"progress 0", "text Erasing", "show", "work", "progress 0.5", "hide"}},
        {"quiet", false, false, {"work", "progress 0.5"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        auto log = std::make_shared<EventLog>();
        const auto registrations = recordNotices(log);
        std::thread::id completionThread;
        bool completed = false;
        auto completion = [&] {
            completionThread = std::this_thread::get_id();
            completed = true;
        };
        auto operation = entry.notify ? AsyncOperation::initWithBlock(work(log), completion, true, "Erasing", *manager)
                                      : AsyncOperation::initWithBlock(work(log), completion, entry.indicate, *manager);
        operation->enqueue();
        ASSERT_TRUE(mainQueue.runUntil([&] { return completed; }));

        EXPECT_EQ(log->lines(), entry.notices);
        for (const auto& thread : log->threads()) {
            EXPECT_NE(thread, m_mainThread) << "work and notices belong to the queue's thread";
        }
        EXPECT_EQ(completionThread, m_mainThread);
    }
}

TEST_F(BackgroundOperation, RunsOneOperationAtATimeInEnqueueOrder)
{
    auto log = std::make_shared<EventLog>();
    std::vector<int> completions;
    constexpr int kOperations = 5;
    for (int i = 0; i < kOperations; ++i) {
        AsyncOperation::initWithBlock(
            [log, i](AsyncOperation&) {
                log->add(fmt::format("start {}", i));
                log->add(fmt::format("end {}", i));
            },
            [&completions, i] { completions.push_back(i); }, false, *manager)
            ->enqueue();
    }
    ASSERT_TRUE(mainQueue.runUntil([&] { return completions.size() == kOperations; }));

    std::vector<std::string> expected;
    for (int i = 0; i < kOperations; ++i) {
        expected.push_back(fmt::format("start {}", i));
        expected.push_back(fmt::format("end {}", i));
    }
    EXPECT_EQ(log->lines(), expected);
    EXPECT_EQ(completions, (std::vector<int> {0, 1, 2, 3, 4}));
    const auto threads = log->threads(); // a queue of several workers would spread the operations over them
    EXPECT_EQ(std::count(threads.begin(), threads.end(), threads.front()), static_cast<long>(threads.size()));
}

TEST_F(BackgroundOperation, WithoutACompletionNothingReachesTheMainQueue)
{
    bool completed = false;
    AsyncOperation::initWithBlock([](AsyncOperation&) {}, nullptr, true, *manager)->enqueue();
    AsyncOperation::initWithBlock([](AsyncOperation&) {}, [&completed] { completed = true; }, true, *manager)
        ->enqueue();

    // The first main-queue task to arrive must be the second operation's completion.
    auto guard = boost::asio::make_work_guard(mainQueue.context());
    mainQueue.context().restart();
    EXPECT_EQ(mainQueue.context().run_one_for(std::chrono::seconds(10)), 1U);
    EXPECT_TRUE(completed);
}

TEST_F(BackgroundOperation, ItsSaveReachesTheMainContextBeforeItsCompletion)
{
    EXPECT_TRUE(Device::getAllInContext(mainContext()).empty());
    std::vector<std::string> events;
    auto merged = NotificationCenter::defaultCenter().addObserver(nMainContextDidMerge, [&](const Notification& n) {
        if (std::get<const void*>(n.object) == manager.get()) {
            events.push_back(std::this_thread::get_id() == m_mainThread ? "merged on main" : "merged elsewhere");
        }
    });
    std::vector<std::string> seenOnCompletion;
    Device::replaceAllInBackground(
        Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}),
        [&](const Result<void>& outcome) {
            events.push_back(outcome.ok() ? "completed" : "failed: " + outcome.error().text());
            seenOnCompletion = serialsOf(Device::getAllInContext(mainContext()));
        },
        *manager);
    ASSERT_TRUE(mainQueue.runUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string> {"merged on main", "completed"}));
    EXPECT_EQ(seenOnCompletion, (std::vector<std::string> {"A", "B"}));

    // The main context's own saves are not merged into it; a later completion would follow any merge posted.
    events.clear();
    replaceCache(Json::array({deviceMessage("C", "c")}));
    AsyncOperation::initWithBlock([](AsyncOperation&) {}, [&] { events.push_back("completed"); }, false, *manager)
        ->enqueue();
    ASSERT_TRUE(mainQueue.runUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, (std::vector<std::string> {"completed"}));
}

TEST_F(BackgroundOperation, ClearsAllDataWhileTheMainContextIsInUse)
{
    replaceCache(Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}));
    ManagedObjectContext& inUse = mainContext();
    bool completed = false;
    std::vector<std::string> seenOnCompletion;
    AsyncOperation::initWithBlock(
        [this](AsyncOperation& operation) {
            ASSERT_EQ(Device::getAllInContext(operation.getThreadManagedObjectContext()).size(), 2U);
            manager->clearAllData();
            EXPECT_TRUE(Device::getAllInContext(operation.getThreadManagedObjectContext()).empty());
        },
        [&] {
            seenOnCompletion = serialsOf(Device::getAllInContext(mainContext()));
            completed = true;
        },
        true, *manager)
        ->enqueue();

    // Until the main queue runs again the context in use stays valid: it reads the old rows or, once the store
    // is removed, nothing, but never a half-closed connection.
    for (int read = 0; read < 200; ++read) {
        const auto size = Device::getAllInContext(inUse).size();
        ASSERT_TRUE(size == 2U || size == 0U) << size;
    }
    ASSERT_TRUE(mainQueue.runUntil([&] { return completed; }));
    EXPECT_TRUE(seenOnCompletion.empty());
    EXPECT_TRUE(std::filesystem::exists(documents / DB_NAME)) << "the next use made a new store";
}

} // namespace
} // namespace vantrel::testing
