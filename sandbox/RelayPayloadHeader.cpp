#include "sandbox/RelayPayloadHeader.h"

#include <charconv>

namespace vantrel::sandbox {

namespace {

/** Writes number as a bencoded byte string of its decimal digits ("2201" -> "4:2201"). */
char* writeDecimalBytes(char* position, char* end, std::int64_t number)
{
    std::array<char, 20> digits {};
    const char* const digitsEnd = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    const auto length = static_cast<std::size_t>(digitsEnd - digits.data());
    position = std::to_chars(position, end, length).ptr;
    *position++ = ':';
    for (const char* digit = digits.data(); digit != digitsEnd; ++digit) {
        *position++ = *digit;
    }
    return position;
}

} // namespace

RelayPayloadHeader::RelayPayloadHeader(std::int64_t type, std::optional<std::int64_t> route, std::size_t payloadSize)
{
    // kCapacity leaves room for the longest numbers, so no conversion can run out of room.
    char* const end = m_text.data() + m_text.size();
    char* position = m_text.data();
    *position++ = 'l';
    position = writeDecimalBytes(position, end, type);
    if (route) {
        position = writeDecimalBytes(position, end, *route);
    }
    position = std::to_chars(position, end, payloadSize).ptr;
    *position++ = ':';
    m_size = static_cast<std::size_t>(position - m_text.data());
}

} // namespace vantrel::sandbox
