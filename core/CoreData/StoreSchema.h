#pragma once

#include "core/Result.h"

#include <cstdint>
#include <filesystem>

namespace vantrel {

class StoreConnection;

/**
 * The layout of the store file and how an older one is brought up to date. The file records its layout version
 * (SQLite's user_version); each version is reached from the one before by one migration step, so a store written
 * by any older build opens and keeps its rows:
 *   1  the device table, one column per attribute;
 *   2  folded copies of name and description for the case- and diacritic-insensitive search, an index of
 *      them in entity_index order, and an index on serial.
 */
class StoreSchema {
public:
    static constexpr std::int64_t kCurrentVersion = 2;

    StoreSchema() = delete;

    /**
     * Makes the file at path a usable store of the current version: opens or creates it, turns on the
     * write-ahead log, creates or migrates the table, and proves the result by preparing every device statement.
     * Fails for a file that is not a database, a database of another kind, or a newer version.
     */
    static Result<void> prepareStore(const std::filesystem::path& file);

    /** Creates or migrates the table on connection, in one transaction (so a failed step changes nothing). */
    static Result<void> migrate(StoreConnection& connection);
};

} // namespace vantrel
