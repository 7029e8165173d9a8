#include "records/report/report_html.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

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
    "td.bar div{height:12px;background:#2e8b3a}td.bar div.fail-bar{background:#c62828}"
    "</style>\n";

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

// A click on a failure's row shows that unit's curves, where the report holds them.
const char kUnitScript[] =
    "<script>document.querySelectorAll('#failures tbody tr').forEach(function(tr){"
    "tr.style.cursor='pointer';tr.addEventListener('click',function(){"
    "document.querySelectorAll('.unit-curve').forEach(function(d){d.hidden=true});"
    "var d=document.getElementById('unit-'+tr.getAttribute('data-unit'));"
    "if(d){d.hidden=false;d.scrollIntoView()}})})</script>\n";

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

std::string firstPassHtml(const ReportData& data) {
    return "<p class=\"counts\"><span>first-pass yield <b id=\"first-pass-yield\">" +
           (data.firstRuns == 0
                ? std::string("-")
                : fixedText(100.0 * double(data.firstRunsPassed) / double(data.firstRuns), 1) +
                      " %") +
           "</b> (the first run of each of " + std::to_string(data.firstRuns) +
           (data.firstRuns == 1 ? " serial" : " serials") + ")</span></p>\n";
}

// The channels that did not pass by their reason, most first, each with its share.
std::string paretoTable(const ReportData& data) {
    size_t total = 0;
    for (const auto& entry : data.pareto) {
        total += entry.second;
    }
    if (total == 0) {
        return "<p>No channel failed.</p>\n";
    }
    std::string html = "<table id=\"pareto\"><thead><tr><th>reason</th><th>channels</th>"
                       "<th>share</th><th class=\"bar\"></th></tr></thead><tbody>\n";
    for (const auto& [code, count] : data.pareto) {
        const double share = 100.0 * double(count) / double(total);
        html += "<tr><td>" + escaped(code) + "</td><td>" + std::to_string(count) + "</td><td>" +
                fixedText(share, 1) +
                " %</td><td class=\"bar\"><div class=\"fail-bar\" "
                "style=\"width:" +
                fixedText(share, 1) + "%\"></div></td></tr>\n";
    }
    return html + "</tbody></table>\n";
}

// The limits files the units were judged with, and whether the drawn ones are among them.
std::string limitsHtml(const ReportPage& page, const ReportData& data) {
    std::map<std::pair<std::string, std::string>, size_t> used;
    for (const UnitRow& u : data.units) {
        if (!u.limitsSha256.empty()) {
            ++used[{u.limitsFile, u.limitsSha256}];
        }
    }
    std::string html = "<ul id=\"limits-used\">";
    bool drawnUsed = false;
    for (const auto& [file, count] : used) {
        html += "<li>" + escaped(file.first) + " (SHA-256 " + escaped(file.second.substr(0, 16)) +
                "…): " + std::to_string(count) + (count == 1 ? " unit" : " units") + "</li>";
        drawnUsed = drawnUsed || file.second == page.limitsSha256;
    }
    html +=
        used.empty() ? "<li>none: the units were measured without limits</li></ul>\n" : "</ul>\n";
    if (page.limits != nullptr && !drawnUsed) {
        html += "<p id=\"limits-other\" class=\"fail\">The limits drawn, " +
                escaped(page.limitsFile) + " (SHA-256 " + escaped(page.limitsSha256.substr(0, 16)) +
                "…), are not those any of these units was judged with.</p>\n";
    }
    return html;
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

// Passing, failing and not-trusted units apart, in bins that follow the data (a round width,
// about 24 across what the margins span), so that how close passing units come to a limit
// shows; the units with no margin are counted, not drawn.
std::string marginHistogram(const std::vector<UnitRow>& units) {
    double lowest = INFINITY;
    double highest = -INFINITY;
    size_t undrawn = 0;
    for (const UnitRow& u : units) {
        if (std::isfinite(u.worstMarginDb)) {
            lowest = std::min(lowest, u.worstMarginDb);
            highest = std::max(highest, u.worstMarginDb);
        } else {
            ++undrawn;
        }
    }
    double from = -1, to = 1, width = 1;
    if (std::isfinite(lowest)) {
        roundRange(std::min(lowest, 0.0), std::max(highest, 0.0) + 1e-9, 24, &from, &to, &width);
    }
    std::map<long, size_t> bins[3];
    size_t most = 1;
    for (const UnitRow& u : units) {
        const size_t kind = u.verdict == "fail" ? 1 : u.verdict == "not-trusted" ? 2 : 0;
        if (std::isfinite(u.worstMarginDb)) {
            most = std::max(most, ++bins[kind][long(std::floor((u.worstMarginDb - from) / width))]);
        }
    }
    Plot plot;
    plot.title =
        "Worst margin per unit (dB, " + fixedText(width, width < 1 ? 2 : 0) +
        "-dB bins; below 0 fails)" +
        (undrawn == 0 ? std::string()
                      : "; " + std::to_string(undrawn) + (undrawn == 1 ? " unit" : " units") +
                            " without a margin not drawn");
    plot.xLabel = "worst margin (dB)";
    plot.logX = false;
    plot.xMin = from;
    plot.xMax = to;
    PlotSeries series[3] = {{"units passing", {}, {}, 0, false, "", 6},
                            {"units failing", {}, {}, 1, false, "", 6},
                            {"units not trusted", {}, {}, 3, false, "", 6}};
    for (size_t kind = 0; kind < 3; ++kind) {
        for (const auto& bin : bins[kind]) {
            // Side by side within the bin: pass, fail, not trusted.
            const double x = from + (double(bin.first) + 0.25 * double(kind + 1)) * width;
            series[kind].x.insert(series[kind].x.end(), {x, x, x});
            series[kind].y.insert(series[kind].y.end(), {0, double(bin.second), NAN});
        }
    }
    double min = 0, max = 1, step = 1;
    roundRange(0, double(most) * 1.1, 6, &min, &max, &step);
    plot.panels.push_back({"units", 0, max, step, {series[0], series[1], series[2]}});
    plot.markers.push_back({0, "0 dB"});
    return "<p id=\"margins-undrawn\">" + std::to_string(undrawn) +
           (undrawn == 1 ? " unit" : " units") +
           " without a margin (measured without limits, or not trusted before a limit "
           "was judged) are not drawn.</p>\n" +
           renderSvg(plot);
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

// The spread of the trusted units' responses: 5, 50 and 95 % at each frequency of the grid
// most of them share. A not-trusted unit's curve (one at -70 dB, say) sets neither the
// spread nor the scale.
std::vector<PlotSeries> percentileBand(const ReportData& data, size_t* used) {
    const UnitCurve* grid = nullptr;
    for (const UnitCurve& c : data.curves) {
        if (c.trusted && c.recent &&
            (grid == nullptr || c.frequency.size() > grid->frequency.size())) {
            grid = &c;
        }
    }
    *used = 0;
    if (grid == nullptr) {
        return {};
    }
    std::vector<std::vector<double>> at(grid->frequency.size());
    for (const UnitCurve& c : data.curves) {
        if (!c.trusted || !c.recent || c.frequency != grid->frequency) {
            continue;
        }
        ++*used;
        for (size_t i = 0; i < c.levelDb.size(); ++i) {
            if (std::isfinite(c.levelDb[i])) {
                at[i].push_back(c.levelDb[i]);
            }
        }
    }
    std::vector<PlotSeries> band = {
        {"95 % of units below", grid->frequency, {}, 2, true, "4 3", 1.4},
        {"median", grid->frequency, {}, 0, false, "", 2},
        {"5 % of units below", grid->frequency, {}, 2, true, "4 3", 1.4}};
    for (std::vector<double>& levels : at) {
        std::sort(levels.begin(), levels.end());
        for (size_t k = 0; k < 3; ++k) {
            const double share = k == 0 ? 0.95 : k == 1 ? 0.5 : 0.05;
            band[k].y.push_back(
                levels.empty() ? NAN
                               : levels[size_t(std::lround(share * double(levels.size() - 1)))]);
        }
    }
    return band;
}

std::string responsePlot(const std::string& title, std::vector<PlotSeries> series,
                         const Limits* limits) {
    Plot plot;
    plot.title = title;
    plot.xLabel = "frequency (Hz)";
    PlotPanel panel{"level (dB)", -20, 10, 0, {}};
    double low = INFINITY, high = -INFINITY;
    for (const PlotSeries& s : series) {
        for (size_t i = 0; i < s.x.size(); ++i) {
            if (std::isfinite(s.y[i]) && s.x[i] > 0) {
                low = std::min(low, s.x[i]);
                high = std::max(high, s.x[i]);
            }
        }
    }
    panel.series = std::move(series);
    if (limits != nullptr) {
        addLimitLines(*limits, &panel);
    }
    plot.xMin = std::isfinite(low) ? low : 20;
    plot.xMax = std::isfinite(high) && high > plot.xMin ? high : 20000;
    levelRange(&panel);
    plot.panels.push_back(panel);
    return renderSvg(plot);
}

std::string responseBand(const ReportData& data, const Limits* limits) {
    size_t used = 0;
    std::vector<PlotSeries> band = percentileBand(data, &used);
    return responsePlot("5, 50 and 95 % of " + std::to_string(used) +
                            (used == 1 ? " channel" : " channels") +
                            " (dB re the reference; not-trusted units left out)",
                        band, limits);
}

// Each failed unit's own curves over the line's median and the limits, shown by a click on its
// row of the failures' table.
std::string unitCurves(const ReportData& data, const Limits* limits) {
    size_t used = 0;
    std::vector<PlotSeries> band = percentileBand(data, &used);
    std::set<std::string> latest;
    for (auto it = data.units.rbegin(); it != data.units.rend() && latest.size() < kFailureCurves;
         ++it) {
        if (it->verdict == "fail" || it->verdict == "not-trusted") {
            latest.insert(it->id);
        }
    }
    std::map<std::string, std::vector<PlotSeries>> byUnit;
    for (const UnitCurve& c : data.curves) {
        if (latest.count(c.unitId) != 0) {
            byUnit[c.unitId].push_back({"channel " + std::to_string(c.channel), c.frequency,
                                        c.levelDb, c.trusted ? 1 : 3, false, "", 1.8});
        }
    }
    std::string html;
    for (auto& [id, curves] : byUnit) {
        if (band.size() == 3) {
            curves.push_back(band[1]);
        }
        std::string serial;
        for (const UnitRow& u : data.units) {
            serial = u.id == id ? u.serial : serial;
        }
        html +=
            "<div class=\"unit-curve\" id=\"unit-" + escaped(id) + "\" hidden>" +
            responsePlot("Unit " + serial + ", relative to the reference, over the line's median",
                         curves, limits) +
            "</div>\n";
    }
    return html;
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
        html += "<tr class=\"" + it->verdict + "\" data-unit=\"" + escaped(it->id) + "\"><td>" +
                escaped(it->serial) + "</td><td>" + escaped(it->station) + "</td><td>" +
                escaped(it->measuredAt) + "</td><td>" + it->verdict + "</td><td>" +
                orDash(it->worstMarginDb, 2) + "</td><td>" + orDash(it->worstFrequency, 0) +
                "</td><td>" + escaped(it->reason) + "</td></tr>\n";
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
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>korvane yield report</title>\n" +
                       std::string(kStyle) + "</head><body>\n<h1>Yield report</h1>\n<p>" +
                       escaped(page.database) + ": " + escaped(filterText(page)) + ". Generated " +
                       page.generated + " UTC.</p>\n" + countsHtml(all) + firstPassHtml(data);
    html += "<h2>Yield per day</h2>\n" + countsTable("days", "day (UTC)", byDay);
    html += "<h2>Yield per station</h2>\n" + countsTable("stations", "station", byStation);
    html += "<h2>Limits</h2>\n" + limitsHtml(page, data);
    html += "<h2>Failures by reason</h2>\n" + paretoTable(data);
    html += "<h2>Worst margins</h2>\n" + marginHistogram(data.units);
    html += "<h2>Responses</h2>\n" + responseBand(data, page.limits);
    html += "<h2>Failures</h2>\n<p>Click a column's title to sort by it, a unit's row to see its "
            "curves (the latest " +
            std::to_string(kFailureCurves) + " failures').</p>\n" + failuresTable(data.units) +
            unitCurves(data, page.limits) + kSortScript + kUnitScript + "</body></html>\n";
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
