#pragma once

#include "core/Result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

/** The parts of an absolute http(s) or ws(s) address that a connection needs. */
struct ParsedUrl {
    std::string scheme;      ///< lower case: "https", "wss", ...
    std::string host;        ///< a name, or an address without brackets
    std::uint16_t port = 0;  ///< the explicit port, else the scheme's default
    bool explicitPort = false;
    std::string target;      ///< path and query, at least "/"

    /** Whether the host is an IP address rather than a name. */
    bool hostIsAddress() const;
    /** host, or host ":" port when the address names a port; brackets around IPv6 addresses. */
    std::string hostHeader() const;
};

/** Parses an absolute address; an error (domain "vantrel.network", code -1000) when it is not one. */
Result<ParsedUrl> parseUrl(std::string_view url);

} // namespace vantrel
