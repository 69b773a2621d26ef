#pragma once

#include "core/CoreData/RESTShellDeviceBundle.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

class CoreDataManager;
class ShellRESTAPI;
class ShellUserDefaults;

/** How often a loader asks the service for the device list again. */
inline constexpr std::chrono::milliseconds kDevicesRefreshInterval {7000};

/**
 * Feeds one screen with the account's devices: the cached list at once, the service's list when it arrives
 * (which then replaces the cache), and a silent refresh every refresh interval from the first completed load on.
 * Lists are filtered by the search text and mark the devices beyond the account's device limit (the profile's
 * msgDeviceLimit): with a limit L, the devices from position L on are unavailable and a header row precedes the
 * first of them (limit 0: the header comes first; a negative limit: every device unavailable, no header; no
 * limit: every device available).
 *
 * The store is never read or written on the main queue: the cache is replaced and every list is built by
 * background operations (so a cache of thousands of devices never holds up the main queue), and the results come
 * back to the main queue, where every callback runs. A list is therefore delivered a little after the call that
 * asks for it, and in the order of the calls.
 *
 * Lifetime: the loader belongs to its screen. Once it is destroyed, no callback runs any more (not even the rest
 * of a delivery in progress), answers and lists still under way are dropped, and a pending refresh finds it gone
 * and ends the refreshes.
 *
 * Threads: main queue only.
 */
class DevicesLoader {
public:
    using DeviceList = std::vector<RESTShellDeviceBundle>;
    /** Receives the loader's devicesCollection; screens may mark rows `checked`. */
    using ListCallback = std::function<void(DeviceList& list)>;
    using Callback = std::function<void()>;
    using ProgressCallback = std::function<void(bool listIsEmpty)>;
    using ErrorCallback = std::function<void(const std::string& message)>;

    /** A loader over the process's device store, service client and preferences. */
    DevicesLoader();
    DevicesLoader(CoreDataManager& store, ShellRESTAPI& api, ShellUserDefaults& preferences,
                  std::chrono::milliseconds refreshInterval = kDevicesRefreshInterval);
    ~DevicesLoader();
    DevicesLoader(const DevicesLoader&) = delete;
    DevicesLoader& operator=(const DevicesLoader&) = delete;

    /** Builds a new devicesCollection from the cache and hands it to completion. */
    void loadDataSourceWithFlagPreloaded(bool preloaded, bool loadError, ListCallback completion);

    /**
     * Delivers the cached list: to onPreloadedDevicesSilently when silent, else to onPreloadedDevices; then
     * onNoResult (an empty list, not preloaded, no search text), onNoMatchQuery (an empty list with a search
     * text; nothing more then) or OnResult.
     */
    void preloadDevicesSilent(bool silent, bool preloaded, bool loadError);

    /**
     * Asks the service for the device list. Unless silent, OnProgressOn first (true while nothing is shown yet).
     * An answer replaces the cache and its list goes to onLoadedDevices. A failure (also an answer that is not a
     * list of device objects) goes, unless silent, to OnErrorLoading, and the cached list is delivered again with
     * loadError set. Then the refresh starts if it has not yet, and OnProgressOff.
     */
    void loadDevices(bool silent);

    /** Starts the refresh: every refresh interval a silent loadDevices, until dismissPolling is set. */
    void loadDataPeriodically();

    /** The filter of the next list (matched as LocalRESTShellDevice::getByQuery does); empty: no filter. */
    void setSearchQuery(std::string searchQuery);
    void setDismissPolling(bool dismissPolling);

    void setOnPreloadedDevices(ListCallback callback);
    void setOnPreloadedDevicesSilently(ListCallback callback);
    void setOnLoadedDevices(ListCallback callback);
    void setOnNoMatchQuery(Callback callback);
    void setOnNoResult(Callback callback);
    void setOnResult(Callback callback);
    void setOnProgressOn(ProgressCallback callback);
    void setOnProgressOff(Callback callback);
    void setOnErrorLoading(ErrorCallback callback);

    /** The list most recently delivered. */
    const DeviceList& getDevicesCollection() const;
    /** Whether a request is under way. */
    bool isFetchingData() const;
    /** Whether the refresh has been started. */
    bool isPollingPlanted() const;

private:
    struct State;
    std::shared_ptr<State> m_state; // shared with the loader's work in progress, which holds it only weakly
};

} // namespace vantrel
