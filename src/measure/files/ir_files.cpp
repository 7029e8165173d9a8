#include "measure/files/ir_files.h"

#include <vector>

#include "measure/files/canonical_writer.h"
#include "measure/files/file_names.h"
#include "measure/files/text_file.h"
#include "measure/plots/ir_plots.h"
#include "measure/text/number_text.h"
#include "platform/process.h"
#include "wav/wav_io.h"

namespace {

const char* const kPlotNames[] = {"response", "distortion", "ir", "decay"};

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
    text += ",noise_db,rb_peak_db,rb_rms_db,rb_crest_db\n";
    for (const ResponsePoint& p : ir.points) {
        text += fixedText(p.frequency, 3) + "," + fixedText(p.magnitudeDb, 4) + "," +
                fixedText(p.phaseDeg, 3) + "," + fixedText(p.thdPercent, 5);
        for (int n = 2; n <= orders; ++n) {
            text += "," + fixedText(p.orderDb[size_t(n)], 4) + "," +
                    fixedText(p.orderPhaseDeg[size_t(n)], 3);
        }
        text += "," + fixedText(p.noiseDb, 4) + "," + fixedText(p.rbPeakDb, 2) + "," +
                fixedText(p.rbRmsDb, 2) + "," + fixedText(p.rbCrestDb, 2) + "\n";
    }
    return text;
}

// The PNG copy of an SVG; a missing rsvg-convert stops the copies without a fault.
bool writePng(IrFiles* files, const std::string& stem, int plot, const std::string& svg,
              IrChannelReport* report, std::string* error) {
    const std::string png = stem + "-" + kPlotNames[plot] + ".png";
    const int code = runProgram({"rsvg-convert", "-o", png, svg});
    if (code == kProgramNotStarted) {
        files->pngs = false;
        files->pngMissing = true;
    } else if (code != 0) {
        *error = png + ": rsvg-convert failed";
        return false;
    } else {
        report->files.push_back(png);
    }
    return true;
}

bool writePlots(IrFiles* files, const std::string& stem, const IrPlotContext& context,
                const IrOptions& options, IrChannelReport* report, std::string* error) {
    for (int i = 0; i < 4; ++i) {
        if ((i == 1 && options.orders == 1) || (i == 3 && report->room.empty())) {
            continue; // no distortion, or no room, to show
        }
        const std::string text = i == 0   ? responsePlotSvg(report->ir, context)
                                 : i == 1 ? distortionPlotSvg(report->ir, context)
                                 : i == 2 ? impulsePlotSvg(report->ir, context)
                                          : decayPlotSvg(report->room, context);
        const std::string svg = stem + "-" + kPlotNames[i] + ".svg";
        if (!writeTextFile(svg, text, error)) {
            return false;
        }
        report->files.push_back(svg);
        if (files->pngs && !writePng(files, stem, i, svg, report, error)) {
            return false;
        }
    }
    return true;
}

std::string roomCsvText(const std::vector<RoomBand>& room) {
    std::string text = "band_hz,edt_s,t20_s,t30_s,c50_db,c80_db,d50_percent,range_db,edt_r,t20_r,"
                       "t30_r,curvature_percent,edt_withheld,t20_withheld,t30_withheld\n";
    for (const RoomBand& b : room) {
        text += (b.centreHz > 0 ? fixedText(b.centreHz, 0) : std::string("all")) + "," +
                fixedText(b.edt.seconds, 3) + "," + fixedText(b.t20.seconds, 3) + "," +
                fixedText(b.t30.seconds, 3) + "," + fixedText(b.c50Db, 2) + "," +
                fixedText(b.c80Db, 2) + "," + fixedText(b.d50Percent, 1) + "," +
                fixedText(b.rangeDb, 1) + "," + fixedText(b.edt.correlation, 4) + "," +
                fixedText(b.t20.correlation, 4) + "," + fixedText(b.t30.correlation, 4) + "," +
                fixedText(b.curvaturePercent, 1) + "," + roomWithheldName(b.edt.withheld) + "," +
                roomWithheldName(b.t20.withheld) + "," + roomWithheldName(b.t30.withheld) + "\n";
    }
    return text;
}

} // namespace

bool writeIrChannelFiles(IrFiles* files, uint32_t rate, const IrOptions& options,
                         const Limits* limits, IrChannelReport* report, std::string* error) {
    const std::string stem = files->prefix + "-ch" + std::to_string(report->recorded);
    const std::string irPath = stem + "-ir.wav";
    if (!writeMonoWav(irPath, rate, report->ir.ir, error) ||
        !writeTextFile(stem + ".csv", csvText(report->ir, options.orders), error)) {
        return false;
    }
    report->files = {irPath, stem + ".csv"};
    if (!report->room.empty()) {
        if (!writeTextFile(stem + "-room.csv", roomCsvText(report->room), error)) {
            return false;
        }
        report->files.push_back(stem + "-room.csv");
    }
    if (!files->plots) {
        return true;
    }
    IrPlotContext context;
    context.channel = baseName(files->recorded) + " channel " + std::to_string(report->recorded) +
                      " (" + baseName(files->played) + " channel " +
                      std::to_string(report->played) + ")";
    context.rate = rate;
    context.smoothing = options.smoothing;
    context.referenceDb = report->reference.magnitudeDb;
    context.limits = limits;
    context.verdict = report->judged ? &report->verdict : nullptr;
    return writePlots(files, stem, context, options, report, error);
}
