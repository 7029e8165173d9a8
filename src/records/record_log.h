// Logging a unit's record: into the database, or, when the database cannot take it, into
// the spool folder, from where a flush sends it later. A record is never lost and never
// stored twice: its identity is the units table's key.
#pragma once

#include <string>
#include <vector>

#include "record.h"
#include "sql_database.h"

// How long a writer waits for another's lock before the record is spooled instead.
constexpr int kRecordBusyMs = 10000;

// The spool folder of a database: the named one, or beside an SQLite file (DB.spool), or
// "korvane-spool" in the working folder for a server.
std::string spoolFolderFor(const std::string& target, const std::string& named);

struct LogOutcome {
    bool logged = false;
    std::string spoolFile; // where the record went instead; empty when it could not
    std::string error;     // why it was not logged
};

// Opens, creates or upgrades the schema, writes; on any failure, spools.
LogOutcome logUnitRecord(const std::string& target, const std::string& spoolFolder,
                         const UnitRecord& record, int busyMs = kRecordBusyMs);

struct FlushOutcome {
    int sent = 0;      // newly stored
    int already = 0;   // stored before (a retry): removed from the spool
    int left = 0;      // still spooled
    std::string error; // the first failure
    // Files that are no record, or whose content no longer matches its digest: renamed to
    // NAME.json.rejected, each with why.
    std::vector<std::string> rejected;
};

// Sends every spooled record to the database, once each, even with other flushes at once.
FlushOutcome flushSpool(const std::string& target, const std::string& spoolFolder);
