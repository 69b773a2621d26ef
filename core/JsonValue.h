#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

using Json = nlohmann::json;

/**
 * A record field holding a JSON value exactly as it arrived (a text stays a text, a number a number, a
 * boolean a boolean). JSON null stands for "absent": the service's null and a missing member mean the same,
 * so a field has two states, absent or a value; an empty text is a value.
 */
using JsonField = Json;

inline bool isPresent(const JsonField& field)
{
    return !field.is_null();
}

/** The text held by the field, or nothing when it is absent or holds another kind of value. */
std::optional<std::string> textOf(const JsonField& field);

/**
 * The integer reading of a value, as a lenient numeric conversion does it: a number is truncated, a boolean is
 * 0 or 1, a text is read with parseLeadingInteger; anything else (absent included) is 0.
 */
std::int64_t integerValueOf(const JsonField& field);

/** The boolean reading: a boolean as it is, a number or a text through integerValueOf (non-zero is true). */
bool boolValueOf(const JsonField& field);

/**
 * Reads the integer at the start of a text: leading blanks skipped, one optional sign, then decimal digits up to
 * the first character that is not a digit. No digits give 0; values beyond 64 bits saturate.
 */
std::int64_t parseLeadingInteger(std::string_view text);

/** Deepest nesting accepted by parseJson: deeper documents are refused, so hostile input cannot exhaust the stack. */
inline constexpr int kMaxJsonDepth = 256;

/** Parses JSON text without throwing; nothing when the text is not valid JSON or nests deeper than kMaxJsonDepth. */
std::optional<Json> parseJson(std::string_view text);

/** Compact JSON text (no added white space), UTF-8. Invalid UTF-8 inside texts is replaced, never thrown. */
std::string toCompactJson(const Json& value);

/** Pretty-printed JSON text: indented by two spaces, one member per line. */
std::string toPrettyJson(const Json& value);

} // namespace vantrel
