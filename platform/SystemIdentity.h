#pragma once

#include <optional>
#include <string>
#include <utility>

namespace vantrel::platform {

/**
 * The machine's serial number: the firmware's product serial where it is readable, else the machine id of the
 * installed system; nothing when neither exists.
 */
std::optional<std::string> platformSerialNumber();

/** The operating system's major and minor version numbers (a missing minor number is 0). */
std::pair<long, long> operatingSystemMajorMinor();

} // namespace vantrel::platform
