#include "ShellCore/BencodePayloadHeader.h"

#include <charconv>

namespace vantrel {

BencodePayloadHeader::BencodePayloadHeader(std::int64_t type, std::int64_t port, std::size_t payloadSize)
{
    // kCapacity leaves room for the longest numbers, so no conversion can run out of room.
    char* const end = m_text.data() + m_text.size();
    char* position = m_text.data();
    *position++ = 'l';
    *position++ = 'i';
    position = std::to_chars(position, end, type).ptr;
    *position++ = 'e';
    *position++ = 'i';
    position = std::to_chars(position, end, port).ptr;
    *position++ = 'e';
    position = std::to_chars(position, end, payloadSize).ptr;
    *position++ = ':';
    m_size = static_cast<std::size_t>(position - m_text.data());
}

} // namespace vantrel
