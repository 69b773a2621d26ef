#pragma once

#include "ShellCore/BencodeDocument.h"
#include "ShellCore/BencodePayloadHeader.h"
#include "ShellCore/BencodeValue.h"
#include "ShellCore/BencodeWriter.h"
#include "core/Result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/** Error domain of every decoding failure. */
inline constexpr std::string_view kBencodeErrorDomain = "vantrel.bencode";

/**
 * Why a message was refused. The numbers are stable: logs and tests use them as Error::code.
 *
 * Only the canonical form is accepted, so that every accepted message re-encodes to exactly its own bytes:
 * dictionary keys must be byte strings in strictly ascending byte order. Relay packets are lists and never
 * carry dictionaries, so this strictness costs nothing there and keeps ambiguous input (a key given twice) out.
 */
enum class BencodeErrc : std::int64_t {
    Truncated = 1, ///< the input ends inside a value (empty input included)
    UnexpectedByte = 2, ///< a byte that cannot stand where it is ("x", "i1x", "3x", an "e" closing nothing)
    LeadingZero = 3, ///< "i03e", "03:abc"
    NegativeZero = 4, ///< "i-0e"
    EmptyInteger = 5, ///< "ie", "i-e"
    IntegerOverflow = 6, ///< an integer outside the signed 64-bit range
    LengthBeyondInput = 7, ///< a byte string declares more bytes than the input has left
    TrailingBytes = 8, ///< bytes after the complete top value
    TooDeep = 9, ///< containers nested deeper than BencodeLimits::maxDepth
    TooManyValues = 10, ///< more values than BencodeLimits::maxValues
    KeyNotBytes = 11, ///< a dictionary key that is not a byte string
    UnsortedKeys = 12, ///< a dictionary key below the one before it
    DuplicateKey = 13, ///< a dictionary key equal to the one before it
    MissingValue = 14, ///< a dictionary closed right after a key
};

/** Bounds that keep hostile input from exhausting the stack or the memory. */
struct BencodeLimits {
    /** Deepest nesting of lists and dictionaries; a scalar at the top has depth 0. */
    std::size_t maxDepth = 32;
    /**
     * Most values in one message (every element, key and container counts one). Each value takes at least two
     * input bytes, so memory is proportional to the input anyway; this caps it at about 1.5 MiB.
     */
    std::size_t maxValues = 65536;
};

/** Whether the error is the decoding failure of this kind. */
bool isBencodeError(const Error& error, BencodeErrc kind);

/**
 * Decodes one complete bencoded value that must span the whole input. Byte strings in the result are views into
 * input, which must outlive the document. Never throws on bad input: the Error tells the kind and the offset.
 */
Result<BencodeDocument> decodeBencode(std::string_view input, const BencodeLimits& limits = {});

/** As above, with the document keeping the shared input alive (for values handed to another queue). */
Result<BencodeDocument> decodeBencode(std::shared_ptr<const std::string> input, const BencodeLimits& limits = {});

/** The canonical encoding of a decoded value: for a value decoded from a whole input, exactly that input. */
std::string encodeBencode(BencodeValue value);

/**
 * The lenient integer reading of an incoming scalar: the relay writes numbers as byte strings of decimal text,
 * read as leading blanks skipped, an optional sign, digits up to the first other byte, none giving 0. An integer
 * value reads as itself; a list or dictionary has no integer reading.
 */
std::optional<std::int64_t> incomingInteger(BencodeValue value);

/**
 * The text a pong carries for a ping value: an integer as its decimal digits, a byte string as its bytes, a list
 * or dictionary as its bencoded form.
 */
std::string pingText(BencodeValue value);

} // namespace vantrel
