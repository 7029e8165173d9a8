#include <string>
#include <utility>

#include "commands.h"
#include "measure/files/canonical_writer.h"
#include "measure/signals/signal_gen.h"
#include "measure/text/number_text.h"

namespace {

// The options that take a plain number, and where it goes.
const std::pair<const char*, double SignalSpec::*> kNumberOptions[] = {
    {"--seconds", &SignalSpec::seconds},
    {"--freq", &SignalSpec::frequency},
    {"--freq-step", &SignalSpec::frequencyStep},
    {"--from", &SignalSpec::from},
    {"--to", &SignalSpec::to},
    {"--at", &SignalSpec::at},
    {"--stagger", &SignalSpec::stagger},
    {"--pad", &SignalSpec::padSeconds},
    {"--gap", &SignalSpec::gapSeconds}};

// A plain number option: its checks, and the field it goes to.
ToolExit readNumberOption(const std::string& name, const std::string& text, SignalSpec* spec,
                          FILE* err) {
    double number = 0;
    const bool frequency = name == "--freq" || name == "--from" || name == "--to";
    if (!parseNumber(text, &number) || number < 0 || (frequency && number <= 0) ||
        (name == "--seconds" && number <= 0)) {
        return usageError(err, "gen",
                          name + (frequency               ? " needs a frequency above 0 Hz"
                                  : name == "--freq-step" ? " needs 0 Hz or more"
                                  : name == "--seconds"   ? " needs seconds above 0"
                                                          : " needs 0 seconds or more"));
    }
    for (const auto& field : kNumberOptions) {
        if (name == field.first) {
            spec->*field.second = number;
        }
    }
    return kToolOk;
}

// The options into *spec; kToolOk, or the usage fault already reported.
ToolExit readGenOptions(const Arguments& arguments, SignalSpec* spec, FILE* err) {
    for (const auto& option : arguments.options) {
        const std::string& name = option.first;
        const std::string& text = option.second;
        uint64_t whole = 0;
        ToolExit result = kToolOk;
        if (name == "--synchronized") {
            spec->synchronized = true;
        } else if (name == "--channels") {
            if (!parseWhole(text, kMaxSignalChannels, &whole) || whole < 1) {
                return usageError(err, "gen", "--channels needs a count from 1 to 64");
            }
            spec->channels = uint32_t(whole);
        } else if (name == "--rate") {
            if (!parseWhole(text, 0xFFFFFFFFu, &whole) || whole < 1) {
                return usageError(err, "gen", "--rate needs a whole number of Hz, 1 or more");
            }
            spec->sampleRate = uint32_t(whole);
        } else if (name == "--repeat") {
            if (!parseWhole(text, 1000, &whole) || whole < 1) {
                return usageError(err, "gen", "--repeat needs a count from 1 to 1000");
            }
            spec->repeat = uint32_t(whole);
        } else if (name == "--seed") {
            if (!parseWhole(text, UINT64_MAX / 10, &whole)) {
                return usageError(err, "gen", "--seed needs a whole number");
            }
            spec->seed = whole;
        } else if (name == "--level") {
            if (!parseLevel(text, &spec->level)) {
                return usageError(err, "gen",
                                  "--level needs a linear level from 0 to 1 or dBFS, e.g. -6dB");
            }
        } else {
            result = readNumberOption(name, text, spec, err);
        }
        if (result != kToolOk) {
            return result;
        }
    }
    return kToolOk;
}

} // namespace

ToolExit runGen(const Arguments& arguments, FILE* out, FILE* err) {
    std::string error;
    SignalSpec spec;
    const ToolExit usage = readGenOptions(arguments, &spec, err);
    if (usage != kToolOk) {
        return usage;
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "gen", "needs KIND and OUT");
    }
    if (!signalKindFromName(arguments.positional[0], &spec.kind)) {
        return usageError(err, "gen",
                          "unknown KIND " + arguments.positional[0] +
                              " (sine, sweep, noise, impulse or silence)");
    }
    const char* outPath = arguments.positional[1].c_str();
    SignalPlan plan;
    const ToolExit result = generateWav(spec, outPath, &plan, &error);
    if (result == kToolUsage) {
        return usageError(err, "gen", error);
    }
    if (result != kToolOk) {
        return fileError(err, error, result);
    }
    if (!korvaneProbeAccepts(outPath, spec.channels, uint32_t(plan.totalFrames))) {
        return fileError(err, std::string(outPath) + ": korvane's probe refuses the written file",
                         kToolOutput);
    }
    std::fprintf(out, "%s: %s, %s, %u Hz, %s, peak %s dBFS\n", outPath, signalKindName(spec.kind),
                 countText(spec.channels, "channel").c_str(), unsigned(spec.sampleRate),
                 countText(plan.totalFrames, "frame").c_str(),
                 dbfs(spec.kind == kSignalSilence ? 0 : plan.level).c_str());
    if (spec.synchronized) {
        const std::string repeats =
            plan.sweep.repeat > 1 ? ", " + std::to_string(plan.sweep.repeat) + " of them every " +
                                        countText(plan.sweep.periodFrames, "frame")
                                  : "";
        std::fprintf(out, "%s: synchronized sweep, %g Hz to %g Hz, L = %.9g s, %s%s\n",
                     sweepSidecarPath(outPath).c_str(), plan.sweep.from, plan.sweep.to,
                     plan.sweep.rateConstant, countText(plan.sweep.frames, "frame").c_str(),
                     repeats.c_str());
    }
    return kToolOk;
}
