// Limits learnt from good units: per frequency the units' mean, and limits at the larger of
// k standard deviations and a least margin from it, for the response, the THD and rub and
// buzz; the response relative to the reference frequency, or floating: relative to each
// unit's own mean level over a band, with that level (the sensitivity) judged apart.
#pragma once

#include <string>
#include <vector>

// One unit's curves, frequencies rising; NaN where a value is not measured.
struct LearnUnit {
    std::string name; // its serial, or its recording and channel
    std::vector<double> frequency;
    std::vector<double> magnitudeDb; // relative to the played level
    std::vector<double> thdPercent;
    std::vector<double> rbPeakDb;
    std::string polarity; // "normal", "inverted"; other or empty: not known
};

struct LearnOptions {
    double k = 4;                  // standard deviations
    double responseMarginDb = 1.5; // least distance of a response limit from the mean
    double thdMarginDb = 6;        // of the THD's limit above its mean, in dB of the THD
    double rbMarginDb = 6;
    double levelMarginDb = 1.5;
    double reference = 1000;
    double floatFrom = 0; // floating limits over this band; 0: relative to the reference
    double floatTo = 0;
    int rowsPerOctave = 12;
};

constexpr size_t kLeastLearnUnits = 3;

// The limits' rows as the text of a limits file; a polarity row where every unit has the
// same polarity. False with *error when fewer than
// kLeastLearnUnits units are given, or no frequency is measured in all of them.
bool learnLimits(const std::vector<LearnUnit>& units, const LearnOptions& options,
                 std::string* text, std::string* error);
