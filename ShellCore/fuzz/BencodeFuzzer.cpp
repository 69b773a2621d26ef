// Feeds arbitrary bytes to the bencode decoder. Beyond not crashing, every accepted input must be canonical
// (re-encoding gives back exactly the input), every refusal must carry a known error kind, and every view of an
// accepted document must stay inside the input (AddressSanitizer checks the reads).

#include "ShellCore/Bencode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace vantrel;

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

/** Reads every value and byte through the accessors; returns how many values it met. */
std::size_t walk(BencodeValue value)
{
    std::size_t values = 1;
    if (const std::optional<std::string_view> bytes = value.bytes()) {
        volatile char sink = 0;
        for (const char byte : *bytes) {
            sink = static_cast<char>(sink ^ byte);
        }
    }
    for (const BencodeValue element : value.elements()) {
        values += walk(element);
        static_cast<void>(incomingInteger(element));
        static_cast<void>(pingText(element));
    }
    for (const BencodeValue::Entry& entry : value.entries()) {
        require(value.find(entry.key).has_value());
        values += 1 + walk(entry.value);
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Result<BencodeDocument> decoded = decodeBencode(input);
    if (!decoded.ok()) {
        const Error& error = decoded.error();
        require(error.domain == kBencodeErrorDomain);
        require(error.code >= static_cast<std::int64_t>(BencodeErrc::Truncated)
                && error.code <= static_cast<std::int64_t>(BencodeErrc::MissingValue));
        return 0;
    }
    const BencodeValue root = decoded.value().root();
    require(encodeBencode(root) == input);
    require(walk(root) <= BencodeLimits {}.maxValues);

    // Tighter limits may refuse more, never accept something else.
    const Result<BencodeDocument> tight = decodeBencode(input, BencodeLimits {.maxDepth = 2, .maxValues = 8});
    require(!tight.ok() || encodeBencode(tight.value().root()) == input);
    return 0;
}
