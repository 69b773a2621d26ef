// The device cache at 10,000 devices: replacing it with a service answer while the main queue keeps running,
// the same rows written by a plain SQLite bulk insert for comparison, searching and reading the cache, and the
// device loader's lists (what a screen waits for), and the loader's refresh from the service. Targets: no main-queue task longer than 16 ms (replacement and
// lists alike); a search under 5 ms.

#include "core/AsioMainQueue.h"
#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/DevicesLoader.h"
#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/ManagedObjectContext.h"
#include "core/JsonValue.h"
#include "core/SecureStorage.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"

#include "platform/Authorization.h"
#include "sandbox/DefaultFixture.h"
#include "sandbox/Sandbox.h"

#include "tests/support/TempDirectory.h"

#include <benchmark/benchmark.h>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;
using Device = LocalRESTShellDevice;

constexpr int kDevices = 10'000;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/** CPU time of the calling thread: unlike the wall clock, it does not grow while other programs have the CPU. */
double threadCpuMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

/** A main queue on an io_context that measures how long each of its tasks holds the main thread. */
class TimedMainQueue final : public MainQueue {
public:
    explicit TimedMainQueue(boost::asio::io_context& context)
        : m_inner(context.get_executor())
    {
    }

    void post(Task task) override { m_inner.post(timed(std::move(task))); }
    void postAfter(std::chrono::milliseconds delay, Task task) override
    {
        m_inner.postAfter(delay, timed(std::move(task)));
    }

    /** Records a stretch of main-thread work that did not run as a task (the caller's own call). */
    void record(double milliseconds) { m_longest = std::max(m_longest, milliseconds); }
    double longest() const { return m_longest; }
    /** The most CPU time one task took on the main thread. */
    double longestCpu() const { return m_longestCpu; }

private:
    Task timed(Task task)
    {
        return [this, task = std::move(task)]() mutable {
            const auto start = Clock::now();
            const double cpuStart = threadCpuMilliseconds();
            Task running = std::exchange(task, nullptr);
            running();
            running = nullptr; // what the task held is released on the main thread too, and counted
            record(millisecondsSince(start));
            m_longestCpu = std::max(m_longestCpu, threadCpuMilliseconds() - cpuStart);
        };
    }

    AsioMainQueue m_inner;
    double m_longest = 0; // main thread only
    double m_longestCpu = 0; // main thread only
};

/** A device list as the service sends it, every member filled, with names in several scripts. */
Json makeAnswer(int count)
{
    constexpr std::array kNames {"Årebo gateway", "Zürich rack",  "İstanbul edge", "Straße sensor",
                                 "kitchen pi",    "ΣΊΣΥΦΟΣ node", "garage",        "Ørsted lab"};
    Json answer = Json::array();
    for (int i = 0; i < count; ++i) {
        answer.push_back({
            {"agent_version", "2.4.1"},
            {"description", fmt::format("Unit {} on floor {}", i, i % 12)},
            {"created_time", "2024-05-01T10:00:00Z"},
            {"disk_capacity", 32'000'000'000LL},
            {"disk_used", 1.5e9 + i},
            {"machine_type", "rpi_3b"},
            {"machine_type_display", "Raspberry Pi 3 Model B"},
            {"machine_type_short_display", "Pi 3B"},
            {"name", fmt::format("{} {:05}", kNames[static_cast<std::size_t>(i) % kNames.size()], i)},
            {"online", i % 3 != 0},
            {"operating_system", "Linux"},
            {"ports_url", fmt::format("https://apps.example/devices/{}/ports/", i)},
            {"processor_speed", 1200},
            {"ram_capacity", 1024},
            {"reboot_url", fmt::format("https://apps.example/devices/{}/reboot/", i)},
            {"uname", "Linux 6.1.21-v8+ aarch64"},
            {"url", fmt::format("https://apps.example/devices/{}/", i)},
            {"serial", fmt::format("SN-{:08}", i)},
            {"wormhole_slug", fmt::format("slug-{}", i)},
            {"diagnostics_permitted", true},
            {"tools_permitted", true},
            {"wormhole_enabled", false},
            {"upgrade", "2.5.0"},
            {"port_forwarding_ports", {22, 80, 443}},
        });
    }
    return answer;
}

/** A store in a temporary documents folder, with a timed main queue on this thread. */
struct MeasuredStore {
    MeasuredStore()
        : queue(context)
        , installation(queue)
        , manager(folder.path())
    {
    }

    /** Runs the main queue until done holds; a bounded wait. */
    void runUntil(const bool& done)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!done) {
            if (Clock::now() > deadline) {
                throw std::runtime_error("the replacement did not complete within a minute");
            }
            context.restart();
            context.run_one_for(std::chrono::seconds(1));
        }
    }

    /** Fills the cache with n devices in the main context (set-up, not measured). */
    void fill(int n)
    {
        (void)Device::clearInContext(manager.managedObjectContext());
        if (!Device::devicesFromMessages(makeAnswer(n), manager.managedObjectContext()).ok()) {
            throw std::runtime_error("the cache cannot be filled");
        }
    }

    testing::TempDirectory folder;
    boost::asio::io_context context;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work {context.get_executor()};
    TimedMainQueue queue;
    ScopedMainQueue installation;
    CoreDataManager manager;
};

// The loader's path: the answer goes to a background operation, the main queue only merges and completes.
void BM_ReplaceCacheInBackground(benchmark::State& state)
{
    MeasuredStore store;
    store.fill(kDevices);
    (void)store.manager.managedObjectContext();
    const Json answer = makeAnswer(kDevices);
    for (auto _ : state) {
        Json copy = answer;
        bool done = false;
        bool stored = false;
        const auto start = Clock::now();
        Device::replaceAllInBackground(
            std::move(copy),
            [&](const Result<void>& outcome) {
                stored = outcome.ok();
                done = true;
            },
            store.manager);
        store.queue.record(millisecondsSince(start));
        store.runUntil(done);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!stored) {
            state.SkipWithError("the replacement failed");
            break;
        }
    }
    state.counters["longest_main_task_ms"] = store.queue.longest();
    state.counters["longest_main_task_cpu_ms"] = store.queue.longestCpu();
}
BENCHMARK(BM_ReplaceCacheInBackground)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The same replacement run synchronously in the main context, as one long main-queue stretch.
void BM_ReplaceCacheInMainContext(benchmark::State& state)
{
    MeasuredStore store;
    const Json answer = makeAnswer(kDevices);
    for (auto _ : state) {
        (void)Device::clearInContext(store.manager.managedObjectContext());
        if (!Device::devicesFromMessages(answer, store.manager.managedObjectContext()).ok()) {
            state.SkipWithError("the replacement failed");
            break;
        }
    }
}
BENCHMARK(BM_ReplaceCacheInMainContext)->Unit(benchmark::kMillisecond)->Iterations(5);

void bindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text)
{
    text ? sqlite3_bind_text(statement, index, text->c_str(), static_cast<int>(text->size()), SQLITE_STATIC)
         : sqlite3_bind_null(statement, index);
}

// The floor: the same rows (already converted) written by one prepared INSERT in one transaction, without the
// serial lookups, the folded search columns and the indexes of the store.
void BM_PlainSqliteBulkInsert(benchmark::State& state)
{
    testing::TempDirectory folder;
    sqlite3* db = nullptr;
    sqlite3_open((folder / "plain.sqlite").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                 "CREATE TABLE devices (id INTEGER PRIMARY KEY, agent_version TEXT, device_description TEXT,"
                 " created_time TEXT, disk_capacity, disk_used, machine_type TEXT, machine_type_display TEXT,"
                 " machine_type_short_display TEXT, name TEXT, online INTEGER, online_state INTEGER,"
                 " operating_system TEXT, ports_url TEXT, processor_speed, ram_capacity, reboot_url TEXT,"
                 " uname TEXT, url TEXT, serial TEXT, wormhole_slug TEXT, diagnostics_permitted INTEGER,"
                 " tools_permitted INTEGER, wormhole_enabled INTEGER, upgrade_agent TEXT,"
                 " port_forwarding_ports TEXT, entity_index INTEGER, forwarding_permitted INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO devices VALUES (NULL, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13,"
                       " ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, NULL)",
                       -1, &insert, nullptr);
    std::vector<Device> rows;
    for (const Json& message : makeAnswer(kDevices)) {
        rows.emplace_back().inflateFromMessage(message);
    }
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN; DELETE FROM devices;", nullptr, nullptr, nullptr);
        std::int64_t index = 1;
        for (const Device& row : rows) {
            const std::array texts {&row.agent_version, &row.device_description, &row.created_time};
            for (std::size_t i = 0; i < texts.size(); ++i) {
                bindText(insert, static_cast<int>(i) + 1, *texts[i]);
            }
            sqlite3_bind_int64(insert, 4, row.disk_capacity.get<std::int64_t>());
            sqlite3_bind_double(insert, 5, row.disk_used.get<double>());
            bindText(insert, 6, row.machine_type);
            bindText(insert, 7, row.machine_type_display);
            bindText(insert, 8, row.machine_type_short_display);
            bindText(insert, 9, row.name);
            sqlite3_bind_int(insert, 10, row.online.value_or(false) ? 1 : 0);
            sqlite3_bind_int(insert, 11, row.online.value_or(false) ? 2 : 1);
            bindText(insert, 12, row.operating_system);
            bindText(insert, 13, row.ports_url);
            sqlite3_bind_int64(insert, 14, row.processor_speed.get<std::int64_t>());
            sqlite3_bind_int64(insert, 15, row.ram_capacity.get<std::int64_t>());
            bindText(insert, 16, row.reboot_url);
            bindText(insert, 17, row.uname);
            bindText(insert, 18, row.url);
            bindText(insert, 19, row.serial);
            bindText(insert, 20, row.wormhole_slug);
            sqlite3_bind_int(insert, 21, row.diagnostics_permitted.value_or(false) ? 1 : 0);
            sqlite3_bind_int(insert, 22, row.tools_permitted.value_or(false) ? 1 : 0);
            sqlite3_bind_int(insert, 23, row.wormhole_enabled.value_or(false) ? 1 : 0);
            bindText(insert, 24, row.upgrade_agent);
            bindText(insert, 25, row.port_forwarding_ports);
            sqlite3_bind_int64(insert, 26, index++);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
}
BENCHMARK(BM_PlainSqliteBulkInsert)->Unit(benchmark::kMillisecond)->Iterations(5);

/** Searches a cache of 10,000 devices with search, a store query that returns what matched. */
template <class Search> void measureSearch(benchmark::State& state, const char* query, Search search)
{
    MeasuredStore store;
    store.fill(kDevices);
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = search(query, store.manager.managedObjectContext()).size();
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
}

// The search that reads the matching devices.
void BM_SearchOnMainContext(benchmark::State& state, const char* query)
{
    measureSearch(state, query, &Device::getByQuery);
}
BENCHMARK_CAPTURE(BM_SearchOnMainContext, one_device, "ÅREBO GATEWAY 00040")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchOnMainContext, an_eighth, "zurich")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchOnMainContext, nothing, "no such device")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchOnMainContext, everything, "unit")->Unit(benchmark::kMillisecond);

// The search as the loader runs it: the matching objectIDs only, from the narrow search index.
void BM_SearchObjectIDs(benchmark::State& state, const char* query)
{
    measureSearch(state, query, &Device::getObjectIDsByQuery);
}
BENCHMARK_CAPTURE(BM_SearchObjectIDs, one_device, "ÅREBO GATEWAY 00040")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SearchObjectIDs, everything, "unit")->Unit(benchmark::kMillisecond);

// The whole cache turned into device records, one by one and as the batch that the loader makes after a change.
void BM_ReadAllOnMainContext(benchmark::State& state, bool batch)
{
    MeasuredStore store;
    store.fill(kDevices);
    for (auto _ : state) {
        std::vector<Device> devices = Device::getAllInContext(store.manager.managedObjectContext());
        std::vector<RESTShellDevice> records;
        if (batch) {
            records = Device::toMessages(std::move(devices));
        } else {
            records.reserve(devices.size());
            for (const Device& device : devices) {
                records.push_back(device.toMessage());
            }
        }
        benchmark::DoNotOptimize(records);
    }
}
BENCHMARK_CAPTURE(BM_ReadAllOnMainContext, one_by_one, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadAllOnMainContext, batch, true)->Unit(benchmark::kMillisecond);

/** A device loader over the measured store, with preferences of its own (no device limit). */
struct MeasuredLoader {
    explicit MeasuredLoader(MeasuredStore& measured)
        : store(measured)
    {
        loader = std::make_unique<DevicesLoader>(store.manager, api, preferences);
        loader->setOnPreloadedDevicesSilently([this](DevicesLoader::DeviceList& list) { delivered = list.size(); });
        loader->setOnLoadedDevices([this](DevicesLoader::DeviceList& list) { delivered = list.size(); });
        loader->setOnErrorLoading([this](const std::string& message) { failure = message; });
    }

    /** Asks for the cached list with this search text; the time until it is delivered on the main queue. */
    double deliver(const std::string& query)
    {
        delivered.reset();
        const auto start = Clock::now();
        loader->setSearchQuery(query);
        loader->preloadDevicesSilent(true, true, false);
        return waitForList(start);
    }

    /** Asks the service for the list (the cache is replaced); the time until it is delivered on the main queue. */
    double fetch()
    {
        delivered.reset();
        const auto start = Clock::now();
        loader->loadDevices(false);
        return waitForList(start);
    }

    double waitForList(Clock::time_point start)
    {
        store.queue.record(millisecondsSince(start));
        bool done = false;
        while (!done) {
            store.context.restart();
            store.context.run_one_for(std::chrono::seconds(1));
            done = delivered.has_value() || Clock::now() - start > std::chrono::seconds(60);
        }
        if (!delivered) {
            throw std::runtime_error("the list was not delivered within a minute");
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    MeasuredStore& store;
    platform::PreferencesStore preferencesStore {store.folder / "preferences.json"};
    SecureStorage storage {store.folder / "Vantrel", store.folder / "Tessmark", platform::makePolkitAuthority()};
    ShellUserDefaults preferences {preferencesStore, storage};
    ShellRESTAPI api {http::Client::shared(), preferences};
    std::unique_ptr<DevicesLoader> loader;
    std::optional<std::size_t> delivered;
    std::optional<std::string> failure; ///< what the last failed fetch said
};

// A search typed into a screen: from the call to the delivered list, with the loader's records already made.
void BM_LoaderSearch(benchmark::State& state, const char* query)
{
    MeasuredStore store;
    store.fill(kDevices);
    MeasuredLoader measured(store);
    measured.deliver(""); // makes the records once, as the screen's first list does
    for (auto _ : state) {
        state.SetIterationTime(measured.deliver(query));
    }
    state.counters["matches"] = static_cast<double>(measured.delivered.value_or(0));
    state.counters["longest_main_task_ms"] = store.queue.longest();
    state.counters["longest_main_task_cpu_ms"] = store.queue.longestCpu();
}
BENCHMARK_CAPTURE(BM_LoaderSearch, one_device, "ÅREBO GATEWAY 00040")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoaderSearch, an_eighth, "zurich")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoaderSearch, nothing, "no such device")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoaderSearch, everything, "unit")->UseManualTime()->Unit(benchmark::kMillisecond);

// A screen's first list after the store changed: the loader reads all 10,000 devices and makes their records.
void BM_LoaderFirstList(benchmark::State& state)
{
    MeasuredStore store;
    store.fill(kDevices);
    for (auto _ : state) {
        MeasuredLoader measured(store);
        state.SetIterationTime(measured.deliver(""));
    }
    state.counters["longest_main_task_ms"] = store.queue.longest();
    state.counters["longest_main_task_cpu_ms"] = store.queue.longestCpu();
}
BENCHMARK(BM_LoaderFirstList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Decoding a service answer of 10,000 devices, which the request layer does before the main queue gets it.
void BM_DecodeDeviceListAnswer(benchmark::State& state)
{
    const std::string body = toCompactJson(makeAnswer(kDevices));
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseJson(body));
    }
    state.counters["bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_DecodeDeviceListAnswer)->Unit(benchmark::kMillisecond);

/**
 * The service (the sandbox, in this process) with an account of 10,000 devices, started on first use; returns the
 * account's token. The request layer reads the service address and CA file from the environment set here; the
 * shared HTTP client takes the CA file when it is first made, so main calls this before any benchmark runs.
 */
const std::string& serviceWithManyDevices()
{
    static testing::TempDirectory folder;
    static const std::unique_ptr<sandbox::Sandbox> service = [] {
        Json fixture = Json::parse(sandbox::defaultFixtureText());
        Json& account = fixture["accounts"][0];
        account["devices"] = Json::array();
        for (Json& device : makeAnswer(kDevices)) {
            account["devices"].push_back(device["serial"]);
            fixture["devices"].push_back(std::move(device));
        }
        auto started = sandbox::Sandbox::start({.directory = folder / "sandbox", .fixture = std::move(fixture)});
        if (!started) {
            throw std::runtime_error("the sandbox did not start: " + started.error().text());
        }
        for (const auto& [name, value] : started.value()->environment()) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        return std::move(started).value();
    }();
    return service->fixture().accounts.front().token;
}

// The loader's whole refresh: 10,000 devices fetched over HTTPS, decoded, written to the cache and listed. The
// figure that matters is the longest main-queue task: decoding and writing happen elsewhere.
void BM_LoaderRefreshFromService(benchmark::State& state)
{
    const std::string& token = serviceWithManyDevices();
    MeasuredStore store;
    MeasuredLoader measured(store);
    measured.preferences.setAuthToken(token, false);
    for (auto _ : state) {
        state.SetIterationTime(measured.fetch());
        if (measured.failure) {
            state.SkipWithError(("the fetch failed: " + *measured.failure).c_str());
            break;
        }
    }
    state.counters["devices"] = static_cast<double>(measured.delivered.value_or(0));
    state.counters["longest_main_task_ms"] = store.queue.longest();
    state.counters["longest_main_task_cpu_ms"] = store.queue.longestCpu();
}
BENCHMARK(BM_LoaderRefreshFromService)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace vantrel

int main(int argc, char** argv)
{
    vantrel::serviceWithManyDevices();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
