// A line of stations writing to one PostgreSQL server, through libpq.
#include <libpq-fe.h>

#include <cstdio>

#include "sql_database.h"

namespace {

std::string postgresTimeParameter() {
    return "CAST(? AS timestamptz)";
}
std::string postgresTimeText(const std::string& column) {
    return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS')";
}

const Dialect kPostgres = {"PostgreSQL", "DOUBLE PRECISION", "TIMESTAMPTZ", postgresTimeParameter,
                           postgresTimeText};

// Any key of ours for the schema's advisory lock: "korv" in ASCII.
constexpr long long kSchemaLockKey = 0x6b6f7276;

// libpq's messages span lines: one line, for a message that goes on one.
std::string trimmed(const char* message) {
    std::string text;
    for (const char* c = message != nullptr ? message : ""; *c != 0; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank) {
            text += *c;
        } else if (!text.empty() && text.back() != ' ') {
            text += ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string valueText(const SqlValue& value) {
    if (value.kind == SqlValue::Real) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", value.real);
        return text;
    }
    return value.kind == SqlValue::Integer ? std::to_string(value.integer) : value.text;
}

// COPY's text format: tab between columns, \N for NULL, backslash escapes.
void appendCopyValue(const SqlValue& value, std::string* line) {
    if (value.kind == SqlValue::Null) {
        *line += "\\N";
        return;
    }
    for (char c : valueText(value)) {
        switch (c) {
        case '\\':
            *line += "\\\\";
            break;
        case '\t':
            *line += "\\t";
            break;
        case '\n':
            *line += "\\n";
            break;
        case '\r':
            *line += "\\r";
            break;
        default:
            *line += c;
        }
    }
}

class PostgresDatabase : public SqlDatabase {
public:
    using SqlDatabase::run;
    ~PostgresDatabase() override { PQfinish(connection_); }

    bool open(const std::string& uri, int busyMs, std::string* error) {
        // The URI is expanded as dbname; a connection that does not answer is given up.
        const char* keys[] = {"dbname", "connect_timeout", nullptr};
        const std::string seconds = std::to_string(busyMs / 1000 > 2 ? busyMs / 1000 : 2);
        const char* values[] = {uri.c_str(), seconds.c_str(), nullptr};
        connection_ = PQconnectdbParams(keys, values, 1);
        if (PQstatus(connection_) != CONNECTION_OK) {
            *error = trimmed(PQerrorMessage(connection_));
            return false;
        }
        PQsetClientEncoding(connection_, "UTF8");
        const std::string timeouts = "SET lock_timeout = " + std::to_string(busyMs);
        return run(timeouts, error) && run("SET client_min_messages = warning", error);
    }

    const Dialect& dialect() const override { return kPostgres; }

    bool run(const std::string& sql, const std::vector<SqlValue>& parameters,
             std::vector<SqlRow>* rows, std::string* error) override {
        std::string numbered;
        int n = 0;
        for (char c : sql) {
            numbered += c == '?' ? "$" + std::to_string(++n) : std::string(1, c);
        }
        std::vector<std::string> texts;
        for (const SqlValue& value : parameters) {
            texts.push_back(valueText(value));
        }
        std::vector<const char*> pointers;
        for (size_t i = 0; i < parameters.size(); ++i) {
            pointers.push_back(parameters[i].kind == SqlValue::Null ? nullptr : texts[i].c_str());
        }
        PGresult* result = PQexecParams(connection_, numbered.c_str(), int(pointers.size()),
                                        nullptr, pointers.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok) {
            *error = trimmed(PQresultErrorMessage(result));
        } else if (rows != nullptr) {
            for (int r = 0; r < PQntuples(result); ++r) {
                SqlRow row;
                for (int c = 0; c < PQnfields(result); ++c) {
                    row.text.emplace_back(PQgetvalue(result, r, c));
                    row.isNull.push_back(PQgetisnull(result, r, c) != 0);
                }
                rows->push_back(std::move(row));
            }
        }
        PQclear(result);
        return ok;
    }

    bool insertRows(const std::string& table, const std::vector<std::string>& columns,
                    const std::vector<std::vector<SqlValue>>& rows, std::string* error) override {
        std::string sql = "COPY " + table + " (";
        for (size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + columns[i];
        }
        sql += ") FROM STDIN";
        PGresult* start = PQexec(connection_, sql.c_str());
        const bool copying = PQresultStatus(start) == PGRES_COPY_IN;
        PQclear(start);
        if (!copying) {
            *error = trimmed(PQerrorMessage(connection_));
            return false;
        }
        std::string data;
        for (const std::vector<SqlValue>& row : rows) {
            for (size_t i = 0; i < row.size(); ++i) {
                if (i) {
                    data += '\t';
                }
                appendCopyValue(row[i], &data);
            }
            data += '\n';
        }
        bool ok = PQputCopyData(connection_, data.data(), int(data.size())) == 1 &&
                  PQputCopyEnd(connection_, nullptr) == 1;
        PGresult* result = nullptr;
        while ((result = PQgetResult(connection_)) != nullptr) {
            ok = ok && PQresultStatus(result) == PGRES_COMMAND_OK;
            PQclear(result);
        }
        if (!ok) {
            *error = trimmed(PQerrorMessage(connection_));
        }
        return ok;
    }

    bool beginWrite(std::string* error) override { return run("BEGIN", error); }

    bool lockSchema(std::string* error) override {
        return run("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLockKey) + ")", {},
                   nullptr, error);
    }

private:
    PGconn* connection_ = nullptr;
};

} // namespace

bool postgresBuiltIn() {
    return true;
}

std::unique_ptr<SqlDatabase> openPostgresDatabase(const std::string& uri, int busyMs,
                                                  std::string* error) {
    std::unique_ptr<PostgresDatabase> db(new PostgresDatabase);
    if (!db->open(uri, busyMs, error)) {
        return nullptr;
    }
    return db;
}
