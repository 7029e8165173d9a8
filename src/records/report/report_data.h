// What a yield report shows, read from the records: one row per unit, and the curves of
// the last units.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "records/sql_database.h"

struct ReportFilter {
    std::string since; // "YYYY-MM-DD", inclusive; empty: from the first record
    std::string until; // inclusive
    std::string station;
};

struct UnitRow {
    std::string id;
    std::string measuredAt; // UTC "YYYY-MM-DD HH:MM:SS"
    std::string station;
    std::string serial;
    std::string verdict; // pass, fail, not-trusted, measured
    double worstMarginDb = NAN;
    double worstFrequency = NAN; // of the worst margin
    std::string reason;          // of the first channel that did not pass, "chN: ..."
    std::string limitsFile;      // what the unit was judged with; empty: no limits
    std::string limitsSha256;
};

struct UnitCurve {
    std::string unitId;
    int channel = 0;
    bool failed = false;
    bool trusted = true; // a not-trusted unit's curve says nothing of the line's spread
    bool recent = true;  // among the last units, whose spread the report draws
    std::vector<double> frequency;
    std::vector<double> levelDb; // relative to the response at the limits' reference
};

struct ReportData {
    std::vector<UnitRow> units; // oldest first
    std::vector<UnitCurve> curves;
    // Channels that did not pass, counted by reason code, most first: a line's Pareto.
    std::vector<std::pair<std::string, size_t>> pareto;
    // Each serial's first run in the selection, and how many of those passed.
    size_t firstRuns = 0;
    size_t firstRunsPassed = 0;
};

// How many of the latest failures' curves a report holds, each shown by a click on its row:
// enough for a shift's, few enough to keep the page light.
constexpr size_t kFailureCurves = 50;

// The filter as " AND ..." conditions on units u, their values into *parameters.
std::string filterClause(const SqlDatabase& db, const ReportFilter& filter,
                         std::vector<SqlValue>* parameters);

// "YYYY-MM-DD" and a real day.
bool isReportDate(const std::string& text);

// The units that pass the filter, and the curves of the last curveUnits of them.
bool readReportData(SqlDatabase* db, const ReportFilter& filter, size_t curveUnits,
                    ReportData* data, std::string* error);
