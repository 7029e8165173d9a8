// The limits file's parser on arbitrary text: what it takes has rows in order of frequency,
// every frequency above 0, a minimum never above its maximum, orders within those measured,
// and every number finite; judging a flat response by it gives a verdict with a reason.
// What it refuses it names by line. Seeds: the corpus folder.
#include <cmath>
#include <string>

#include "fuzz_support.h"
#include "measure/limits/ir_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Limits limits;
    std::string error;
    if (!parseLimits(text, &limits, &error)) {
        FUZZ_CHECK(!error.empty(), size, 0);
        return 0;
    }
    FUZZ_CHECK(!limits.curves.empty() && limits.reference > 0 && std::isfinite(limits.reference),
               limits.curves.size(), 0);
    FUZZ_CHECK(limits.highestOrder >= 1 && limits.highestOrder <= kMaxOrders, limits.highestOrder,
               0);
    for (const LimitCurve& curve : limits.curves) {
        for (size_t i = 0; i < curve.rows.size(); ++i) {
            const LimitRow& row = curve.rows[i];
            FUZZ_CHECK(row.frequency > 0 && std::isfinite(row.frequency), row.line, 0);
            FUZZ_CHECK(i == 0 || row.frequency >= curve.rows[i - 1].frequency, row.line, 0);
            FUZZ_CHECK(!(row.min > row.max), row.line, 0);
        }
    }
    std::vector<ResponsePoint> points;
    for (double f : limitFrequencies(limits)) {
        ResponsePoint p;
        p.frequency = f;
        p.orderDb.assign(size_t(kMaxOrders) + 1, -80.0);
        p.orderPhaseDeg.assign(size_t(kMaxOrders) + 1, 0.0);
        points.push_back(p);
    }
    const LimitVerdict verdict = judgeLimits(limits, points, 0);
    FUZZ_CHECK(verdict.pass || !verdict.worstLimit.empty() || !verdict.unmeasured.empty(),
               verdict.pass, 0);
    return 0;
}
