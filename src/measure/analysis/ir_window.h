// Where the linear impulse response is found and cut: the direct sound, the deconvolution's
// noise before it, and the window after it, which follows the response's decay into that
// noise, or ends where a gate or a length asked for says.
#pragma once

#include <cstdint>

#include "measure/analysis/deconvolution.h"
#include "measure/analysis/fft.h"
#include "measure/analysis/ir_analysis.h"

// The direct sound: the largest value within a moment of where the response first rises
// near its largest and clear of the noise; in a room the tail may hold larger values than
// the sound that came first. Searched from `earliest` frames before time 0 to `frames`;
// `lead` frames before the largest value hold no response (the linear window's part before
// the delay), and give *noisePower, the deconvolution's noise per frame.
int64_t directSound(const Deconvolution& h, int64_t earliest, int64_t frames, int64_t lead,
                    const SyncSweep& sweep, double* noisePower);

// The direct sound's sign: normal where it is positive, as the wire's peak, inverted where it
// is negative, and undetermined where a value of the other sign near it comes within half
// of it (a response that rings, or one without a clear first arrival).
Polarity directPolarity(const Deconvolution& h, int64_t direct, const SyncSweep& sweep);

// The window after the direct sound at result->delay, and where it cuts the decay or what a
// gate lets through: result->window, cutBelowHz and gateLowestHz. Without a gate or a length
// the window is at least `lead` long. `wire` is the played sweep's own deconvolution, its
// peak at time 0.
void chooseLinearWindow(const Deconvolution& h, const Deconvolution& wire, int64_t frames,
                        int64_t lead, double noisePower, const SyncSweep& sweep,
                        const IrOptions& options, Fft* fft, ChannelIr* result);
