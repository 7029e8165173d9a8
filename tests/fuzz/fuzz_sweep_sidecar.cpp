// The sweep sidecar's reader on arbitrary text: what it takes is a synchronized sweep whose
// values hold together (rising within half the rate, a whole number of turns at the start,
// as many frames as from, to and L make, fades within them, a level up to 1), and the
// analysis may plan with it; what it refuses it names. Seeds: the corpus folder.
#include <cmath>

#include "fuzz_support.h"
#include "measure/analysis/ir_analysis.h"
#include "measure/signals/sweep.h"
#include "measure/signals/sweep_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzzScratchPath(".sweep");
    if (!fuzzWriteFile(path, data, size)) {
        return 0;
    }
    SyncSweep sweep;
    std::string error;
    if (!readSweepSidecar(path, &sweep, &error)) {
        FUZZ_CHECK(!error.empty(), size, 0);
        return 0;
    }
    const double turns = sweep.from * sweep.rateConstant;
    FUZZ_CHECK(sweep.from > 0 && sweep.to > sweep.from && sweep.to < sweep.rate / 2.0, sweep.rate,
               0);
    FUZZ_CHECK(turns >= 1 && std::fabs(turns - std::round(turns)) <= 1e-6, turns, 0);
    FUZZ_CHECK(sweep.frames <= (uint64_t(1) << 30), sweep.frames, 0);
    FUZZ_CHECK(sweep.fadeInFrames + sweep.fadeOutFrames <= sweep.frames, sweep.fadeInFrames,
               sweep.fadeOutFrames);
    FUZZ_CHECK(sweep.level <= 1, sweep.level * 1000, 0);
    // What the analysis works out from it stays finite and in range.
    const IrTransforms sizes = irTransforms(4096, 4096, sweep, IrOptions(), 0);
    FUZZ_CHECK(sizes.orders >= 4 && sizes.orders <= (size_t(1) << 34), sizes.orders, 0);
    const std::vector<double> unit = unitSweep(sweep, 4096);
    for (double v : unit) {
        FUZZ_CHECK(std::fabs(v) <= 1, v * 1000, 0);
    }
    return 0;
}
