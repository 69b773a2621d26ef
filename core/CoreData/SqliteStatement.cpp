#include "core/CoreData/SqliteStatement.h"

#include "core/CoreData/StoreError.h"

#include <sqlite3.h>

#include <utility>

namespace vantrel {

Error sqliteError(sqlite3* connection, int resultCode)
{
    const char* message = connection != nullptr ? sqlite3_errmsg(connection) : sqlite3_errstr(resultCode);
    return Error {kSqliteErrorDomain, resultCode, message != nullptr ? message : "", nullptr};
}

SqliteStatement::SqliteStatement(sqlite3* connection, sqlite3_stmt* statement)
    : m_connection(connection)
    , m_statement(statement)
{
}

SqliteStatement::~SqliteStatement()
{
    finalize();
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_connection(std::exchange(other.m_connection, nullptr))
    , m_statement(std::exchange(other.m_statement, nullptr))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        finalize();
        m_connection = std::exchange(other.m_connection, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

void SqliteStatement::finalize()
{
    if (m_statement != nullptr) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
}

void SqliteStatement::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
}

void SqliteStatement::bindText(int index, std::string_view text)
{
    sqlite3_bind_text64(m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void SqliteStatement::bindInteger(int index, std::int64_t value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

void SqliteStatement::bindReal(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
}

Result<SqliteStatement::Step> SqliteStatement::step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW) {
        return Step::row;
    }
    if (code == SQLITE_DONE) {
        return Step::done;
    }
    return sqliteError(m_connection, code);
}

Result<void> SqliteStatement::run()
{
    const auto use = this->use();
    auto stepped = step();
    if (!stepped) {
        return stepped.error();
    }
    return {};
}

std::int64_t SqliteStatement::lastInsertedRow() const
{
    return sqlite3_last_insert_rowid(m_connection);
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

bool SqliteStatement::isInteger(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER;
}

bool SqliteStatement::isReal(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_FLOAT;
}

std::optional<std::string> SqliteStatement::text(int column) const
{
    const auto* bytes = sqlite3_column_text(m_statement, column);
    if (bytes == nullptr) {
        return std::nullopt;
    }
    const int size = sqlite3_column_bytes(m_statement, column);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

std::int64_t SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

} // namespace vantrel
