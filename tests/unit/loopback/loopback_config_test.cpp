#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loopback_config.h"
#include "loopback_samples.h"

namespace {

struct Parsed {
    bool ok;
    LoopbackConfig config;
    std::string message;
};

Parsed parse(const char* text) {
    Parsed result{};
    char message[kLoopbackTextCapacity];
    result.ok = parseLoopbackConfig(text, &result.config, message, sizeof message);
    result.message = message;
    return result;
}

// Every setting a parse leaves, in the order of LoopbackConfig.
struct Settings {
    int32_t inputs, outputs;
    ASIOSampleType inType, outType;
    std::vector<double> rates;
    double reportRate;
    int32_t minBuf, maxBuf, prefBuf, granularity, inExtra, outExtra, delay;
    LoopbackClock clock;
    bool timeInfo, position, outputReady, startSwitch;
    int64_t switches, drop;
    uint32_t fail;
    int32_t failChannelInfo;
    const char* errorText;
    const char* trace;
};

void expectSettings(const LoopbackConfig& c, const Settings& want) {
    EXPECT_EQ(c.inputs, want.inputs);
    EXPECT_EQ(c.outputs, want.outputs);
    EXPECT_EQ(c.inType, want.inType);
    EXPECT_EQ(c.outType, want.outType);
    EXPECT_EQ(std::vector<double>(c.rates, c.rates + c.rateCount), want.rates);
    EXPECT_EQ(c.reportRate, want.reportRate);
    EXPECT_EQ(c.minBuf, want.minBuf);
    EXPECT_EQ(c.maxBuf, want.maxBuf);
    EXPECT_EQ(c.prefBuf, want.prefBuf);
    EXPECT_EQ(c.granularity, want.granularity);
    EXPECT_EQ(c.inExtra, want.inExtra);
    EXPECT_EQ(c.outExtra, want.outExtra);
    EXPECT_EQ(c.delay, want.delay);
    EXPECT_EQ(c.clock, want.clock);
    EXPECT_EQ(c.timeInfo, want.timeInfo);
    EXPECT_EQ(c.position, want.position);
    EXPECT_EQ(c.outputReady, want.outputReady);
    EXPECT_EQ(c.startSwitch, want.startSwitch);
    EXPECT_EQ(c.switches, want.switches);
    EXPECT_EQ(c.drop, want.drop);
    EXPECT_EQ(c.fail, want.fail);
    EXPECT_EQ(c.failChannelInfo, want.failChannelInfo);
    EXPECT_STREQ(c.errorText, want.errorText);
    EXPECT_STREQ(c.trace, want.trace);
}

} // namespace

TEST(LoopbackConfig, DefaultsWhenUnsetOrEmpty) {
    for (const char* text : {static_cast<const char*>(nullptr), "", " , ,"}) {
        const Parsed p = parse(text);
        ASSERT_TRUE(p.ok) << p.message;
        expectSettings(p.config, {8,
                                  8,
                                  ASIOSTInt32LSB,
                                  ASIOSTInt32LSB,
                                  {44100, 48000, 88200, 96000, 176400, 192000},
                                  0.0,
                                  16,
                                  8192,
                                  256,
                                  -1,
                                  0,
                                  0,
                                  -1,
                                  kClockRealtime,
                                  true,
                                  true,
                                  true,
                                  false,
                                  -1,
                                  0,
                                  0u,
                                  0,
                                  "Loopback init failed",
                                  ""});
    }
}

TEST(LoopbackConfig, EveryKeyTakesItsValue) {
    const Parsed p = parse("inputs=2, outputs = 3,type=16,outtype=17,rates=48000,96000, 22050.5,"
                           "reportrate=44100,minbuf=32,maxbuf=1024,prefbuf=128,granularity=0,"
                           "inextra=5,outextra=7,delay=300,clock=fast,timeinfo=0,position=0,"
                           "outputready=0,startswitch=1,switches=12,drop=4,fail=start,"
                           "errortext=Box is off,trace=/tmp/x.trace");
    ASSERT_TRUE(p.ok) << p.message;
    expectSettings(p.config, {2,
                              3,
                              ASIOSTInt16LSB,
                              ASIOSTInt24LSB,
                              {48000, 96000, 22050.5},
                              44100.0,
                              32,
                              1024,
                              128,
                              0,
                              5,
                              7,
                              300,
                              kClockFast,
                              false,
                              false,
                              false,
                              true,
                              12,
                              4,
                              kFailStart,
                              0,
                              "Box is off",
                              "/tmp/x.trace"});

    const Parsed q = parse("intype=17,type=18,intype=16,switches=0,clock=realtime");
    ASSERT_TRUE(q.ok) << q.message;
    EXPECT_EQ(q.config.inType, ASIOSTInt16LSB); // later keys win, in order
    EXPECT_EQ(q.config.outType, ASIOSTInt32LSB);
    EXPECT_EQ(q.config.switches, 0);
    EXPECT_EQ(q.config.clock, kClockRealtime);
}

TEST(LoopbackConfig, FailNamesOperationsAndAccumulates) {
    const Parsed p = parse("fail=init,fail=channels,fail=buffersize,fail=cansamplerate,"
                           "fail=setsamplerate,fail=createbuffers,fail=channelinfo:3");
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(p.config.fail, kFailInit | kFailChannels | kFailBufferSize | kFailCanSampleRate |
                                 kFailSetSampleRate | kFailCreateBuffers);
    EXPECT_EQ(p.config.failChannelInfo, 3);
    for (const char* bad : {"fail=stop", "fail=channelinfo:0",
                            "fail=channelinfo:", "fail=", "fail=channelinfo:x", "fail=Init"}) {
        const Parsed q = parse(bad);
        EXPECT_FALSE(q.ok) << bad;
        EXPECT_NE(q.message.find("fail"), std::string::npos) << q.message;
    }
}

TEST(LoopbackConfig, UnknownKeyIsNamed) {
    const Parsed p = parse("inputs=2,colour=blue");
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.message, "KORVANE_LOOPBACK: unknown key 'colour'");
    EXPECT_FALSE(parse("Inputs=2").ok); // keys are lower case
    const Parsed q = parse("inputs=2,48000");
    EXPECT_FALSE(q.ok); // only a rates list continues past a comma
    EXPECT_EQ(q.message, "KORVANE_LOOPBACK: '48000' is not key=value");
}

TEST(LoopbackConfig, BadValueNamesItsKey) {
    const char* cases[][2] = {
        {"inputs=-1", "inputs"},
        {"inputs=4097", "inputs"},
        {"outputs=x", "outputs"},
        {"outputs=", "outputs"},
        {"type=5", "type"},
        {"intype=21", "intype"},
        {"outtype=18.0", "outtype"},
        {"rates=0", "rates"},
        {"rates=44100,fast", "rates"},
        {"rates=-48000", "rates"},
        {"reportrate=abc", "reportrate"},
        {"minbuf=-16", "minbuf"},
        {"maxbuf=99999999", "maxbuf"},
        {"prefbuf=1e3", "prefbuf"},
        {"granularity=-2", "granularity"},
        {"inextra=-1", "inextra"},
        {"outextra=1x", "outextra"},
        {"delay=-5", "delay"},
        {"clock=slow", "clock"},
        {"timeinfo=2", "timeinfo"},
        {"position=yes", "position"},
        {"outputready=", "outputready"},
        {"startswitch=-1", "startswitch"},
        {"switches=-1", "switches"},
        {"drop=0", "drop"},
        {"trace=", "trace"},
        {"inputs=99999999999999999999999", "inputs"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c[0]);
        EXPECT_FALSE(p.ok) << c[0];
        EXPECT_EQ(p.message.rfind(std::string("KORVANE_LOOPBACK: bad value for ") + c[1] + ":", 0),
                  0u)
            << c[0] << " -> " << p.message;
    }
    EXPECT_EQ(parse("clock=slow").message, "KORVANE_LOOPBACK: bad value for clock: 'slow'");
}

TEST(LoopbackConfig, TraceSurvivesALaterFault) {
    const Parsed p = parse("trace=t.log,inputs=many");
    EXPECT_FALSE(p.ok);
    EXPECT_STREQ(p.config.trace, "t.log");
}

TEST(LoopbackConfig, LongTextsAreCutOrRefused) {
    const std::string longText(300, 'a');
    const Parsed p = parse(("errortext=" + longText).c_str());
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(std::string(p.config.errorText), longText.substr(0, kLoopbackTextCapacity - 1));
    const Parsed q = parse(("trace=" + std::string(2000, 'b')).c_str());
    EXPECT_FALSE(q.ok); // a cut path would trace into another file
    const Parsed r = parse(("colour" + longText + "=1").c_str());
    EXPECT_FALSE(r.ok);
    EXPECT_LT(r.message.size(), static_cast<size_t>(kLoopbackTextCapacity));
}

TEST(LoopbackSamples, IntegerWidthsAreRescaledByShifting) {
    const uint8_t in16[] = {0x34, 0x12, 0xFE, 0xFF}; // 0x1234, -2
    uint8_t out32[8] = {};
    loopbackConvert(in16, ASIOSTInt16LSB, out32, ASIOSTInt32LSB, 2);
    const uint8_t want32[] = {0, 0, 0x34, 0x12, 0, 0, 0xFE, 0xFF};
    EXPECT_EQ(0, memcmp(out32, want32, 8));

    const uint8_t in32[] = {0x78, 0x56, 0x34, 0x12, 0x21, 0x43, 0x65, 0x87};
    uint8_t out16[4] = {};
    loopbackConvert(in32, ASIOSTInt32LSB, out16, ASIOSTInt16LSB, 2);
    const uint8_t want16[] = {0x34, 0x12, 0x65, 0x87};
    EXPECT_EQ(0, memcmp(out16, want16, 4));

    uint8_t out24[6] = {};
    loopbackConvert(in16, ASIOSTInt16LSB, out24, ASIOSTInt24LSB, 2);
    const uint8_t want24[] = {0, 0x34, 0x12, 0, 0xFE, 0xFF};
    EXPECT_EQ(0, memcmp(out24, want24, 6));

    // A right-justified container keeps its value sign-extended.
    uint8_t container[8] = {};
    loopbackConvert(in16, ASIOSTInt16LSB, container, ASIOSTInt32LSB16, 2);
    const uint8_t wantContainer[] = {0x34, 0x12, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, memcmp(container, wantContainer, 8));

    uint8_t msb[4] = {};
    loopbackConvert(in16, ASIOSTInt16LSB, msb, ASIOSTInt16MSB, 2);
    const uint8_t wantMsb[] = {0x12, 0x34, 0xFF, 0xFE};
    EXPECT_EQ(0, memcmp(msb, wantMsb, 4));
}

TEST(LoopbackSamples, FloatIsCopiedWhenEqualAndSilentOtherwise) {
    const uint8_t in[] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t same[8] = {};
    loopbackConvert(in, ASIOSTFloat32LSB, same, ASIOSTFloat32LSB, 2);
    EXPECT_EQ(0, memcmp(same, in, 8));
    uint8_t other[8];
    memset(other, 0x55, sizeof other);
    loopbackConvert(in, ASIOSTFloat32LSB, other, ASIOSTInt32LSB, 2);
    const uint8_t zero[8] = {};
    EXPECT_EQ(0, memcmp(other, zero, 8));
}
