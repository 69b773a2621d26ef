#include "sandbox/RelayPackets.h"

#include "ShellCore/Bencode.h"

#include <fmt/format.h>

namespace vantrel::sandbox {

std::string relayPacket(std::initializer_list<std::string_view> scalars)
{
    std::string packet;
    BencodeWriter writer(packet);
    writer.beginList();
    for (const std::string_view scalar : scalars) {
        writer.bytes(scalar);
    }
    writer.end();
    return packet;
}

std::string relayPayloadHeader(std::string_view type, std::int64_t route, std::size_t payloadSize)
{
    std::string header;
    BencodeWriter(header).beginList().bytes(type).bytes(std::to_string(route));
    // The payload's byte-string prefix alone: the writer would copy the payload itself.
    fmt::format_to(std::back_inserter(header), "{}:", payloadSize);
    return header;
}

} // namespace vantrel::sandbox
