#include "core/Url.h"

#include "core/NetworkError.h"

#include <boost/asio/ip/address.hpp>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <cctype>

namespace vantrel {
namespace {

std::uint16_t defaultPort(const std::string& scheme)
{
    return scheme == "https" || scheme == "wss" ? 443 : 80;
}

} // namespace

bool ParsedUrl::hostIsAddress() const
{
    boost::system::error_code error;
    boost::asio::ip::make_address(host, error);
    return !error;
}

std::string ParsedUrl::hostHeader() const
{
    const bool ipv6 = host.find(':') != std::string::npos;
    std::string text = ipv6 ? "[" + host + "]" : host;
    if (explicitPort) {
        text += ":" + std::to_string(port);
    }
    return text;
}

Result<ParsedUrl> parseUrl(std::string_view url)
{
    const auto parsed = boost::urls::parse_absolute_uri(url);
    if (!parsed || !parsed->has_authority() || parsed->host().empty()) {
        return networkError(NetworkError::kBadUrl, "The address is not valid: " + std::string(url));
    }
    ParsedUrl result;
    result.scheme = parsed->scheme();
    std::transform(result.scheme.begin(), result.scheme.end(), result.scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    result.host = parsed->host_type() == boost::urls::host_type::ipv6 ? std::string(parsed->encoded_host_address())
                                                                      : std::string(parsed->host());
    result.explicitPort = parsed->has_port();
    if (result.explicitPort) {
        const auto port = parsed->port_number();
        if (port == 0) {
            return networkError(NetworkError::kBadUrl, "The address has no usable port: " + std::string(url));
        }
        result.port = port;
    } else {
        result.port = defaultPort(result.scheme);
    }
    result.target = std::string(parsed->encoded_path());
    if (result.target.empty()) {
        result.target = "/";
    }
    if (parsed->has_query()) {
        result.target += "?" + std::string(parsed->encoded_query());
    }
    return result;
}

} // namespace vantrel
