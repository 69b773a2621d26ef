#include "core/CRUDHelper.h"

#include <algorithm>

namespace vantrel {

JsonField CRUDHelper::getValueForKey(std::string_view key, const Json& dictionary)
{
    if (!dictionary.is_object()) {
        return {};
    }
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? JsonField() : *found;
}

void CRUDHelper::putValue(const JsonField& value, std::string_view key, Json& dictionary)
{
    if (!dictionary.is_object()) {
        dictionary = Json::object();
    }
    if (isPresent(value)) {
        dictionary[std::string(key)] = value;
    } else {
        dictionary.erase(std::string(key));
    }
}

void CRUDHelper::putObject(const JsonField& value, std::string_view key, Json& dictionary)
{
    if (isPresent(value)) {
        putValue(value, key, dictionary);
    }
}

Json CRUDHelper::sortArray(const Json& array, std::string_view field, bool ascending)
{
    if (!array.is_array()) {
        return Json::array();
    }
    std::vector<Json> elements = array.get<std::vector<Json>>();
    std::stable_sort(elements.begin(), elements.end(), [field, ascending](const Json& left, const Json& right) {
        const JsonField leftKey = getValueForKey(field, left);
        const JsonField rightKey = getValueForKey(field, right);
        return ascending ? leftKey < rightKey : rightKey < leftKey;
    });
    return Json(std::move(elements));
}

Json CRUDHelper::setToSortedArray(const std::vector<Json>& set, std::string_view field, bool ascending)
{
    return sortArray(Json(set), field, ascending);
}

} // namespace vantrel
