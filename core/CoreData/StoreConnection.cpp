#include "core/CoreData/StoreConnection.h"

#include "core/CoreData/SearchFolding.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace vantrel {
namespace {

void foldForSearchFunction(sqlite3_context* call, int argumentCount, sqlite3_value** arguments)
{
    if (argumentCount != 1 || sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(call);
        return;
    }
    const auto* bytes = sqlite3_value_text(arguments[0]);
    const int size = sqlite3_value_bytes(arguments[0]);
    const std::string folded =
        foldForSearch(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)));
    sqlite3_result_text64(call, folded.data(), folded.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

} // namespace

Result<std::unique_ptr<StoreConnection>> StoreConnection::open(const std::filesystem::path& file)
{
    sqlite3* handle = nullptr;
    // No mutex of SQLite's own per call: a connection is used by one thread at a time (the coordinator's store
    // lock keeps removeStore apart from the context's operations).
    const int opened = sqlite3_open_v2(file.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<StoreConnection> connection(new StoreConnection(handle));
    if (opened != SQLITE_OK) {
        return sqliteError(handle, opened);
    }
    sqlite3_extended_result_codes(handle, 1);
    sqlite3_busy_timeout(handle, kBusyTimeoutMilliseconds);
    const int registered =
        sqlite3_create_function_v2(handle, "fold_for_search", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                   nullptr, foldForSearchFunction, nullptr, nullptr, nullptr);
    if (registered != SQLITE_OK) {
        return sqliteError(handle, registered);
    }
    // A cache that can be fetched again needs no sync on every commit; the log keeps the file consistent. The
    // page cache (up to 16 MiB, taken as used) holds a whole cache of ten thousand devices, so that a search or
    // a list reads memory instead of asking the system for every page again.
    if (auto tuned = connection->execute("PRAGMA synchronous = NORMAL; PRAGMA cache_size = -16384"); !tuned) {
        return tuned.error();
    }
    return connection;
}

StoreConnection::StoreConnection(sqlite3* handle)
    : m_handle(handle)
{
}

StoreConnection::~StoreConnection()
{
    // Statements still alive keep the connection as a zombie until they are finalized.
    sqlite3_close_v2(m_handle);
}

Result<void> StoreConnection::execute(const char* sql)
{
    const int code = sqlite3_exec(m_handle, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        return sqliteError(m_handle, code);
    }
    return {};
}

Result<SqliteStatement> StoreConnection::prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v3(m_handle, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (code != SQLITE_OK) {
        return sqliteError(m_handle, code);
    }
    return SqliteStatement(m_handle, statement);
}

Result<std::int64_t> StoreConnection::queryInteger(const char* sql)
{
    auto prepared = prepare(sql);
    if (!prepared) {
        return prepared.error();
    }
    SqliteStatement& statement = prepared.value();
    const auto use = statement.use();
    auto stepped = statement.step();
    if (!stepped) {
        return stepped.error();
    }
    return stepped.value() == SqliteStatement::Step::row ? statement.integer(0) : 0;
}

bool StoreConnection::inTransaction() const
{
    return sqlite3_get_autocommit(m_handle) == 0;
}

} // namespace vantrel
