#include "ir_measure.h"

#include <cmath>
#include <vector>

#include "canonical_writer.h"
#include "command_line.h"
#include "fixed_text.h"
#include "ir_limits.h"
#include "ir_plots.h"
#include "json_text.h"
#include "loopback_check.h"
#include "platform/process.h"
#include "recording_trust.h"
#include "riff_reader.h"
#include "text_file.h"
#include "tool_exit.h"
#include "wav/wav_io.h"

namespace {

constexpr double kDefaultReference = 1000;
const char* const kPlotNames[] = {"response", "distortion", "ir"};

std::string withoutWav(const std::string& path) {
    if (path.size() >= 4) {
        std::string tail = path.substr(path.size() - 4);
        for (char& c : tail) {
            c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        }
        if (tail == ".wav") {
            return path.substr(0, path.size() - 4);
        }
    }
    return path;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeMonoWav(const std::string& path, uint32_t rate, const std::vector<float>& samples,
                  std::string* error) {
    CanonicalWriter writer;
    std::string why;
    std::vector<uint32_t> bits(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        bits[i] = floatBits(samples[i]);
    }
    if (openCanonicalWriter(&writer, path.c_str(), 1, rate, samples.size(), &why) != kWriteOk ||
        writeCanonicalFrames(&writer, bits.data(), uint32_t(samples.size()), &why) != kWriteOk) {
        abandonCanonicalWriter(&writer);
        *error = path + ": " + why;
        return false;
    }
    if (commitCanonicalWriter(&writer, &why) != kWriteOk) {
        *error = path + ": " + why;
        return false;
    }
    return true;
}

std::string csvText(const ChannelIr& ir, int orders) {
    std::string text = "frequency_hz,magnitude_db,phase_deg,thd_percent";
    for (int n = 2; n <= orders; ++n) {
        text += ",h" + std::to_string(n) + "_db,h" + std::to_string(n) + "_phase_deg";
    }
    text += "\n";
    for (const ResponsePoint& p : ir.points) {
        text += fixedText(p.frequency, 3) + "," + fixedText(p.magnitudeDb, 4) + "," +
                fixedText(p.phaseDeg, 3) + "," + fixedText(p.thdPercent, 5);
        for (int n = 2; n <= orders; ++n) {
            text += "," + fixedText(p.orderDb[size_t(n)], 4) + "," +
                    fixedText(p.orderPhaseDeg[size_t(n)], 3);
        }
        text += "\n";
    }
    return text;
}

Json pointJson(const ResponsePoint& p) {
    Json orders = Json::array();
    for (size_t n = 2; n < p.orderDb.size(); ++n) {
        orders.push_back({{"order", n},
                          {"levelDb", jsonNumber(p.orderDb[n])},
                          {"phaseDeg", jsonNumber(p.orderPhaseDeg[n])}});
    }
    return {{"frequencyHz", p.frequency},
            {"magnitudeDb", jsonNumber(p.magnitudeDb)},
            {"phaseDeg", jsonNumber(p.phaseDeg)},
            {"thdPercent", jsonNumber(p.thdPercent)},
            {"orders", orders}};
}

Json fileJson(const std::string& path, const WavData& data) {
    return {{"path", jsonString(path)},
            {"channels", data.format.channels},
            {"sampleRate", data.format.sampleRate},
            {"frames", data.frames}};
}

struct ChannelReport {
    uint32_t recorded = 0;
    uint32_t played = 0; // 0: none reaches it
    bool silent = false; // nothing was recorded: nothing to analyse
    ChannelIr ir;
    RecordingTrust trust;
    ResponsePoint reference;
    double worstThd = NAN;
    double worstThdFrequency = NAN;
    bool judged = false;
    LimitVerdict verdict;
    std::vector<std::string> files;
};

// The verdict, and why a channel fails when it does.
std::string verdictText(const ChannelReport& c) {
    if (c.verdict.pass) {
        return "pass, worst margin " + fixedText(c.verdict.worstMarginDb, 2) + " dB at " +
               fixedText(c.verdict.worstFrequency, 1) + " Hz (" + c.verdict.worstLimit + ")";
    }
    if (!c.trust.level || !c.trust.delay) {
        return "FAIL: " + c.trust.why;
    }
    if (!c.verdict.unmeasured.empty()) {
        return "FAIL: " + c.verdict.unmeasured;
    }
    return "FAIL, worst margin " + fixedText(c.verdict.worstMarginDb, 2) + " dB at " +
           fixedText(c.verdict.worstFrequency, 1) + " Hz (" + c.verdict.worstLimit + ")";
}

// The channel's impulse response, CSV and plots (with PNG copies while rsvg-convert is
// found); false, the fault written to err, when one cannot be written.
bool writeChannelFiles(const IrRequest& request, const std::string& prefix, uint32_t rate,
                       const IrOptions& options, const Limits* limits, bool* pngs, bool* pngMissing,
                       ChannelReport* report, FILE* err) {
    std::string error;
    const std::string stem = prefix + "-ch" + std::to_string(report->recorded);
    const std::string irPath = stem + "-ir.wav";
    if (!writeMonoWav(irPath, rate, report->ir.ir, &error) ||
        !writeTextFile(stem + ".csv", csvText(report->ir, options.orders), &error)) {
        std::fprintf(err, "korvane-wav: %s\n", error.c_str());
        return false;
    }
    report->files = {irPath, stem + ".csv"};
    if (!request.plots) {
        return true;
    }
    IrPlotContext context;
    context.channel = baseName(request.recorded) + " channel " + std::to_string(report->recorded) +
                      " (" + baseName(request.played) + " channel " +
                      std::to_string(report->played) + ")";
    context.rate = rate;
    context.smoothing = options.smoothing;
    context.referenceDb = report->reference.magnitudeDb;
    context.limits = limits;
    for (int i = 0; i < 3; ++i) {
        if (i == 1 && options.orders == 1) {
            continue; // no distortion to show
        }
        const std::string text = i == 0   ? responsePlotSvg(report->ir, context)
                                 : i == 1 ? distortionPlotSvg(report->ir, context)
                                          : impulsePlotSvg(report->ir, context);
        const std::string svg = stem + "-" + kPlotNames[i] + ".svg";
        if (!writeTextFile(svg, text, &error)) {
            std::fprintf(err, "korvane-wav: %s\n", error.c_str());
            return false;
        }
        report->files.push_back(svg);
        if (!*pngs) {
            continue;
        }
        const std::string png = stem + "-" + kPlotNames[i] + ".png";
        const int code = runProgram({"rsvg-convert", "-o", png, svg});
        if (code == kProgramNotStarted) {
            *pngs = false;
            *pngMissing = true;
        } else if (code != 0) {
            std::fprintf(err, "korvane-wav: %s: rsvg-convert failed\n", png.c_str());
            return false;
        } else {
            report->files.push_back(png);
        }
    }
    return true;
}

size_t lastSound(const std::vector<float>& samples) {
    size_t end = samples.size();
    while (end > 0 && samples[end - 1] == 0.0f) {
        --end;
    }
    return end;
}

// What every channel's report shares.
struct Summary {
    const IrRequest& request;
    const WavData& played;
    const WavData& recorded;
    const SyncSweep& sweep;
    const std::string& sweepSource;
    const IrOptions& options;
    double reference;
    bool judging;
    bool allPass;
    bool pngMissing;
};

Json limitsJson(const ChannelReport& c) {
    return {{"pass", c.verdict.pass},
            {"worstMarginDb", c.silent ? Json(nullptr) : jsonNumber(c.verdict.worstMarginDb)},
            {"worstFrequencyHz", c.silent ? Json(nullptr) : jsonNumber(c.verdict.worstFrequency)},
            {"worstLimit", c.verdict.worstLimit},
            {"unmeasured",
             c.verdict.unmeasured.empty() ? Json(nullptr) : jsonString(c.verdict.unmeasured)}};
}

void printJson(const Summary& s, const std::vector<ChannelReport>& reports, FILE* out) {
    const double msPerFrame = 1000.0 / s.sweep.rate;
    Json channels = Json::array();
    for (const ChannelReport& c : reports) {
        Json channel = {{"recorded", c.recorded},
                        {"played", c.played ? Json(c.played) : Json(nullptr)}};
        if (c.played != 0) {
            channel["delayFrames"] = c.silent ? Json(nullptr) : Json(c.ir.delay);
            channel["delayMs"] = c.silent ? Json(nullptr) : Json(c.ir.delay * msPerFrame);
            channel["trusted"] = {
                {"delay", c.trust.delay},
                {"level", c.trust.level},
                {"why", c.trust.why.empty() ? Json(nullptr) : jsonString(c.trust.why)}};
            Json files = Json::array();
            for (const std::string& file : c.files) {
                files.push_back(jsonString(file));
            }
            channel["files"] = files;
            channel["summary"] = {{"referenceHz", s.reference},
                                  {"magnitudeDb", jsonNumber(c.reference.magnitudeDb)},
                                  {"thdPercent", jsonNumber(c.reference.thdPercent)},
                                  {"maxThdPercent", jsonNumber(c.worstThd)},
                                  {"maxThdFrequencyHz", jsonNumber(c.worstThdFrequency)}};
            if (c.judged) {
                channel["limits"] = limitsJson(c);
            }
            Json points = Json::array();
            for (const ResponsePoint& p : c.ir.points) {
                points.push_back(pointJson(p));
            }
            channel["points"] = points;
        }
        channels.push_back(channel);
    }
    double low = 0;
    double high = 0;
    fullLevelBand(s.sweep, &low, &high);
    const Json document = {
        {"played", fileJson(s.request.played, s.played)},
        {"recorded", fileJson(s.request.recorded, s.recorded)},
        {"sweep",
         {{"source", jsonString(s.sweepSource)},
          {"fromHz", s.sweep.from},
          {"toHz", s.sweep.to},
          {"L", s.sweep.rateConstant},
          {"bandFromHz", low},
          {"bandToHz", high}}},
        {"orders", s.options.orders},
        {"smoothing", s.options.smoothing > 0 ? Json(s.options.smoothing) : Json(nullptr)},
        {"pngSkipped", s.pngMissing},
        {"channels", channels},
        {"limits", s.judging
                       ? Json({{"path", jsonString(s.request.limitsPath)}, {"pass", s.allPass}})
                       : Json(nullptr)}};
    std::fputs(jsonDocument(document).c_str(), out);
}

void printText(const Summary& s, const std::vector<ChannelReport>& reports, FILE* out) {
    const double msPerFrame = 1000.0 / s.sweep.rate;
    double low = 0;
    double high = 0;
    fullLevelBand(s.sweep, &low, &high);
    std::fprintf(out, "sweep: %s Hz to %s Hz, L = %s s (%s); analysed from %s to %s Hz\n",
                 fixedText(s.sweep.from, 2).c_str(), fixedText(s.sweep.to, 2).c_str(),
                 fixedText(s.sweep.rateConstant, 6).c_str(), s.sweepSource.c_str(),
                 fixedText(low, 2).c_str(), fixedText(high, 2).c_str());
    auto orDash = [](double value, int decimals) {
        return std::isnan(value) ? std::string("-") : fixedText(value, decimals);
    };
    for (const ChannelReport& c : reports) {
        if (c.played == 0) {
            std::fprintf(out, "channel %u: no played channel reaches it\n", unsigned(c.recorded));
            continue;
        }
        if (c.silent) {
            std::fprintf(out, "channel %u (played %u): nothing was recorded\n",
                         unsigned(c.recorded), unsigned(c.played));
        } else {
            std::fprintf(out,
                         "channel %u (played %u): delay %u frames (%s ms); at %s Hz %s dB, THD "
                         "%s %%; THD at most %s %% (%s Hz)\n",
                         unsigned(c.recorded), unsigned(c.played), unsigned(c.ir.delay),
                         fixedText(c.ir.delay * msPerFrame, 3).c_str(),
                         fixedText(s.reference, 0).c_str(),
                         orDash(c.reference.magnitudeDb, 2).c_str(),
                         orDash(c.reference.thdPercent, 3).c_str(), orDash(c.worstThd, 3).c_str(),
                         orDash(c.worstThdFrequency, 1).c_str());
            if (!c.trust.level || !c.trust.delay) {
                std::fprintf(out, "  warning: %s\n", c.trust.why.c_str());
            }
        }
        if (c.judged) {
            std::fprintf(out, "  limits: %s\n", verdictText(c).c_str());
        }
        if (c.silent) {
            continue;
        }
        std::fprintf(out, "  impulse response: %s (from %u frames before the delay)\n",
                     c.files[0].c_str(), unsigned(c.ir.lead));
        std::string others;
        for (size_t i = 1; i < c.files.size(); ++i) {
            others += (i > 1 ? ", " : "") + c.files[i];
        }
        std::fprintf(out, "  files: %s\n", others.c_str());
    }
    if (s.pngMissing) {
        std::fprintf(out, "note: rsvg-convert is not installed: no PNG files\n");
    }
    if (s.judging) {
        std::fprintf(out, "limits %s: %s\n", s.request.limitsPath.c_str(),
                     s.allPass ? "pass" : "FAIL");
    }
}

} // namespace

ToolExit runIrMeasurement(const IrRequest& request, FILE* out, FILE* err) {
    auto inputError = [&](const std::string& message) {
        return fileError(err, message, kToolInput);
    };
    std::string error;
    WavData played;
    WavData recorded;
    if (loadWavData(request.played.c_str(), &played, &error) != kReadOk) {
        return inputError(request.played + ": " + error);
    }
    if (loadWavData(request.recorded.c_str(), &recorded, &error) != kReadOk) {
        return inputError(request.recorded + ": " + error);
    }
    SyncSweep sweep;
    std::string sweepSource = "options";
    if (request.seconds > 0) {
        if (!planSyncSweep(request.from, request.to, request.seconds, played.format.sampleRate,
                           &sweep, &error)) {
            return inputError(error);
        }
    } else {
        sweepSource = sweepSidecarPath(request.played);
        if (!readSweepSidecar(sweepSource, &sweep, &error)) {
            return inputError(error + " (give the sweep with --from, --to and --seconds)");
        }
    }
    if (sweep.rate != played.format.sampleRate || sweep.rate != recorded.format.sampleRate) {
        return inputError("the sweep, " + request.played + " and " + request.recorded +
                          " must have one sample rate (" + std::to_string(sweep.rate) + ", " +
                          std::to_string(played.format.sampleRate) + " and " +
                          std::to_string(recorded.format.sampleRate) + " Hz)");
    }
    Limits limits;
    const bool judging = !request.limitsPath.empty();
    IrOptions options = request.analysis;
    options.probes = {kDefaultReference};
    if (judging) {
        if (!readLimits(request.limitsPath, &limits, &error)) {
            return inputError(error);
        }
        options.probes = limitFrequencies(limits);
        options.orders = std::max(options.orders, limits.highestOrder);
    }
    const double reference = judging ? limits.reference : kDefaultReference;
    const std::string prefix =
        request.outPrefix.empty() ? withoutWav(request.recorded) : request.outPrefix;

    CheckOptions map;
    map.playStart = request.playStart;
    map.recStart = request.recStart;
    Fft fft;
    SweepInverse inverse;
    int64_t inverted = -1;
    bool pngs = request.plots;
    bool pngMissing = false;
    bool allPass = true;
    std::vector<ChannelReport> reports;
    for (uint32_t r = 0; r < recorded.channels.size(); ++r) {
        ChannelReport report;
        report.recorded = r + 1;
        const int64_t source = playedChannelFor(r, uint32_t(played.channels.size()), map);
        if (source < 0) {
            reports.push_back(report);
            continue;
        }
        report.played = uint32_t(source + 1);
        const std::vector<float>& x = played.channels[size_t(source)];
        const std::vector<float>& y = recorded.channels[r];
        if (lastSound(y) == 0) {
            report.silent = true;
            report.trust = {false, false, "nothing was recorded"};
            report.reference.magnitudeDb = report.reference.thdPercent = NAN;
            report.judged = judging;
            report.verdict.pass = false;
            allPass = allPass && !judging;
            reports.push_back(report);
            continue;
        }
        if (source != inverted) {
            prepareSweepInverse(x, y.size(), sweep, &fft, &inverse);
            inverted = source;
        }
        if (!analyseChannel(inverse, y, sweep, options, &fft, &report.ir, &error)) {
            return inputError(request.recorded + ", channel " + std::to_string(r + 1) + ": " +
                              error);
        }
        report.trust = judgeRecording(y, report.ir.delay, lastSound(x));
        report.reference = report.ir.probes[0];
        for (const ResponsePoint& p : report.ir.points) {
            if (p.thdPercent > report.worstThd || std::isnan(report.worstThd)) {
                report.worstThd = p.thdPercent;
                report.worstThdFrequency = p.frequency;
            }
        }
        if (judging) {
            std::vector<ResponsePoint> points = report.ir.points;
            points.insert(points.end(), report.ir.probes.begin(), report.ir.probes.end());
            report.judged = true;
            report.verdict = judgeLimits(limits, points, report.reference.magnitudeDb);
            report.verdict.pass = report.verdict.pass && report.trust.level && report.trust.delay;
            allPass = allPass && report.verdict.pass;
        }

        if (!writeChannelFiles(request, prefix, sweep.rate, options, judging ? &limits : nullptr,
                               &pngs, &pngMissing, &report, err)) {
            return kToolOutput;
        }
        report.ir.span.clear();
        report.ir.ir.clear();
        reports.push_back(std::move(report));
    }

    Summary summary{request, played,    recorded, sweep,   sweepSource,
                    options, reference, judging,  allPass, pngMissing};
    if (request.json) {
        printJson(summary, reports, out);
    } else {
        printText(summary, reports, out);
    }
    return judging && !allPass ? kToolLimitsFailed : kToolOk;
}
