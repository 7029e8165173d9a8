// The device under test on the loopback's path: its configuration text, its arithmetic on
// every sample type, and the driver refusing a filter it cannot run at the rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_config.h"
#include "loopback_driver.h"
#include "loopback_dut.h"
#include "measure/maths.h"

namespace {

LoopbackDut parsed(const char* text) {
    LoopbackDut dut;
    EXPECT_TRUE(parseLoopbackDut(text, std::strlen(text), &dut)) << text;
    return dut;
}

std::vector<uint8_t> int32Samples(const std::vector<int64_t>& values) {
    std::vector<uint8_t> bytes;
    for (int64_t v : values) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(uint8_t(uint64_t(v) >> (8 * i)));
        }
    }
    return bytes;
}

int32_t int32At(const std::vector<uint8_t>& bytes, size_t i) {
    uint32_t raw = 0;
    for (int b = 0; b < 4; ++b) {
        raw |= uint32_t(bytes[4 * i + size_t(b)]) << (8 * b);
    }
    return int32_t(raw);
}

} // namespace

TEST(LoopbackDut, ConfigurationNamesTheDeviceAndItsNumbers) {
    LoopbackDut poly = parsed("poly:0.25:-0.125");
    EXPECT_EQ(poly.kind, LoopbackDutKind::Poly);
    EXPECT_EQ(poly.a2, 0.25);
    EXPECT_EQ(poly.a3, -0.125);
    LoopbackDut peak = parsed("peak:1000:0.7:-6.5");
    EXPECT_EQ(peak.kind, LoopbackDutKind::Peak);
    EXPECT_EQ(peak.frequency, 1000);
    EXPECT_EQ(peak.q, 0.7);
    EXPECT_EQ(peak.gainDb, -6.5);
    EXPECT_EQ(parsed("none").kind, LoopbackDutKind::None);
    const LoopbackDut speaker =
        parsed("speaker:80:0.8:-3:rub:0.3:-40:buzz:0.45:inverted:leak:200:noise:-76:9");
    EXPECT_EQ(speaker.kind, LoopbackDutKind::Speaker);
    EXPECT_EQ(speaker.rubExcursion, 0.3);
    EXPECT_EQ(speaker.rubLevelDb, -40);
    EXPECT_EQ(speaker.buzzExcursion, 0.45);
    EXPECT_TRUE(speaker.inverted);
    EXPECT_EQ(speaker.leakHz, 200);
    EXPECT_EQ(speaker.noiseSeed, 9u);
    for (const char* bad :
         {"poly", "poly:1", "poly:1:2:3", "poly:1e2:0", "poly::1", "peak:0:1:6", "peak:1000:0:6",
          "peak:1000:1", "gain:2", "poly:1,5:0", "", "speaker:80:0.8",
          "speaker:80:0.8:0:", "speaker:80:0.8:0:rub:0.3", "speaker:80:0.8:0:hum",
          "speaker:80:0.8:0:noise:-76:1.5", "speaker:0:0.8:0", "speaker:80:0.8:0:rub:0.3:10"}) {
        LoopbackDut dut;
        EXPECT_FALSE(parseLoopbackDut(bad, std::strlen(bad), &dut)) << bad;
    }

    LoopbackConfig config;
    char message[200];
    ASSERT_TRUE(parseLoopbackConfig("dut=poly:0.5:0,delay=300", &config, message, sizeof message))
        << message;
    EXPECT_EQ(config.dut.kind, LoopbackDutKind::Poly);
    EXPECT_FALSE(parseLoopbackConfig("dut=peak:1000", &config, message, sizeof message));
    EXPECT_STREQ(message, "KORVANE_LOOPBACK: bad value for dut: 'peak:1000'");
}

TEST(LoopbackDut, PolyActsOnEachValueAsAFractionOfFullScaleRoundedAndClipped) {
    const LoopbackDut dut = parsed("poly:0.5:0.25");
    LoopbackDutFilter filter;
    ASSERT_TRUE(prepareLoopbackDut(dut, 48000, &filter));
    LoopbackDutState state;
    // 32 bits: x = v / 2^31; y = x + x^2 / 2 + x^3 / 4, rounded to a step of 2^-31.
    const std::vector<int64_t> values = {0, 1 << 30, -(1 << 30), 3, INT32_MIN, INT32_MAX};
    std::vector<uint8_t> bytes = int32Samples(values);
    applyLoopbackDut(dut, filter, &state, bytes.data(), ASIOSTInt32LSB, values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const double x = double(values[i]) / 2147483648.0;
        const double y = std::nearbyint((x + x * x / 2 + x * x * x / 4) * 2147483648.0);
        const double want = std::min(std::max(y, -2147483648.0), 2147483647.0);
        EXPECT_EQ(int32At(bytes, i), int32_t(want)) << values[i];
    }
    EXPECT_EQ(int32At(bytes, 1), 1409286144); // 0.5 + 0.125 + 0.03125 = 0.65625
    EXPECT_EQ(int32At(bytes, 5), INT32_MAX);  // 1.75 of full scale, clipped

    // 16 bits, 24 bits in 3 bytes: the same arithmetic at their own step.
    uint8_t sixteen[2] = {0x00, 0x40}; // 0.5
    applyLoopbackDut(dut, filter, &state, sixteen, ASIOSTInt16LSB, 1);
    EXPECT_EQ(sixteen[0] | sixteen[1] << 8, 0x5400); // 0.65625 x 32768
    uint8_t twentyFour[3] = {0x00, 0x00, 0xC0};      // -0.5
    applyLoopbackDut(dut, filter, &state, twentyFour, ASIOSTInt24LSB, 1);
    // -0.5 + 0.125 - 0.03125 = -0.40625 = -3407872 / 2^23
    EXPECT_EQ(twentyFour[0] | twentyFour[1] << 8 | twentyFour[2] << 16, 0x1000000 - 3407872);
}

TEST(LoopbackDut, PeakIsTheCookbookBiquadWithItsGainAtTheCentre) {
    // A sine at F comes out GAIN dB louder once the filter has settled, and a sine far from
    // F unchanged; the rounding to 32 bits costs at most 2^-31 per sample.
    const double rate = 48000;
    const LoopbackDut dut = parsed("peak:1000:2:6");
    LoopbackDutFilter filter;
    ASSERT_TRUE(prepareLoopbackDut(dut, rate, &filter));
    for (double f : {1000.0, 20.0}) {
        LoopbackDutState state;
        const size_t frames = 48000;
        std::vector<int64_t> values(frames);
        for (size_t i = 0; i < frames; ++i) {
            values[i] =
                std::llround(0.25 * std::sin(2 * kPi * f * double(i) / rate) * 2147483648.0);
        }
        std::vector<uint8_t> bytes = int32Samples(values);
        // In uneven pieces, as buffer switches would cut it: the state carries over.
        applyLoopbackDut(dut, filter, &state, bytes.data(), ASIOSTInt32LSB, 1000);
        applyLoopbackDut(dut, filter, &state, bytes.data() + 4000, ASIOSTInt32LSB, frames - 1000);
        double peak = 0;
        for (size_t i = frames / 2; i < frames; ++i) {
            peak = std::max(peak, std::fabs(int32At(bytes, i) / 2147483648.0));
        }
        const double gain = f == 1000.0 ? std::pow(10.0, 6.0 / 20) : 1.0;
        EXPECT_NEAR(peak / 0.25, gain, f == 1000.0 ? 1e-6 : 1e-3) << f;
    }
    EXPECT_FALSE(prepareLoopbackDut(parsed("peak:24000:1:6"), rate, &filter));
}

TEST(LoopbackDut, TheDriverWillNotStartAFilterAboveHalfTheRate) {
    IASIO* driver = createLoopbackDriver("dut=peak:30000:1:3,rates=48000,clock=fast");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    ASIOBufferInfo infos[2] = {};
    infos[0].isInput = ASIOTrue;
    ASIOCallbacks callbacks = {[](int32_t, ASIOBool) {}, [](ASIOSampleRate) {},
                               [](int32_t, int32_t, void*, double*) -> int32_t { return 0; },
                               nullptr};
    ASSERT_EQ(driver->createBuffers(infos, 2, 64, &callbacks), ASE_OK);
    EXPECT_EQ(driver->start(), ASE_InvalidMode);
    char text[124];
    driver->getErrorMessage(text);
    EXPECT_STREQ(text, "Korvane Loopback: dut frequency 30000 Hz is not below half the rate");
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->Release(), 0u);
}

// The loudspeaker at the rate: its high-pass and level, its wiring and leak on a sine's
// fundamental, a rub only where the excursion passes its threshold, its own noise stream.
TEST(LoopbackDut, SpeakerIsAHighPassWithItsDefects) {
    const double rate = 48000;
    // The fundamental's amplitude after the device, from a sine of 0.25 at f, with the sign of
    // its part in phase with the sine.
    auto through = [&](const char* text, double f, std::vector<double>* out = nullptr) {
        const LoopbackDut dut = parsed(text);
        LoopbackDutFilter filter;
        EXPECT_TRUE(prepareLoopbackDut(dut, rate, &filter));
        LoopbackDutState state = startLoopbackDut(dut, 0);
        std::vector<int64_t> values(48000);
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] =
                std::llround(0.25 * std::sin(2 * kPi * f * double(i) / rate) * 2147483648.0);
        }
        std::vector<uint8_t> bytes = int32Samples(values);
        applyLoopbackDut(dut, filter, &state, bytes.data(), ASIOSTInt32LSB, values.size());
        double in = 0;
        double quadrature = 0;
        for (size_t i = 24000; i < 48000; ++i) { // settled: a whole number of periods
            const double y = int32At(bytes, i) / 2147483648.0;
            in += y * std::sin(2 * kPi * f * double(i) / rate);
            quadrature += y * std::cos(2 * kPi * f * double(i) / rate);
            if (out != nullptr) {
                out->push_back(y);
            }
        }
        return std::copysign(std::hypot(in, quadrature), in) / 24000 * 2 / 0.25;
    };
    struct Case {
        const char* dut;
        double frequency;
        double gain; // of the fundamental, with its sign
        double tolerance;
    };
    const double r = 0.5; // a Butterworth high-pass an octave below its corner
    const Case cases[] = {
        {"speaker:100:0.70710678:0", 50, -r * r / std::sqrt(std::pow(1 - r * r, 2) + 2 * r * r),
         2e-3}, // 143 degrees ahead
        {"speaker:100:0.70710678:0", 1000, 1, 2e-3},
        {"speaker:100:0.70710678:-6", 1000, std::pow(10.0, -6.0 / 20), 2e-3},
        {"speaker:100:0.70710678:0:inverted", 1000, -1, 2e-3},
        {"speaker:100:0.70710678:0:leak:200", 1000, 1 / std::sqrt(1 + 0.04), 2e-3},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(through(c.dut, c.frequency), c.gain, c.tolerance) << c.dut;
    }
    // The excursion of a sine of 0.25 is 0.24 at 50 Hz, 0.008 at 400 Hz: past 0.2 at 50 Hz
    // only, where the rub's bursts come once a half period.
    for (double f : {50.0, 400.0}) {
        std::vector<double> plain;
        std::vector<double> rubbed;
        through("speaker:100:0.70710678:0", f, &plain);
        through("speaker:100:0.70710678:0:rub:0.2:-40", f, &rubbed);
        size_t differ = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            differ += plain[i] != rubbed[i];
        }
        EXPECT_EQ(differ != 0, f == 50.0) << f;
        EXPECT_LE(differ, f == 50.0 ? plain.size() * 2 * 50 * 48 / 48000 : 0) << f;
    }
    // Noise on silence at its RMS, each output its own stream, the same for the same seed.
    const LoopbackDut noisy = parsed("speaker:100:0.7:0:noise:-40:3");
    LoopbackDutFilter filter;
    ASSERT_TRUE(prepareLoopbackDut(noisy, rate, &filter));
    std::vector<std::vector<uint8_t>> outputs;
    for (int32_t channel : {0, 1, 0}) {
        LoopbackDutState state = startLoopbackDut(noisy, channel);
        outputs.push_back(int32Samples(std::vector<int64_t>(48000, 0)));
        applyLoopbackDut(noisy, filter, &state, outputs.back().data(), ASIOSTInt32LSB, 48000);
    }
    double power = 0;
    for (size_t i = 0; i < 48000; ++i) {
        power += std::pow(int32At(outputs[0], i) / 2147483648.0, 2) / 48000;
    }
    EXPECT_NEAR(10 * std::log10(power), -40, 0.1);
    EXPECT_NE(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
}
