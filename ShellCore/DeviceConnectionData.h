#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

/** The identity and the device-side port of an open remote connection. */
struct DeviceConnectionData {
    std::optional<std::string> deviceIdentity;
    std::optional<std::int64_t> devicePort;

    static DeviceConnectionData initWithData(std::optional<std::string> identity, std::optional<std::int64_t> port)
    {
        return DeviceConnectionData{std::move(identity), port};
    }
};

} // namespace vantrel
