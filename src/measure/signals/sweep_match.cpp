#include "measure/signals/sweep_match.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A float holds 24 significant bits: a value written from the same double differs by at
// most half a unit in its last place; a few units allow for another writer's rounding.
constexpr double kFloatUlps = 8.0 / (1 << 24);

std::string valueText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Where the sweep starts in the channel and its level.
void placement(const SyncSweep& sweep, bool placed, const std::vector<double>& unit,
               const std::vector<float>& channel, uint32_t index, uint64_t* start, double* level) {
    if (placed) {
        *start = sweep.startFrame + uint64_t(index) * sweep.staggerFrames;
    } else {
        // The sweep's first frame is 0; its sound starts with the next.
        const auto sound =
            std::find_if(channel.begin(), channel.end(), [](float v) { return v != 0; });
        const uint64_t first = uint64_t(sound - channel.begin());
        *start = first > 0 ? first - 1 : 0;
    }
    if (placed && sweep.level > 0) {
        *level = sweep.level;
        return;
    }
    size_t peak = 0;
    const uint64_t held = std::min<uint64_t>(
        unit.size(), channel.size() - std::min<uint64_t>(*start, channel.size()));
    for (size_t k = 1; k < held; ++k) {
        peak = std::fabs(unit[k]) > std::fabs(unit[peak]) ? k : peak;
    }
    *level = held > 0 && unit[peak] != 0 ? channel[size_t(*start + peak)] / unit[peak] : 0;
}

} // namespace

std::vector<double> unitSweep(const SyncSweep& sweep, uint64_t frames) {
    std::vector<double> unit(size_t(std::min(sweep.frames, frames)));
    for (size_t k = 0; k < unit.size(); ++k) {
        unit[k] = syncSweepValue(sweep, k);
    }
    return unit;
}

bool channelHoldsSweep(const SyncSweep& sweep, bool placed, const std::vector<double>& unit,
                       const std::vector<float>& channel, uint32_t index, std::string* why) {
    uint64_t start = 0;
    double level = 0;
    placement(sweep, placed, unit, channel, index, &start, &level);
    const double tolerance = kFloatUlps * std::fabs(level);
    const uint64_t end = start + repeatedSweepFrames(sweep);
    const uint64_t period = sweep.repeat > 1 ? sweep.periodFrames : sweep.frames;
    uint64_t phase = 0; // (t - start) % period from start on, stepped rather than divided
    for (uint64_t t = 0; t < channel.size(); ++t) {
        uint64_t at = sweep.frames;
        if (t >= start && t < end) {
            at = phase;
            phase = phase + 1 == period ? 0 : phase + 1;
        }
        const double expected = at < sweep.frames && at < unit.size() ? level * unit[at] : 0;
        if (std::fabs(channel[size_t(t)] - expected) > tolerance) {
            *why = "at frame " + std::to_string(t) + " it holds " + valueText(channel[size_t(t)]) +
                   ", the sweep " + valueText(expected);
            return false;
        }
    }
    if (end > channel.size()) {
        *why = "it ends at frame " + std::to_string(channel.size()) +
               ", before the sweep does at " + std::to_string(end);
        return false;
    }
    return true;
}
