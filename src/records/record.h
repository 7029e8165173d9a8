// One measured unit as a production line keeps it: who, where, when, against what, and
// per channel the verdict, the figures that explain it and the curves.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

struct CurvePoint {
    double frequency = 0;
    double magnitudeDb = NAN; // relative to the played level
    double phaseDeg = NAN;
    double thdPercent = NAN;
    double noiseDb = NAN; // the deconvolution's noise floor, as magnitudeDb
    double rbPeakDb = NAN; // rub and buzz: the residual's peak relative to the fundamental's
};

struct ChannelRecord {
    int channel = 0;     // the recording's channel, from 1
    std::string verdict; // "pass", "fail", "not-trusted", or "measured" without limits
    std::string reason;  // why it failed or is not trusted; empty otherwise
    // The same as a code a line counts by: "response-min", "response-max", "thd", "h3",
    // "rb", "polarity", "unmeasured", "exact", "rate", "not-trusted:KIND", "nothing-recorded";
    // empty on a pass.
    std::string reasonCode;
    double worstMarginDb = NAN;
    double worstFrequency = NAN;
    double referenceDb = NAN; // the response at the limits' reference, as magnitudeDb
    double delayFrames = NAN;
    double driftPpm = NAN;
    double highestThdPercent = NAN; // in the band
    std::string polarity;           // "normal", "inverted", "undetermined"; empty: not measured
    std::vector<CurvePoint> curve;
};

struct UnitRecord {
    std::string id;         // unique: a spooled record sent twice is stored once
    std::string measuredAt; // UTC, "YYYY-MM-DD HH:MM:SS.mmm" (older records: no fraction)
    std::string station;
    std::string serial;
    std::string version; // korvane's
    std::string command; // "ir" or "check"
    std::string playedFile;
    std::string playedSha256;
    double sampleRate = NAN;
    double sweepFromHz = NAN; // NaN: no sweep (check)
    double sweepToHz = NAN;
    double sweepSeconds = NAN;
    std::string limitsFile; // empty: no limits
    std::string limitsSha256;
    std::string verdict; // the unit's, from its channels' as the exit code says it
    std::vector<ChannelRecord> channels;
};

// A fresh identity: 32 hex digits from the system's random source and the clock.
std::string newRecordId();
// Now, UTC, as a record's measuredAt.
std::string utcNowText();
