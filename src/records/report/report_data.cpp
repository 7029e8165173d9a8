#include "records/report/report_data.h"

#include <cstdlib>
#include <map>
#include <set>

namespace {

std::string unitQuery(const SqlDatabase& db, const ReportFilter& filter,
                      std::vector<SqlValue>* parameters) {
    return "SELECT u.id, " + db.dialect().timeText("u.measured_at") +
           ", u.station, u.serial, u.verdict, c.channel, c.verdict, c.reason, "
           "c.worst_margin_db, c.worst_frequency_hz, u.limits_file, u.limits_sha256 FROM units u "
           "LEFT JOIN channels c ON c.unit_id = u.id WHERE 1 = 1" +
           filterClause(db, filter, parameters) + " ORDER BY u.measured_at, u.id, c.channel";
}

// Records of an older schema have no codes: their verdict stands for one.
bool readPareto(SqlDatabase* db, const ReportFilter& filter, ReportData* data, std::string* error) {
    std::vector<SqlValue> parameters;
    std::vector<SqlRow> rows;
    if (!db->run("SELECT COALESCE(c.reason_code, c.verdict), count(*) FROM channels c "
                 "JOIN units u ON u.id = c.unit_id WHERE c.verdict IN ('fail', 'not-trusted')" +
                     filterClause(*db, filter, &parameters) +
                     " GROUP BY COALESCE(c.reason_code, c.verdict) ORDER BY 2 DESC, 1",
                 parameters, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        data->pareto.push_back(
            {row.text[0], size_t(std::strtoull(row.text[1].c_str(), nullptr, 10))});
    }
    return true;
}

// A unit's worst channel margin and its first reason, channel by channel.
void addChannel(const SqlRow& row, UnitRow* unit) {
    if (row.isNull[5]) {
        return;
    }
    const double margin = sqlNumber(row, 8);
    if (std::isfinite(margin) && !(margin >= unit->worstMarginDb)) {
        unit->worstMarginDb = margin;
        unit->worstFrequency = sqlNumber(row, 9);
    }
    const std::string& verdict = row.text[6];
    if (unit->reason.empty() && verdict != "pass" && verdict != "measured") {
        unit->reason = "ch" + row.text[5] + ": " + (row.text[7].empty() ? verdict : row.text[7]);
    }
}

// The last curveUnits units, and the kFailureCurves latest that did not pass, whose rows
// show their own curves.
bool readCurves(SqlDatabase* db, ReportData* data, size_t curveUnits, std::string* error) {
    std::vector<size_t> chosen;
    size_t failures = 0;
    for (size_t i = data->units.size(); i-- > 0;) {
        const bool recent = data->units.size() - i <= curveUnits;
        const bool failure =
            data->units[i].verdict == "fail" || data->units[i].verdict == "not-trusted";
        if (recent || (failure && failures < kFailureCurves)) {
            chosen.push_back(i);
        }
        failures += failure;
        if (!recent && failures >= kFailureCurves) {
            break;
        }
    }
    std::map<std::string, bool> failed;
    std::map<std::string, bool> trusted;
    std::map<std::string, bool> recent;
    // A few hundred identities at most: one statement, in chunks that every server takes.
    for (size_t from = 0; from < chosen.size(); from += 100) {
        std::vector<SqlValue> ids;
        std::string marks;
        for (size_t k = from; k < chosen.size() && k < from + 100; ++k) {
            const UnitRow& u = data->units[chosen[k]];
            ids.push_back(sqlText(u.id));
            marks += marks.empty() ? "?" : ", ?";
            failed[u.id] = u.verdict != "pass";
            trusted[u.id] = u.verdict != "not-trusted";
            recent[u.id] = data->units.size() - chosen[k] <= curveUnits;
        }
        std::vector<SqlRow> rows;
        if (!db->run("SELECT p.unit_id, p.channel, p.frequency_hz, "
                     "p.magnitude_db - COALESCE(c.reference_db, 0) FROM curve_points p "
                     "JOIN channels c ON c.unit_id = p.unit_id AND c.channel = p.channel "
                     "WHERE p.unit_id IN (" +
                         marks + ") ORDER BY p.unit_id, p.channel, p.point",
                     ids, &rows, error)) {
            return false;
        }
        for (const SqlRow& row : rows) {
            const int channel = std::atoi(row.text[1].c_str());
            if (data->curves.empty() || data->curves.back().unitId != row.text[0] ||
                data->curves.back().channel != channel) {
                data->curves.push_back({row.text[0],
                                        channel,
                                        failed[row.text[0]],
                                        trusted[row.text[0]],
                                        recent[row.text[0]],
                                        {},
                                        {}});
            }
            data->curves.back().frequency.push_back(sqlNumber(row, 2));
            data->curves.back().levelDb.push_back(sqlNumber(row, 3));
        }
    }
    return true;
}

} // namespace

std::string filterClause(const SqlDatabase& db, const ReportFilter& filter,
                         std::vector<SqlValue>* parameters) {
    const Dialect& d = db.dialect();
    std::string sql;
    if (!filter.since.empty()) {
        sql += " AND u.measured_at >= " + d.timeParameter();
        parameters->push_back(sqlText(filter.since + " 00:00:00"));
    }
    if (!filter.until.empty()) {
        sql += " AND u.measured_at <= " + d.timeParameter();
        parameters->push_back(sqlText(filter.until + " 23:59:59.999"));
    }
    if (!filter.station.empty()) {
        sql += " AND u.station = ?";
        parameters->push_back(sqlText(filter.station));
    }
    return sql;
}

bool isReportDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    const int year = std::atoi(text.substr(0, 4).c_str());
    const int month = std::atoi(text.substr(5, 2).c_str());
    const int day = std::atoi(text.substr(8, 2).c_str());
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month >= 1 && month <= 12 && day >= 1 &&
           day <= (month == 2 && !leap ? 28 : days[month - 1]);
}

bool readReportData(SqlDatabase* db, const ReportFilter& filter, size_t curveUnits,
                    ReportData* data, std::string* error) {
    std::vector<SqlValue> parameters;
    std::vector<SqlRow> rows;
    if (!db->run(unitQuery(*db, filter, &parameters), parameters, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        if (data->units.empty() || data->units.back().id != row.text[0]) {
            UnitRow unit;
            unit.id = row.text[0];
            unit.measuredAt = row.text[1];
            unit.station = row.text[2];
            unit.serial = row.text[3];
            unit.verdict = row.text[4];
            unit.limitsFile = row.text[10];
            unit.limitsSha256 = row.text[11];
            data->units.push_back(std::move(unit));
        }
        addChannel(row, &data->units.back());
    }
    std::set<std::string> seen;
    for (const UnitRow& u : data->units) {
        if (seen.insert(u.serial).second) {
            ++data->firstRuns;
            data->firstRunsPassed += u.verdict == "pass";
        }
    }
    return readPareto(db, filter, data, error) && readCurves(db, data, curveUnits, error);
}
