#pragma once

#include "platform/PreferencesStore.h"

namespace vantrel {

inline constexpr const char* SETTING_EVER_LAUNCHED = "settingEverLaunched";
inline constexpr const char* SETTING_DEBUG_DEV_MODE = "debugMode";

/**
 * The running program's own preferences (private to it, unlike the shared files): a first-run marker and the
 * switch that selects the service's test environment. Every write reaches the disk before it returns.
 * Thread-safe (the store is).
 */
class UserDefaults {
public:
    /** Preferences over store, which must outlive this object. */
    explicit UserDefaults(platform::PreferencesStore& store);
    virtual ~UserDefaults() = default;
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    /** The process-wide instance over the program's standard store; every call applies the defaults. */
    static UserDefaults& coreInstance();

    /** Marks the first access ever ("settingEverLaunched" = true) when that has not happened yet. */
    void setDefaultValues();

    void setDebugMode(bool enabled);
    bool getDebugMode() const;

    /** Removes every key of the program's preferences at once. */
    void clearUserData();

protected:
    platform::PreferencesStore& defaults; ///< not owned
};

} // namespace vantrel
