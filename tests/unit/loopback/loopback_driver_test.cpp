#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver_server.h"
#include "loopback_driver.h"
#include "support/text_lines.h"

namespace {

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kOtherGuid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

void noSwitch(int32_t, ASIOBool) {}
void noRateChange(ASIOSampleRate) {}
int32_t noMessage(int32_t, int32_t, void*, double*) {
    return 0;
}
ASIOCallbacks idleCallbacks = {noSwitch, noRateChange, noMessage, nullptr};

// A driver made from `config`, released at the end of the scope.
struct Driver {
    IASIO* d;
    explicit Driver(const char* config) : d(createLoopbackDriver(config)) {}
    ~Driver() {
        if (d != nullptr) {
            d->Release();
        }
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    IASIO* operator->() const { return d; }
    std::string error() const {
        char text[124];
        d->getErrorMessage(text);
        return text;
    }
};

std::vector<ASIOBufferInfo> buffers(std::initializer_list<std::pair<bool, int32_t>> channels) {
    std::vector<ASIOBufferInfo> infos;
    for (const auto& c : channels) {
        ASIOBufferInfo info{};
        info.isInput = c.first ? ASIOTrue : ASIOFalse;
        info.channelNum = c.second;
        infos.push_back(info);
    }
    return infos;
}

ASIOError create(Driver& driver, std::vector<ASIOBufferInfo>& infos, int32_t frames) {
    return driver->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), frames,
                                 &idleCallbacks);
}

} // namespace

TEST(LoopbackDriver, GettersAnswerTheConfiguredValues) {
    Driver driver("inputs=3,outputs=5,intype=17,outtype=16,rates=44100,96000,minbuf=32,"
                  "maxbuf=1024,prefbuf=128,granularity=32,inextra=10,outextra=20");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    char name[32];
    driver->getDriverName(name);
    EXPECT_STREQ(name, "Korvane Loopback");
    EXPECT_EQ(driver->getDriverVersion(), 1);
    EXPECT_EQ(driver.error(), "");

    int32_t in = 0, out = 0;
    EXPECT_EQ(driver->getChannels(&in, &out), ASE_OK);
    EXPECT_EQ(in, 3);
    EXPECT_EQ(out, 5);
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    EXPECT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minSize, 32);
    EXPECT_EQ(maxSize, 1024);
    EXPECT_EQ(preferred, 128);
    EXPECT_EQ(granularity, 32);
    EXPECT_EQ(driver->getLatencies(&in, &out), ASE_OK); // preferred length until created
    EXPECT_EQ(in, 138);
    EXPECT_EQ(out, 148);

    ASIOSampleRate rate = 0;
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0); // the first listed rate
    EXPECT_EQ(driver->canSampleRate(96000.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(48000.0), ASE_NoClock);
    EXPECT_EQ(driver->setSampleRate(48000.0), ASE_NoClock);
    EXPECT_EQ(driver->setSampleRate(96000.0), ASE_OK);
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000.0);

    ASIOChannelInfo info{};
    info.channel = 2;
    info.isInput = ASIOTrue;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt24LSB);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.channelGroup, 0);
    EXPECT_STREQ(info.name, "Loopback In 3");
    info.channel = 4;
    info.isInput = ASIOFalse;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt16LSB);
    EXPECT_STREQ(info.name, "Loopback Out 5");

    auto infos = buffers({{true, 2}, {false, 4}});
    ASSERT_EQ(create(driver, infos, 64), ASE_OK);
    EXPECT_NE(infos[0].buffers[0], nullptr);
    EXPECT_NE(infos[0].buffers[1], nullptr);
    EXPECT_NE(infos[0].buffers[0], infos[0].buffers[1]);
    EXPECT_EQ(driver->getLatencies(&in, &out), ASE_OK); // now the created length
    EXPECT_EQ(in, 74);
    EXPECT_EQ(out, 84);
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOTrue);
    info.channel = 3;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOFalse);

    ASIOClockSource clocks[2]{};
    int32_t count = 2;
    EXPECT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    EXPECT_EQ(driver->setClockSource(0), ASE_OK);
    EXPECT_EQ(driver->setClockSource(1), ASE_InvalidParameter);
    EXPECT_EQ(driver->outputReady(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
}

TEST(LoopbackDriver, ReportRateOverridesWhatGetSampleRateSays) {
    Driver driver("rates=48000,96000,reportrate=44100,outputready=0");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(driver->setSampleRate(96000.0), ASE_OK);
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
    EXPECT_EQ(driver->outputReady(), ASE_NotPresent);
}

TEST(LoopbackDriver, BadConfigurationFailsInitNamingTheKey) {
    Driver unknown("inputs=2,colour=blue");
    EXPECT_EQ(unknown->init(nullptr), ASIOFalse);
    EXPECT_EQ(unknown.error(), "KORVANE_LOOPBACK: unknown key 'colour'");
    int32_t in = 0, out = 0;
    EXPECT_EQ(unknown->getChannels(&in, &out), ASE_InvalidMode);

    Driver bad("maxbuf=lots");
    EXPECT_EQ(bad->init(nullptr), ASIOFalse);
    EXPECT_EQ(bad.error(), "KORVANE_LOOPBACK: bad value for maxbuf: 'lots'");

    Driver failed("fail=init,errortext=No box here");
    EXPECT_EQ(failed->init(nullptr), ASIOFalse);
    EXPECT_EQ(failed.error(), "No box here");
    Driver failedDefault("fail=init");
    EXPECT_EQ(failedDefault->init(nullptr), ASIOFalse);
    EXPECT_EQ(failedDefault.error(), "Loopback init failed");
}

TEST(LoopbackDriver, ReadsTheEnvironmentAtInit) {
    static char set[] = "KORVANE_LOOPBACK=inputs=3,outputs=4";
    static char clear[] = "KORVANE_LOOPBACK=";
    Driver driver(nullptr);
    putenv(set); // read at init, not at creation
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    putenv(clear);
    int32_t in = 0, out = 0;
    EXPECT_EQ(driver->getChannels(&in, &out), ASE_OK);
    EXPECT_EQ(in, 3);
    EXPECT_EQ(out, 4);
}

TEST(LoopbackDriver, CreateBuffersAcceptsTheConfiguredRangeOnly) {
    Driver driver("inputs=2,outputs=2,minbuf=32,maxbuf=1024");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    auto infos = buffers({{true, 0}, {false, 0}, {false, 1}});
    EXPECT_EQ(create(driver, infos, 31), ASE_InvalidParameter);
    EXPECT_EQ(create(driver, infos, 1025), ASE_InvalidParameter);
    EXPECT_EQ(create(driver, infos, 0), ASE_InvalidParameter);
    for (int32_t frames : {32, 33, 1024}) {
        EXPECT_EQ(create(driver, infos, frames), ASE_OK) << frames;
        EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    }
}

TEST(LoopbackDriver, MisuseIsAnsweredWithAnError) {
    Driver driver("inputs=2,outputs=3");
    ASIOChannelInfo info{};
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidMode); // before init
    auto infos = buffers({{true, 0}, {false, 0}});
    EXPECT_EQ(create(driver, infos, 64), ASE_InvalidMode);
    EXPECT_EQ(driver->start(), ASE_InvalidMode);
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_InvalidMode);

    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    EXPECT_EQ(driver->start(), ASE_InvalidMode); // before createBuffers
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
    info.isInput = ASIOTrue;
    info.channel = 2;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    info.channel = -1;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    info.isInput = ASIOFalse;
    info.channel = 2;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);

    auto tooHigh = buffers({{true, 2}});
    EXPECT_EQ(create(driver, tooHigh, 64), ASE_InvalidParameter);
    auto outTooHigh = buffers({{false, 3}});
    EXPECT_EQ(create(driver, outTooHigh, 64), ASE_InvalidParameter);
    auto negative = buffers({{false, -1}});
    EXPECT_EQ(create(driver, negative, 64), ASE_InvalidParameter);
    auto twice = buffers({{false, 1}, {true, 1}, {false, 1}});
    EXPECT_EQ(create(driver, twice, 64), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(infos.data(), 0, 64, &idleCallbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(infos.data(), 2, 64, nullptr), ASE_InvalidParameter);
    ASIOCallbacks none{};
    EXPECT_EQ(driver->createBuffers(infos.data(), 2, 64, &none), ASE_InvalidParameter);

    ASSERT_EQ(create(driver, infos, 64), ASE_OK);
    EXPECT_EQ(create(driver, infos, 64), ASE_InvalidMode); // twice
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode);
}

TEST(LoopbackDriver, DelayShorterThanABufferIsRefused) {
    Driver driver("delay=100");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    auto infos = buffers({{true, 0}, {false, 0}});
    EXPECT_EQ(create(driver, infos, 128), ASE_InvalidParameter);
    EXPECT_EQ(driver.error(), "Korvane Loopback: delay 100 is shorter than the buffer length 128");
    EXPECT_EQ(create(driver, infos, 100), ASE_OK); // one buffer is the least
}

TEST(LoopbackDriver, FailMakesEachNamedOperationFail) {
    Driver driver("fail=channels,fail=buffersize,fail=cansamplerate,fail=setsamplerate,"
                  "fail=createbuffers,fail=channelinfo:2");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    int32_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(driver->getChannels(&a, &b), ASE_HWMalfunction);
    EXPECT_EQ(driver->getBufferSize(&a, &b, &c, &d), ASE_HWMalfunction);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
    EXPECT_EQ(driver->setSampleRate(44100.0), ASE_NoClock);
    auto infos = buffers({{true, 0}, {false, 0}});
    EXPECT_EQ(create(driver, infos, 64), ASE_HWMalfunction);
    EXPECT_EQ(driver->getLatencies(&a, &b), ASE_OK); // not named
    ASIOChannelInfo info{};
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_HWMalfunction); // the second call
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);

    Driver start("fail=start");
    ASSERT_EQ(start->init(nullptr), ASIOTrue);
    ASSERT_EQ(create(start, infos, 64), ASE_OK);
    EXPECT_EQ(start->start(), ASE_HWMalfunction);
    EXPECT_EQ(start->stop(), ASE_OK);
}

TEST(LoopbackDriver, PositionZeroMakesGetSamplePositionFail) {
    Driver driver("position=0");
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_SPNotAdvancing);
    Driver normal("");
    ASSERT_EQ(normal->init(nullptr), ASIOTrue);
    EXPECT_EQ(normal->getSamplePosition(&position, &stamp), ASE_OK);
    EXPECT_EQ(normal->getSamplePosition(nullptr, &stamp), ASE_InvalidParameter);
}

TEST(LoopbackServer, ReferenceCountingAndInterfaces) {
    const int32_t before = driverLiveObjects();
    IASIO* driver = createLoopbackDriver("");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driverLiveObjects(), before + 1);
    void* object = nullptr;
    EXPECT_EQ(driver->QueryInterface(kLoopbackClsid, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(driver));
    EXPECT_EQ(driver->QueryInterface(kIidUnknown, &object), S_OK);
    EXPECT_EQ(driver->QueryInterface(kOtherGuid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(driver->AddRef(), 4u);
    EXPECT_EQ(driver->Release(), 3u);
    EXPECT_EQ(driver->Release(), 2u);
    EXPECT_EQ(driver->Release(), 1u);
    EXPECT_EQ(driverLiveObjects(), before + 1);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(driverLiveObjects(), before);
}

TEST(LoopbackServer, FactoryCreatesDriversAndGovernsUnloading) {
    ASSERT_EQ(driverLiveObjects(), 0);
    EXPECT_EQ(driverCanUnloadNow(), S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(driverGetClassObject(kModuleDriverClass, kOtherGuid, kIidClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(driverGetClassObject(kModuleDriverClass, kLoopbackClsid, kOtherGuid, &object),
              E_NOINTERFACE);
    ASSERT_EQ(driverGetClassObject(kModuleDriverClass, kLoopbackClsid, kIidClassFactory, &object),
              S_OK);
    IClassFactory* factory = static_cast<IClassFactory*>(object);

    int notAnObject = 0;
    IUnknown* outer = reinterpret_cast<IUnknown*>(&notAnObject); // only compared with null
    void* driver = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, kLoopbackClsid, &driver), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, kOtherGuid, &driver), E_NOINTERFACE);
    EXPECT_EQ(driver, nullptr);
    EXPECT_EQ(driverLiveObjects(), 0);

    ASSERT_EQ(factory->CreateInstance(nullptr, kLoopbackClsid, &driver), S_OK);
    EXPECT_EQ(driverLiveObjects(), 1);
    EXPECT_EQ(driverCanUnloadNow(), S_FALSE);
    char name[32];
    static_cast<IASIO*>(driver)->getDriverName(name);
    EXPECT_STREQ(name, "Korvane Loopback");
    EXPECT_EQ(static_cast<IASIO*>(driver)->Release(), 0u);
    EXPECT_EQ(driverCanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(driverCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(driverCanUnloadNow(), S_OK);
    factory->Release();
}

TEST(LoopbackTrace, SetUpAndTeardownCallsAreAppendedOneLineEach) {
    const std::string path = testing::TempDir() + "loopback_trace_setup.txt";
    std::remove(path.c_str());
    const std::string config = "inputs=2,outputs=2,trace=" + path;
    IASIO* driver = createLoopbackDriver(config.c_str());
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    int32_t a = 0, b = 0, c = 0, d = 0;
    char text[124];
    driver->getDriverName(text);
    driver->getDriverVersion();
    driver->getErrorMessage(text);
    driver->getChannels(&a, &b);
    driver->getLatencies(&a, &b);
    driver->getBufferSize(&a, &b, &c, &d);
    driver->canSampleRate(48000.0);
    driver->setSampleRate(44100.5);
    ASIOSampleRate rate = 0;
    driver->getSampleRate(&rate);
    ASIOChannelInfo info{};
    info.isInput = ASIOTrue;
    info.channel = 1;
    driver->getChannelInfo(&info);
    info.isInput = ASIOFalse;
    driver->getChannelInfo(&info);
    ASIOClockSource clock{};
    int32_t count = 1;
    driver->getClockSources(&clock, &count);
    driver->setClockSource(0);
    driver->controlPanel();
    driver->future(5, nullptr);
    auto infos = buffers({{true, 0}, {false, 0}, {false, 1}});
    driver->createBuffers(infos.data(), 3, 64, &idleCallbacks);
    driver->stop(); // not started: no counts
    driver->disposeBuffers();
    driver->AddRef();
    driver->Release(); // not the last reference
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    driver->getSamplePosition(&position, &stamp); // streaming-time calls are counted, not traced
    driver->outputReady();
    driver->Release();

    const std::vector<std::string> want = {"init",
                                           "getDriverName",
                                           "getDriverVersion",
                                           "getErrorMessage",
                                           "getChannels",
                                           "getLatencies",
                                           "getBufferSize",
                                           "canSampleRate 48000",
                                           "setSampleRate 44100.5",
                                           "getSampleRate",
                                           "getChannelInfo in 1",
                                           "getChannelInfo out 1",
                                           "getClockSources",
                                           "setClockSource 0",
                                           "controlPanel",
                                           "future 5",
                                           "createBuffers 3 64",
                                           "stop",
                                           "disposeBuffers",
                                           "Release"};
    EXPECT_EQ(readLines(path), want);
    std::remove(path.c_str());
}

TEST(LoopbackTrace, AFailedInitIsTraced) {
    const std::string path = testing::TempDir() + "loopback_trace_fail.txt";
    std::remove(path.c_str());
    const std::string config = "trace=" + path + ",inputs=none";
    IASIO* driver = createLoopbackDriver(config.c_str());
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    driver->Release();
    EXPECT_EQ(readLines(path), (std::vector<std::string>{"init", "Release"}));
    std::remove(path.c_str());
}
