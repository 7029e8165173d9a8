#include "record_log.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "measure/files/text_file.h"
#include "platform/file_open.h"
#include "record.h"
#include "record_json.h"
#include "record_schema.h"

namespace fs = std::filesystem;

namespace {

constexpr int kClaimAttempts = 100;

const std::vector<std::string> kChannelColumns = {"unit_id",
                                                  "channel",
                                                  "verdict",
                                                  "reason",
                                                  "reason_code",
                                                  "worst_margin_db",
                                                  "worst_frequency_hz",
                                                  "reference_db",
                                                  "delay_frames",
                                                  "drift_ppm",
                                                  "highest_thd_percent",
                                                  "polarity"};
const std::vector<std::string> kCurveColumns = {"unit_id",      "channel",       "point",
                                                "frequency_hz", "magnitude_db",  "phase_deg",
                                                "thd_percent",  "noise_floor_db", "rb_peak_db"};

SqlValue textOrNull(const std::string& text) {
    return text.empty() ? SqlValue() : sqlText(text);
}

bool insertUnit(SqlDatabase* db, const UnitRecord& r, std::string* error) {
    const std::string sql =
        "INSERT INTO units (id, measured_at, station, serial, korvane_version, command, "
        "played_file, played_sha256, sample_rate, sweep_from_hz, sweep_to_hz, sweep_seconds, "
        "limits_file, limits_sha256, verdict) VALUES (?, " +
        db->dialect().timeParameter() + ", ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    return db->run(sql,
                   {sqlText(r.id), sqlText(r.measuredAt), sqlText(r.station), sqlText(r.serial),
                    sqlText(r.version), sqlText(r.command), sqlText(r.playedFile),
                    sqlText(r.playedSha256), sqlReal(r.sampleRate), sqlReal(r.sweepFromHz),
                    sqlReal(r.sweepToHz), sqlReal(r.sweepSeconds), textOrNull(r.limitsFile),
                    textOrNull(r.limitsSha256), sqlText(r.verdict)},
                   nullptr, error);
}

bool insertChildren(SqlDatabase* db, const UnitRecord& r, std::string* error) {
    std::vector<std::vector<SqlValue>> channels;
    std::vector<std::vector<SqlValue>> points;
    for (const ChannelRecord& c : r.channels) {
        channels.push_back({sqlText(r.id), sqlInteger(c.channel), sqlText(c.verdict),
                            textOrNull(c.reason), textOrNull(c.reasonCode),
                            sqlReal(c.worstMarginDb), sqlReal(c.worstFrequency),
                            sqlReal(c.referenceDb), sqlReal(c.delayFrames), sqlReal(c.driftPpm),
                            sqlReal(c.highestThdPercent), textOrNull(c.polarity)});
        for (size_t i = 0; i < c.curve.size(); ++i) {
            const CurvePoint& p = c.curve[i];
            points.push_back({sqlText(r.id), sqlInteger(c.channel), sqlInteger(int64_t(i)),
                              sqlReal(p.frequency), sqlReal(p.magnitudeDb), sqlReal(p.phaseDeg),
                              sqlReal(p.thdPercent), sqlReal(p.noiseDb), sqlReal(p.rbPeakDb)});
        }
    }
    return db->insertRows("channels", kChannelColumns, channels, error) &&
           (points.empty() || db->insertRows("curve_points", kCurveColumns, points, error));
}

// Whether the record was stored before, then the record; in the open transaction.
bool insertRecord(SqlDatabase* db, const UnitRecord& record, bool* already, std::string* error) {
    std::vector<SqlRow> found;
    if (!db->run("SELECT 1 FROM units WHERE id = ?", {sqlText(record.id)}, &found, error)) {
        return false;
    }
    *already = !found.empty();
    return *already || (insertUnit(db, record, error) && insertChildren(db, record, error));
}

bool writeRecord(SqlDatabase* db, const UnitRecord& record, bool* already, std::string* error) {
    if (!ensureRecordSchema(db, error) || !db->beginWrite(error)) {
        return false;
    }
    if (!insertRecord(db, record, already, error) || !db->run("COMMIT", error)) {
        std::string ignored;
        db->run("ROLLBACK", &ignored);
        return false;
    }
    return true;
}

// Written whole under another name and put on the disk first, then renamed: a flush never
// reads half a record, nor a power cut leave an empty one.
bool spoolRecord(const std::string& folder, const UnitRecord& record, std::string* path,
                 std::string* error) {
    std::error_code code;
    fs::create_directories(fs::u8path(folder), code);
    const std::string target = (fs::u8path(folder) / (record.id + ".json")).u8string();
    const std::string partial = target + ".partial";
    std::string reason;
    if (!writeFileDurably(partial.c_str(), recordToJson(record), &reason)) {
        *error = partial + ": " + reason;
        return false;
    }
    fs::rename(fs::u8path(partial), fs::u8path(target), code);
    if (code) {
        removeFile(partial.c_str());
        *error = target + ": " + code.message();
        return false;
    }
    syncFolder(folder.c_str());
    *path = target;
    return true;
}

enum class Spooled { Read, Unreadable, Bad };

// A record that is no file of ours, or whose text is no longer its record, is Bad; one the
// system will not open yet (another flush's rename still holds it, on Windows) is tried
// again, and else Unreadable.
Spooled readSpooled(const fs::path& path, UnitRecord* record, std::string* error) {
    std::error_code code;
    if (!fs::is_regular_file(path, code) || fs::file_size(path, code) > kMostTextFileBytes) {
        *error = path.u8string() + ": it is no spooled record (not a file, or larger than any)";
        return Spooled::Bad;
    }
    std::string text;
    for (int attempt = 0; !readTextFile(path.u8string(), &text, error); ++attempt) {
        if (attempt + 1 == kClaimAttempts) {
            return Spooled::Unreadable;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!recordFromJson(text, record, error)) {
        *error = path.u8string() + ": " + *error;
        return Spooled::Bad;
    }
    return Spooled::Read;
}

// A flush takes a file by renaming it to a name of its own: two flushes never send one file,
// and one that finds the file gone leaves it to the other. Where two renames meet, Windows
// may refuse both for a moment (a sharing violation): the one whose file is still there
// tries again.
enum class Claim { Mine, Taken, Refused };
Claim claim(const fs::path& file, const fs::path& mine, std::error_code* code) {
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        fs::rename(file, mine, *code);
        if (!*code) {
            return Claim::Mine;
        }
        std::error_code ignored;
        if (!fs::exists(file, ignored)) {
            return Claim::Taken;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Claim::Refused;
}

} // namespace

std::string spoolFolderFor(const std::string& target, const std::string& named) {
    if (!named.empty()) {
        return named;
    }
    return isPostgresTarget(target) ? std::string("korvane-spool") : target + ".spool";
}

LogOutcome logUnitRecord(const std::string& target, const std::string& spoolFolder,
                         const UnitRecord& record, int busyMs) {
    LogOutcome outcome;
    std::unique_ptr<SqlDatabase> db = openSqlDatabase(target, busyMs, &outcome.error);
    bool already = false;
    if (db != nullptr && writeRecord(db.get(), record, &already, &outcome.error)) {
        outcome.logged = true;
        return outcome;
    }
    std::string spoolError;
    if (!spoolRecord(spoolFolder, record, &outcome.spoolFile, &spoolError)) {
        outcome.error += "; and the spool failed: " + spoolError;
    }
    return outcome;
}

FlushOutcome flushSpool(const std::string& target, const std::string& spoolFolder) {
    FlushOutcome outcome;
    std::error_code code;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(fs::u8path(spoolFolder), code), end; !code && it != end;
         it.increment(code)) {
        if (it->path().extension() == ".json") {
            files.push_back(it->path());
        }
    }
    if (files.empty()) {
        return outcome;
    }
    std::unique_ptr<SqlDatabase> db = openSqlDatabase(target, kRecordBusyMs, &outcome.error);
    for (const fs::path& file : files) {
        const fs::path mine = fs::path(file).concat(".sending-" + newRecordId());
        const Claim claimed = claim(file, mine, &code);
        if (claimed == Claim::Taken) {
            continue; // another flush has it
        }
        if (claimed == Claim::Refused) {
            ++outcome.left;
            if (outcome.error.empty()) {
                outcome.error = file.u8string() + ": it cannot be taken: " + code.message();
            }
            continue;
        }
        UnitRecord record;
        bool already = false;
        std::string error;
        const Spooled read = readSpooled(mine, &record, &error);
        if (read == Spooled::Bad) {
            // Damaged or edited: set aside under a name no flush takes, and said.
            const fs::path aside = fs::path(file).concat(".rejected");
            fs::rename(mine, aside, code);
            const std::string prefix = mine.u8string() + ": ";
            outcome.rejected.push_back(
                aside.u8string() + ": " +
                (error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error));
            continue;
        }
        if (read == Spooled::Read && db != nullptr &&
            writeRecord(db.get(), record, &already, &error)) {
            ++(already ? outcome.already : outcome.sent);
            fs::remove(mine, code);
            continue;
        }
        fs::rename(mine, file, code);
        ++outcome.left;
        if (outcome.error.empty()) {
            outcome.error = error;
        }
    }
    return outcome;
}
