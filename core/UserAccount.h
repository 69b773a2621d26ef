#pragma once

#include "core/JsonValue.h"

namespace vantrel {

/** An account record of the service. */
struct UserAccount {
    JsonField userId;
    JsonField isDeveloper;
    JsonField companyId;
    JsonField companyName;
    JsonField databaseId;
    JsonField databaseName;

    static UserAccount fromDictionary(const Json& dictionary);
    /** Reads "user_id" from a "profile" sub-dictionary when there is one, else from the top level. */
    void inflate(const Json& dictionary);
    /** Always writes "is_developer" (setting it to 0 on the record first when it is absent). */
    Json toDictionary();
};

} // namespace vantrel
