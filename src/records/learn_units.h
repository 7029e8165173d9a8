// The units a line learns its limits from, read from its records: the curves of the chosen
// units' channels, a channel not trusted left out.
#pragma once

#include <string>
#include <vector>

#include "measure/limits/limits_learn.h"
#include "records/report/report_data.h"
#include "records/sql_database.h"

struct LearnSelection {
    ReportFilter filter;              // dates and station
    std::vector<std::string> serials; // none: every serial
    bool passingOnly = false;         // channels that passed their limits only
};

// `version`: the database's schema (before 4 there is no rub and buzz curve). Each channel
// is a unit named "SERIAL" (or "SERIAL ch N" for a unit of several).
bool readLearnUnits(SqlDatabase* db, int version, const LearnSelection& selection,
                    std::vector<LearnUnit>* units, std::string* error);
