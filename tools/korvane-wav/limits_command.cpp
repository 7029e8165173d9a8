#include <ctime>
#include <string>

#include "commands.h"
#include "measure/files/text_file.h"
#include "measure/jobs/ir_job.h"
#include "records/learn_units.h"
#include "records/record.h"
#include "records/record_log.h"
#include "records/record_schema.h"
#include "records/unit_names.h"

namespace {

struct LearnRequest {
    LearnOptions options;
    std::string db;
    LearnSelection selection;
};

// A number option into *value, within low and high; kToolOk or the usage fault reported.
ToolExit numberOption(const std::string& name, const std::string& text, double low, double high,
                      double* value, FILE* err) {
    if (!parseNumber(text, value) || *value < low || *value > high) {
        return usageError(err, "limits",
                          name + " needs a number from " + std::to_string(int(low)) + " to " +
                              std::to_string(int(high)));
    }
    return kToolOk;
}

ToolExit readLearnOption(const std::pair<std::string, std::string>& option, LearnRequest* r,
                         FILE* err) {
    const std::string& name = option.first;
    const std::string& text = option.second;
    LearnOptions& o = r->options;
    if (name == "--db") {
        r->db = text;
    } else if (name == "--serial") {
        r->selection.serials.push_back(text);
    } else if (name == "--station") {
        r->selection.filter.station = text;
    } else if (name == "--since" || name == "--until") {
        if (!isReportDate(text)) {
            return usageError(err, "limits", name + " needs a date as YYYY-MM-DD");
        }
        (name == "--since" ? r->selection.filter.since : r->selection.filter.until) = text;
    } else if (name == "--passing") {
        r->selection.passingOnly = true;
    } else if (name == "--float") {
        const size_t colon = text.find(':');
        if (colon == std::string::npos || !parseNumber(text.substr(0, colon), &o.floatFrom) ||
            !parseNumber(text.substr(colon + 1), &o.floatTo) || !(o.floatFrom > 0) ||
            !(o.floatFrom < o.floatTo)) {
            return usageError(err, "limits", "--float needs FROM:TO, two frequencies rising");
        }
    } else if (name == "--reference") {
        return numberOption(name, text, 1, 1e6, &o.reference, err);
    } else if (name == "--k") {
        return numberOption(name, text, 1, 20, &o.k, err);
    } else {
        double* margin = name == "--margin"       ? &o.responseMarginDb
                         : name == "--thd-margin" ? &o.thdMarginDb
                         : name == "--rb-margin"  ? &o.rbMarginDb
                                                  : &o.levelMarginDb;
        return numberOption(name, text, 0, 60, margin, err);
    }
    return kToolOk;
}

// Every channel of every recording, measured as ir measures it, as a unit.
bool unitsFromRecordings(const std::vector<std::string>& words, std::vector<LearnUnit>* units,
                         std::string* error) {
    for (size_t i = 1; i < words.size(); ++i) {
        IrJob job;
        job.played = words[0];
        job.recorded = words[i];
        job.files = false;
        IrResults results;
        if (!runIrJob(job, &results, error)) {
            return false;
        }
        for (const IrChannelReport& c : results.reports) {
            if (!c.analysed || !c.problems.empty()) {
                continue; // nothing to learn from a channel not trusted
            }
            LearnUnit unit;
            unit.name = utf8Escaped(words[i]) + " ch " + std::to_string(c.recorded);
            unit.polarity = polarityName(c.ir.polarity);
            for (const ResponsePoint& p : c.ir.points) {
                unit.frequency.push_back(p.frequency);
                unit.magnitudeDb.push_back(p.magnitudeDb);
                unit.thdPercent.push_back(p.thdPercent);
                unit.rbPeakDb.push_back(p.rbPeakDb);
            }
            units->push_back(std::move(unit));
        }
    }
    return true;
}

// What the limits were learnt from, as comments: the count, the names, the date.
std::string learntFrom(const LearnRequest& r, const std::vector<LearnUnit>& units) {
    std::string text = "# Learnt by korvane-wav limits learn on " + utcNowText() + " UTC from " +
                       std::to_string(units.size()) + " units" +
                       (r.db.empty() ? " (recordings)" : " in " + printableTarget(r.db)) + "\n";
    char k[160];
    std::snprintf(k, sizeof k,
                  "# mean +- the larger of %g standard deviations and %g dB (THD %g dB, rub and "
                  "buzz %g dB, level %g dB)\n",
                  r.options.k, r.options.responseMarginDb, r.options.thdMarginDb,
                  r.options.rbMarginDb, r.options.levelMarginDb);
    text += k;
    std::string names;
    for (const LearnUnit& unit : units) {
        if (names.size() + unit.name.size() > 90) {
            text += "# units: " + names + "\n";
            names.clear();
        }
        names += (names.empty() ? "" : ", ") + unit.name;
    }
    return text + "# units: " + names + "\n";
}

} // namespace

ToolExit runLimits(const Arguments& arguments, FILE* out, FILE* err) {
    LearnRequest request;
    for (const auto& option : arguments.options) {
        const ToolExit usage = readLearnOption(option, &request, err);
        if (usage != kToolOk) {
            return usage;
        }
    }
    const std::vector<std::string>& words = arguments.positional;
    const bool fromDb = !request.db.empty();
    if (words.size() < 2 || words[0] != "learn" ||
        (fromDb ? words.size() != 2 : words.size() < 4)) {
        return usageError(err, "limits", "needs learn OUT.txt, and --db DB or PLAYED RECORDED...");
    }
    std::vector<LearnUnit> units;
    std::string error;
    if (fromDb) {
        int version = 0;
        std::unique_ptr<SqlDatabase> db =
            openRecordsToRead(request.db, kRecordBusyMs, &version, &error);
        if (db == nullptr ||
            !readLearnUnits(db.get(), version, request.selection, &units, &error)) {
            return fileError(err, error, kToolInput);
        }
    } else if (!unitsFromRecordings({words.begin() + 2, words.end()}, &units, &error)) {
        return fileError(err, error, kToolInput);
    }
    std::string rows;
    if (!learnLimits(units, request.options, &rows, &error)) {
        return fileError(err, error, kToolInput);
    }
    if (!writeTextFile(words[1], learntFrom(request, units) + rows, &error)) {
        return fileError(err, error, kToolOutput);
    }
    std::fprintf(out, "Learnt limits from %zu units: %s\n", units.size(), words[1].c_str());
    return kToolOk;
}
