#pragma once

#include "ShellCore/BencodeValue.h"

#include <cstdint>
#include <optional>

namespace vantrel {

/**
 * One incoming relay packet: its type, read as an integer, and the decoded list it came in (the type is its
 * first element). The elements are views into the received message: valid only during the callback that
 * delivers the packet.
 */
struct RelayPacket {
    std::int64_t type = 0;
    BencodeValue list;

    /** The element after the type at position index (0 is the first element after the type). */
    std::optional<BencodeValue> argument(std::size_t index) const { return list.element(index + 1); }
};

} // namespace vantrel
