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

} // namespace vantrel::sandbox
