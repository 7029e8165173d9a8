#include "record_schema.h"

#include <cstdlib>
#include <vector>

#include "platform/file_status.h"

namespace {

// "{REAL}" and "{TIME}" stand for the dialect's types.
const std::vector<std::vector<const char*>>& upgrades() {
    static const std::vector<std::vector<const char*>> steps = {
        // 1: the units, their channels and the channels' curves.
        {"CREATE TABLE units (id TEXT PRIMARY KEY, measured_at {TIME} NOT NULL, "
         "station TEXT NOT NULL, serial TEXT NOT NULL, korvane_version TEXT NOT NULL, "
         "command TEXT NOT NULL, played_file TEXT NOT NULL, played_sha256 TEXT NOT NULL, "
         "sample_rate {REAL}, sweep_from_hz {REAL}, sweep_to_hz {REAL}, sweep_seconds {REAL}, "
         "limits_file TEXT, limits_sha256 TEXT, verdict TEXT NOT NULL)",
         "CREATE TABLE channels (unit_id TEXT NOT NULL REFERENCES units (id), "
         "channel INTEGER NOT NULL, verdict TEXT NOT NULL, reason TEXT, "
         "worst_margin_db {REAL}, worst_frequency_hz {REAL}, reference_db {REAL}, "
         "delay_frames {REAL}, drift_ppm {REAL}, highest_thd_percent {REAL}, "
         "PRIMARY KEY (unit_id, channel))",
         "CREATE TABLE curve_points (unit_id TEXT NOT NULL, channel INTEGER NOT NULL, "
         "point INTEGER NOT NULL, frequency_hz {REAL} NOT NULL, magnitude_db {REAL}, "
         "phase_deg {REAL}, thd_percent {REAL}, noise_floor_db {REAL}, "
         "PRIMARY KEY (unit_id, channel, point), "
         "FOREIGN KEY (unit_id, channel) REFERENCES channels (unit_id, channel))"},
        // 2: what the reports and a line's queries select by.
        {"CREATE INDEX units_by_time ON units (measured_at)",
         "CREATE INDEX units_by_station ON units (station, measured_at)",
         "CREATE INDEX channels_by_verdict ON channels (verdict)"},
        // 3: a reason code per channel, for a Pareto of failures in one GROUP BY, and the
        // serial a unit's runs are found by.
        {"ALTER TABLE channels ADD COLUMN reason_code TEXT",
         "CREATE INDEX units_by_serial ON units (serial, measured_at)"},
        // 4: a loudspeaker line's figures: the polarity and the rub and buzz curve.
        {"ALTER TABLE channels ADD COLUMN polarity TEXT",
         "ALTER TABLE curve_points ADD COLUMN rb_peak_db {REAL}"},
    };
    return steps;
}

std::string withTypes(std::string sql, const Dialect& dialect) {
    const std::pair<const char*, const char*> types[] = {{"{REAL}", dialect.realType},
                                                         {"{TIME}", dialect.timeType}};
    for (const auto& type : types) {
        size_t at = 0;
        while ((at = sql.find(type.first, at)) != std::string::npos) {
            sql.replace(at, std::string(type.first).size(), type.second);
        }
    }
    return sql;
}

} // namespace

std::string newerSchemaText(int version) {
    return "the database's records are of schema version " + std::to_string(version) +
           ", newer than this korvane-wav's (" + std::to_string(kRecordSchemaVersion) +
           "): use a newer korvane-wav";
}

namespace {

// The version the database says it has; 0 for a database without the schema.
bool schemaVersion(SqlDatabase* db, int* version, std::string* error) {
    if (!db->run("CREATE TABLE IF NOT EXISTS korvane_schema (version INTEGER NOT NULL)", error)) {
        return false;
    }
    std::vector<SqlRow> rows;
    if (!db->run("SELECT version FROM korvane_schema", {}, &rows, error)) {
        return false;
    }
    *version = rows.empty() ? 0 : std::atoi(rows[0].text[0].c_str());
    if (rows.empty()) {
        return db->run("INSERT INTO korvane_schema (version) VALUES (0)", error);
    }
    return true;
}

// Inside the schema lock: from what the database has up to `version`.
bool upgradeSchema(SqlDatabase* db, int version, std::string* error) {
    int have = 0;
    if (!db->lockSchema(error) || !schemaVersion(db, &have, error)) {
        return false;
    }
    if (have > kRecordSchemaVersion) {
        *error = newerSchemaText(have);
        return false;
    }
    for (int step = have; step < version; ++step) {
        for (const char* sql : upgrades()[size_t(step)]) {
            if (!db->run(withTypes(sql, db->dialect()), error)) {
                *error = "upgrading the records to schema version " + std::to_string(step + 1) +
                         ": " + *error;
                return false;
            }
        }
    }
    return have >= version ||
           db->run("UPDATE korvane_schema SET version = ?", {sqlInteger(version)}, nullptr, error);
}

} // namespace

bool ensureRecordSchema(SqlDatabase* db, std::string* error, int version) {
    // The usual case, a database already up to date, takes no lock.
    std::vector<SqlRow> rows;
    std::string unread;
    if (db->run("SELECT version FROM korvane_schema", {}, &rows, &unread) && rows.size() == 1 &&
        std::atoi(rows[0].text[0].c_str()) == version) {
        return true;
    }
    if (!db->beginWrite(error)) {
        return false;
    }
    if (!upgradeSchema(db, version, error)) {
        std::string ignored;
        db->run("ROLLBACK", &ignored);
        return false;
    }
    return db->run("COMMIT", error);
}

std::unique_ptr<SqlDatabase> openRecordsToRead(const std::string& target, int busyMs,
                                               int* version, std::string* error) {
    if (!isPostgresTarget(target) && fileKind(target.c_str()) == FileKind::Missing) {
        *error = target + ": no such database";
        return nullptr;
    }
    std::unique_ptr<SqlDatabase> db = openSqlDatabase(target, busyMs, error, SqlAccess::Read);
    if (db == nullptr) {
        return nullptr;
    }
    std::vector<SqlRow> rows;
    if (!db->run("SELECT version FROM korvane_schema", {}, &rows, error)) {
        *error = printableTarget(target) + " holds no korvane records (" + *error + ")";
        return nullptr;
    }
    *version = rows.empty() ? 0 : std::atoi(rows[0].text[0].c_str());
    if (*version > kRecordSchemaVersion) {
        *error = printableTarget(target) + ": " + newerSchemaText(*version);
        return nullptr;
    }
    return db;
}
