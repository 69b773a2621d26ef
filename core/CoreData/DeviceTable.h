#pragma once

#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/SqliteStatement.h"
#include "core/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class StoreConnection;

/**
 * The rows of the device entity on one connection, through statements prepared once when the table is made
 * (preparing them is also how a store proves it has the expected schema). The search columns are derived in SQL
 * from name and device_description on every write. Used on the thread that uses the connection.
 */
class DeviceTable {
public:
    /** Prepares every statement on connection; fails when the store does not have the current schema. */
    static Result<DeviceTable> prepare(StoreConnection& connection);

    Result<std::vector<LocalRESTShellDevice>> fetchAll();
    /** Devices whose folded description or folded name contains foldedText, by entity_index. */
    Result<std::vector<LocalRESTShellDevice>> fetchContaining(const std::string& foldedText);
    /** The objectIDs of fetchAll, read from the narrow search index only. */
    Result<std::vector<std::int64_t>> fetchAllIds();
    /** The objectIDs of fetchContaining, read from the narrow search index only. */
    Result<std::vector<std::int64_t>> fetchIdsContaining(const std::string& foldedText);
    /** The first device whose serial equals serial (absent finds a device without serial). */
    Result<std::optional<LocalRESTShellDevice>> fetchBySerial(const std::optional<std::string>& serial);
    /** Adds a row; the result is its objectID. */
    Result<std::int64_t> insert(const LocalRESTShellDevice& device);
    /** Rewrites the row of device.objectID. */
    Result<void> update(const LocalRESTShellDevice& device);
    Result<void> deleteAll();
    /** The highest entity_index, 0 when there is none. */
    Result<std::int64_t> lastIndex();

private:
    DeviceTable() = default;

    /** The rows of a started statement; expected (an upper bound of their number) sizes the list once. */
    Result<std::vector<LocalRESTShellDevice>> fetchRows(SqliteStatement& statement, std::size_t expected);
    Result<std::vector<std::int64_t>> fetchIds(SqliteStatement& statement);
    /** How many devices the table holds. */
    Result<std::size_t> count();

    SqliteStatement m_selectAll;
    SqliteStatement m_selectContaining;
    SqliteStatement m_selectAllIds;
    SqliteStatement m_selectIdsContaining;
    SqliteStatement m_count;
    SqliteStatement m_selectBySerial;
    SqliteStatement m_insert;
    SqliteStatement m_update;
    SqliteStatement m_deleteAll;
    SqliteStatement m_lastIndex;
};

} // namespace vantrel
