// The driver interface as drivers built by other compilers expect it, byte for byte.
// Every 32-bit quantity is int32_t: Windows keeps `long` at 32 bits, Linux does not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

typedef int32_t ASIOError;
typedef int32_t ASIOBool;
typedef double ASIOSampleRate;
typedef int32_t ASIOSampleType;

enum : ASIOBool { ASIOFalse = 0, ASIOTrue = 1 };

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994
};

enum : ASIOSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
    ASIOSTDSDInt8LSB1 = 32,
    ASIOSTDSDInt8MSB1 = 33,
    ASIOSTDSDInt8NER8 = 40
};

// Selectors of the host's asioMessage callback.
enum : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioSupportsInputGain = 11,
    kAsioSupportsInputMeter = 12,
    kAsioSupportsOutputGain = 13,
    kAsioSupportsOutputMeter = 14,
    kAsioOverload = 15
};

// Flags of ASIOTimeInfo.
enum : uint32_t {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
    kSampleRateChanged = 16,
    kClockSourceChanged = 32
};

#pragma pack(push, 4)

// 64-bit values as two unsigned halves, high half first.
struct ASIOSamples {
    uint32_t hi;
    uint32_t lo;
};

// Nanoseconds.
struct ASIOTimeStamp {
    uint32_t hi;
    uint32_t lo;
};

struct ASIODriverInfo {
    int32_t asioVersion;
    int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

struct ASIOChannelInfo {
    int32_t channel;
    ASIOBool isInput;
    ASIOBool isActive;
    int32_t channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    int32_t channelNum;
    void* buffers[2];
};

struct ASIOClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct ASIOTime {
    int32_t reserved[4];
    ASIOTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// The C default calling convention (cdecl on 32-bit Windows).
struct ASIOCallbacks {
    void (*bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                      ASIOBool directProcess);
};

#pragma pack(pop)

// The driver operations, slots 3 to 23 in this order (thiscall on 32-bit Windows). IASIO
// declares them pure; an implementation declares them all with IASIO_OPERATIONS(override),
// so that no list of them can drift from the interface.
#define IASIO_OPERATIONS(TAIL)                                                                     \
    virtual ASIOBool init(void* sysHandle) TAIL;                                                   \
    virtual void getDriverName(char* name) TAIL;                                                   \
    virtual int32_t getDriverVersion() TAIL;                                                       \
    virtual void getErrorMessage(char* string) TAIL;                                               \
    virtual ASIOError start() TAIL;                                                                \
    virtual ASIOError stop() TAIL;                                                                 \
    virtual ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) TAIL;     \
    virtual ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) TAIL;            \
    virtual ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,    \
                                    int32_t* granularity) TAIL;                                    \
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) TAIL;                               \
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) TAIL;                              \
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) TAIL;                               \
    virtual ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) TAIL;          \
    virtual ASIOError setClockSource(int32_t reference) TAIL;                                      \
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) TAIL;            \
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) TAIL;                                  \
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,              \
                                    int32_t bufferSize, ASIOCallbacks* callbacks) TAIL;            \
    virtual ASIOError disposeBuffers() TAIL;                                                       \
    virtual ASIOError controlPanel() TAIL;                                                         \
    virtual ASIOError future(int32_t selector, void* opt) TAIL;                                    \
    virtual ASIOError outputReady() TAIL;

// Slots 0 to 2 come from IUnknown (stdcall on 32-bit Windows), then the operations. No
// virtual destructor: it would add slots.
class IASIO : public IUnknown {
public:
    IASIO_OPERATIONS(= 0)
};

constexpr bool kPointers64 = sizeof(void*) == 8;

static_assert(sizeof(ASIOError) == 4 && sizeof(ASIOBool) == 4 && sizeof(ASIOSampleType) == 4);
static_assert(sizeof(ASIOSampleRate) == 8);
static_assert(sizeof(ASIOSamples) == 8 && offsetof(ASIOSamples, hi) == 0 &&
              offsetof(ASIOSamples, lo) == 4);
static_assert(sizeof(ASIOTimeStamp) == 8 && offsetof(ASIOTimeStamp, hi) == 0 &&
              offsetof(ASIOTimeStamp, lo) == 4);

static_assert(offsetof(ASIODriverInfo, asioVersion) == 0);
static_assert(offsetof(ASIODriverInfo, driverVersion) == 4);
static_assert(offsetof(ASIODriverInfo, name) == 8);
static_assert(offsetof(ASIODriverInfo, errorMessage) == 40);
static_assert(offsetof(ASIODriverInfo, sysRef) == 164);
static_assert(sizeof(ASIODriverInfo) == (kPointers64 ? 172 : 168));

static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(offsetof(ASIOChannelInfo, channel) == 0);
static_assert(offsetof(ASIOChannelInfo, isInput) == 4);
static_assert(offsetof(ASIOChannelInfo, isActive) == 8);
static_assert(offsetof(ASIOChannelInfo, channelGroup) == 12);
static_assert(offsetof(ASIOChannelInfo, type) == 16);
static_assert(offsetof(ASIOChannelInfo, name) == 20);

static_assert(offsetof(ASIOBufferInfo, isInput) == 0);
static_assert(offsetof(ASIOBufferInfo, channelNum) == 4);
static_assert(offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(ASIOBufferInfo) == (kPointers64 ? 24 : 16));

static_assert(sizeof(ASIOClockSource) == 48);
static_assert(offsetof(ASIOClockSource, isCurrentSource) == 12);
static_assert(offsetof(ASIOClockSource, name) == 16);

static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*));
static_assert(offsetof(ASIOCallbacks, bufferSwitch) == 0);
static_assert(offsetof(ASIOCallbacks, sampleRateDidChange) == sizeof(void*));
static_assert(offsetof(ASIOCallbacks, asioMessage) == 2 * sizeof(void*));
static_assert(offsetof(ASIOCallbacks, bufferSwitchTimeInfo) == 3 * sizeof(void*));

static_assert(sizeof(ASIOTime) == 148);
static_assert(offsetof(ASIOTime, reserved) == 0);
static_assert(offsetof(ASIOTime, timeInfo.speed) == 16);
static_assert(offsetof(ASIOTime, timeInfo.systemTime.hi) == 24);
static_assert(offsetof(ASIOTime, timeInfo.systemTime.lo) == 28);
static_assert(offsetof(ASIOTime, timeInfo.samplePosition.hi) == 32);
static_assert(offsetof(ASIOTime, timeInfo.samplePosition.lo) == 36);
static_assert(offsetof(ASIOTime, timeInfo.sampleRate) == 40);
static_assert(offsetof(ASIOTime, timeInfo.flags) == 48);
static_assert(offsetof(ASIOTime, timeInfo.reserved) == 52);
static_assert(offsetof(ASIOTime, timeCode.speed) == 64);
static_assert(offsetof(ASIOTime, timeCode.timeCodeSamples) == 72);
static_assert(offsetof(ASIOTime, timeCode.flags) == 80);
static_assert(offsetof(ASIOTime, timeCode.future) == 84);
