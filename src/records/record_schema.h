// The records' tables, one schema for both databases, and its upgrades: a database carries
// the number of upgrades applied to it, and an older one is brought up to date in place.
#pragma once

#include <memory>
#include <string>

#include "sql_database.h"

constexpr int kRecordSchemaVersion = 4;

// Creates or upgrades the schema up to `version` (the tests stop at an older one), in a
// transaction of its own. False with *error, also for a schema newer than this program's.
// Why a database of a newer schema is refused.
std::string newerSchemaText(int version);
bool ensureRecordSchema(SqlDatabase* db, std::string* error, int version = kRecordSchemaVersion);

// The database as it is, to read: never created nor upgraded. Null with *error when it is
// missing, holds no korvane records, or is of a newer schema; *version its schema's.
std::unique_ptr<SqlDatabase> openRecordsToRead(const std::string& target, int busyMs,
                                               int* version, std::string* error);
