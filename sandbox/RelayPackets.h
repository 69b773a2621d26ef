#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantrel::sandbox {

/**
 * Packets as the relay writes them: a bencoded list whose every scalar is a byte string, the packet type and
 * port numbers as decimal text ([14, 2201] is "l2:144:2201e").
 */
std::string relayPacket(std::initializer_list<std::string_view> scalars);

/**
 * The start of a relay packet [type, route, <payload>] up to the payload's first byte ("l1:64:2201" + "5:"), so
 * the payload goes out as its own buffer, followed by the closing "e".
 */
std::string relayPayloadHeader(std::string_view type, std::int64_t route, std::size_t payloadSize);

inline constexpr std::string_view kRelayPacketEnd = "e";

} // namespace vantrel::sandbox
