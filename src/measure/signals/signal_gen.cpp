#include "measure/signals/signal_gen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/exit_codes.h"
#include "measure/files/canonical_writer.h"
#include "measure/maths.h"
#include "measure/text/name_table.h"
#include "wav/wav_io.h"

namespace {

constexpr uint32_t kGenerateBlockFrames = 16384;

uint64_t splitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string hz(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g Hz", value);
    return text;
}

// What passed the limit, in frames and seconds, and the limit itself.
std::string tooLong(const char* what, double frames, const SignalSpec& spec) {
    const uint64_t limit = maxCanonicalFrames(spec.channels);
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s, %.0f frames (%g s at %u Hz), is more than a WAV file of %u channel%s holds "
                  "in the 4 GiB its 32-bit sizes allow: at most %llu frames (%g s)",
                  what, frames, frames / spec.sampleRate, unsigned(spec.sampleRate),
                  unsigned(spec.channels), spec.channels == 1 ? "" : "s", (unsigned long long)limit,
                  double(limit) / spec.sampleRate);
    return text;
}

bool belowNyquist(double frequency, uint32_t sampleRate) {
    return frequency > 0 && frequency < double(sampleRate) / 2;
}

double sample(const SignalGenerator& generator, uint32_t channel, uint64_t frame) {
    const SignalSpec& spec = generator.spec;
    const SignalPlan& plan = generator.plan;
    const double rate = spec.sampleRate;
    switch (spec.kind) {
    case kSignalSine: {
        const double frequency = spec.frequency + channel * spec.frequencyStep;
        // The phase in whole turns, reduced first so that long files keep their precision.
        const double turns = std::fmod(double(frame) * frequency, rate) / rate;
        return plan.level * std::sin(2 * kPi * turns);
    }
    case kSignalSweep: {
        if (spec.synchronized) {
            return plan.level * repeatedSweepValue(plan.sweep, frame);
        }
        const double duration = double(plan.signalFrames) / rate;
        const double k = std::log(plan.to / spec.from);
        const double t = double(frame) / rate;
        const double phase = 2 * kPi * spec.from * duration / k * (std::exp(t * k / duration) - 1);
        return plan.level * std::sin(phase);
    }
    case kSignalImpulse:
        return frame == plan.atFrame ? plan.level : 0.0;
    default:
        return 0.0;
    }
}

} // namespace

const NamedValue<SignalKind> kSignalKindNames[] = {{kSignalSine, "sine"},
                                                   {kSignalSweep, "sweep"},
                                                   {kSignalNoise, "noise"},
                                                   {kSignalImpulse, "impulse"},
                                                   {kSignalSilence, "silence"}};

bool signalKindFromName(const std::string& name, SignalKind* kind) {
    return valueNamed(kSignalKindNames, name.c_str(), kind);
}

const char* signalKindName(SignalKind kind) {
    return nameOf(kSignalKindNames, kind, "silence");
}

double defaultSignalLevel(SignalKind kind) {
    return kind == kSignalImpulse ? 1.0 : 0.5;
}

namespace {

// The lengths in frames, checked as exact values before any is narrowed.
bool planLengths(const SignalSpec& spec, SignalPlan* plan, std::string* error) {
    const double rate = spec.sampleRate;
    const double signal = std::round(spec.seconds * rate);
    const double stagger = std::round(spec.stagger * rate);
    const double pad = std::round(spec.padSeconds * rate);
    const double at = std::round(spec.at * rate);
    if (!(signal >= 1)) {
        *error = "the length must be at least one frame";
        return false;
    }
    if (!(stagger >= 0 && pad >= 0 && at >= 0)) {
        *error = "the stagger, padding and impulse position must be 0 or more seconds";
        return false;
    }
    const double total = signal + (spec.channels - 1) * stagger + pad;
    if (total > double(maxCanonicalFrames(spec.channels))) {
        const bool alone = signal > double(maxCanonicalFrames(spec.channels));
        *error = tooLong(alone ? "the length" : "the file with stagger and padding",
                         alone ? signal : total, spec);
        return false;
    }
    plan->signalFrames = uint64_t(signal);
    plan->staggerFrames = uint64_t(stagger);
    plan->padFrames = uint64_t(pad);
    plan->atFrame = uint64_t(std::min(at, double(plan->signalFrames)));
    return true;
}

bool checkSineFrequencies(const SignalSpec& spec, std::string* error) {
    for (uint32_t c = 0; c < spec.channels; ++c) {
        const double frequency = spec.frequency + c * spec.frequencyStep;
        if (!belowNyquist(frequency, spec.sampleRate)) {
            *error = "channel " + std::to_string(c + 1) + "'s frequency " + hz(frequency) +
                     " is not between 0 and half the rate, " + hz(spec.sampleRate / 2.0);
            return false;
        }
    }
    return true;
}

bool planSweep(const SignalSpec& spec, SignalPlan* plan, std::string* error) {
    if (plan->to < 0) {
        plan->to = 0.45 * spec.sampleRate < 20000 ? 0.45 * spec.sampleRate : 20000;
    }
    if (!belowNyquist(spec.from, spec.sampleRate) || !belowNyquist(plan->to, spec.sampleRate) ||
        spec.from == plan->to) {
        *error = "the sweep's limits " + hz(spec.from) + " and " + hz(plan->to) +
                 " must differ and lie between 0 and half the rate, " + hz(spec.sampleRate / 2.0);
        return false;
    }
    if (spec.synchronized) {
        if (!planSyncSweep(spec.from, plan->to, spec.seconds, spec.sampleRate, &plan->sweep,
                           error)) {
            return false;
        }
        plan->sweep.level = plan->level;
        plan->sweep.staggerFrames = plan->staggerFrames;
        const double gap = std::round(spec.gapSeconds * spec.sampleRate);
        if (spec.repeat > 1) {
            plan->sweep.repeat = spec.repeat;
            plan->sweep.periodFrames = plan->sweep.frames + uint64_t(gap);
        }
        plan->signalFrames = repeatedSweepFrames(plan->sweep);
        const double total = double(plan->signalFrames) +
                             (spec.channels - 1) * double(plan->staggerFrames) +
                             double(plan->padFrames);
        if (total > double(maxCanonicalFrames(spec.channels))) {
            *error = tooLong("the repeated sweeps with stagger and padding", total, spec);
            return false;
        }
    } else if (spec.repeat > 1) {
        *error = "only a synchronized sweep is repeated";
        return false;
    }
    return true;
}

} // namespace

bool planSignal(const SignalSpec& spec, SignalPlan* plan, std::string* error) {
    *plan = SignalPlan();
    if (spec.channels < 1 || spec.channels > kMaxSignalChannels) {
        *error = "the channel count must be 1 to " + std::to_string(kMaxSignalChannels);
        return false;
    }
    if (spec.sampleRate < 1) {
        *error = "the sample rate must be at least 1 Hz";
        return false;
    }
    plan->level = spec.level < 0 ? defaultSignalLevel(spec.kind) : spec.level;
    if (!(plan->level <= 1.0)) {
        *error = "the level must be at most 1 (0 dBFS)";
        return false;
    }
    if (!planLengths(spec, plan, error) ||
        (spec.kind == kSignalSine && !checkSineFrequencies(spec, error))) {
        return false;
    }
    plan->to = spec.to;
    if (spec.kind == kSignalSweep && !planSweep(spec, plan, error)) {
        return false;
    }
    if (spec.kind != kSignalSweep && (spec.synchronized || spec.repeat > 1)) {
        *error = spec.synchronized ? "only a sweep is synchronized"
                                   : "only a synchronized sweep is repeated";
        return false;
    }
    if (spec.kind == kSignalImpulse && plan->atFrame >= plan->signalFrames) {
        *error = "the impulse position must lie inside the signal's length";
        return false;
    }
    plan->totalFrames =
        plan->signalFrames + (spec.channels - 1) * plan->staggerFrames + plan->padFrames;
    return true;
}

void startSignal(SignalGenerator* generator, const SignalSpec& spec, const SignalPlan& plan) {
    generator->spec = spec;
    generator->plan = plan;
    generator->nextFrame = 0;
    generator->noiseState.assign(spec.channels, 0);
    for (uint32_t c = 0; c < spec.channels; ++c) {
        // Each channel its own stream, so that channels do not correlate; the seed is
        // hashed first, or seed s + 1 would play seed s's second channel.
        uint64_t seed = spec.seed;
        uint64_t mix = splitMix(&seed) + c;
        generator->noiseState[c] = splitMix(&mix);
    }
}

void generateFrames(SignalGenerator* generator, float* samples, uint32_t frames) {
    const SignalSpec& spec = generator->spec;
    const SignalPlan& plan = generator->plan;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint64_t frame = generator->nextFrame + i;
        for (uint32_t c = 0; c < spec.channels; ++c) {
            const uint64_t start = c * plan.staggerFrames;
            double value = 0;
            if (frame >= start && frame - start < plan.signalFrames) {
                if (spec.kind == kSignalNoise) {
                    // 24 bits, uniform on [-1, 1), so every value is exact in a float.
                    const int32_t draw =
                        int32_t(splitMix(&generator->noiseState[c]) >> 40) - (1 << 23);
                    value = plan.level * (double(draw) / 8388608.0);
                } else {
                    value = sample(*generator, c, frame - start);
                }
            }
            samples[size_t(i) * spec.channels + c] = float(value);
        }
    }
    generator->nextFrame += frames;
}

ToolExit generateWav(const SignalSpec& spec, const char* path, SignalPlan* plan,
                     std::string* error) {
    if (!planSignal(spec, plan, error)) {
        return kToolUsage;
    }
    std::string why;
    CanonicalWriter writer;
    if (openCanonicalWriter(&writer, path, spec.channels, spec.sampleRate, plan->totalFrames,
                            &why) != kWriteOk) {
        *error = std::string(path) + ": " + why;
        return kToolOutput;
    }
    SignalGenerator generator;
    startSignal(&generator, spec, *plan);
    std::vector<float> samples(size_t(kGenerateBlockFrames) * spec.channels);
    std::vector<uint32_t> bits(samples.size());
    uint64_t left = plan->totalFrames;
    while (left > 0) {
        const uint32_t step = uint32_t(left < kGenerateBlockFrames ? left : kGenerateBlockFrames);
        generateFrames(&generator, samples.data(), step);
        for (size_t i = 0; i < size_t(step) * spec.channels; ++i) {
            bits[i] = floatBits(samples[i]);
        }
        if (writeCanonicalFrames(&writer, bits.data(), step, &why) != kWriteOk) {
            abandonCanonicalWriter(&writer);
            *error = std::string(path) + ": " + why;
            return kToolOutput;
        }
        left -= step;
    }
    if (commitCanonicalWriter(&writer, &why) != kWriteOk) {
        *error = std::string(path) + ": " + why;
        return kToolOutput;
    }
    if (spec.synchronized && !writeSweepSidecar(sweepSidecarPath(path), plan->sweep, error)) {
        return kToolOutput;
    }
    return kToolOk;
}
