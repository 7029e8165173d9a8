// The embedded database: one file, written by several processes of one machine at once
// through its write-ahead log, each waiting for the others' locks up to the busy timeout.
#include <sqlite3.h>

#include "sql_database.h"

namespace {

std::string sqliteTimeParameter() {
    return "?";
}
std::string sqliteTimeText(const std::string& column) {
    return column;
}

// Times are stored as UTC text that sorts as it reads and that SQLite's date functions
// take ("datetime('now', '-7 days')").
const Dialect kSqlite = {"SQLite", "REAL", "TEXT", sqliteTimeParameter, sqliteTimeText};

class SqliteDatabase : public SqlDatabase {
public:
    using SqlDatabase::run;
    ~SqliteDatabase() override { sqlite3_close(db_); }

    bool open(const std::string& path, int busyMs, SqlAccess access, std::string* error) {
        const int flags = (access == SqlAccess::Read ? SQLITE_OPEN_READONLY
                                                     : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                          SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            *error = path + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
            return false;
        }
        sqlite3_busy_timeout(db_, busyMs);
        if (access == SqlAccess::Read) {
            return true;
        }
        if (!useWriteAheadLog(busyMs, error) || !run("PRAGMA foreign_keys=ON", error)) {
            *error = path + ": " + *error;
            return false;
        }
        return true;
    }

    // The switch to the write-ahead log needs the file to itself and does not wait for the
    // busy timeout: processes that open a new database at once retry until one of them has
    // switched it, which lasts.
    bool useWriteAheadLog(int busyMs, std::string* error) {
        for (int waited = 0;; waited += 10) {
            std::vector<SqlRow> mode;
            if (run("PRAGMA journal_mode=WAL", {}, &mode, error) && !mode.empty()) {
                if (mode[0].text[0] == "wal") {
                    return true;
                }
                *error = "no write-ahead log here (journal mode " + mode[0].text[0] + ")";
                return false;
            }
            if (waited >= busyMs) {
                return false;
            }
            sqlite3_sleep(10);
        }
    }

    const Dialect& dialect() const override { return kSqlite; }

    bool run(const std::string& sql, const std::vector<SqlValue>& parameters,
             std::vector<SqlRow>* rows, std::string* error) override {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            *error = sqlite3_errmsg(db_);
            return false;
        }
        bool ok = bind(statement, parameters, error);
        while (ok) {
            const int step = sqlite3_step(statement);
            if (step == SQLITE_DONE) {
                break;
            }
            if (step != SQLITE_ROW) {
                *error = sqlite3_errmsg(db_);
                ok = false;
            } else if (rows != nullptr) {
                rows->push_back(readRow(statement));
            }
        }
        sqlite3_finalize(statement);
        return ok;
    }

    bool insertRows(const std::string& table, const std::vector<std::string>& columns,
                    const std::vector<std::vector<SqlValue>>& rows, std::string* error) override {
        std::string sql = "INSERT INTO " + table + " (";
        std::string marks;
        for (size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + columns[i];
            marks += i ? ", ?" : "?";
        }
        sql += ") VALUES (" + marks + ")";
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            *error = sqlite3_errmsg(db_);
            return false;
        }
        bool ok = true;
        for (size_t r = 0; ok && r < rows.size(); ++r) {
            ok = bind(statement, rows[r], error);
            if (ok && sqlite3_step(statement) != SQLITE_DONE) {
                *error = sqlite3_errmsg(db_);
                ok = false;
            }
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
        return ok;
    }

    bool beginWrite(std::string* error) override { return run("BEGIN IMMEDIATE", error); }
    // BEGIN IMMEDIATE already holds the one write lock.
    bool lockSchema(std::string*) override { return true; }

private:
    bool bind(sqlite3_stmt* statement, const std::vector<SqlValue>& parameters,
              std::string* error) {
        for (size_t i = 0; i < parameters.size(); ++i) {
            const SqlValue& value = parameters[i];
            const int at = int(i) + 1;
            const int result =
                value.kind == SqlValue::Text
                    ? sqlite3_bind_text(statement, at, value.text.c_str(), int(value.text.size()),
                                        SQLITE_TRANSIENT)
                : value.kind == SqlValue::Real    ? sqlite3_bind_double(statement, at, value.real)
                : value.kind == SqlValue::Integer ? sqlite3_bind_int64(statement, at, value.integer)
                                                  : sqlite3_bind_null(statement, at);
            if (result != SQLITE_OK) {
                *error = sqlite3_errmsg(db_);
                return false;
            }
        }
        return true;
    }

    static SqlRow readRow(sqlite3_stmt* statement) {
        SqlRow row;
        const int count = sqlite3_column_count(statement);
        for (int c = 0; c < count; ++c) {
            const bool null = sqlite3_column_type(statement, c) == SQLITE_NULL;
            const unsigned char* text = sqlite3_column_text(statement, c);
            row.text.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
            row.isNull.push_back(null);
        }
        return row;
    }

    sqlite3* db_ = nullptr;
};

} // namespace

std::unique_ptr<SqlDatabase> openSqliteDatabase(const std::string& path, int busyMs,
                                                std::string* error, SqlAccess access) {
    std::unique_ptr<SqliteDatabase> db(new SqliteDatabase);
    if (!db->open(path, busyMs, access, error)) {
        return nullptr;
    }
    return db;
}
