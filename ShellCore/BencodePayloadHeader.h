#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

/**
 * The bencoded start of a packet [type, port, <payload>] up to the payload's first byte, e.g.
 * "li5ei2201e65536:" for a type-5 packet of 64 KiB on port 2201. The payload itself is never copied: the packet
 * goes out as the buffer sequence text(), payload, kTrailer.
 *
 *     const BencodePayloadHeader header(5, port, data.size());
 *     std::array<boost::asio::const_buffer, 3> packet {
 *         boost::asio::buffer(header.text()), boost::asio::buffer(data), boost::asio::buffer(header.kTrailer)};
 *
 * Allocation-free; thread-safety: a plain value.
 */
class BencodePayloadHeader {
public:
    /** Closes the packet's list after the payload. */
    static constexpr std::string_view kTrailer = "e";

    BencodePayloadHeader(std::int64_t type, std::int64_t port, std::size_t payloadSize);

    std::string_view text() const { return {m_text.data(), m_size}; }

private:
    // "l" + two integers of at most 22 bytes ("i" + sign and 19 digits + "e") + a length of 20 digits and ":".
    static constexpr std::size_t kCapacity = 1 + 22 + 22 + 21;

    std::array<char, kCapacity> m_text {};
    std::size_t m_size = 0;
};

} // namespace vantrel
