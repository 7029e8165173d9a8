// The yield report: one self-contained HTML file (inline CSS and SVG, a few lines of inline
// script for the sortable table, nothing from the network), and the per-unit table as CSV.
#pragma once

#include <string>

#include "measure/limits/ir_limits.h"
#include "records/report/report_data.h"

struct ReportPage {
    std::string database;  // as named on the command line
    std::string generated; // UTC time of the report
    ReportFilter filter;
    const Limits* limits = nullptr; // drawn under the responses when given
    std::string limitsFile;         // its name and SHA-256, to compare with the units'
    std::string limitsSha256;
};

std::string reportHtml(const ReportPage& page, const ReportData& data);
std::string reportCsv(const ReportData& data);
