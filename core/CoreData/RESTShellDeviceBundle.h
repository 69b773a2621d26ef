#pragma once

#include "core/RESTShellDevice.h"

#include <cstdint>
#include <memory>

namespace vantrel {

/** One row of a device list that a DevicesLoader delivers to a screen: a device, or the device-limit marker. */
struct RESTShellDeviceBundle {
    /**
     * The device, rebuilt from the cache; absent in a header row. Read-only and shared with the loader's other
     * lists, so that a list of thousands of devices is made without copying them.
     */
    std::shared_ptr<const RESTShellDevice> device;
    bool available = false; ///< false for devices beyond the account's device limit (and the header)
    bool preloaded = false; ///< delivered from the cache ahead of a fresh answer, as a screen asked
    bool loadError = false; ///< delivered from the cache because the request failed
    bool isOversubscribeHeader = false; ///< the marker where the devices beyond the limit begin
    double fadedAt = 0; ///< free for the screens
    std::int32_t index = 0; ///< position among the devices of the list, from 0; 0 in a header row
    bool checked = false; ///< a mark that screens set and read
};

} // namespace vantrel
