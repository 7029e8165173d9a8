// The three plots of a channel's measurement: frequency response (magnitude and phase),
// distortion (THD and each order against frequency) and impulse response, with the limits
// drawn where there are any.
#pragma once

#include <string>

#include "measure/analysis/ir_analysis.h"
#include "measure/analysis/room_acoustics.h"
#include "measure/limits/ir_limits.h"

struct IrPlotContext {
    std::string channel; // names the channel in every title
    uint32_t rate = 0;
    double smoothing = 0;
    double referenceDb = 0;                // where the response limits' 0 dB lies
    const Limits* limits = nullptr;        // may be null
    const LimitVerdict* verdict = nullptr; // with limits: marked on the plots
};

std::string responsePlotSvg(const ChannelIr& ir, const IrPlotContext& context);
std::string distortionPlotSvg(const ChannelIr& ir, const IrPlotContext& context);
std::string impulsePlotSvg(const ChannelIr& ir, const IrPlotContext& context);
// The Schroeder decay of the whole band and of each octave against time from the onset.
std::string decayPlotSvg(const std::vector<RoomBand>& room, const IrPlotContext& context);
