#include "core/AppVersion.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace vantrel {
namespace {

std::vector<std::string_view> splitAtDots(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) {
            return parts;
        }
        start = dot + 1;
    }
}

// A whole component as a decimal integer (an optional sign, then digits only); anything else counts as 0.
std::int32_t componentValue(std::string_view component)
{
    if (!component.empty() && component.front() == '+') {
        component.remove_prefix(1);
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(component.data(), component.data() + component.size(), value);
    if (component.empty() || error == std::errc::invalid_argument || end != component.data() + component.size()) {
        return 0;
    }
    if (error == std::errc::result_out_of_range) {
        return component.front() == '-' ? std::numeric_limits<std::int32_t>::min()
                                        : std::numeric_limits<std::int32_t>::max();
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

AppVersion::AppVersion(std::string versionString)
    : m_versionString(std::move(versionString))
{
}

bool AppVersion::compare(std::string_view other) const
{
    if (m_versionString.empty() || other.empty()) {
        return false;
    }
    const auto mine = splitAtDots(m_versionString);
    const auto theirs = splitAtDots(other);
    if (mine.size() != 2 || theirs.size() != 2) {
        return false;
    }
    for (std::size_t position = 0; position < 2; ++position) {
        const std::int32_t own = componentValue(mine[position]);
        const std::int32_t others = componentValue(theirs[position]);
        if (others != own) {
            return others > own;
        }
    }
    return true;
}

} // namespace vantrel
