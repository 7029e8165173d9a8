// The two databases a record goes to, behind one small interface: statements with "?"
// parameters, rows back as text, and a bulk insert for the curves. The SQL that differs
// between them is named in Dialect; everything else is written once.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

struct SqlValue {
    enum Kind { Null, Text, Real, Integer } kind = Null;
    std::string text;
    double real = 0;
    int64_t integer = 0;
};

SqlValue sqlText(const std::string& text);
SqlValue sqlReal(double value); // NaN and infinities: NULL
SqlValue sqlInteger(int64_t value);

// A row of a result: NULL as an empty optional text would cost more than it says; a NULL
// column reads as "" and isNull says which.
struct SqlRow {
    std::vector<std::string> text;
    std::vector<bool> isNull;
};

// A column's number; NaN for NULL.
inline double sqlNumber(const SqlRow& row, size_t column) {
    return row.isNull[column] ? NAN : std::strtod(row.text[column].c_str(), nullptr);
}

struct Dialect {
    const char* name;     // "SQLite", "PostgreSQL"
    const char* realType; // an 8-byte float
    const char* timeType; // what measured_at is stored as
    // A parameter as a time, and a time column as "YYYY-MM-DD HH:MM:SS" UTC text.
    std::string (*timeParameter)();
    std::string (*timeText)(const std::string& column);
};

class SqlDatabase {
public:
    virtual ~SqlDatabase() = default;
    virtual const Dialect& dialect() const = 0;
    // Runs one statement; rows, when given, receive its result. False with *error.
    virtual bool run(const std::string& sql, const std::vector<SqlValue>& parameters,
                     std::vector<SqlRow>* rows, std::string* error) = 0;
    // Inserts many rows of one table inside the running transaction.
    virtual bool insertRows(const std::string& table, const std::vector<std::string>& columns,
                            const std::vector<std::vector<SqlValue>>& rows, std::string* error) = 0;
    // Starts a transaction that holds the database's write lock from its start, so that
    // concurrent writers wait rather than fail midway.
    virtual bool beginWrite(std::string* error) = 0;
    // Inside a write: keeps other writers out of the schema's creation and upgrade.
    virtual bool lockSchema(std::string* error) = 0;

    bool run(const std::string& sql, std::string* error) { return run(sql, {}, nullptr, error); }
};

// "postgresql://..." or "postgres://..." (and libpq's "key=value" strings are not taken:
// a file could be named so).
bool isPostgresTarget(const std::string& target);
// The target as it may be printed and pasted: a server URI without its password (libpq
// takes it from ~/.pgpass or PGPASSWORD), taken apart by libpq's own parser where the build
// has it; a file's path as it is.
std::string printableTarget(const std::string& target);
// Each backend's: the URI rebuilt without its password; withoutUserInfo where it cannot be
// read.
std::string printablePostgresTarget(const std::string& uri);
// The URI with its user part (up to the last @) and any password parameter left out.
std::string withoutUserInfo(const std::string& uri);
// Opens (an SQLite file is created) and waits at most busyMs for a lock held by another
// writer. Null with *error. For reading, nothing is created or changed, not even the
// journal's mode: a report leaves the file it reads as it was.
enum class SqlAccess { Write, Read };
std::unique_ptr<SqlDatabase> openSqlDatabase(const std::string& target, int busyMs,
                                             std::string* error,
                                             SqlAccess access = SqlAccess::Write);
// Whether this build can reach PostgreSQL servers.
bool postgresBuiltIn();

// One backend each; the PostgreSQL one refuses where the build has no libpq.
std::unique_ptr<SqlDatabase> openSqliteDatabase(const std::string& path, int busyMs,
                                                std::string* error, SqlAccess access);
std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string& uri, int busyMs,
                                                  std::string* error, SqlAccess access);
