#include "core/JsonValue.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace vantrel {

std::optional<std::string> textOf(const JsonField& field)
{
    if (field.is_string()) {
        return field.get<std::string>();
    }
    return std::nullopt;
}

std::int64_t integerValueOf(const JsonField& field)
{
    switch (field.type()) {
    case Json::value_t::boolean:
        return field.get<bool>() ? 1 : 0;
    case Json::value_t::number_integer:
        return field.get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        const auto value = field.get<std::uint64_t>();
        return value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
            ? std::numeric_limits<std::int64_t>::max()
            : static_cast<std::int64_t>(value);
    }
    case Json::value_t::number_float: {
        const double value = std::trunc(field.get<double>());
        if (std::isnan(value)) {
            return 0;
        }
        if (value >= 9.2e18) {
            return std::numeric_limits<std::int64_t>::max();
        }
        if (value <= -9.2e18) {
            return std::numeric_limits<std::int64_t>::min();
        }
        return static_cast<std::int64_t>(value);
    }
    case Json::value_t::string:
        return parseLeadingInteger(field.get_ref<const std::string&>());
    default:
        return 0;
    }
}

bool boolValueOf(const JsonField& field)
{
    if (field.is_boolean()) {
        return field.get<bool>();
    }
    return integerValueOf(field) != 0;
}

std::int64_t parseLeadingInteger(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t' || text[position] == '\n'
                                      || text[position] == '\r' || text[position] == '\v' || text[position] == '\f')) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    // Accumulate as a negative number so that the minimum value is reachable without overflow.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        const int digit = text[position] - '0';
        if (value < (kMin + digit) / 10) {
            return negative ? kMin : std::numeric_limits<std::int64_t>::max();
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return value;
    }
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

std::optional<Json> parseJson(std::string_view text)
{
    bool tooDeep = false;
    Json::parser_callback_t depthGuard = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth > kMaxJsonDepth) {
            tooDeep = true;
        }
        return !tooDeep;
    };
    Json parsed = Json::parse(text, depthGuard, false);
    if (tooDeep || parsed.is_discarded()) {
        return std::nullopt;
    }
    return parsed;
}

std::string toCompactJson(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string toPrettyJson(const Json& value)
{
    return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

} // namespace vantrel
