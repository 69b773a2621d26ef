#include "core/CoreData/DevicesLoader.h"

#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/DeviceListReader.h"
#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/SerialOperationQueue.h"
#include "core/MainQueue.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace vantrel {
namespace {

using DeviceList = DevicesLoader::DeviceList;

/**
 * Lets the background operation queue destroy a large value: a list of thousands of devices takes milliseconds to
 * free, which the main queue should not spend.
 */
template <class T> void releaseInBackground(T value)
{
    SerialOperationQueue::shared().addOperation(
        [held = std::make_shared<T>(std::move(value))]() mutable { held.reset(); });
}

/** The profile's device limit; nothing when there is no profile or it sets no limit. */
std::optional<std::int64_t> deviceLimit(const ShellUserDefaults& preferences)
{
    const std::optional<RESTShellUser> user = preferences.getRESTShellUser();
    if (!user || !(user->msgDeviceLimit.is_number() || user->msgDeviceLimit.is_string())) {
        return std::nullopt;
    }
    return integerValueOf(user->msgDeviceLimit);
}

/** The rows of a list: one per device in order, and the header where the devices beyond the limit begin. */
DeviceList makeRows(std::vector<DeviceListReader::Record> devices, std::optional<std::int64_t> limit, bool preloaded,
                    bool loadError)
{
    DeviceList rows;
    rows.reserve(devices.size() + 1);
    std::int64_t n = 0;
    for (auto& device : devices) {
        if (limit && n == *limit) {
            RESTShellDeviceBundle& header = rows.emplace_back();
            header.isOversubscribeHeader = true;
            header.preloaded = preloaded;
            header.loadError = loadError;
        }
        RESTShellDeviceBundle& row = rows.emplace_back();
        row.device = std::move(device);
        row.index = static_cast<std::int32_t>(std::min<std::int64_t>(n, std::numeric_limits<std::int32_t>::max()));
        row.available = !limit || n < *limit;
        row.preloaded = preloaded;
        row.loadError = loadError;
        ++n;
    }
    return rows;
}

} // namespace

/**
 * Everything of a loader. Owned by its DevicesLoader; work in progress (requests, background operations, the
 * pending refresh) holds it weakly and drops its result once the loader is gone. A delivery holds it strongly
 * while it runs, so a screen may destroy its loader from a callback: the loader is then closed and the rest of
 * the delivery calls nothing. Main queue only.
 */
struct DevicesLoader::State : std::enable_shared_from_this<State> {
    State(CoreDataManager& storeManager, ShellRESTAPI& client, ShellUserDefaults& userDefaults,
          std::chrono::milliseconds interval)
        : store(storeManager)
        , api(client)
        , preferences(userDefaults)
        , refreshInterval(interval)
    {
    }

    ~State()
    {
        releaseInBackground(std::move(devicesCollection));
        releaseInBackground(std::move(reader));
    }

    /** Calls a callback that is set, unless the loader is closed; a copy runs, so it may replace itself. */
    template <class Function, class... Arguments> void call(const Function& callback, Arguments&&... arguments) const
    {
        if (!closed && callback) {
            Function running = callback;
            running(std::forward<Arguments>(arguments)...);
        }
    }

    /** The state behind weak, unless it is gone or closed. */
    static std::shared_ptr<State> open(const std::weak_ptr<State>& weak)
    {
        auto state = weak.lock();
        return state && !state->closed ? state : nullptr;
    }

    using Delivery = std::function<void(State& state, const std::string& searchText)>;

    /**
     * Builds a list from the cache on the background operation queue; on the main queue it becomes
     * devicesCollection and goes to then, with the search text it was built for.
     */
    void build(bool preloaded, bool loadError, Delivery then)
    {
        auto work = [shared = reader, searchText = searchQuery, limit = deviceLimit(preferences), preloaded, loadError,
                     weak = weak_from_this(), then = std::move(then)]() mutable {
            // Held here only: should the loader be gone meanwhile, the reader ends on this thread.
            const std::shared_ptr<DeviceListReader> held = std::exchange(shared, nullptr);
            DeviceList rows = makeRows(held->devicesMatching(searchText), limit, preloaded, loadError);
            if (MainQueue* queue = MainQueue::installed()) {
                queue->post([weak, rows = std::move(rows), searchText, then = std::move(then)]() mutable {
                    deliverBuilt(weak, std::move(rows), searchText, then);
                });
            }
        };
        SerialOperationQueue::shared().addOperation(std::move(work));
    }

    static void deliverBuilt(const std::weak_ptr<State>& weak, DeviceList rows, const std::string& searchText,
                             const Delivery& then)
    {
        const auto state = open(weak);
        if (!state) {
            releaseInBackground(std::move(rows));
            return;
        }
        releaseInBackground(std::exchange(state->devicesCollection, std::move(rows)));
        then(*state, searchText);
    }

    void preloadDevicesSilent(bool silent, bool preloaded, bool loadError)
    {
        build(preloaded, loadError, [silent, preloaded](State& state, const std::string& searchText) {
            state.deliverCache(silent, preloaded, searchText);
        });
    }

    void deliverCache(bool silent, bool preloaded, const std::string& searchText)
    {
        call(silent ? onPreloadedDevicesSilently : onPreloadedDevices, devicesCollection);
        if (devicesCollection.empty() && !preloaded && searchText.empty()) {
            call(onNoResult);
        }
        if (devicesCollection.empty() && !searchText.empty()) {
            call(onNoMatchQuery);
            return;
        }
        call(OnResult);
    }

    void loadDevices(bool silent)
    {
        fetchingData = true;
        if (!silent) {
            call(OnProgressOn, devicesCollection.empty());
        }
        api.getDevices([weak = weak_from_this(), silent](GenericRESTResponse<Json> response) {
            const auto state = open(weak);
            if (!state) {
                return;
            }
            if (response.error) {
                state->loadFailed(silent, response.error->description);
                return;
            }
            state->storeAnswer(silent, std::move(response.result).value_or(Json()));
        });
    }

    void storeAnswer(bool silent, Json answer)
    {
        auto stored = [weak = weak_from_this(), silent](const Result<void>& outcome) {
            const auto state = open(weak);
            if (!state) {
                return;
            }
            if (!outcome) {
                // The cache keeps its last list (a bad answer is refused whole): as if the request had failed.
                state->loadFailed(silent, outcome.error().description);
                return;
            }
            state->build(false, false, [](State& built, const std::string&) {
                built.call(built.onLoadedDevices, built.devicesCollection);
                built.finishLoading();
            });
        };
        LocalRESTShellDevice::replaceAllInBackground(std::move(answer), std::move(stored), store);
    }

    void loadFailed(bool silent, const std::string& message)
    {
        if (!silent) {
            call(OnErrorLoading, message);
        }
        build(false, true, [silent](State& state, const std::string& searchText) {
            state.deliverCache(silent, false, searchText);
            state.finishLoading();
        });
    }

    void finishLoading()
    {
        fetchingData = false;
        if (!pollingPlanted && !closed) {
            loadDataPeriodically();
        }
        call(OnProgressOff);
    }

    void loadDataPeriodically()
    {
        if (dismissPolling) {
            return;
        }
        pollingPlanted = true;
        // The next tick is planted as this one starts, whatever its request takes.
        MainQueue::shared().postAfter(refreshInterval, [weak = weak_from_this()] {
            if (const auto state = open(weak)) {
                state->loadDevices(true);
                state->loadDataPeriodically();
            }
        });
    }

    CoreDataManager& store;
    ShellRESTAPI& api;
    ShellUserDefaults& preferences;
    const std::chrono::milliseconds refreshInterval;
    bool closed = false; ///< the loader is destroyed: nothing is called or scheduled any more

    bool dismissPolling = false;
    bool fetchingData = false;
    bool pollingPlanted = false;
    std::string searchQuery;
    ListCallback onPreloadedDevices;
    ListCallback onPreloadedDevicesSilently;
    ListCallback onLoadedDevices;
    Callback onNoMatchQuery;
    Callback onNoResult;
    Callback OnResult;
    ProgressCallback OnProgressOn;
    Callback OnProgressOff;
    ErrorCallback OnErrorLoading;
    DeviceList devicesCollection;
    /** Reads the lists; used by one background build at a time (the operation queue is serial). */
    std::shared_ptr<DeviceListReader> reader = std::make_shared<DeviceListReader>(store);
};

DevicesLoader::DevicesLoader()
    : DevicesLoader(CoreDataManager::instance(), ShellRESTAPI::sharedAPI(), ShellUserDefaults::sharedInstance())
{
}

DevicesLoader::DevicesLoader(CoreDataManager& store, ShellRESTAPI& api, ShellUserDefaults& preferences,
                             std::chrono::milliseconds refreshInterval)
    : m_state(std::make_shared<State>(store, api, preferences, refreshInterval))
{
}

DevicesLoader::~DevicesLoader()
{
    m_state->closed = true;
}

void DevicesLoader::loadDataSourceWithFlagPreloaded(bool preloaded, bool loadError, ListCallback completion)
{
    m_state->build(preloaded, loadError, [completion = std::move(completion)](State& state, const std::string&) {
        state.call(completion, state.devicesCollection);
    });
}

void DevicesLoader::preloadDevicesSilent(bool silent, bool preloaded, bool loadError)
{
    m_state->preloadDevicesSilent(silent, preloaded, loadError);
}

void DevicesLoader::loadDevices(bool silent)
{
    m_state->loadDevices(silent);
}

void DevicesLoader::loadDataPeriodically()
{
    m_state->loadDataPeriodically();
}

void DevicesLoader::setSearchQuery(std::string searchQuery)
{
    m_state->searchQuery = std::move(searchQuery);
}

void DevicesLoader::setDismissPolling(bool dismissPolling)
{
    m_state->dismissPolling = dismissPolling;
}

void DevicesLoader::setOnPreloadedDevices(ListCallback callback)
{
    m_state->onPreloadedDevices = std::move(callback);
}

void DevicesLoader::setOnPreloadedDevicesSilently(ListCallback callback)
{
    m_state->onPreloadedDevicesSilently = std::move(callback);
}

void DevicesLoader::setOnLoadedDevices(ListCallback callback)
{
    m_state->onLoadedDevices = std::move(callback);
}

void DevicesLoader::setOnNoMatchQuery(Callback callback)
{
    m_state->onNoMatchQuery = std::move(callback);
}

void DevicesLoader::setOnNoResult(Callback callback)
{
    m_state->onNoResult = std::move(callback);
}

void DevicesLoader::setOnResult(Callback callback)
{
    m_state->OnResult = std::move(callback);
}

void DevicesLoader::setOnProgressOn(ProgressCallback callback)
{
    m_state->OnProgressOn = std::move(callback);
}

void DevicesLoader::setOnProgressOff(Callback callback)
{
    m_state->OnProgressOff = std::move(callback);
}

void DevicesLoader::setOnErrorLoading(ErrorCallback callback)
{
    m_state->OnErrorLoading = std::move(callback);
}

const DevicesLoader::DeviceList& DevicesLoader::getDevicesCollection() const
{
    return m_state->devicesCollection;
}

bool DevicesLoader::isFetchingData() const
{
    return m_state->fetchingData;
}

bool DevicesLoader::isPollingPlanted() const
{
    return m_state->pollingPlanted;
}

} // namespace vantrel
