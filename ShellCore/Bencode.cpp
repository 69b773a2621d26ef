#include "ShellCore/Bencode.h"

#include "core/JsonValue.h"

#include <boost/container/small_vector.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace vantrel {

namespace {

using Node = BencodeValue::Node;

bool isDigit(char byte)
{
    return byte >= '0' && byte <= '9';
}

std::string_view describe(BencodeErrc kind)
{
    switch (kind) {
    case BencodeErrc::Truncated:
        return "the message ends inside a value";
    case BencodeErrc::UnexpectedByte:
        return "unexpected byte";
    case BencodeErrc::LeadingZero:
        return "number with a leading zero";
    case BencodeErrc::NegativeZero:
        return "negative zero";
    case BencodeErrc::EmptyInteger:
        return "integer without digits";
    case BencodeErrc::IntegerOverflow:
        return "integer beyond 64 bits";
    case BencodeErrc::LengthBeyondInput:
        return "byte string longer than the rest of the message";
    case BencodeErrc::TrailingBytes:
        return "bytes after the end of the message";
    case BencodeErrc::TooDeep:
        return "lists or dictionaries nested too deep";
    case BencodeErrc::TooManyValues:
        return "too many values";
    case BencodeErrc::KeyNotBytes:
        return "dictionary key that is not a byte string";
    case BencodeErrc::UnsortedKeys:
        return "dictionary keys out of order";
    case BencodeErrc::DuplicateKey:
        return "dictionary key given twice";
    case BencodeErrc::MissingValue:
        return "dictionary key without a value";
    }
    return "invalid bencode";
}

} // namespace

/** Decodes one message front to back without recursion; open containers are kept on an explicit stack. */
class BencodeParser {
public:
    BencodeParser(std::string_view input, const BencodeLimits& limits)
        : m_input(input)
        , m_maxDepth(limits.maxDepth)
        , m_maxValues(std::min<std::size_t>(limits.maxValues, std::numeric_limits<std::uint32_t>::max()))
    {
    }

    Result<BencodeDocument> parse(std::shared_ptr<const void> keepAlive)
    {
        BencodeDocument document;
        document.m_input = std::move(keepAlive);
        if (const std::optional<Failure> failure = parseInto(document.m_nodes)) {
            return Error {std::string(kBencodeErrorDomain),
                          static_cast<std::int64_t>(failure->kind),
                          fmt::format("Invalid relay message: {} at byte {}", describe(failure->kind), failure->offset),
                          {}};
        }
        return document;
    }

private:
    struct Failure {
        BencodeErrc kind;
        std::size_t offset;
    };

    /** A list or dictionary whose end has not been read yet. */
    struct OpenContainer {
        std::size_t node; // index of its node
        std::string_view lastKey; // dictionaries: the key read last
        bool hasKey = false; // dictionaries: whether a key was read
        bool awaitingValue = false; // dictionaries: a key was read, its value not yet
    };

    std::optional<Failure> parseInto(BencodeDocument::Nodes& nodes)
    {
        for (;;) {
            if (m_position >= m_input.size()) {
                return fail(BencodeErrc::Truncated);
            }
            if (m_input[m_position] == 'e') {
                if (const std::optional<Failure> failure = close(nodes)) {
                    return failure;
                }
            } else {
                if (nodes.size() >= m_maxValues) {
                    return fail(BencodeErrc::TooManyValues);
                }
                if (const std::optional<Failure> failure = parseValue(nodes)) {
                    return failure;
                }
            }
            if (m_open.empty()) {
                break;
            }
        }
        if (m_position != m_input.size()) {
            return fail(BencodeErrc::TrailingBytes);
        }
        return std::nullopt;
    }

    /** Reads the value starting at the current byte: a scalar whole, a container only its opening byte. */
    std::optional<Failure> parseValue(BencodeDocument::Nodes& nodes)
    {
        const char first = m_input[m_position];
        OpenContainer* const parent = m_open.empty() ? nullptr : &m_open.back();
        const bool isKey = parent && nodes[parent->node].kind == BencodeKind::Dictionary && !parent->awaitingValue;
        if (isKey && !isDigit(first)) {
            return fail(BencodeErrc::KeyNotBytes);
        }
        Node node;
        std::optional<Failure> failure;
        if (first == 'i') {
            failure = parseInteger(node);
        } else if (isDigit(first)) {
            failure = parseBytes(node);
        } else if (first == 'l' || first == 'd') {
            if (m_open.size() >= m_maxDepth) {
                return fail(BencodeErrc::TooDeep);
            }
            node.kind = first == 'l' ? BencodeKind::List : BencodeKind::Dictionary;
            ++m_position;
        } else {
            return fail(BencodeErrc::UnexpectedByte);
        }
        if (failure) {
            return failure;
        }
        if (parent) {
            if (const std::optional<Failure> orderFailure = account(*parent, nodes[parent->node], node, isKey)) {
                return orderFailure;
            }
        }
        nodes.push_back(node);
        if (node.kind == BencodeKind::List || node.kind == BencodeKind::Dictionary) {
            m_open.push_back(OpenContainer {nodes.size() - 1, {}, false, false});
        }
        return std::nullopt;
    }

    /** Counts a new value in its container; a dictionary key must come after the key before it. */
    std::optional<Failure> account(OpenContainer& parent, Node& parentNode, const Node& node, bool isKey)
    {
        if (parentNode.kind == BencodeKind::List) {
            ++parentNode.number;
            return std::nullopt;
        }
        if (!isKey) {
            parent.awaitingValue = false;
            return std::nullopt;
        }
        const std::string_view key(node.bytes, static_cast<std::size_t>(node.number));
        if (parent.hasKey && key <= parent.lastKey) {
            return Failure {key == parent.lastKey ? BencodeErrc::DuplicateKey : BencodeErrc::UnsortedKeys, m_keyOffset};
        }
        parent.lastKey = key;
        parent.hasKey = true;
        parent.awaitingValue = true;
        ++parentNode.number;
        return std::nullopt;
    }

    /** Reads the "e" that ends the innermost open container. */
    std::optional<Failure> close(BencodeDocument::Nodes& nodes)
    {
        if (m_open.empty()) {
            return fail(BencodeErrc::UnexpectedByte);
        }
        const OpenContainer& container = m_open.back();
        if (container.awaitingValue) {
            return fail(BencodeErrc::MissingValue);
        }
        nodes[container.node].extent = static_cast<std::uint32_t>(nodes.size() - container.node);
        m_open.pop_back();
        ++m_position;
        return std::nullopt;
    }

    /** Reads "i" [ "-" ] digits "e" in canonical form. */
    std::optional<Failure> parseInteger(Node& node)
    {
        ++m_position; // the "i"
        const bool negative = m_position < m_input.size() && m_input[m_position] == '-';
        if (negative) {
            ++m_position;
        }
        if (m_position >= m_input.size()) {
            return fail(BencodeErrc::Truncated);
        }
        if (!isDigit(m_input[m_position])) {
            return fail(m_input[m_position] == 'e' ? BencodeErrc::EmptyInteger : BencodeErrc::UnexpectedByte);
        }
        if (m_input[m_position] == '0') {
            if (negative) {
                return fail(BencodeErrc::NegativeZero);
            }
            if (m_position + 1 < m_input.size() && isDigit(m_input[m_position + 1])) {
                return fail(BencodeErrc::LeadingZero);
            }
        }
        // Accumulated as a negative number so that the lowest 64-bit value is reachable without overflow.
        constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
        std::int64_t value = 0;
        for (; m_position < m_input.size() && isDigit(m_input[m_position]); ++m_position) {
            const int digit = m_input[m_position] - '0';
            if (value < (kLowest + digit) / 10) {
                return fail(BencodeErrc::IntegerOverflow);
            }
            value = value * 10 - digit;
        }
        if (!negative && value == kLowest) {
            return fail(BencodeErrc::IntegerOverflow);
        }
        if (m_position >= m_input.size()) {
            return fail(BencodeErrc::Truncated);
        }
        if (m_input[m_position] != 'e') {
            return fail(BencodeErrc::UnexpectedByte);
        }
        ++m_position;
        node.kind = BencodeKind::Integer;
        node.number = negative ? value : -value;
        return std::nullopt;
    }

    /** Reads length ":" bytes; the length is checked against the input before anything else happens. */
    std::optional<Failure> parseBytes(Node& node)
    {
        m_keyOffset = m_position;
        if (m_input[m_position] == '0' && m_position + 1 < m_input.size() && isDigit(m_input[m_position + 1])) {
            return fail(BencodeErrc::LeadingZero);
        }
        std::size_t length = 0;
        for (; m_position < m_input.size() && isDigit(m_input[m_position]); ++m_position) {
            length = length * 10 + static_cast<std::size_t>(m_input[m_position] - '0');
            if (length > m_input.size()) { // also keeps the next step from overflowing
                return Failure {BencodeErrc::LengthBeyondInput, m_keyOffset};
            }
        }
        if (m_position >= m_input.size()) {
            return fail(BencodeErrc::Truncated);
        }
        if (m_input[m_position] != ':') {
            return fail(BencodeErrc::UnexpectedByte);
        }
        ++m_position;
        if (length > m_input.size() - m_position) {
            return Failure {BencodeErrc::LengthBeyondInput, m_keyOffset};
        }
        node.kind = BencodeKind::Bytes;
        node.bytes = m_input.data() + m_position;
        node.number = static_cast<std::int64_t>(length);
        m_position += length;
        return std::nullopt;
    }

    Failure fail(BencodeErrc kind) const { return Failure {kind, m_position}; }

    const std::string_view m_input; // not owned: the message being decoded
    const std::size_t m_maxDepth;
    const std::size_t m_maxValues;
    std::size_t m_position = 0;
    std::size_t m_keyOffset = 0; // where the byte string read last starts
    boost::container::small_vector<OpenContainer, 8> m_open; // innermost last; at most m_maxDepth long
};

bool isBencodeError(const Error& error, BencodeErrc kind)
{
    return error.domain == kBencodeErrorDomain && error.code == static_cast<std::int64_t>(kind);
}

Result<BencodeDocument> decodeBencode(std::string_view input, const BencodeLimits& limits)
{
    return BencodeParser(input, limits).parse(nullptr);
}

Result<BencodeDocument> decodeBencode(std::shared_ptr<const std::string> input, const BencodeLimits& limits)
{
    const std::string_view text = input ? std::string_view(*input) : std::string_view();
    return BencodeParser(text, limits).parse(std::move(input));
}

std::string encodeBencode(BencodeValue value)
{
    std::string out;
    BencodeWriter(out).value(value);
    return out;
}

std::optional<std::int64_t> incomingInteger(BencodeValue value)
{
    if (const std::optional<std::string_view> text = value.bytes()) {
        return parseLeadingInteger(*text);
    }
    return value.integer();
}

std::string pingText(BencodeValue value)
{
    if (const std::optional<std::int64_t> number = value.integer()) {
        return std::to_string(*number);
    }
    if (const std::optional<std::string_view> text = value.bytes()) {
        return std::string(*text);
    }
    return encodeBencode(value);
}

} // namespace vantrel
