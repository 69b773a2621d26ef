#pragma once

#include "core/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vantrel {

/**
 * One prepared SQLite statement, finalized when this goes away. Values reach the statement only through the
 * bind calls, never through its text. Used by one thread at a time, like the connection it belongs to.
 */
class SqliteStatement {
public:
    enum class Step { row, done };

    /**
     * The statement's use from its first bind to its last read: leaving the scope rewinds the statement and clears
     * its bindings, so no read stays open (an open read would pin the connection to an old snapshot of the file).
     */
    class Use {
    public:
        explicit Use(SqliteStatement& statement)
            : m_statement(statement)
        {
        }
        ~Use() { m_statement.reset(); }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        SqliteStatement& m_statement;
    };

    SqliteStatement() = default;
    /** Takes ownership of statement, prepared on connection. */
    SqliteStatement(sqlite3* connection, sqlite3_stmt* statement);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    [[nodiscard]] Use use() { return Use(*this); }

    // Parameters count from 1, as in the statement's text (?1, ?2, ...).
    void bindNull(int index);
    void bindText(int index, std::string_view text);
    void bindInteger(int index, std::int64_t value);
    void bindReal(int index, double value);

    /** Runs one step: a row is ready to read, or the statement is done. */
    Result<Step> step();
    /** Runs a statement that returns no rows to its end. */
    Result<void> run();

    /** The row that the connection's latest successful insert added. */
    std::int64_t lastInsertedRow() const;

    // Columns count from 0.
    bool isNull(int column) const;
    bool isInteger(int column) const;
    bool isReal(int column) const;
    std::optional<std::string> text(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;

    /** Rewinds the statement and clears its bindings. */
    void reset();

private:
    void finalize();

    sqlite3* m_connection = nullptr; // not owned; the connection outlives its statements
    sqlite3_stmt* m_statement = nullptr; // owned
};

/** The SQLite failure with this result code on connection, as an error value. */
Error sqliteError(sqlite3* connection, int resultCode);

} // namespace vantrel
