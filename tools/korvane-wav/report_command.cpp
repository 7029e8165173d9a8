#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "measure/files/text_file.h"
#include "platform/file_status.h"
#include "records/record.h"
#include "records/record_log.h"
#include "records/record_schema.h"
#include "records/report/report_html.h"
#include "records/sha256.h"

namespace {

struct ReportRequest {
    std::string html;
    std::string csv;
    std::string limits;
    ReportFilter filter;
};

ToolExit readReportOptions(const Arguments& arguments, ReportRequest* request, FILE* err) {
    for (const auto& option : arguments.options) {
        const std::string& name = option.first;
        std::string* field = name == "--html"     ? &request->html
                             : name == "--csv"    ? &request->csv
                             : name == "--limits" ? &request->limits
                             : name == "--since"  ? &request->filter.since
                             : name == "--until"  ? &request->filter.until
                                                  : &request->filter.station;
        *field = option.second;
        if ((name == "--since" || name == "--until") && !isReportDate(option.second)) {
            return usageError(err, "report", name + " needs a date as YYYY-MM-DD");
        }
    }
    if (arguments.positional.size() != 1) {
        return usageError(err, "report", "needs DB");
    }
    if (request->html.empty() && request->csv.empty()) {
        return usageError(err, "report", "needs --html FILE or --csv FILE");
    }
    return kToolOk;
}

// The database as it is: a report never creates or upgrades one.
bool readRecords(const std::string& target, const ReportFilter& filter, ReportData* data,
                 std::string* error) {
    int version = 0;
    std::unique_ptr<SqlDatabase> db = openRecordsToRead(target, kRecordBusyMs, &version, error);
    return db != nullptr && readReportData(db.get(), filter, 200, data, error);
}

} // namespace

ToolExit runReport(const Arguments& arguments, FILE* out, FILE* err) {
    ReportRequest request;
    const ToolExit usage = readReportOptions(arguments, &request, err);
    if (usage != kToolOk) {
        return usage;
    }
    const std::string& target = arguments.positional[0];
    std::string error;
    Limits limits;
    if (!request.limits.empty() && !readLimits(request.limits, &limits, &error)) {
        return fileError(err, error, kToolInput);
    }
    ReportData data;
    if (!readRecords(target, request.filter, &data, &error)) {
        return fileError(err, error, kToolInput);
    }
    if (!request.html.empty()) {
        ReportPage page{printableTarget(target), utcNowText(),
                        request.filter,          request.limits.empty() ? nullptr : &limits,
                        request.limits,          ""};
        if (!request.limits.empty() && !sha256File(request.limits, &page.limitsSha256, &error)) {
            return fileError(err, error, kToolInput);
        }
        if (!writeTextFile(request.html, reportHtml(page, data), &error)) {
            return fileError(err, error, kToolOutput);
        }
    }
    if (!request.csv.empty() && !writeTextFile(request.csv, reportCsv(data), &error)) {
        return fileError(err, error, kToolOutput);
    }
    std::fprintf(out, "%zu %s reported from %s\n", data.units.size(),
                 data.units.size() == 1 ? "unit" : "units", printableTarget(target).c_str());
    return kToolOk;
}
