#pragma once

#include "core/CoreData/SqliteStatement.h"
#include "core/Result.h"

#include <cstdint>
#include <filesystem>
#include <memory>

struct sqlite3;

namespace vantrel {

/**
 * One SQLite connection to a store file, closed when this goes away. Each connection waits up to
 * kBusyTimeout for another connection's write to end, syncs in the write-ahead log's NORMAL mode and knows the
 * SQL function fold_for_search(text) (foldForSearch). Used by one thread at a time.
 */
class StoreConnection {
public:
    static constexpr int kBusyTimeoutMilliseconds = 5000;

    /** Opens (creating if missing) the file. Opening does not read the file: a damaged file fails on first use. */
    static Result<std::unique_ptr<StoreConnection>> open(const std::filesystem::path& file);

    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    /** Runs fixed SQL that carries no values (schema changes, pragmas); several statements may follow each other. */
    Result<void> execute(const char* sql);

    /** Prepares one statement, for use with bound values. */
    Result<SqliteStatement> prepare(const char* sql);

    /** The integer in the first column of the first row of a fixed query (a pragma's value, a count). */
    Result<std::int64_t> queryInteger(const char* sql);

    /** Whether a transaction is open on this connection. */
    bool inTransaction() const;

private:
    explicit StoreConnection(sqlite3* handle);

    sqlite3* m_handle; // owned
};

} // namespace vantrel
