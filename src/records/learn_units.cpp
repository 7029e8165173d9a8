#include "records/learn_units.h"

#include <cstdlib>
#include <map>

namespace {

// The chosen channels: unit, serial, channel, the unit's channel count, polarity.
std::string chosenChannels(const SqlDatabase& db, int version, const LearnSelection& selection,
                           std::vector<SqlValue>* parameters) {
    std::string sql = "SELECT u.id, u.serial, c.channel, (SELECT count(*) FROM channels k WHERE "
                      "k.unit_id = u.id), " +
                      std::string(version >= 4 ? "c.polarity" : "NULL") +
                      " FROM units u JOIN channels c ON c.unit_id = u.id "
                      "WHERE c.verdict <> 'not-trusted'";
    if (selection.passingOnly) {
        sql += " AND c.verdict = 'pass'";
    }
    sql += filterClause(db, selection.filter, parameters);
    if (!selection.serials.empty()) {
        std::string marks;
        for (const std::string& serial : selection.serials) {
            marks += marks.empty() ? "?" : ", ?";
            parameters->push_back(sqlText(serial));
        }
        sql += " AND u.serial IN (" + marks + ")";
    }
    return sql + " ORDER BY u.measured_at, u.id, c.channel";
}

} // namespace

bool readLearnUnits(SqlDatabase* db, int version, const LearnSelection& selection,
                    std::vector<LearnUnit>* units, std::string* error) {
    std::vector<SqlValue> parameters;
    std::vector<SqlRow> chosen;
    if (!db->run(chosenChannels(*db, version, selection, &parameters), parameters, &chosen,
                 error)) {
        return false;
    }
    std::map<std::pair<std::string, int>, size_t> index;
    std::vector<std::string> ids;
    for (const SqlRow& row : chosen) {
        if (ids.empty() || ids.back() != row.text[0]) {
            ids.push_back(row.text[0]);
        }
        const int channel = std::atoi(row.text[2].c_str());
        index[{row.text[0], channel}] = units->size();
        LearnUnit unit;
        unit.polarity = row.text[4];
        unit.name =
            row.text[1] +
            (std::atoi(row.text[3].c_str()) > 1 ? " ch " + std::to_string(channel) : std::string());
        units->push_back(unit);
    }
    const std::string rb = version >= 4 ? "p.rb_peak_db" : "NULL";
    // In chunks of identities that every server takes in one statement.
    for (size_t from = 0; from < ids.size(); from += 100) {
        std::vector<SqlValue> chunk;
        std::string marks;
        for (size_t k = from; k < ids.size() && k < from + 100; ++k) {
            chunk.push_back(sqlText(ids[k]));
            marks += marks.empty() ? "?" : ", ?";
        }
        std::vector<SqlRow> rows;
        if (!db->run("SELECT p.unit_id, p.channel, p.frequency_hz, p.magnitude_db, "
                     "p.thd_percent, " +
                         rb + " FROM curve_points p WHERE p.unit_id IN (" + marks +
                         ") ORDER BY p.unit_id, p.channel, p.point",
                     chunk, &rows, error)) {
            return false;
        }
        for (const SqlRow& row : rows) {
            const auto at = index.find({row.text[0], std::atoi(row.text[1].c_str())});
            if (at == index.end()) {
                continue; // a channel not chosen
            }
            LearnUnit& unit = (*units)[at->second];
            unit.frequency.push_back(sqlNumber(row, 2));
            unit.magnitudeDb.push_back(sqlNumber(row, 3));
            unit.thdPercent.push_back(sqlNumber(row, 4));
            unit.rbPeakDb.push_back(sqlNumber(row, 5));
        }
    }
    return true;
}
