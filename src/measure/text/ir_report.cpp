#include "measure/text/ir_report.h"

#include <cmath>

#include "measure/analysis/rub_buzz.h"
#include "measure/text/check_report.h"
#include "measure/text/json_text.h"
#include "measure/text/number_text.h"

namespace {

// What the report says of the whole measurement.
struct IrSummary {
    const IrJob& request;
    const WavData& played;
    const WavData& recorded;
    const SyncSweep& sweep;
    const std::string& sweepSource;
    const IrOptions& options;
    double reference;
    bool judging;
    bool allPass;
    bool trusted;
    bool pngMissing;
};

IrSummary summaryOf(const IrJob& job, const IrResults& r) {
    return {job,         r.played,  r.recorded, r.m.sweep, r.sweepSource, r.m.options,
            r.reference, r.judging, r.allPass,  r.trusted, r.pngMissing};
}

std::string marginText(const LimitVerdict& v) {
    return "worst margin " + fixedText(v.worstMarginDb, 2) + " dB at " +
           fixedText(v.worstFrequency, 1) + " Hz (" + v.worstLimit + ")";
}

// The verdict, and why a channel fails when it does.
std::string verdictText(const IrChannelReport& c) {
    if (c.verdict.pass) {
        return std::isnan(c.verdict.worstFrequency) ? "pass" : "pass, " + marginText(c.verdict);
    }
    if (!c.analysed && c.problems.empty()) {
        return "FAIL: nothing was recorded";
    }
    if (!c.problems.empty()) {
        return "FAIL: the recording cannot be trusted";
    }
    if (!c.verdict.unmeasured.empty()) {
        return "FAIL: " + c.verdict.unmeasured;
    }
    if (!c.verdict.polarityFault.empty()) {
        return "FAIL: " + c.verdict.polarityFault;
    }
    return "FAIL, " + marginText(c.verdict);
}

Json pointJson(const ResponsePoint& p) {
    Json orders = Json::array();
    for (size_t n = 2; n < p.orderDb.size(); ++n) {
        orders.push_back({{"order", n},
                          {"levelDb", jsonNumber(p.orderDb[n])},
                          {"phaseDeg", jsonNumber(p.orderPhaseDeg[n])},
                          {"noiseDb", jsonNumber(p.orderNoiseDb[n])},
                          {"belowNoise", bool(p.orderBelowNoise[n])}});
    }
    return {{"frequencyHz", p.frequency},
            {"magnitudeDb", jsonNumber(p.magnitudeDb)},
            {"phaseDeg", jsonNumber(p.phaseDeg)},
            {"thdPercent", jsonNumber(p.thdPercent)},
            {"thdBelowNoise", p.thdBelowNoise},
            {"noiseDb", jsonNumber(p.noiseDb)},
            {"lowSnr", p.lowSnr},
            {"noiseMeasured", !p.noiseUnmeasured},
            {"orders", orders},
            {"rubBuzz",
             {{"peakDb", jsonNumber(p.rbPeakDb)},
              {"rmsDb", jsonNumber(p.rbRmsDb)},
              {"crestDb", jsonNumber(p.rbCrestDb)}}}};
}

Json limitsJson(const IrChannelReport& c) {
    const bool margin = c.analysed && !std::isnan(c.verdict.worstFrequency);
    return {
        {"pass", c.verdict.pass},
        {"worstMarginDb", margin ? jsonNumber(c.verdict.worstMarginDb) : Json()},
        {"worstFrequencyHz", margin ? jsonNumber(c.verdict.worstFrequency) : Json()},
        {"worstLimit", margin ? jsonString(c.verdict.worstLimit) : Json()},
        {"unmeasured", c.verdict.unmeasured.empty() ? Json() : jsonString(c.verdict.unmeasured)},
        {"polarityFault",
         c.verdict.polarityFault.empty() ? Json() : jsonString(c.verdict.polarityFault)}};
}

} // namespace

namespace {

std::string orDash(double value, int decimals) {
    return std::isnan(value) ? std::string("-") : fixedText(value, decimals);
}

Json decayJson(const DecayTime& t) {
    return {
        {"seconds", jsonNumber(t.seconds)},
        {"correlation", jsonNumber(t.correlation)},
        {"withheld",
         *roomWithheldName(t.withheld) != 0 ? Json(roomWithheldName(t.withheld)) : Json()},
        {"why", *roomWithheldName(t.withheld) != 0 ? Json(roomWithheldText(t.withheld)) : Json()}};
}

// "6.154 %", "below noise", or "-" where no order is measured.
std::string thdText(const ResponsePoint& p) {
    return p.thdBelowNoise ? "below noise" : orDash(p.thdPercent, 3) + " %";
}

std::string worstThdText(const IrChannelReport& c) {
    if (!std::isnan(c.worstThd)) {
        return "THD at most " + fixedText(c.worstThd, 3) + " % (" +
               fixedText(c.worstThdFrequency, 1) + " Hz)";
    }
    for (const ResponsePoint& p : c.ir.points) {
        if (p.thdBelowNoise) {
            return "THD below noise throughout";
        }
    }
    return "THD at most - % (- Hz)";
}

// How many points a flag holds for, and from where to where.
struct PointRun {
    size_t count = 0;
    double from = 0;
    double to = 0;
};

template <typename Flag> PointRun pointsWhere(const IrChannelReport& c, Flag flag) {
    PointRun run;
    for (const ResponsePoint& p : c.ir.points) {
        if (flag(p)) {
            run.from = run.count++ == 0 ? p.frequency : run.from;
            run.to = p.frequency;
        }
    }
    return run;
}

// Where the noise lets the magnitude be off by more than kResponseErrorDb, and where no lag
// held the noise apart from the response.
void printLowSnr(FILE* out, const IrChannelReport& c) {
    const unsigned long long points = c.ir.points.size();
    const PointRun low = pointsWhere(c, [](const ResponsePoint& p) { return p.lowSnr; });
    if (low.count != 0) {
        std::fprintf(out,
                     "  noise: below %s dB SNR the magnitude may be off by more than %s dB: %llu "
                     "of %llu points, from %s to %s Hz\n",
                     fixedText(kLeastSnrDb, 1).c_str(), fixedText(kResponseErrorDb, 1).c_str(),
                     (unsigned long long)low.count, points, fixedText(low.from, 1).c_str(),
                     fixedText(low.to, 1).c_str());
    }
    const PointRun unknown =
        pointsWhere(c, [](const ResponsePoint& p) { return p.noiseUnmeasured; });
    if (unknown.count != 0) {
        std::fprintf(out,
                     "  noise floor not measurable: pad too short: %llu of %llu points, from %s "
                     "to %s Hz (pad the played file longer)\n",
                     (unsigned long long)unknown.count, points, fixedText(unknown.from, 1).c_str(),
                     fixedText(unknown.to, 1).c_str());
    }
}

// The highest rub and buzz peak, with its crest factor, and the band it is measured in.
void printRubBuzz(FILE* out, const IrSummary& s, const IrChannelReport& c) {
    const ResponsePoint* worst = nullptr;
    const ResponsePoint* last = nullptr;
    const ResponsePoint* first = nullptr;
    for (const ResponsePoint& p : c.ir.points) {
        if (!std::isnan(p.rbPeakDb)) {
            first = first != nullptr ? first : &p;
            last = &p;
            worst = worst == nullptr || p.rbPeakDb > worst->rbPeakDb ? &p : worst;
        }
    }
    if (worst == nullptr) {
        return;
    }
    std::fprintf(out,
                 "  rub and buzz: peak at most %s dB re the fundamental (%s Hz), crest %s dB; "
                 "orders from %s up, %s to %s Hz\n",
                 fixedText(worst->rbPeakDb, 1).c_str(), fixedText(worst->frequency, 1).c_str(),
                 orDash(worst->rbCrestDb, 1).c_str(),
                 fixedText(s.options.rubBuzzMultiple, 0).c_str(),
                 fixedText(first->frequency, 1).c_str(), fixedText(last->frequency, 1).c_str());
}

// Where the window ends by a gate, or before the decay does.
void printWindow(FILE* out, const IrSummary& s, const IrChannelReport& c) {
    const double ms = double(c.ir.window.after) * 1000.0 / s.sweep.rate;
    if (!std::isnan(c.ir.gateLowestHz)) {
        std::fprintf(out,
                     "  gate: %s ms after the direct sound: the response holds from %s Hz up\n",
                     fixedText(ms, 2).c_str(), fixedText(c.ir.gateLowestHz, 1).c_str());
    } else if (!std::isnan(c.ir.cutBelowHz)) {
        std::fprintf(out,
                     "  window: it ends %s ms after the direct sound, before the decay does: the "
                     "response is affected from %s Hz down (a longer --ir-length, or none, "
                     "follows the decay)\n",
                     fixedText(ms, 1).c_str(), fixedText(c.ir.cutBelowHz, 1).c_str());
    }
}

std::string bandText(const RoomBand& b) {
    return b.centreHz > 0 ? fixedText(b.centreHz, 0) + " Hz" : "all";
}

// The room's table, then each reason for a "-" with the bands and times it holds for.
void printRoom(FILE* out, const IrChannelReport& c) {
    if (c.room.empty()) {
        return;
    }
    std::fprintf(out,
                 "  room:   band    EDT s   T20 s   T30 s  C50 dB  C80 dB   D50 %%   curv %%\n");
    for (const RoomBand& b : c.room) {
        std::fprintf(out, "  %12s %8s %7s %7s %7s %7s %7s %8s\n", bandText(b).c_str(),
                     orDash(b.edt.seconds, 3).c_str(), orDash(b.t20.seconds, 3).c_str(),
                     orDash(b.t30.seconds, 3).c_str(), orDash(b.c50Db, 2).c_str(),
                     orDash(b.c80Db, 2).c_str(), orDash(b.d50Percent, 1).c_str(),
                     std::isnan(b.curvaturePercent) ? "-"
                                                    : fixedText(b.curvaturePercent, 1).c_str());
    }
    for (RoomWithheld why :
         {RoomWithheld::Range, RoomWithheld::Pad, RoomWithheld::Filter, RoomWithheld::NoDecay}) {
        std::string where;
        for (const RoomBand& b : c.room) {
            std::string times;
            for (const auto& [name, t] : {std::pair<const char*, const DecayTime*>{"EDT", &b.edt},
                                          {"T20", &b.t20},
                                          {"T30", &b.t30}}) {
                if (t->withheld == why) {
                    times += std::string(times.empty() ? " " : "/") + name;
                }
            }
            if (!times.empty()) {
                where += std::string(where.empty() ? "" : ", ") + bandText(b) + times;
            }
        }
        if (!where.empty()) {
            std::fprintf(out, "  room: \"-\" for %s: %s\n", where.c_str(), roomWithheldText(why));
        }
    }
}

void printIrChannel(FILE* out, const IrSummary& s, const IrChannelReport& c) {
    if (c.played == 0) {
        std::fprintf(out, "channel %u: no played channel reaches it\n", unsigned(c.recorded));
    } else if (!c.analysed) {
        std::fprintf(out, "channel %u (played %u): nothing to analyse\n", unsigned(c.recorded),
                     unsigned(c.played));
    } else {
        std::fprintf(out,
                     "channel %u (played %u): delay %lld frames (%s ms), drift %s ppm%s; at %s "
                     "Hz %s dB, THD %s; %s; polarity %s\n",
                     unsigned(c.recorded), unsigned(c.played), (long long)c.ir.delay,
                     fixedText(double(c.ir.delay) * 1000.0 / s.sweep.rate, 3).c_str(),
                     c.ir.drift.measured ? fixedText(c.ir.drift.ppm, 2).c_str() : "-",
                     c.ir.correctedPpm != 0
                         ? (" (" + fixedText(c.ir.correctedPpm, 2) + " ppm corrected)").c_str()
                         : "",
                     fixedText(s.reference, 0).c_str(), orDash(c.reference.magnitudeDb, 2).c_str(),
                     thdText(c.reference).c_str(), worstThdText(c).c_str(),
                     polarityName(c.ir.polarity));
        printLowSnr(out, c);
        printRubBuzz(out, s, c);
        printWindow(out, s, c);
        printRoom(out, c);
    }
    for (const auto& problem : c.problems) {
        std::fprintf(out, "  not trusted: %s\n", problem.second.c_str());
    }
    if (c.judged) {
        std::fprintf(out, "  limits: %s\n", verdictText(c).c_str());
    }
    // A channel whose files were not written (the output folder is missing, the disk full)
    // names none: the error that follows the report says why.
    if (!c.analysed || c.files.empty()) {
        return;
    }
    std::fprintf(out, "  impulse response: %s (from %u frames before the delay)\n",
                 c.files[0].c_str(), unsigned(c.ir.lead));
    std::string others;
    for (size_t i = 1; i < c.files.size(); ++i) {
        others += (i > 1 ? ", " : "") + c.files[i];
    }
    std::fprintf(out, "  files: %s\n", others.c_str());
}

} // namespace

void printIrText(FILE* out, const IrJob& job, const IrResults& results) {
    const IrSummary s = summaryOf(job, results);
    const std::vector<IrChannelReport>& reports = results.reports;
    double low = 0;
    double high = 0;
    fullLevelBand(s.sweep, &low, &high);
    const double distortion = distortionFrom(s.sweep, s.options);
    std::fprintf(out, "sweep: %s Hz to %s Hz, L = %s s (%s); analysed from %s to %s Hz%s\n",
                 fixedText(s.sweep.from, 2).c_str(), fixedText(s.sweep.to, 2).c_str(),
                 fixedText(s.sweep.rateConstant, 6).c_str(), s.sweepSource.c_str(),
                 fixedText(low, 2).c_str(), fixedText(high, 2).c_str(),
                 std::isnan(distortion)
                     ? ""
                     : (", distortion from " + fixedText(distortion, 2) + " Hz").c_str());
    std::vector<uint32_t> untrusted;
    for (const IrChannelReport& c : reports) {
        printIrChannel(out, s, c);
        if (!c.problems.empty()) {
            untrusted.push_back(c.recorded);
        }
    }
    if (s.pngMissing) {
        std::fprintf(out, "note: rsvg-convert is not installed: no PNG files\n");
    }
    printUntrustedSummary(out, untrusted);
    if (s.judging) {
        std::fprintf(out, "limits %s: %s\n", s.request.limitsPath.c_str(),
                     s.allPass ? "pass" : "FAIL");
    }
}

namespace {

// What an analysed channel adds: its delay, drift, files, summary and points.
void addMeasurementJson(const IrSummary& s, const IrChannelReport& c, Json* channel) {
    const DriftEstimate& drift = c.ir.drift;
    (*channel)["delayFrames"] = c.ir.delay;
    (*channel)["delayMs"] = double(c.ir.delay) * 1000.0 / s.sweep.rate;
    (*channel)["driftPpm"] = jsonNumber(drift.measured ? drift.ppm : NAN);
    (*channel)["driftPhaseDeg"] = jsonNumber(drift.measured ? drift.phaseDeg : NAN);
    (*channel)["driftCorrectedPpm"] = c.ir.correctedPpm;
    (*channel)["driftMisfitDeg"] = jsonNumber(drift.measured ? drift.residualDeg : NAN);
    (*channel)["directToNoiseDb"] = jsonNumber(c.ir.peakToNoiseDb);
    (*channel)["polarity"] = polarityName(c.ir.polarity);
    const double msPerFrame = 1000.0 / s.sweep.rate;
    (*channel)["window"] = {{"afterDelayMs", double(c.ir.window.after) * msPerFrame},
                            {"fadeMs", double(c.ir.window.fade) * msPerFrame},
                            {"cutsDecay", !std::isnan(c.ir.cutBelowHz)},
                            {"affectedBelowHz", jsonNumber(c.ir.cutBelowHz)},
                            {"gateMs", jsonNumber(s.options.gateMs > 0 ? s.options.gateMs : NAN)},
                            {"gateLowestHz", jsonNumber(c.ir.gateLowestHz)}};
    if (!c.room.empty()) {
        Json room = Json::array();
        for (const RoomBand& b : c.room) {
            room.push_back({{"bandHz", b.centreHz > 0 ? Json(b.centreHz) : Json()},
                            {"edtS", jsonNumber(b.edt.seconds)},
                            {"t20S", jsonNumber(b.t20.seconds)},
                            {"t30S", jsonNumber(b.t30.seconds)},
                            {"edt", decayJson(b.edt)},
                            {"t20", decayJson(b.t20)},
                            {"t30", decayJson(b.t30)},
                            {"curvaturePercent", jsonNumber(b.curvaturePercent)},
                            {"c50Db", jsonNumber(b.c50Db)},
                            {"c80Db", jsonNumber(b.c80Db)},
                            {"d50Percent", jsonNumber(b.d50Percent)},
                            {"rangeDb", jsonNumber(b.rangeDb)}});
        }
        (*channel)["room"] = room;
    }
    Json files = Json::array();
    for (const std::string& file : c.files) {
        files.push_back(jsonString(file));
    }
    (*channel)["files"] = files;
    (*channel)["summary"] = {{"referenceHz", s.reference},
                             {"magnitudeDb", jsonNumber(c.reference.magnitudeDb)},
                             {"thdPercent", jsonNumber(c.reference.thdPercent)},
                             {"maxThdPercent", jsonNumber(c.worstThd)},
                             {"maxThdFrequencyHz", jsonNumber(c.worstThdFrequency)}};
    Json points = Json::array();
    for (const ResponsePoint& p : c.ir.points) {
        points.push_back(pointJson(p));
    }
    (*channel)["points"] = points;
}

} // namespace

void printIrJson(FILE* out, const IrJob& job, const IrResults& results) {
    const IrSummary s = summaryOf(job, results);
    const std::vector<IrChannelReport>& reports = results.reports;
    Json channels = Json::array();
    for (const IrChannelReport& c : reports) {
        Json channel = {{"recorded", c.recorded}, {"played", c.played ? Json(c.played) : Json()}};
        channel["trusted"] = c.problems.empty();
        Json problems = Json::array();
        for (const auto& problem : c.problems) {
            problems.push_back({{"kind", problem.first}, {"text", jsonString(problem.second)}});
        }
        channel["problems"] = problems;
        if (c.judged) {
            channel["limits"] = limitsJson(c);
        }
        if (c.analysed) {
            addMeasurementJson(s, c, &channel);
        }
        channels.push_back(std::move(channel));
    }
    double low = 0;
    double high = 0;
    fullLevelBand(s.sweep, &low, &high);
    const Json document = {
        {"played", recordingFileJson(s.request.played.c_str(), s.played)},
        {"recorded", recordingFileJson(s.request.recorded.c_str(), s.recorded)},
        {"sweep",
         {{"source", jsonString(s.sweepSource)},
          {"fromHz", s.sweep.from},
          {"toHz", s.sweep.to},
          {"L", s.sweep.rateConstant},
          {"bandFromHz", low},
          {"bandToHz", high},
          {"distortionFromHz", jsonNumber(distortionFrom(s.sweep, s.options))},
          {"rubBuzzMultiple", s.options.rubBuzzMultiple},
          {"rubBuzzToHz", rubBuzzHighestHz(s.sweep, s.options.rubBuzzMultiple)}}},
        {"orders", s.options.orders},
        {"smoothing", s.options.smoothing > 0 ? Json(s.options.smoothing) : Json()},
        {"pngSkipped", s.pngMissing},
        {"channels", channels},
        {"trusted", s.trusted},
        {"limits", s.judging
                       ? Json({{"path", jsonString(s.request.limitsPath)}, {"pass", s.allPass}})
                       : Json()}};
    std::fputs(jsonDocument(document).c_str(), out);
}
