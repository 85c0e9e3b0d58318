#pragma once

// A thin layer over SQLite's C API: prepared statements that reset themselves, failures as
// exceptions that say what failed in the user's words.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace treelan::catalog {

// A failure of the catalogue; the commands show `what()` and exit with status 2.
class CatalogError : public std::runtime_error {
public:
    explicit CatalogError(const std::string& message) : std::runtime_error(message) {}
};

// What a failed SQLite call means for the user of the catalogue at `path`: "catalogue busy",
// the disk full, a damaged file, the system's reason for a failed read or write.
std::string DescribeFailure(sqlite3* db, int code, const std::string& path);

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql, const std::string* path);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1, as in SQL.
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bindNull(int index);
    // The next row: true when there is one; false at the end, when the statement resets itself.
    bool step();
    // Runs to the end.
    void run();
    void reset();

    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    std::string_view text(int column) const;
    std::string_view blob(int column) const;
    // SQLITE_INTEGER, SQLITE_TEXT, ...
    int type(int column) const;
    bool prepared() const { return m_stmt != nullptr; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    const std::string* m_path = nullptr;
};

// One connection.
class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // `flags`: SQLITE_OPEN_*. Throws CatalogError naming `displayPath`.
    void open(const std::string& uri, int flags, const std::string& displayPath);
    void close();
    sqlite3* handle() const { return m_db; }
    const std::string& path() const { return m_path; }

    void exec(std::string_view sql);
    Statement prepare(std::string_view sql) { return Statement(m_db, sql, &m_path); }
    // The first column of the first row of a query that gives one number.
    std::int64_t number(std::string_view sql);
    std::int64_t lastInsertId() const;
    int changes() const;
    [[noreturn]] void fail(int code) const;

private:
    sqlite3* m_db = nullptr;
    std::string m_path;
};

// Rows for one table, kept until there are enough for one INSERT of many rows: SQLite spends
// more on running a statement than on the row it adds.
class BatchInsert {
public:
    // `target`: "table(col1, col2, ...)" with `columns` columns.
    BatchInsert(Database& db, std::string target, int columns, int rowsPerInsert = 64);

    // Starts a row; set each of its columns, then start the next one.
    void row();
    void set(int column, std::int64_t value);
    void setText(int column, std::string_view text);
    void setBlob(int column, std::string_view bytes);
    // Column values not set are NULL.

    // The value of a column of a row not yet written (rows count from the last flush).
    std::string_view pendingBytes(std::size_t row, int column) const;
    bool pendingNull(std::size_t row, int column) const;
    std::size_t pending() const { return m_rows; }

    // Writes what is kept.
    void flush();

private:
    struct Value {
        enum class Type : unsigned char { Null, Integer, Text, Blob } type = Type::Null;
        std::int64_t integer = 0;
        std::string bytes;
    };
    Statement& statement(std::size_t rows);
    Value& cell(int column) {
        return m_values[(m_rows - 1) * std::size_t(m_columns) + std::size_t(column)];
    }

    Database& m_db;
    std::string m_target;
    int m_columns;
    std::size_t m_perInsert;
    std::vector<Value> m_values;
    std::size_t m_rows = 0;
    Statement m_full;
    Statement m_one;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    // IMMEDIATE: takes the write lock at once, waiting as long as the busy timeout says.
    explicit Transaction(Database& db, bool immediate = true);
    ~Transaction();
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

} // namespace treelan::catalog
