#include "core/PortNumber.h"

namespace vantrel {

std::optional<std::uint16_t> portNumberOf(const JsonField& value)
{
    const auto text = textOf(value);
    const bool numeric = value.is_number_integer() || value.is_number_unsigned()
        || (text && !text->empty() && text->size() <= 5 && text->find_first_not_of("0123456789") == std::string::npos);
    const std::int64_t port = numeric ? integerValueOf(value) : 0;
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

} // namespace vantrel
