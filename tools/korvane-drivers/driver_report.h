// What korvane-drivers finds out about the listed drivers, and its two ways of printing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/asio.h"
#include "platform/registry_file.h"

// The rates a WAV file commonly has; each is offered to ASIOCanSampleRate.
constexpr int kProbeRateCount = 6;
extern const double kProbeRates[kProbeRateCount];

// Channels asked about per direction; drivers reporting absurd counts are cut off here.
constexpr int32_t kMaxProbedChannels = 1024;

// One entry of the registry's driver list.
struct ListedDriver {
    int32_t index = -1;
    // What korvane compares its first argument with: the name cut as copyDriverName cuts
    // it with capacity 32.
    std::string typedName;
    std::string listedName;
    bool cut = false;
    // The first earlier entry with the same typed name: korvane always loads that one.
    int32_t sameNameAs = -1;
    std::string classId;
    bool classIdValid = false;
    std::string serverPath;      // empty when no in-process server is registered for the class
    std::string serverPathShown; // the same as UTF-8, read as wide text on Windows
};

enum class ProbeStatus {
    Ok,
    NotListed,   // no entry has the requested name
    Shadowed,    // listed after another entry of the same name; never loaded
    LoadFailed,  // loadDriverByName returned false
    InitFailed,  // ASIOInit did not return ASE_OK
    QueryFailed, // initialised, but a getter answered an error
};

struct CallFailure {
    std::string call; // "ASIOGetBufferSize", "ASIOGetChannelInfo input 3", ...
    ASIOError result;
};

struct ChannelReport {
    int32_t number = 0; // as korvane counts, from 1
    ASIOError result = ASE_OK;
    bool active = false;
    int32_t group = 0;
    ASIOSampleType type = 0;
    std::string name;
};

struct DriverReport {
    std::string requested;
    bool listed = false;
    ListedDriver entry;            // valid when listed
    std::vector<int32_t> shadowed; // later entries with the same typed name
    std::vector<std::string> suggestions;
    ProbeStatus status = ProbeStatus::NotListed;
    // NotListed, LoadFailed: what went wrong. InitFailed: the driver's own error text.
    std::string error;

    // The rest is known once ASIOInit has succeeded.
    bool initialised = false;
    std::string driverName;
    int32_t driverVersion = 0;
    ASIOError channelsResult = ASE_OK;
    int32_t inputs = 0;
    int32_t outputs = 0;
    ASIOError bufferResult = ASE_OK;
    int32_t minimumLength = 0;
    int32_t maximumLength = 0;
    int32_t preferredLength = 0;
    int32_t granularity = 0;
    ASIOError rateResult = ASE_OK;
    double sampleRate = 0.0;
    ASIOError rateAnswers[kProbeRateCount] = {};
    std::vector<ChannelReport> inputChannels;
    std::vector<ChannelReport> outputChannels;
    std::vector<CallFailure> failures;
};

bool reportFailed(const DriverReport& report);
const char* probeStatusName(ProbeStatus status);

// Each says first which registry file the list came from, where there is one.
std::string listingText(const std::vector<ListedDriver>& drivers,
                        const RegistryFile& registry = RegistryFile());
std::string listingJson(const std::vector<ListedDriver>& drivers,
                        const RegistryFile& registry = RegistryFile());
std::string reportsText(const std::vector<DriverReport>& reports,
                        const RegistryFile& registry = RegistryFile());
std::string reportsJson(const std::vector<DriverReport>& reports,
                        const RegistryFile& registry = RegistryFile());
