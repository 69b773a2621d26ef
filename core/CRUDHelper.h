#pragma once

#include "core/JsonValue.h"

#include <string_view>
#include <vector>

namespace vantrel {

/**
 * The dictionary helpers through which every record converts itself. A JSON null counts as absent in both
 * directions: it is never read as a value and never written.
 */
class CRUDHelper {
public:
    CRUDHelper() = delete;

    /** The value under key; absent when the key is missing, the dictionary is absent or not an object, or the value is null. */
    static JsonField getValueForKey(std::string_view key, const Json& dictionary);

    /** Stores a present value under key; an absent value removes the key, so it is missing from the result. */
    static void putValue(const JsonField& value, std::string_view key, Json& dictionary);

    /** Stores the value only when it is present; otherwise leaves the dictionary unchanged. */
    static void putObject(const JsonField& value, std::string_view key, Json& dictionary);

    /** A new array of the elements sorted (stably) by the named member of each element; the input is unchanged. */
    static Json sortArray(const Json& array, std::string_view field, bool ascending);

    /** The elements of an unordered collection, as an array sorted as by sortArray. */
    static Json setToSortedArray(const std::vector<Json>& set, std::string_view field, bool ascending);
};

} // namespace vantrel
