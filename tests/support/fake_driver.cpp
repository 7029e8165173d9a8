#include "support/fake_driver.h"

#include <cstdio>
#include <cstring>

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/sample_types.h"

namespace {
std::string describe(const char* name, double a) {
    char text[96];
    std::snprintf(text, sizeof text, "%s %.0f", name, a);
    return text;
}
} // namespace

FakeDriver::FakeDriver() = default;

HRESULT STDMETHODCALLTYPE FakeDriver::QueryInterface(REFIID, void** object) {
    if (object != nullptr) {
        *object = nullptr;
    }
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE FakeDriver::AddRef() {
    return static_cast<ULONG>(++refCount);
}
ULONG STDMETHODCALLTYPE FakeDriver::Release() {
    calls.push_back("Release");
    return static_cast<ULONG>(--refCount);
}

ASIOBool FakeDriver::init(void* sysHandle) {
    calls.push_back(sysHandle == nullptr ? "init null" : "init handle");
    return initResult;
}
void FakeDriver::getDriverName(char* name) {
    std::snprintf(name, 32, "%s", driverName.c_str());
}
int32_t FakeDriver::getDriverVersion() {
    return driverVersion;
}
void FakeDriver::getErrorMessage(char* string) {
    std::snprintf(string, 124, "%s", errorText.c_str());
}
ASIOError FakeDriver::start() {
    calls.push_back("start");
    return startResult;
}
ASIOError FakeDriver::stop() {
    calls.push_back("stop");
    return result;
}
ASIOError FakeDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    *numInputChannels = inputs;
    *numOutputChannels = outputs;
    return result;
}
ASIOError FakeDriver::getLatencies(int32_t* in, int32_t* out) {
    *in = inputLatency;
    *out = outputLatency;
    return result;
}
ASIOError FakeDriver::getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred,
                                    int32_t* step) {
    *minimum = minSize;
    *maximum = maxSize;
    *preferred = preferredSize;
    *step = granularity;
    return result;
}
ASIOError FakeDriver::canSampleRate(ASIOSampleRate sampleRate) {
    calls.push_back(describe("canSampleRate", sampleRate));
    return canSampleRateResult;
}
ASIOError FakeDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    *sampleRate = currentRate;
    return result;
}
ASIOError FakeDriver::setSampleRate(ASIOSampleRate sampleRate) {
    calls.push_back(describe("setSampleRate", sampleRate));
    if (setSampleRateResult == ASE_OK) {
        currentRate = sampleRate;
    }
    return setSampleRateResult;
}
ASIOError FakeDriver::getClockSources(ASIOClockSource*, int32_t* numSources) {
    *numSources = 0;
    return result;
}
ASIOError FakeDriver::setClockSource(int32_t) {
    return result;
}
ASIOError FakeDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    ++samplePositionCalls;
    if (samplePositionResult == ASE_OK) {
        *sPos = samplePosition;
        *tStamp = timeStamp;
    }
    return samplePositionResult;
}

ASIOSampleType FakeDriver::typeOf(bool isInput, int32_t channel) const {
    for (const TypeOverride& o : typeOverrides) {
        if (o.isInput == isInput && o.channel == channel) {
            return o.type;
        }
    }
    return isInput ? inputType : outputType;
}

ASIOError FakeDriver::getChannelInfo(ASIOChannelInfo* info) {
    const int call = channelInfoCalls++;
    calls.push_back(std::string("getChannelInfo ") + (info->isInput ? "in " : "out ") +
                    std::to_string(info->channel));
    if (call == channelInfoFailAt) {
        return channelInfoResult;
    }
    info->isActive = ASIOTrue;
    info->channelGroup = 0;
    info->type = typeOf(info->isInput != 0, info->channel);
    std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out",
                  static_cast<int>(info->channel + 1));
    return ASE_OK;
}

ASIOError FakeDriver::createBuffers(ASIOBufferInfo* infos, int32_t numChannels, int32_t size,
                                    ASIOCallbacks* hostCallbacksIn) {
    calls.push_back("createBuffers " + std::to_string(numChannels) + " " + std::to_string(size));
    if (createBuffersResult != ASE_OK) {
        return createBuffersResult;
    }
    callbacks = hostCallbacksIn;
    bufferSize = size;
    createdInfos.assign(infos, infos + (numChannels > 0 ? numChannels : 0));
    halves.clear();
    for (int32_t i = 0; i < numChannels; ++i) {
        const size_t bytes = static_cast<size_t>(size) *
                             fakeSampleBytes(typeOf(infos[i].isInput != 0, infos[i].channelNum));
        for (int h = 0; h < 2; ++h) {
            halves.emplace_back(bytes, uint8_t{0});
        }
    }
    for (int32_t i = 0; i < numChannels; ++i) {
        infos[i].buffers[0] = halves[2 * i].data();
        infos[i].buffers[1] = halves[2 * i + 1].data();
    }
    return ASE_OK;
}
ASIOError FakeDriver::disposeBuffers() {
    calls.push_back("disposeBuffers");
    return result;
}
ASIOError FakeDriver::controlPanel() {
    return result;
}
ASIOError FakeDriver::future(int32_t, void*) {
    return ASE_InvalidParameter;
}
ASIOError FakeDriver::outputReady() {
    ++outputReadyCalls;
    return outputReadyResult;
}

int32_t fakeSampleBytes(ASIOSampleType type) {
    // Halves of undefined types get a 32-bit container, so tests can still stream them.
    const int32_t bytes = sampleTypeBytes(type);
    return bytes != 0 ? bytes : 4;
}

FakeDriverScope::FakeDriverScope(FakeDriver& driver) {
    currentDriver = &driver;
}
FakeDriverScope::~FakeDriverScope() {
    currentDriver = nullptr;
}
