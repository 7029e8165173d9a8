#include "recording_trust.h"

#include <cmath>
#include <cstdio>

RecordingTrust judgeRecording(const std::vector<float>& recorded, size_t delay, size_t playedEnd) {
    RecordingTrust trust;
    double peak = 0;
    for (float s : recorded) {
        peak = std::fmax(peak, std::fabs(double(s)));
    }
    char text[160];
    if (peak >= kClipLevel) {
        trust.level = false;
        std::snprintf(text, sizeof text, "the recording peaks at %.2f dBFS and may have clipped",
                      20 * std::log10(peak));
        trust.why = text;
    } else if (delay + playedEnd > recorded.size()) {
        trust.delay = false;
        std::snprintf(text, sizeof text,
                      "the recording ends %llu frames before the sweep has come back at delay %llu",
                      (unsigned long long)(delay + playedEnd - recorded.size()),
                      (unsigned long long)delay);
        trust.why = text;
    }
    return trust;
}
