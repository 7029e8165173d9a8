#include "measure/signals/sweep.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "measure/files/file_names.h"
#include "measure/files/text_file.h"
#include "measure/maths.h"

namespace {

// Each fade lasts as long as the sweep takes for this part of an octave: short enough to
// leave the band alone, long enough that neither end clicks.
constexpr double kFadeOctaves = 1.0 / 24;
const char* const kRequired[4] = {"rate", "from", "to", "L"};
// A sweep fits in a WAV file of one channel of 32-bit samples.
constexpr double kMaxSweepFrames = 1073741823;
constexpr uint64_t kMostRepeats = 1000;

std::string hz(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g Hz", value);
    return text;
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

} // namespace

bool planSyncSweep(double from, double to, double seconds, uint32_t rate, SyncSweep* sweep,
                   std::string* error) {
    *sweep = SyncSweep();
    if (!(from > 0) || !(to > from) || !(to < rate / 2.0)) {
        *error = "a synchronized sweep rises: from " + hz(from) + " to " + hz(to) +
                 " must lie between 0 and half the rate, " + hz(rate / 2.0) + ", from below to";
        return false;
    }
    const double logRatio = std::log(to / from); // the sweep lasts L ln(to / from)
    const double turns = std::round(from * seconds / logRatio);
    if (!(seconds > 0) || turns < 1) {
        *error = "the sweep is too short for one whole turn at " + hz(from);
        return false;
    }
    if (!(turns / from * logRatio * rate <= kMaxSweepFrames)) {
        *error = "a sweep of " + number(seconds) + " s at " + std::to_string(rate) +
                 " Hz is longer than a WAV file holds";
        return false;
    }
    sweep->rate = rate;
    sweep->from = from;
    sweep->to = to;
    sweep->rateConstant = turns / from;
    sweep->frames = uint64_t(std::llround(sweep->rateConstant * logRatio * rate));
    const uint64_t fade =
        uint64_t(std::llround(sweep->rateConstant * std::log(2.0) * kFadeOctaves * rate));
    sweep->fadeInFrames = sweep->fadeOutFrames = std::min(fade, sweep->frames / 4);
    return true;
}

double syncSweepValue(const SyncSweep& sweep, uint64_t frame) {
    if (frame >= sweep.frames) {
        return 0;
    }
    // 2 pi f1 L e^(t/L) less the whole turns f1 L, which leave the sine alone; expm1 keeps
    // the start precise, the fraction keeps late phases small.
    const double wholeTurns = std::round(sweep.from * sweep.rateConstant);
    const double t = double(frame) / sweep.rate;
    double turns = wholeTurns * std::expm1(t / sweep.rateConstant);
    turns -= std::floor(turns);
    double value = std::sin(2 * kPi * turns);
    if (frame < sweep.fadeInFrames) {
        value *= 0.5 - 0.5 * std::cos(kPi * double(frame) / double(sweep.fadeInFrames));
    }
    const uint64_t left = sweep.frames - 1 - frame;
    if (left < sweep.fadeOutFrames) {
        value *= 0.5 - 0.5 * std::cos(kPi * double(left) / double(sweep.fadeOutFrames));
    }
    return value;
}

double repeatedSweepValue(const SyncSweep& sweep, uint64_t frame) {
    if (sweep.repeat <= 1 || sweep.periodFrames == 0) {
        return syncSweepValue(sweep, frame);
    }
    return frame < repeatedSweepFrames(sweep) ? syncSweepValue(sweep, frame % sweep.periodFrames)
                                              : 0;
}

uint64_t repeatedSweepFrames(const SyncSweep& sweep) {
    return sweep.repeat <= 1 ? sweep.frames
                             : uint64_t(sweep.repeat - 1) * sweep.periodFrames + sweep.frames;
}

std::string sweepSidecarPath(const std::string& wavPath) {
    return withoutWavSuffix(wavPath) + ".sweep";
}

bool writeSweepSidecar(const std::string& path, const SyncSweep& sweep, std::string* error) {
    const std::string text =
        "# korvane-wav synchronized sweep: x(t) = level sin(2 pi from L e^(t / L)),\n"
        "# t = frame / rate, frames from start (+ stagger per further channel)\n"
        "rate " +
        std::to_string(sweep.rate) + "\nfrom " + number(sweep.from) + "\nto " + number(sweep.to) +
        "\nL " + number(sweep.rateConstant) + "\nframes " + std::to_string(sweep.frames) +
        "\nfade_in " + std::to_string(sweep.fadeInFrames) + "\nfade_out " +
        std::to_string(sweep.fadeOutFrames) + "\nlevel " + number(sweep.level) + "\nstart " +
        std::to_string(sweep.startFrame) + "\nstagger " + std::to_string(sweep.staggerFrames) +
        "\n" +
        (sweep.repeat > 1 ? "repeat " + std::to_string(sweep.repeat) + "\nperiod " +
                                std::to_string(sweep.periodFrames) + "\n"
                          : std::string());
    return writeTextFile(path, text, error);
}

namespace {

// The value of a sidecar line as a number, when it is one: finite, not negative.
bool sidecarNumber(const char* text, double* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return *end == '\0' && errno == 0 && std::isfinite(*value) && *value >= 0;
}

// Where a whole-number key goes; null for a key read as a real number or not known.
uint64_t* wholeField(const char* key, SyncSweep* sweep) {
    return std::strcmp(key, "frames") == 0     ? &sweep->frames
           : std::strcmp(key, "fade_in") == 0  ? &sweep->fadeInFrames
           : std::strcmp(key, "fade_out") == 0 ? &sweep->fadeOutFrames
           : std::strcmp(key, "start") == 0    ? &sweep->startFrame
           : std::strcmp(key, "stagger") == 0  ? &sweep->staggerFrames
           : std::strcmp(key, "period") == 0   ? &sweep->periodFrames
                                               : nullptr;
}

// One "key value" line into the sweep; false when its value is bad for its key. Keys not
// known are passed over, for sidecars of later versions.
bool takeSidecarLine(const char* key, double value, SyncSweep* sweep) {
    const uint64_t whole =
        value == std::floor(value) && value < 1e15 ? uint64_t(value) : UINT64_MAX;
    if (std::strcmp(key, "rate") == 0) {
        sweep->rate = uint32_t(whole);
        return whole >= 1 && whole <= UINT32_MAX;
    }
    if (std::strcmp(key, "repeat") == 0) {
        sweep->repeat = uint32_t(std::min<uint64_t>(whole, kMostRepeats + 1));
        return whole >= 1 && whole <= kMostRepeats;
    }
    double* real = std::strcmp(key, "from") == 0    ? &sweep->from
                   : std::strcmp(key, "to") == 0    ? &sweep->to
                   : std::strcmp(key, "L") == 0     ? &sweep->rateConstant
                   : std::strcmp(key, "level") == 0 ? &sweep->level
                                                    : nullptr;
    if (real != nullptr) {
        *real = value;
        return true;
    }
    uint64_t* target = wholeField(key, sweep);
    if (target != nullptr) {
        *target = whole;
    }
    return target == nullptr || whole != UINT64_MAX;
}

std::string frameCount(double frames) {
    char text[40];
    std::snprintf(text, sizeof text, "%.0f", frames);
    return text;
}

// Every value in range and each consistent with the rest: a sidecar edited by hand, or left
// from another sweep, is refused rather than measured with.
bool sidecarHoldsTogether(SyncSweep& sweep, std::string* error) {
    const double turns = sweep.from * sweep.rateConstant;
    if (!(sweep.from > 0) || !(sweep.to > sweep.from) || !(sweep.to < sweep.rate / 2.0) ||
        !(turns >= 1) || std::fabs(turns - std::round(turns)) > 1e-6) {
        *error = "from, to and L do not make a synchronized sweep at this rate";
        return false;
    }
    const double length = sweep.rateConstant * std::log(sweep.to / sweep.from) * sweep.rate;
    if (!(length <= kMaxSweepFrames)) {
        *error = "from, to and L make a sweep of " + frameCount(length) +
                 " frames, more than a WAV file holds";
        return false;
    }
    if (sweep.frames == 0) {
        // Not given: the sweep as gen makes it from from, to and L.
        sweep.frames = uint64_t(std::llround(length));
        const uint64_t fade =
            uint64_t(std::llround(sweep.rateConstant * std::log(2.0) * kFadeOctaves * sweep.rate));
        sweep.fadeInFrames =
            sweep.fadeInFrames != 0 ? sweep.fadeInFrames : std::min(fade, sweep.frames / 4);
        sweep.fadeOutFrames =
            sweep.fadeOutFrames != 0 ? sweep.fadeOutFrames : std::min(fade, sweep.frames / 4);
    }
    if (std::fabs(double(sweep.frames) - length) > 1) {
        *error = "frames " + std::to_string(sweep.frames) + " do not match from, to and L (" +
                 frameCount(std::round(length)) + ")";
        return false;
    }
    if (sweep.fadeInFrames + sweep.fadeOutFrames > sweep.frames) {
        *error = "fade_in and fade_out are longer than the sweep's " +
                 std::to_string(sweep.frames) + " frames";
        return false;
    }
    if (sweep.repeat > 1 &&
        (sweep.periodFrames < sweep.frames ||
         double(sweep.repeat - 1) * double(sweep.periodFrames) + double(sweep.frames) >
             kMaxSweepFrames)) {
        *error = "repeat " + std::to_string(sweep.repeat) + " and period " +
                 std::to_string(sweep.periodFrames) + " do not hold the sweeps";
        return false;
    }
    if (!(sweep.level <= 1) || sweep.startFrame > kMaxSweepFrames ||
        sweep.staggerFrames > kMaxSweepFrames) {
        *error = "level must lie from 0 to 1, start and stagger within a WAV file's length";
        return false;
    }
    return true;
}

} // namespace

bool readSweepSidecar(const std::string& path, SyncSweep* sweep, std::string* error) {
    *sweep = SyncSweep();
    std::string text;
    if (!readTextFile(path, &text, error)) {
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    bool seen[4] = {};
    while (std::getline(lines, line)) {
        ++lineNumber;
        char key[32];
        char value[200];
        const int fields = std::sscanf(line.c_str(), " %31s %199s", key, value);
        if (fields <= 0 || key[0] == '#') {
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            seen[k] = seen[k] || std::strcmp(key, kRequired[k]) == 0;
        }
        double parsed = 0;
        if (fields != 2 || !sidecarNumber(value, &parsed) || !takeSidecarLine(key, parsed, sweep)) {
            *error = path + ": line " + std::to_string(lineNumber) + ": bad \"" + key + "\"";
            return false;
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (!seen[k]) {
            *error = path + ": no \"" + kRequired[k] + "\" line";
            return false;
        }
    }
    if (!sidecarHoldsTogether(*sweep, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}
