#include "driver_probe.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/driver_names.h"
#include "host/host_calls.h"
#include "platform/class_server.h"

namespace {

// korvane fetches names with this capacity; what it gives is all korvane can match.
constexpr uint32_t kTypedNameCapacity = kTypedDriverNameCapacity;
constexpr uint32_t kServerPathBytes = 512;

// Drivers need not terminate the texts they fill in.
std::string boundedText(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') {
        ++length;
    }
    return std::string(text, length);
}

bool classIdIsZero(const CLSID& classId) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&classId);
    for (size_t k = 0; k < sizeof classId; ++k) {
        if (bytes[k] != 0) {
            return false;
        }
    }
    return true;
}

int32_t firstIndexOfTypedName(const std::vector<ListedDriver>& drivers, const std::string& name) {
    for (const ListedDriver& driver : drivers) {
        if (driver.typedName == name) {
            return driver.index;
        }
    }
    return -1;
}

const ListedDriver* entryAt(const std::vector<ListedDriver>& drivers, int32_t index) {
    for (const ListedDriver& driver : drivers) {
        if (driver.index == index) {
            return &driver;
        }
    }
    return nullptr;
}

void fillEntry(DriverReport& report, const std::vector<ListedDriver>& drivers, int32_t index) {
    const ListedDriver* entry = entryAt(drivers, index);
    if (entry == nullptr) {
        return;
    }
    report.listed = true;
    report.entry = *entry;
    for (const ListedDriver& other : drivers) {
        if (other.index != entry->index && other.sameNameAs == entry->index) {
            report.shadowed.push_back(other.index);
        }
    }
}

const char* comFailureMeaning(uint32_t code) {
    switch (code) {
    case 0x80040154u:
        return "the class is not registered";
    case 0x8007007Eu:
        return "the server library or one it needs cannot be loaded";
    case 0x800401F9u:
        return "the server library has no DllGetClassObject";
    case 0x80040111u:
        return "the server library does not provide this class";
    case 0x80004002u:
        return "the object does not offer the driver interface";
    case 0x8007000Eu:
        return "out of memory";
    case 0x800401F3u:
        return "the class identifier is not valid";
    default:
        return nullptr;
    }
}

// loadDriverByName only says no; one more attempt through the list yields the COM code.
std::string loadFailureText(const ListedDriver& entry) {
    std::string text = "the driver object could not be created";
    if (!entry.classIdValid) {
        return text + ": the registry's class identifier is not a valid {8-4-4-4-12} text";
    }
    IASIO* probe = nullptr;
    const int32_t code = driverManager->openDriver(entry.index, &probe);
    char detail[160];
    if (code == 0) {
        driverManager->closeDriver(entry.index);
        text += " (a second attempt succeeded)";
    } else {
        const char* meaning = comFailureMeaning(static_cast<uint32_t>(code));
        std::snprintf(detail, sizeof detail, ": CoCreateInstance answered 0x%08X%s%s",
                      static_cast<unsigned>(code), meaning != nullptr ? ", " : "",
                      meaning != nullptr ? meaning : "");
        text += detail;
    }
    if (entry.serverPath.empty()) {
        text += "; no in-process server is registered for the class";
    } else {
        std::FILE* file = std::fopen(entry.serverPath.c_str(), "rb");
        if (file == nullptr) {
            text += "; the server file " + entry.serverPath + " cannot be opened";
        } else {
            std::fclose(file);
        }
    }
    return text;
}

void addFailure(DriverReport& report, const std::string& call, ASIOError result) {
    report.failures.push_back(CallFailure{call, result});
}

void probeChannels(DriverReport& report, bool isInput, int32_t count,
                   std::vector<ChannelReport>& channels) {
    if (count > kMaxProbedChannels) {
        count = kMaxProbedChannels;
    }
    for (int32_t k = 0; k < count; ++k) {
        ASIOChannelInfo info;
        std::memset(&info, 0, sizeof info);
        info.channel = k;
        info.isInput = isInput ? ASIOTrue : ASIOFalse;
        ChannelReport channel;
        channel.number = k + 1;
        channel.result = ASIOGetChannelInfo(&info);
        if (channel.result == ASE_OK) {
            channel.active = info.isActive != ASIOFalse;
            channel.group = info.channelGroup;
            channel.type = info.type;
            channel.name = boundedText(info.name, sizeof info.name);
        } else {
            addFailure(report,
                       std::string("ASIOGetChannelInfo ") + (isInput ? "input " : "output ") +
                           std::to_string(k + 1),
                       channel.result);
        }
        channels.push_back(channel);
    }
}

// Only what a driver must answer between init and createBuffers: some drivers crash when
// asked for channel details before a successful init.
void probeInitialised(DriverReport& report) {
    report.channelsResult = ASIOGetChannels(&report.inputs, &report.outputs);
    if (report.channelsResult != ASE_OK) {
        addFailure(report, "ASIOGetChannels", report.channelsResult);
    }
    report.bufferResult = ASIOGetBufferSize(&report.minimumLength, &report.maximumLength,
                                            &report.preferredLength, &report.granularity);
    if (report.bufferResult != ASE_OK) {
        addFailure(report, "ASIOGetBufferSize", report.bufferResult);
    }
    report.rateResult = ASIOGetSampleRate(&report.sampleRate);
    if (report.rateResult != ASE_OK) {
        addFailure(report, "ASIOGetSampleRate", report.rateResult);
    }
    for (int k = 0; k < kProbeRateCount; ++k) {
        // A refusal is an answer, not a failure.
        report.rateAnswers[k] = ASIOCanSampleRate(kProbeRates[k]);
    }
    if (report.channelsResult == ASE_OK) {
        probeChannels(report, true, report.inputs, report.inputChannels);
        probeChannels(report, false, report.outputs, report.outputChannels);
    }
}

} // namespace

const double kProbeRates[kProbeRateCount] = {44100.0, 48000.0,  88200.0,
                                             96000.0, 176400.0, 192000.0};

std::string classIdText(const CLSID& classId) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(classId.Data1), static_cast<unsigned>(classId.Data2),
                  static_cast<unsigned>(classId.Data3), classId.Data4[0], classId.Data4[1],
                  classId.Data4[2], classId.Data4[3], classId.Data4[4], classId.Data4[5],
                  classId.Data4[6], classId.Data4[7]);
    return text;
}

bool ensureDriverManager() {
    if (driverManager == nullptr) {
        // The same process-wide manager that loadDriverByName would create; it lives to the
        // end of the process.
        driverManager = new (std::nothrow) DriverManager();
    }
    return driverManager != nullptr;
}

std::vector<ListedDriver> listDrivers() {
    std::vector<ListedDriver> drivers;
    if (driverManager == nullptr) {
        return drivers;
    }
    for (int32_t i = 0; i < driverManager->driverCount(); ++i) {
        const DriverEntry* entry = driverManager->findEntry(i);
        char typed[kTypedNameCapacity];
        if (entry == nullptr || driverManager->copyDriverName(i, typed, sizeof typed) != 0) {
            continue;
        }
        ListedDriver driver;
        driver.index = i;
        driver.typedName = boundedText(typed, sizeof typed);
        driver.listedName = boundedText(entry->displayName, sizeof entry->displayName);
        driver.cut = driver.typedName != driver.listedName;
        driver.sameNameAs = firstIndexOfTypedName(drivers, driver.typedName);
        driver.classIdValid = !classIdIsZero(entry->classId);
        driver.classId = classIdText(entry->classId);
        if (driver.classIdValid) {
            char classId[40];
            std::snprintf(classId, sizeof classId, "%s", driver.classId.c_str());
            char path[kServerPathBytes];
            if (findServerPath(classId, path, sizeof path) == 0) {
                driver.serverPath = boundedText(path, sizeof path);
                driver.serverPathShown = classServerPathUtf8(driver.classId, driver.serverPath);
            }
        }
        drivers.push_back(driver);
    }
    return drivers;
}

std::vector<std::string> suggestNames(const std::vector<ListedDriver>& drivers,
                                      const std::string& name) {
    std::vector<std::string> suggestions;
    for (const ListedDriver& driver : drivers) {
        if (driver.sameNameAs < 0 && driverNameMeant(driver.typedName, driver.listedName, name)) {
            suggestions.push_back(driver.typedName);
        }
    }
    return suggestions;
}

DriverReport shadowedReport(const ListedDriver& entry) {
    DriverReport report;
    report.requested = entry.typedName;
    report.listed = true;
    report.entry = entry;
    report.status = ProbeStatus::Shadowed;
    return report;
}

DriverReport probeDriver(const std::vector<ListedDriver>& drivers, const std::string& name) {
    DriverReport report;
    report.requested = name;
    if (!loadDriverByName(name.c_str())) {
        const int32_t index = firstIndexOfTypedName(drivers, name);
        if (index < 0) {
            report.status = ProbeStatus::NotListed;
            report.error = "no driver is listed under this name";
            if (name.size() >= kTypedNameCapacity) {
                report.error += "; korvane matches at most 31 characters and knows longer listed "
                                "names only cut to 28 and \"...\"";
            }
            report.suggestions = suggestNames(drivers, name);
            return report;
        }
        fillEntry(report, drivers, index);
        report.status = ProbeStatus::LoadFailed;
        report.error = loadFailureText(report.entry);
        return report;
    }
    fillEntry(report, drivers, driverManager->currentIndex);

    ASIODriverInfo info;
    std::memset(&info, 0, sizeof info);
    if (ASIOInit(&info) != ASE_OK) {
        report.status = ProbeStatus::InitFailed;
        report.error = boundedText(info.errorMessage, sizeof info.errorMessage);
        // ASIOInit forgot the interface without releasing the object.
        driverManager->releaseCurrentDriver();
        return report;
    }
    report.initialised = true;
    report.driverName = boundedText(info.name, sizeof info.name);
    report.driverVersion = info.driverVersion;
    probeInitialised(report);
    ASIOExit();
    report.status = report.failures.empty() ? ProbeStatus::Ok : ProbeStatus::QueryFailed;
    return report;
}
