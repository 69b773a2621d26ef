#pragma once

#include "core/Error.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

/** Domain of the device store's errors. */
inline constexpr const char* kStoreErrorDomain = "DeviceStore";

/** Domain of the SQLite failures that a store error stands for; the code is SQLite's extended result code. */
inline constexpr const char* kSqliteErrorDomain = "SQLite";

/** Stable codes of the device store's errors. */
enum class StoreErrorCode : std::int64_t {
    noStore = 1, ///< the context has no store (it could not be opened, or it was cleared)
    cannotOpen = 2, ///< the store file could not be opened or created
    wrongSchema = 3, ///< the file is a database, but not one this build can read or migrate
    migration = 4, ///< bringing an older store up to date failed
    statement = 5, ///< a read or a write failed
    save = 6, ///< committing the context's changes failed
    badAnswer = 7, ///< a device list that is not a list of device objects
};

/** An error of the device store, optionally standing for a lower-level failure. */
Error storeError(StoreErrorCode code, std::string description, std::optional<Error> underlying = std::nullopt);

/** Whether error is the store error with this code. */
bool isStoreError(const Error& error, StoreErrorCode code);

/** Logs a failure the store cannot resolve: "Unresolved error <error>, <the failure it stands for>". */
void logUnresolved(const Error& error);

} // namespace vantrel
