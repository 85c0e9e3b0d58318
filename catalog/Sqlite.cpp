#include "catalog/Sqlite.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace treelan::catalog {

std::string DescribeFailure(sqlite3* db, int code, const std::string& path) {
    const int primary = code & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return path + ": catalogue busy (another treelan-cli is writing it; try again later)";
    if (primary == SQLITE_FULL)
        return path + ": cannot write the catalogue: " + std::strerror(ENOSPC);
    if (primary == SQLITE_NOTADB)
        return path + ": not a catalogue (the file is not an SQLite database)";
    if (primary == SQLITE_CORRUPT)
        return path + ": the catalogue is damaged (" + (db ? sqlite3_errmsg(db) : "corrupt") +
               "); 'treelan-cli catalog check' tells more";
    if (primary == SQLITE_READONLY) return path + ": cannot write the catalogue: it is read-only";
    if (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_PERM) {
        const int err = db ? sqlite3_system_errno(db) : 0;
        const std::string reason = err != 0 ? std::strerror(err) : sqlite3_errstr(code);
        return path + ": cannot " + (primary == SQLITE_CANTOPEN ? "open" : "read or write") +
               " the catalogue: " + reason;
    }
    return path + ": catalogue failure: " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

Statement::Statement(sqlite3* db, std::string_view sql, const std::string* path) : m_path(path) {
    const int rc = sqlite3_prepare_v3(db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                      &m_stmt, nullptr);
    if (rc != SQLITE_OK) throw CatalogError(DescribeFailure(db, rc, path ? *path : std::string()));
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement&& other) noexcept
    : m_stmt(std::exchange(other.m_stmt, nullptr)), m_path(other.m_path) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    std::swap(m_stmt, other.m_stmt);
    m_path = other.m_path;
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob64(m_stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) {
        sqlite3_reset(m_stmt);
        return false;
    }
    sqlite3* db = sqlite3_db_handle(m_stmt);
    const std::string message = DescribeFailure(db, rc, m_path ? *m_path : std::string());
    sqlite3_reset(m_stmt);
    throw CatalogError(message);
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string_view Statement::text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return p ? std::string_view(p, std::size_t(sqlite3_column_bytes(m_stmt, column)))
             : std::string_view();
}

std::string_view Statement::blob(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    return p ? std::string_view(p, std::size_t(sqlite3_column_bytes(m_stmt, column)))
             : std::string_view();
}

int Statement::type(int column) const {
    return sqlite3_column_type(m_stmt, column);
}

Database::~Database() {
    close();
}

void Database::open(const std::string& uri, int flags, const std::string& displayPath) {
    // No statistics of SQLite's memory use, which nothing reads: they cost a lock and two counters
    // on every allocation. Set before the library starts, that is before the first open.
    static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)configured;
    close();
    m_path = displayPath;
    const int rc = sqlite3_open_v2(uri.c_str(), &m_db, flags | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = DescribeFailure(m_db, rc, m_path);
        close();
        throw CatalogError(message);
    }
    sqlite3_extended_result_codes(m_db, 1);
}

void Database::close() {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void Database::exec(std::string_view sql) {
    const std::string text(sql);
    const int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc);
}

std::int64_t Database::number(std::string_view sql) {
    Statement s = prepare(sql);
    std::int64_t v = 0;
    if (s.step()) v = s.integer(0);
    s.reset();
    return v;
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int Database::changes() const {
    return sqlite3_changes(m_db);
}

void Database::fail(int code) const {
    throw CatalogError(DescribeFailure(m_db, code, m_path));
}

BatchInsert::BatchInsert(Database& db, std::string target, int columns, int rowsPerInsert)
    : m_db(db), m_target(std::move(target)), m_columns(columns),
      m_perInsert(std::size_t(rowsPerInsert)), m_values(m_perInsert * std::size_t(columns)) {}

Statement& BatchInsert::statement(std::size_t rows) {
    Statement& s = rows == m_perInsert ? m_full : m_one;
    if (!s.prepared()) {
        // OR FAIL: a row that broke a constraint would end the statement without undoing the rows
        // before it, so SQLite keeps no statement journal (a temporary file it rewrote for every
        // insert of many rows); the transaction as a whole still rolls back.
        std::string sql = "INSERT OR FAIL INTO " + m_target + " VALUES";
        int parameter = 1;
        for (std::size_t r = 0; r < (rows == m_perInsert ? rows : 1); ++r) {
            sql += r == 0 ? "(" : ",(";
            for (int c = 0; c < m_columns; ++c)
                sql += (c == 0 ? "?" : ",?") + std::to_string(parameter++);
            sql += ')';
        }
        s = m_db.prepare(sql);
    }
    return s;
}

void BatchInsert::row() {
    if (m_rows == m_perInsert) flush();
    ++m_rows;
    for (int c = 0; c < m_columns; ++c)
        cell(c).type = Value::Type::Null;
}

void BatchInsert::set(int column, std::int64_t value) {
    Value& v = cell(column);
    v.type = Value::Type::Integer;
    v.integer = value;
}

void BatchInsert::setText(int column, std::string_view text) {
    Value& v = cell(column);
    v.type = Value::Type::Text;
    v.bytes.assign(text);
}

void BatchInsert::setBlob(int column, std::string_view bytes) {
    Value& v = cell(column);
    v.type = Value::Type::Blob;
    v.bytes.assign(bytes);
}

std::string_view BatchInsert::pendingBytes(std::size_t row, int column) const {
    return m_values[row * std::size_t(m_columns) + std::size_t(column)].bytes;
}

bool BatchInsert::pendingNull(std::size_t row, int column) const {
    return m_values[row * std::size_t(m_columns) + std::size_t(column)].type == Value::Type::Null;
}

void BatchInsert::flush() {
    const auto bindRow = [this](Statement& s, std::size_t row, int first) {
        for (int c = 0; c < m_columns; ++c) {
            const Value& v = m_values[row * std::size_t(m_columns) + std::size_t(c)];
            switch (v.type) {
            case Value::Type::Null:
                s.bindNull(first + c);
                break;
            case Value::Type::Integer:
                s.bind(first + c, v.integer);
                break;
            case Value::Type::Text:
                s.bind(first + c, std::string_view(v.bytes));
                break;
            case Value::Type::Blob:
                s.bindBlob(first + c, v.bytes);
                break;
            }
        }
    };
    if (m_rows == m_perInsert) {
        Statement& s = statement(m_perInsert);
        for (std::size_t r = 0; r < m_rows; ++r)
            bindRow(s, r, int(r) * m_columns + 1);
        s.run();
    } else {
        Statement& s = statement(1);
        for (std::size_t r = 0; r < m_rows; ++r) {
            bindRow(s, r, 1);
            s.run();
        }
    }
    m_rows = 0;
}

Transaction::Transaction(Database& db, bool immediate) : m_db(db) {
    m_db.exec(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (m_open) sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace treelan::catalog
