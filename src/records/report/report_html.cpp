#include "records/report/report_html.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "measure/plots/svg_plot.h"
#include "measure/text/number_text.h"

namespace {

struct Counts {
    size_t units = 0, pass = 0, fail = 0, notTrusted = 0, measured = 0;
    void add(const std::string& verdict) {
        ++units;
        ++(verdict == "pass"          ? pass
           : verdict == "fail"        ? fail
           : verdict == "not-trusted" ? notTrusted
                                      : measured);
    }
    // Of the units judged against limits.
    double yieldShare() const {
        const size_t judged = pass + fail + notTrusted;
        return judged == 0 ? 0 : double(pass) / double(judged);
    }
    std::string yield() const {
        return pass + fail + notTrusted == 0 ? "-" : fixedText(100 * yieldShare(), 1) + " %";
    }
};

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '<'   ? "&lt;"
               : c == '>' ? "&gt;"
               : c == '&' ? "&amp;"
               : c == '"' ? "&quot;"
                          : std::string(1, c);
    }
    return out;
}

std::string orDash(double value, int decimals) {
    return std::isfinite(value) ? fixedText(value, decimals) : "-";
}

const char kStyle[] =
    "<style>body{font:14px/1.4 sans-serif;margin:24px;color:#222;max-width:1200px}"
    "h1{font-size:22px}h2{font-size:17px;margin-top:28px}"
    "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #ccc;padding:3px 8px;"
    "text-align:right}td:first-child,th:first-child{text-align:left}"
    "th[data-sort]{cursor:pointer;background:#eef}th[data-sort]:hover{background:#dde}"
    ".counts span{display:inline-block;margin-right:22px;font-size:18px}"
    ".pass{color:#2e7d32}.fail{color:#c62828}.not-trusted{color:#e08a00}"
    "svg{max-width:100%;height:auto}td.bar{width:240px;text-align:left}"
    "td.bar div{height:12px;background:#2e8b3a}</style>\n";

// Sorts the failures by the clicked column; numbers as numbers, a second click reverses.
const char kSortScript[] =
    "<script>document.querySelectorAll('#failures th[data-sort]').forEach(function(th,i){"
    "th.addEventListener('click',function(){var body=th.closest('table').tBodies[0];"
    "var down=th.getAttribute('data-order')!=='up';"
    "th.closest('tr').querySelectorAll('th').forEach(function(h){h.removeAttribute('data-order')});"
    "th.setAttribute('data-order',down?'up':'down');"
    "var rows=Array.prototype.slice.call(body.rows);var "
    "num=th.getAttribute('data-sort')==='number';"
    "rows.sort(function(a,b){var x=a.cells[i].textContent,y=b.cells[i].textContent;"
    "var c=num?(parseFloat(x)||0)-(parseFloat(y)||0):x.localeCompare(y);return down?c:-c});"
    "rows.forEach(function(r){body.appendChild(r)})})})</script>\n";

std::string countsHtml(const Counts& c) {
    return "<p class=\"counts\"><span>units <b id=\"count-units\">" + std::to_string(c.units) +
           "</b></span><span class=\"pass\">pass <b id=\"count-pass\">" + std::to_string(c.pass) +
           "</b></span><span class=\"fail\">fail <b id=\"count-fail\">" + std::to_string(c.fail) +
           "</b></span><span class=\"not-trusted\">not trusted <b id=\"count-not-trusted\">" +
           std::to_string(c.notTrusted) +
           "</b></span><span>measured without limits <b "
           "id=\"count-measured\">" +
           std::to_string(c.measured) + "</b></span><span>yield <b id=\"yield\">" + c.yield() +
           "</b></span></p>\n";
}

std::string countsTable(const char* id, const char* key, const std::map<std::string, Counts>& by) {
    std::string html = "<table id=\"" + std::string(id) + "\"><thead><tr><th>" + key +
                       "</th><th>units</th><th>pass</th><th>fail</th><th>not trusted</th>"
                       "<th>yield</th><th class=\"bar\"></th></tr></thead><tbody>\n";
    for (const auto& entry : by) {
        const Counts& c = entry.second;
        html += "<tr><td>" + escaped(entry.first) + "</td><td>" + std::to_string(c.units) +
                "</td><td>" + std::to_string(c.pass) + "</td><td>" + std::to_string(c.fail) +
                "</td><td>" + std::to_string(c.notTrusted) + "</td><td>" + c.yield() +
                "</td><td class=\"bar\"><div style=\"width:" + fixedText(c.yieldShare() * 100, 1) +
                "%\"></div></td></tr>\n";
    }
    return html + "</tbody></table>\n";
}

std::string marginHistogram(const std::vector<UnitRow>& units) {
    std::map<long, size_t> bins; // 1-dB bins
    for (const UnitRow& u : units) {
        if (std::isfinite(u.worstMarginDb)) {
            ++bins[long(std::floor(std::max(-30.0, std::min(30.0, u.worstMarginDb))))];
        }
    }
    Plot plot;
    plot.title = "Worst margin per unit (dB, 1-dB bins; below 0 fails)";
    plot.xLabel = "worst margin (dB)";
    plot.logX = false;
    plot.xMin = bins.empty() ? -1 : double(bins.begin()->first) - 1;
    plot.xMax = bins.empty() ? 1 : double(bins.rbegin()->first) + 2;
    size_t most = 1;
    PlotSeries passing{"units passing", {}, {}, 0, false, "", 8};
    PlotSeries failing{"units failing", {}, {}, 1, false, "", 8};
    for (const auto& bin : bins) {
        PlotSeries& s = bin.first < 0 ? failing : passing;
        const double x = double(bin.first) + 0.5;
        s.x.insert(s.x.end(), {x, x, x});
        s.y.insert(s.y.end(), {0, double(bin.second), NAN});
        most = std::max(most, bin.second);
    }
    double min = 0, max = 1, step = 1;
    roundRange(0, double(most) * 1.1, 6, &min, &max, &step);
    plot.panels.push_back({"units", 0, max, step, {passing, failing}});
    plot.markers.push_back({0, "0 dB"});
    return renderSvg(plot);
}

} // namespace

namespace {

// The limits' response rows as lines: min and max, dashed, under the units.
void addLimitLines(const Limits& limits, PlotPanel* panel) {
    for (const LimitCurve& curve : limits.curves) {
        if (curve.order != 1 || curve.thd) {
            continue;
        }
        for (int side : {0, 2}) {
            PlotSeries line{side == 0 ? "limit min" : "limit max", {}, {}, 7, true, "", 2};
            for (const LimitRow& row : curve.rows) {
                line.x.push_back(row.frequency);
                line.y.push_back(side == 0 ? row.min : row.max);
            }
            panel->series.push_back(line);
        }
    }
}

// The levels' range, a wild value aside: what the limits and 98 % of the points span.
void levelRange(PlotPanel* panel) {
    std::vector<double> levels;
    double low = INFINITY, high = -INFINITY;
    for (const PlotSeries& s : panel->series) {
        for (double y : s.y) {
            if (!std::isfinite(y)) {
                continue;
            }
            if (s.dashed) {
                low = std::min(low, y);
                high = std::max(high, y);
            } else {
                levels.push_back(y);
            }
        }
    }
    if (!levels.empty()) {
        std::sort(levels.begin(), levels.end());
        low = std::min(low, levels[levels.size() / 100]);
        high = std::max(high, levels[levels.size() - 1 - levels.size() / 100]);
    }
    if (!(low < high)) {
        low = std::isfinite(low) ? low - 10 : -20;
        high = low + 20;
    }
    roundRange(low - 1, high + 1, 8, &panel->yMin, &panel->yMax, &panel->yStep);
}

std::string responseOverlay(const ReportData& data, const Limits* limits, double* low,
                            double* high) {
    Plot plot;
    plot.title = "Responses of the last " + std::to_string(data.curves.size()) +
                 " channels, relative to the reference (failures in red, on top)";
    plot.xLabel = "frequency (Hz)";
    PlotPanel panel{"level (dB)", -20, 10, 0, {}};
    *low = INFINITY;
    *high = -INFINITY;
    bool namedPass = false, namedFail = false;
    for (int failures = 0; failures < 2; ++failures) {
        for (const UnitCurve& c : data.curves) {
            if (c.failed != (failures == 1)) {
                continue;
            }
            bool& named = c.failed ? namedFail : namedPass;
            PlotSeries s{named      ? ""
                         : c.failed ? "units that did not pass"
                                    : "units that passed",
                         c.frequency,
                         c.levelDb,
                         c.failed ? 1 : 0,
                         false,
                         "",
                         c.failed ? 1.2 : 0.8};
            s.opacity = c.failed ? 0.9 : 0.35;
            named = true;
            for (size_t i = 0; i < c.frequency.size(); ++i) {
                if (std::isfinite(c.levelDb[i]) && c.frequency[i] > 0) {
                    *low = std::min(*low, c.frequency[i]);
                    *high = std::max(*high, c.frequency[i]);
                }
            }
            panel.series.push_back(std::move(s));
        }
    }
    if (limits != nullptr) {
        addLimitLines(*limits, &panel);
    }
    plot.xMin = std::isfinite(*low) ? *low : 20;
    plot.xMax = std::isfinite(*high) && *high > plot.xMin ? *high : 20000;
    levelRange(&panel);
    plot.panels.push_back(panel);
    return renderSvg(plot);
}

std::string failuresTable(const std::vector<UnitRow>& units) {
    std::string html = "<table id=\"failures\"><thead><tr><th data-sort=\"text\">serial</th>"
                       "<th data-sort=\"text\">station</th><th data-sort=\"text\">time (UTC)</th>"
                       "<th data-sort=\"text\">verdict</th><th data-sort=\"number\">worst margin "
                       "(dB)</th><th data-sort=\"number\">at (Hz)</th><th data-sort=\"text\">"
                       "reason</th></tr></thead><tbody>\n";
    // Newest first: what a person looks for first.
    for (auto it = units.rbegin(); it != units.rend(); ++it) {
        if (it->verdict != "fail" && it->verdict != "not-trusted") {
            continue;
        }
        html += "<tr class=\"" + it->verdict + "\"><td>" + escaped(it->serial) + "</td><td>" +
                escaped(it->station) + "</td><td>" + escaped(it->measuredAt) + "</td><td>" +
                it->verdict + "</td><td>" + orDash(it->worstMarginDb, 2) + "</td><td>" +
                orDash(it->worstFrequency, 0) + "</td><td>" + escaped(it->reason) + "</td></tr>\n";
    }
    return html + "</tbody></table>\n";
}

std::string filterText(const ReportPage& page) {
    const ReportFilter& f = page.filter;
    std::string text = f.since.empty() && f.until.empty() ? "all dates" : "";
    if (!f.since.empty()) {
        text += "from " + f.since;
    }
    if (!f.until.empty()) {
        text += (text.empty() ? "" : " ") + std::string("to ") + f.until;
    }
    return text + (f.station.empty() ? ", all stations" : ", station " + f.station);
}

} // namespace

std::string reportHtml(const ReportPage& page, const ReportData& data) {
    Counts all;
    std::map<std::string, Counts> byDay, byStation;
    for (const UnitRow& u : data.units) {
        all.add(u.verdict);
        byDay[u.measuredAt.substr(0, 10)].add(u.verdict);
        byStation[u.station].add(u.verdict);
    }
    double low = 0, high = 0;
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>korvane yield report</title>\n" +
                       std::string(kStyle) + "</head><body>\n<h1>Yield report</h1>\n<p>" +
                       escaped(page.database) + ": " + escaped(filterText(page)) + ". Generated " +
                       page.generated + " UTC.</p>\n" + countsHtml(all);
    html += "<h2>Yield per day</h2>\n" + countsTable("days", "day (UTC)", byDay);
    html += "<h2>Yield per station</h2>\n" + countsTable("stations", "station", byStation);
    html += "<h2>Worst margins</h2>\n" + marginHistogram(data.units);
    html += "<h2>Responses</h2>\n" + responseOverlay(data, page.limits, &low, &high);
    html += "<h2>Failures</h2>\n<p>Click a column's title to sort by it.</p>\n" +
            failuresTable(data.units) + kSortScript + "</body></html>\n";
    return html;
}

std::string reportCsv(const ReportData& data) {
    // Every text cell quoted alike; one that a spreadsheet would take for a formula starts
    // with an apostrophe, which shows the text as it is.
    auto quoted = [](const std::string& text) {
        std::string out = "\"";
        if (!text.empty() && std::strchr("=+-@\t\r", text[0]) != nullptr) {
            out += '\'';
        }
        for (char c : text) {
            out += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        return out + "\"";
    };
    std::string csv = "time_utc,station,serial,verdict,worst_margin_db,worst_frequency_hz,reason\n";
    for (const UnitRow& u : data.units) {
        csv += u.measuredAt + "," + quoted(u.station) + "," + quoted(u.serial) + "," +
               quoted(u.verdict) + "," +
               (std::isfinite(u.worstMarginDb) ? fixedText(u.worstMarginDb, 3) : "") + "," +
               (std::isfinite(u.worstFrequency) ? fixedText(u.worstFrequency, 1) : "") + "," +
               quoted(u.reason) + "\n";
    }
    return csv;
}
