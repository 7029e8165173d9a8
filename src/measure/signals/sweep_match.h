// Whether a played channel holds the synchronized sweep its sidecar or the options
// describe: the sweep regenerated and compared within float rounding, so that an analysis
// never assumes a sweep other than the one that was played.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/signals/sweep.h"

// The sweep's own values, unit peak, for the frames a channel of `frames` can hold.
std::vector<double> unitSweep(const SyncSweep& sweep, uint64_t frames);

// Channel `index` (0-based) against the sweep: placed where the sweep says (start, stagger,
// level) when `placed`, else where its sound starts, at the level it has. False with *why
// naming the first frame that differs and both values there.
bool channelHoldsSweep(const SyncSweep& sweep, bool placed, const std::vector<double>& unit,
                       const std::vector<float>& channel, uint32_t index, std::string* why);
