// A minimal in-process server of driver objects for the loader tests. It has its own
// interface identifiers and compares them bytewise, so it needs no system library and
// nothing of korvane.
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "host/asio.h"
#include "host/com_query.h"
#include "platform/text.h"
#include "support/test_server.h"

namespace {

constexpr int hexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : 0;
}

constexpr uint32_t hexField(const char* text, int at, int digits) {
    uint32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        value = (value << 4) | static_cast<uint32_t>(hexValue(text[at + i]));
    }
    return value;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at compile time, so the identifiers cannot drift
// from the texts that the tests register.
constexpr GUID guidFromText(const char* text) {
    GUID guid{};
    guid.Data1 = hexField(text, 1, 8);
    guid.Data2 = static_cast<uint16_t>(hexField(text, 10, 4));
    guid.Data3 = static_cast<uint16_t>(hexField(text, 15, 4));
    guid.Data4[0] = static_cast<uint8_t>(hexField(text, 20, 2));
    guid.Data4[1] = static_cast<uint8_t>(hexField(text, 22, 2));
    for (int i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<uint8_t>(hexField(text, 25 + 2 * i, 2));
    }
    return guid;
}

constexpr GUID kClassA = guidFromText(TEST_SERVER_CLSID_A);
constexpr GUID kClassB = guidFromText(TEST_SERVER_CLSID_B);
constexpr GUID kClassC = guidFromText(TEST_SERVER_CLSID_C);
constexpr GUID kClassRefused = guidFromText(TEST_SERVER_CLSID_REFUSED);
constexpr GUID kUnknown = guidFromText("{00000000-0000-0000-C000-000000000046}");
constexpr GUID kClassFactory = guidFromText("{00000001-0000-0000-C000-000000000046}");

bool sameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::atomic<int32_t> liveObjects{0};
std::atomic<int32_t> serverReferences{0};

struct TestClass {
    const GUID* clsid;
    const char* name;
    int32_t version;
    bool refused;
};

const TestClass kClasses[] = {
    {&kClassA, "Test Driver A", 1, false},
    {&kClassB, "Test Driver B", 2, false},
    {&kClassC, "Test Driver C", 3, false},
    {&kClassRefused, "Refused", 0, true},
};

void copyText(char* destination, const char* text, size_t capacity) {
    if (destination != nullptr) {
        copyTruncated(destination, capacity, text);
    }
}

class TestDriver final : public IASIO {
public:
    explicit TestDriver(const TestClass& cls) : cls(cls) { ++liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        // The class identifier serves as the interface identifier of a driver.
        return answerQuery(this, sameGuid(iid, *cls.clsid) || sameGuid(iid, kUnknown), object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) {
            --liveObjects;
            delete this;
        }
        return left;
    }

    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { copyText(name, cls.name, 32); }
    int32_t getDriverVersion() override { return cls.version; }
    void getErrorMessage(char* text) override { copyText(text, "No error", 124); }
    ASIOError start() override { return ASE_OK; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(int32_t* inputs, int32_t* outputs) override {
        if (inputs != nullptr) {
            *inputs = 2;
        }
        if (outputs != nullptr) {
            *outputs = 2;
        }
        return ASE_OK;
    }
    ASIOError getLatencies(int32_t* input, int32_t* output) override {
        if (input != nullptr) {
            *input = 256;
        }
        if (output != nullptr) {
            *output = 256;
        }
        return ASE_OK;
    }
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override {
        if (minSize != nullptr) {
            *minSize = 64;
        }
        if (maxSize != nullptr) {
            *maxSize = 4096;
        }
        if (preferredSize != nullptr) {
            *preferredSize = 256;
        }
        if (granularity != nullptr) {
            *granularity = -1;
        }
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (rate != nullptr) {
            *rate = sampleRate;
        }
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override {
        sampleRate = rate;
        return ASE_OK;
    }
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* count) override {
        if (clocks != nullptr) {
            std::memset(clocks, 0, sizeof *clocks);
            clocks->isCurrentSource = ASIOTrue;
            copyText(clocks->name, "Internal", sizeof clocks->name);
        }
        if (count != nullptr) {
            *count = 1;
        }
        return ASE_OK;
    }
    ASIOError setClockSource(int32_t) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        if (position != nullptr) {
            *position = ASIOSamples{0, 0};
        }
        if (stamp != nullptr) {
            *stamp = ASIOTimeStamp{0, 0};
        }
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (info == nullptr) {
            return ASE_InvalidParameter;
        }
        info->isActive = ASIOFalse;
        info->channelGroup = 0;
        info->type = ASIOSTInt32LSB;
        copyText(info->name, info->isInput ? "Test In" : "Test Out", sizeof info->name);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, int32_t count, int32_t frames,
                            ASIOCallbacks*) override {
        if (infos == nullptr || count <= 0 || frames <= 0) {
            return ASE_InvalidParameter;
        }
        buffers.assign(static_cast<size_t>(count) * 2u * static_cast<size_t>(frames), 0);
        for (int32_t i = 0; i < count; ++i) {
            for (int half = 0; half < 2; ++half) {
                infos[i].buffers[half] =
                    &buffers[(static_cast<size_t>(i) * 2u + static_cast<size_t>(half)) *
                             static_cast<size_t>(frames)];
            }
        }
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        buffers.clear();
        return ASE_OK;
    }
    ASIOError controlPanel() override { return ASE_OK; }
    ASIOError future(int32_t, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override { return ASE_OK; }

private:
    const TestClass& cls;
    std::atomic<ULONG> references{1};
    ASIOSampleRate sampleRate = 48000.0;
    std::vector<int32_t> buffers;
};

class Factory final : public IClassFactory {
public:
    explicit Factory(const TestClass& cls) : cls(cls) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return answerQuery(this, sameGuid(iid, kClassFactory) || sameGuid(iid, kUnknown), object);
    }
    // The factories are static: their references only keep the server loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++serverReferences); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--serverReferences); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (cls.refused) {
            return E_FAIL;
        }
        TestDriver* driver = new (std::nothrow) TestDriver(cls);
        if (driver == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = driver->QueryInterface(iid, object);
        driver->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++serverReferences;
        } else {
            --serverReferences;
        }
        return S_OK;
    }

private:
    const TestClass& cls;
};

Factory factories[] = {Factory(kClasses[0]), Factory(kClasses[1]), Factory(kClasses[2]),
                       Factory(kClasses[3])};
static_assert(sizeof factories / sizeof factories[0] == sizeof kClasses / sizeof kClasses[0],
              "one factory per class");

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    for (size_t i = 0; i < sizeof kClasses / sizeof kClasses[0]; ++i) {
        if (sameGuid(clsid, *kClasses[i].clsid)) {
            return factories[i].QueryInterface(iid, object);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return liveObjects.load() == 0 && serverReferences.load() == 0 ? S_OK : S_FALSE;
}

extern "C" int32_t TestServerLiveObjects() {
    return liveObjects.load();
}
