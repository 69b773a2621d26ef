#pragma once

#include <string>

namespace vantrel::platform {

/**
 * Whether the machine has a route to the wider network: a default route (IPv4 or IPv6) and at least one
 * interface other than loopback that is up.
 */
bool hasGeneralRoute();

/** Whether a host can be reached: loopback names and addresses always can; any other needs the general route. */
bool isHostReachable(const std::string& host);

} // namespace vantrel::platform
