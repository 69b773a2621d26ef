#pragma once

#include "core/CRUDHelper.h"

#include <span>

namespace vantrel {

/** One record field and the dictionary key it converts under. */
template <class Record>
struct KeyedField {
    const char* key;
    JsonField Record::*member;
};

/** Reads every listed field from the dictionary (absent when missing or null). */
template <class Record>
void inflateKeyedFields(Record& record, std::span<const KeyedField<Record>> fields, const Json& dictionary)
{
    for (const auto& field : fields) {
        record.*field.member = CRUDHelper::getValueForKey(field.key, dictionary);
    }
}

/** Writes every present listed field into the dictionary; absent fields leave their keys out. */
template <class Record>
void putKeyedFields(const Record& record, std::span<const KeyedField<Record>> fields, Json& dictionary)
{
    for (const auto& field : fields) {
        CRUDHelper::putValue(record.*field.member, field.key, dictionary);
    }
}

} // namespace vantrel
