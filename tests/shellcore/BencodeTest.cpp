#include "ShellCore/Bencode.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace vantrel {
namespace {

using namespace std::string_view_literals;

/** A readable rendering of a decoded value: integers bare, byte strings quoted, [list], {key: value}. */
std::string render(BencodeValue value)
{
    switch (value.kind()) {
    case BencodeKind::Integer:
        return std::to_string(*value.integer());
    case BencodeKind::Bytes:
        return "'" + std::string(*value.bytes()) + "'";
    case BencodeKind::List: {
        std::string text = "[";
        for (BencodeValue element : value.elements()) {
            text += (text.size() > 1 ? ", " : "") + render(element);
        }
        return text + "]";
    }
    case BencodeKind::Dictionary: {
        std::string text = "{";
        for (const BencodeValue::Entry& entry : value.entries()) {
            text += (text.size() > 1 ? ", '" : "'") + std::string(entry.key) + "': " + render(entry.value);
        }
        return text + "}";
    }
    }
    return "?";
}

std::string repeated(std::string_view part, std::size_t count)
{
    std::string text;
    text.reserve(part.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += part;
    }
    return text;
}

std::string nestedLists(std::size_t depth)
{
    return std::string(depth, 'l') + std::string(depth, 'e');
}

TEST(Bencode, DecodesCanonicalInputAndReencodesItExactly)
{
    struct Case {
        std::string_view input;
        std::string_view rendered;
    };
    const Case cases[] = {
        {"i0e", "0"},
        {"i-42e", "-42"},
        {"i9223372036854775807e", "9223372036854775807"},
        {"i-9223372036854775808e", "-9223372036854775808"},
        {"0:", "''"},
        {"3:a:e", "'a:e'"},
        {"le", "[]"},
        {"de", "{}"},
        {"l1:93:abce", "['9', 'abc']"},
        {"li5ei2201e4:\0\xff\r\ne"sv, "[5, 2201, '\0\xff\r\n']"sv},
        {"lli1eelei2ee", "[[1], [], 2]"},
        {"d1:ai1e2:abl1:xe1:bdee", "{'a': 1, 'ab': ['x'], 'b': {}}"},
        {"d1:ai1e1:\xffi2ee", "{'a': 1, '\xff': 2}"}, // keys sort as unsigned bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        const Result<BencodeDocument> decoded = decodeBencode(c.input);
        ASSERT_TRUE(decoded.ok()) << decoded.error().text();
        EXPECT_EQ(render(decoded.value().root()), c.rendered);
        EXPECT_EQ(encodeBencode(decoded.value().root()), c.input);
    }
}

TEST(Bencode, RefusesEveryMalformedOrNonCanonicalInputWithItsKind)
{
    struct Case {
        std::string_view input;
        BencodeErrc kind;
    };
    const Case cases[] = {
        {"", BencodeErrc::Truncated},
        {"i42", BencodeErrc::Truncated},
        {"i-", BencodeErrc::Truncated},
        {"li1e", BencodeErrc::Truncated},
        {"d1:a", BencodeErrc::Truncated},
        {"1", BencodeErrc::Truncated},
        {"x", BencodeErrc::UnexpectedByte},
        {"e", BencodeErrc::UnexpectedByte},
        {"i+1e", BencodeErrc::UnexpectedByte},
        {"i1.5e", BencodeErrc::UnexpectedByte},
        {"1x", BencodeErrc::UnexpectedByte},
        {"-1:a", BencodeErrc::UnexpectedByte},
        {"i03e", BencodeErrc::LeadingZero},
        {"i00e", BencodeErrc::LeadingZero},
        {"03:abc", BencodeErrc::LeadingZero},
        {"i-0e", BencodeErrc::NegativeZero},
        {"i-01e", BencodeErrc::NegativeZero},
        {"ie", BencodeErrc::EmptyInteger},
        {"i-e", BencodeErrc::EmptyInteger},
        {"i9223372036854775808e", BencodeErrc::IntegerOverflow},
        {"i-9223372036854775809e", BencodeErrc::IntegerOverflow},
        {"i99999999999999999999999e", BencodeErrc::IntegerOverflow},
        {"4:abc", BencodeErrc::LengthBeyondInput},
        {"18446744073709551617:x", BencodeErrc::LengthBeyondInput},
        {"li5ei2201e99999999999999999999999999:e", BencodeErrc::LengthBeyondInput},
        {"i1ei2e", BencodeErrc::TrailingBytes},
        {"lee", BencodeErrc::TrailingBytes},
        {"0:x", BencodeErrc::TrailingBytes},
        {"di1ei2ee", BencodeErrc::KeyNotBytes},
        {"dlei1ee", BencodeErrc::KeyNotBytes},
        {"d1:bi1e1:ai2ee", BencodeErrc::UnsortedKeys},
        {"d2:abi1e1:ai2ee", BencodeErrc::UnsortedKeys},
        {"d1:\xffi1e1:ai2ee", BencodeErrc::UnsortedKeys},
        {"d1:ai1e1:ai2ee", BencodeErrc::DuplicateKey},
        {"d1:ae", BencodeErrc::MissingValue},
        {"d1:ai1e1:be", BencodeErrc::MissingValue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        const Result<BencodeDocument> decoded = decodeBencode(c.input);
        ASSERT_FALSE(decoded.ok()) << render(decoded.value().root());
        EXPECT_EQ(decoded.error().code, static_cast<std::int64_t>(c.kind)) << decoded.error().text();
        EXPECT_TRUE(isBencodeError(decoded.error(), c.kind));
    }
}

TEST(Bencode, ErrorNamesTheKindAndTheOffset)
{
    const Result<BencodeDocument> decoded = decodeBencode("li1ei03ee");
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error().domain, "vantrel.bencode");
    EXPECT_EQ(decoded.error().code, 3);
    EXPECT_EQ(decoded.error().description, "Invalid relay message: number with a leading zero at byte 5");
}

TEST(Bencode, LimitsStopHostileNestingAndCounts)
{
    constexpr std::size_t kDepth = BencodeLimits {}.maxDepth;
    constexpr std::size_t kValues = BencodeLimits {}.maxValues;
    struct Case {
        std::string name;
        std::string input;
        BencodeLimits limits;
        std::optional<BencodeErrc> kind; // nothing: accepted
    };
    const Case cases[] = {
        {"deepest accepted", nestedLists(kDepth), {}, std::nullopt},
        {"one level too deep", nestedLists(kDepth + 1), {}, BencodeErrc::TooDeep},
        {"a million open lists", std::string(1'000'000, 'l'), {}, BencodeErrc::TooDeep},
        {"dictionaries count as nesting", repeated("d1:a", kDepth + 1), {}, BencodeErrc::TooDeep},
        {"most values accepted", "l" + repeated("i0e", kValues - 1) + "e", {}, std::nullopt},
        {"one value too many", "l" + repeated("i0e", kValues) + "e", {}, BencodeErrc::TooManyValues},
        {"a million empty strings", "l" + repeated("0:", 1'000'000) + "e", {}, BencodeErrc::TooManyValues},
        {"own depth limit", "llee", {.maxDepth = 1}, BencodeErrc::TooDeep},
        {"own value limit", "li1ei2ee", {.maxValues = 2}, BencodeErrc::TooManyValues},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<BencodeDocument> decoded = decodeBencode(c.input, c.limits);
        if (!c.kind) {
            EXPECT_TRUE(decoded.ok()) << decoded.error().text();
            continue;
        }
        ASSERT_FALSE(decoded.ok());
        EXPECT_TRUE(isBencodeError(decoded.error(), *c.kind)) << decoded.error().text();
    }
}

TEST(Bencode, PayloadIsAViewIntoTheInput)
{
    const std::string payload(64 * 1024, '\x5a');
    const std::string packet = "l1:64:2201" + std::to_string(payload.size()) + ":" + payload + "e";
    const Result<BencodeDocument> decoded = decodeBencode(packet);
    ASSERT_TRUE(decoded.ok());
    const std::optional<BencodeValue> data = decoded.value().root().element(2);
    ASSERT_TRUE(data && data->bytes());
    EXPECT_EQ(data->bytes()->data(), packet.data() + packet.size() - 1 - payload.size());
    EXPECT_EQ(*data->bytes(), payload);
}

TEST(Bencode, SharedInputOutlivesItsOtherOwners)
{
    auto input = std::make_shared<const std::string>("l1:64:220111:device datae");
    const std::weak_ptr<const std::string> watch = input;
    Result<BencodeDocument> decoded = decodeBencode(input);
    ASSERT_TRUE(decoded.ok());
    const BencodeDocument document = std::move(decoded).value();
    input.reset();
    EXPECT_FALSE(watch.expired()); // the document is now the input's only owner
    EXPECT_EQ(document.root().element(2)->bytes(), "device data");
}

TEST(Bencode, AccessorsAnswerNothingForValuesOfAnotherShape)
{
    const Result<BencodeDocument> decoded = decodeBencode("li7e1:xd1:ai1e1:ci3eeli0eee");
    ASSERT_TRUE(decoded.ok());
    const BencodeValue root = decoded.value().root();
    ASSERT_EQ(root.size(), 4u);
    const BencodeValue number = *root.element(0);
    const BencodeValue text = *root.element(1);
    const BencodeValue dictionary = *root.element(2);
    EXPECT_EQ(number.integer(), 7);
    EXPECT_FALSE(number.bytes());
    EXPECT_FALSE(text.integer());
    EXPECT_EQ(text.size(), 0u);
    EXPECT_FALSE(text.element(0));
    EXPECT_TRUE(number.elements().empty());
    EXPECT_TRUE(root.entries().empty());
    EXPECT_FALSE(root.element(4));
    EXPECT_FALSE(root.find("a"));
    EXPECT_EQ(dictionary.find("c")->integer(), 3);
    EXPECT_FALSE(dictionary.find("b"));
    EXPECT_FALSE(dictionary.find("d"));
    EXPECT_TRUE(root.element(3)->isList());
    EXPECT_EQ(root.element(3)->size(), 1u);
}

TEST(Bencode, WriterProducesCanonicalPackets)
{
    std::string out = "kept:";
    BencodeWriter writer(out);
    writer.beginList().integer(8).bytes("42").end();
    writer.beginDictionary().bytes("size").beginList().integer(-1).integer(0).end().end();
    writer.integer(std::numeric_limits<std::int64_t>::min()).bytes(""sv).bytes("\0e"sv);
    EXPECT_EQ(out, "kept:li8e2:42ed4:sizeli-1ei0eeei-9223372036854775808e0:2:\0e"sv);
    EXPECT_EQ(writer.openContainers(), 0u);
    EXPECT_THROW(writer.end(), std::logic_error);
}

TEST(Bencode, PayloadHeaderFramesThePayloadLikeTheWriter)
{
    struct Case {
        std::int64_t type;
        std::int64_t port;
        std::string payload;
    };
    const Case cases[] = {
        {5, 2201, std::string(65536, 'p')},
        {5, 0, ""},
        {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), "e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const BencodePayloadHeader header(c.type, c.port, c.payload.size());
        const std::string framed = std::string(header.text()) + c.payload + std::string(header.kTrailer);
        std::string written;
        BencodeWriter(written).beginList().integer(c.type).integer(c.port).bytes(c.payload).end();
        EXPECT_EQ(framed, written);
    }
    EXPECT_EQ(BencodePayloadHeader(5, 2201, 65536).text(), "li5ei2201e65536:");
}

TEST(Bencode, IncomingScalarsAndPingValuesReadLikeTheRelayWritesThem)
{
    const Result<BencodeDocument> decoded = decodeBencode("l1:92: 73:-1x0:i42eli1e1:aee");
    ASSERT_TRUE(decoded.ok());
    const BencodeValue root = decoded.value().root();
    struct Case {
        std::size_t index;
        std::optional<std::int64_t> integer;
        std::string pingText;
    };
    const Case cases[] = {
        {0, 9, "9"}, {1, 7, " 7"}, {2, -1, "-1x"}, {3, 0, ""}, {4, 42, "42"}, {5, std::nullopt, "li1e1:ae"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const BencodeValue value = *root.element(c.index);
        EXPECT_EQ(incomingInteger(value), c.integer);
        EXPECT_EQ(pingText(value), c.pingText);
    }
}

} // namespace
} // namespace vantrel
