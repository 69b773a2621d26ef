#include "platform/Reachability.h"

#include <arpa/inet.h>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <sstream>

namespace vantrel::platform {
namespace {

bool hasDefaultRoute()
{
    // IPv4: a route whose destination is 0.0.0.0. Columns: interface, destination, gateway, ...
    std::ifstream ipv4("/proc/net/route");
    std::string line;
    std::getline(ipv4, line); // column titles
    while (std::getline(ipv4, line)) {
        std::istringstream columns(line);
        std::string interface, destination;
        if (columns >> interface >> destination && destination == "00000000") {
            return true;
        }
    }
    // IPv6: destination ::/0 on an interface other than loopback.
    std::ifstream ipv6("/proc/net/ipv6_route");
    while (std::getline(ipv6, line)) {
        std::istringstream columns(line);
        std::string destination, prefix, fields[7], interface;
        columns >> destination >> prefix;
        for (std::string& field : fields) {
            columns >> field;
        }
        columns >> interface;
        if (destination == std::string(32, '0') && prefix == "00" && interface != "lo") {
            return true;
        }
    }
    return false;
}

bool hasInterfaceUpBesidesLoopback()
{
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
        found = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_LOOPBACK) == 0;
    }
    ::freeifaddrs(interfaces);
    return found;
}

bool isLoopback(const std::string& host)
{
    if (host == "localhost" || host == "localhost.") {
        return true;
    }
    in_addr ipv4{};
    if (::inet_pton(AF_INET, host.c_str(), &ipv4) == 1) {
        return (ntohl(ipv4.s_addr) >> 24) == 127;
    }
    in6_addr ipv6{};
    return ::inet_pton(AF_INET6, host.c_str(), &ipv6) == 1 && IN6_IS_ADDR_LOOPBACK(&ipv6);
}

} // namespace

bool hasGeneralRoute()
{
    return hasDefaultRoute() && hasInterfaceUpBesidesLoopback();
}

bool isHostReachable(const std::string& host)
{
    return isLoopback(host) || hasGeneralRoute();
}

} // namespace vantrel::platform
