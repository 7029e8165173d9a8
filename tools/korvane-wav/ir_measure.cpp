#include "ir_measure.h"

#include <cmath>
#include <vector>

#include "command_line.h"
#include "ir_report.h"
#include "measure/analysis/loopback_check.h"
#include "measure/exit_codes.h"
#include "measure/files/canonical_writer.h"
#include "measure/files/riff_reader.h"
#include "measure/files/text_file.h"
#include "measure/limits/ir_limits.h"
#include "measure/plots/ir_plots.h"
#include "measure/text/number_text.h"
#include "platform/process.h"
#include "wav/wav_io.h"

namespace {

constexpr double kDefaultReference = 1000;
// A recorded peak at or above this, -0.01 dBFS, may have clipped.
constexpr double kClipLevel = 0.99885;
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

// The channel's impulse response, CSV and plots (with PNG copies while rsvg-convert is
// found); false, the fault written to err, when one cannot be written.
bool writeChannelFiles(const IrRequest& request, const std::string& prefix, uint32_t rate,
                       const IrOptions& options, const Limits* limits, bool* pngs, bool* pngMissing,
                       IrChannelReport* report, FILE* err) {
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

bool hasSound(const std::vector<float>& samples) {
    for (float s : samples) {
        if (s != 0.0f) {
            return true;
        }
    }
    return false;
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

    Fft fft;
    SweepInverse inverse;
    int64_t inverted = -1;
    bool pngs = request.plots;
    bool pngMissing = false;
    CheckOptions map;
    map.playStart = request.playStart;
    map.recStart = request.recStart;
    std::vector<IrChannelReport> reports;
    for (uint32_t r = 0; r < recorded.channels.size(); ++r) {
        IrChannelReport report;
        report.recorded = r + 1;
        const int64_t source = playedChannelFor(r, uint32_t(played.channels.size()), map);
        report.played = source >= 0 ? uint32_t(source + 1) : 0;
        const std::vector<float>& y = recorded.channels[r];
        // A silent channel has no response to find; check says why.
        if (source < 0 || !hasSound(y)) {
            reports.push_back(report);
            continue;
        }
        if (source != inverted) {
            prepareSweepInverse(played.channels[size_t(source)], y.size(), sweep, &fft, &inverse);
            inverted = source;
        }
        if (!analyseChannel(inverse, y, sweep, options, &fft, &report.ir, &error)) {
            return inputError(request.recorded + ", channel " + std::to_string(r + 1) + ": " +
                              error);
        }
        report.analysed = true;
        report.reference = report.ir.probes[0];
        for (const ResponsePoint& p : report.ir.points) {
            if (p.thdPercent > report.worstThd || std::isnan(report.worstThd)) {
                report.worstThd = p.thdPercent;
                report.worstThdFrequency = p.frequency;
            }
        }
        if (!writeChannelFiles(request, prefix, sweep.rate, options, judging ? &limits : nullptr,
                               &pngs, &pngMissing, &report, err)) {
            return kToolOutput;
        }
        report.ir.span.clear();
        report.ir.ir.clear();
        reports.push_back(std::move(report));
    }

    // check's verdict on the recording, searched as far as the delays ir found, and a
    // level near full scale: either makes a channel's result untrustworthy.
    map.maxDelay = kDefaultMaxDelay;
    for (const IrChannelReport& report : reports) {
        map.maxDelay = std::max<int64_t>(map.maxDelay, int64_t(report.ir.delay) + kDefaultMaxDelay);
    }
    const std::vector<ChannelCheck> checks = checkRecording(played, recorded, map);
    IrSummary summary{request, played, recorded, sweep, sweepSource, options};
    summary.reference = reference;
    summary.judging = judging;
    summary.pngMissing = pngMissing;
    for (IrChannelReport& report : reports) {
        const ChannelCheck& check = checks[report.recorded - 1];
        for (TrustProblem problem : kTrustProblems) {
            if (check.problems & problem) {
                report.problems.push_back(
                    {trustProblemName(problem),
                     trustProblemText(check, problem, map, recorded.format.sampleRate)});
            }
        }
        if (check.peak >= kClipLevel) {
            report.problems.push_back(
                {"may-have-clipped", "the recording peaks at " +
                                         fixedText(20 * std::log10(check.peak), 2) +
                                         " dBFS and may have clipped"});
        }
        summary.trusted = summary.trusted && report.problems.empty();
        if (judging && report.played != 0) {
            report.judged = true;
            if (report.analysed) {
                std::vector<ResponsePoint> points = report.ir.points;
                points.insert(points.end(), report.ir.probes.begin(), report.ir.probes.end());
                report.verdict = judgeLimits(limits, points, report.reference.magnitudeDb);
            }
            report.verdict.pass = report.analysed && report.verdict.pass && report.problems.empty();
        }
        summary.allPass = summary.allPass && (report.verdict.pass || !report.judged);
    }
    // A channel map that leaves signal unheard fails the line too.
    summary.allPass = summary.allPass && summary.trusted;
    if (request.json) {
        printIrJson(out, summary, reports);
    } else {
        printIrText(out, summary, reports);
    }
    if (judging) {
        return summary.allPass ? kToolOk : kToolLimitsFailed;
    }
    return summary.trusted ? kToolOk : kToolUntrusted;
}
