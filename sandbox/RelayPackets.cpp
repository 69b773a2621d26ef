#include "sandbox/RelayPackets.h"

#include "ShellCore/Bencode.h"

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

} // namespace vantrel::sandbox
