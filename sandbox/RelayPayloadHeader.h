#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel::sandbox {

/**
 * The start of a relay packet [type, route, <payload>] up to the payload's first byte, every scalar a byte
 * string as the relay writes them: "l1:64:2201" + "65536:" for 64 KiB of target bytes on route 2201. The payload
 * is never copied: the packet goes out as text(), the payload, then kTrailer. Without a route the packet is
 * [type, <payload>].
 *
 *     const RelayPayloadHeader header(6, route, size);
 *     std::array<net::const_buffer, 3> packet {net::buffer(header.text()), net::buffer(data, size),
 *                                              net::buffer(RelayPayloadHeader::kTrailer)};
 *
 * Allocation-free; a plain value.
 */
class RelayPayloadHeader {
public:
    /** Closes the packet's list after the payload. */
    static constexpr std::string_view kTrailer = "e";

    RelayPayloadHeader() = default;
    RelayPayloadHeader(std::int64_t type, std::optional<std::int64_t> route, std::size_t payloadSize);

    std::string_view text() const { return {m_text.data(), m_size}; }

private:
    // "l" + two byte strings of at most 23 bytes (a 2-digit length, ":", sign and 19 digits) + a length and ":".
    static constexpr std::size_t kCapacity = 1 + 23 + 23 + 21;

    std::array<char, kCapacity> m_text {};
    std::size_t m_size = 0;
};

} // namespace vantrel::sandbox
