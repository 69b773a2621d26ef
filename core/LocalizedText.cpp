#include "core/LocalizedText.h"

#include <map>

namespace vantrel {

std::string localizedText(std::string_view key)
{
    static const std::map<std::string_view, std::string_view> kTexts = {
        {"crv_core_no_connection", "You are not connected to the internet. Check your network and try again."},
        {"crv_core_not_modified", "Nothing has changed since the last request."},
    };
    const auto found = kTexts.find(key);
    return std::string(found == kTexts.end() ? key : found->second);
}

} // namespace vantrel
