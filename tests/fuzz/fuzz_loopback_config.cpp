// KORVANE_LOOPBACK's parser on any text: it stays inside the text and the config, ends its
// message, and on success every value is within its key's range.
#include <cmath>
#include <cstring>

#include "fuzz_config.h"
#include "loopback_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoopbackConfig c;
    if (!fuzzParseConfig(data, size, parseLoopbackConfig, "KORVANE_LOOPBACK", c)) {
        return 0;
    }
    FUZZ_CHECK(std::memchr(c.errorText, 0, sizeof c.errorText) != nullptr, 0, 0);
    FUZZ_CHECK(c.inputs >= 0 && c.inputs <= 4096, c.inputs, 0);
    FUZZ_CHECK(c.outputs >= 0 && c.outputs <= 4096, c.outputs, 0);
    FUZZ_CHECK(c.rateCount >= 1 && c.rateCount <= kLoopbackMaxRates, c.rateCount, 0);
    for (int k = 0; k < c.rateCount; ++k) {
        FUZZ_CHECK(c.rates[k] > 0 && c.rates[k] <= 1e7, k, 0);
    }
    FUZZ_CHECK(c.granularity >= -1 && c.minBuf >= 0 && c.maxBuf >= 0 && c.prefBuf >= 0,
               c.granularity, c.minBuf);
    FUZZ_CHECK(c.delay >= -1 && c.inExtra >= 0 && c.outExtra >= 0, c.delay, c.inExtra);
    FUZZ_CHECK(c.switches >= -1 && c.drop >= 0 && c.failChannelInfo >= 0, c.switches, c.drop);
    // A device under test that is taken must filter with finite coefficients.
    const LoopbackDut& d = c.dut;
    FUZZ_CHECK(std::isfinite(d.a2) && std::isfinite(d.a3) && std::isfinite(d.frequency) &&
                   std::isfinite(d.q) && std::isfinite(d.gainDb),
               0, 0);
    LoopbackDutFilter f;
    if (d.kind == LoopbackDutKind::Peak && prepareLoopbackDut(d, 48000, &f)) {
        FUZZ_CHECK(std::isfinite(f.b0) && std::isfinite(f.b1) && std::isfinite(f.b2) &&
                       std::isfinite(f.a1) && std::isfinite(f.a2),
                   0, 0);
    }
    return 0;
}
