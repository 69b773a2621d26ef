#pragma once

#include <string>
#include <string_view>

namespace vantrel {

/**
 * The user-visible text for a key of the string table; a key the table does not have yields the key itself.
 * Core holds the texts of the keys it uses itself ("crv_core_*"); the application adds its own table.
 */
std::string localizedText(std::string_view key);

} // namespace vantrel
