#include "core/Error.h"

#include <fmt/format.h>

namespace vantrel {

std::string Error::text() const
{
    if (domain == description) {
        return fmt::format("{} ({})", description, code);
    }
    return fmt::format("{} ({} {})", description, domain, code);
}

} // namespace vantrel
