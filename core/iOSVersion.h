#pragma once

#include "core/JsonValue.h"

namespace vantrel {

/** An application's version and build, as the service publishes them or as the running program reports them. */
struct iOSVersion {
    JsonField msgVersion; ///< "version": the marketing version text
    JsonField msgBuild;   ///< "build": the build number text

    static iOSVersion createFromDictionary(const Json& dictionary);
    Json toDictionary() const;

    /** The running program's short version and build. */
    static iOSVersion getCurrentVersion();

    /**
     * True when this record is newer than other in neither build nor version; the texts are read as decimal
     * numbers ("." as the decimal separator, a text that is not a number counts as 0).
     */
    bool checkCompatibility(const iOSVersion& other) const;
};

} // namespace vantrel
