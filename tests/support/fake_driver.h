// An in-test driver object: answers every driver operation from its public settings and
// records the set-up and teardown calls it receives. Installed as currentDriver by
// FakeDriverScope; it is owned by the test, so Release never deletes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/asio.h"

class FakeDriver : public IASIO {
public:
    FakeDriver();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    IASIO_OPERATIONS(override)

    // Answers.
    ASIOBool initResult = ASIOTrue;
    std::string errorText = "Fake init failed";
    std::string driverName = "Fake Driver";
    int32_t driverVersion = 7;
    ASIOError result = ASE_OK; // answer of every ASIOError operation not named below
    ASIOError startResult = ASE_OK;
    ASIOError canSampleRateResult = ASE_OK;
    ASIOError setSampleRateResult = ASE_OK;
    ASIOError createBuffersResult = ASE_OK;
    ASIOError channelInfoResult = ASE_OK;
    int channelInfoFailAt = -1; // 0-based getChannelInfo call that answers channelInfoResult
    ASIOError samplePositionResult = ASE_OK;
    ASIOError outputReadyResult = ASE_OK;
    int32_t inputs = 8, outputs = 8;
    int32_t inputLatency = 256, outputLatency = 288;
    int32_t minSize = 16, maxSize = 8192, preferredSize = 256, granularity = -1;
    ASIOSampleRate currentRate = 48000.0;
    ASIOSamples samplePosition{0, 0};
    ASIOTimeStamp timeStamp{0, 0};
    ASIOSampleType inputType = ASIOSTInt32LSB;
    ASIOSampleType outputType = ASIOSTInt32LSB;
    // Per-channel overrides: {isInput, channel, type}.
    struct TypeOverride {
        bool isInput;
        int32_t channel;
        ASIOSampleType type;
    };
    std::vector<TypeOverride> typeOverrides;

    // What the driver was given.
    std::vector<std::string> calls; // set-up and teardown calls, e.g. "createBuffers 4 256"
    std::vector<ASIOBufferInfo> createdInfos;
    std::vector<std::vector<uint8_t>> halves; // two per created buffer, in request order
    ASIOCallbacks* callbacks = nullptr;
    int32_t bufferSize = 0;
    int refCount = 1;
    std::atomic<int> samplePositionCalls{0};
    std::atomic<int> outputReadyCalls{0};
    int channelInfoCalls = 0;

    ASIOSampleType typeOf(bool isInput, int32_t channel) const;
    uint8_t* half(int buffer, int index) { return halves[2 * buffer + index].data(); }
};

// Bytes one sample of a little-endian integer type occupies; 4 for the others.
int32_t fakeSampleBytes(ASIOSampleType type);

// Makes the fake the loaded driver for the scope's lifetime.
class FakeDriverScope {
public:
    explicit FakeDriverScope(FakeDriver& driver);
    ~FakeDriverScope();
    FakeDriverScope(const FakeDriverScope&) = delete;
    FakeDriverScope& operator=(const FakeDriverScope&) = delete;
};
