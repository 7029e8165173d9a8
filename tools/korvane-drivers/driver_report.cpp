#include "driver_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "host/sample_types.h"
#include "measure/text/json_text.h"
#include "measure/text/name_table.h"
#include "platform/text_out.h"

namespace {

// korvane creates at most this many buffers per direction.
constexpr int32_t kKorvaneChannelLimit = 64;

void appendf(std::string& out, const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length > 0) {
        out.append(text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length)
                                                                   : sizeof text - 1);
    }
}

// Names as they go to a console: control characters would garble it, so they are shown
// as \xNN; everything else is the name's own bytes.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            appendf(out, "\\x%02X", byte);
        } else {
            out += c;
        }
    }
    return out;
}

// The registry's and the drivers' text is in the system's ANSI code page; what is printed,
// and JSON, is UTF-8.
std::string shown(const std::string& ansi) {
    return escaped(ansiToUtf8(ansi.c_str()));
}

Json ansiJson(const std::string& ansi) {
    return jsonString(ansiToUtf8(ansi.c_str()));
}

const NamedValue<ASIOError> kAsioErrorNames[] = {{ASE_OK, "ASE_OK"},
                                                 {ASE_SUCCESS, "ASE_SUCCESS"},
                                                 {ASE_NotPresent, "ASE_NotPresent"},
                                                 {ASE_HWMalfunction, "ASE_HWMalfunction"},
                                                 {ASE_InvalidParameter, "ASE_InvalidParameter"},
                                                 {ASE_InvalidMode, "ASE_InvalidMode"},
                                                 {ASE_SPNotAdvancing, "ASE_SPNotAdvancing"},
                                                 {ASE_NoClock, "ASE_NoClock"},
                                                 {ASE_NoMemory, "ASE_NoMemory"}};

const char* asioErrorName(ASIOError result) {
    return nameOf(kAsioErrorNames, result, nullptr);
}

std::string resultText(ASIOError result) {
    std::string text = std::to_string(result);
    const char* name = asioErrorName(result);
    if (name != nullptr) {
        text = text + " (" + name + ")";
    }
    return text;
}

std::string rateText(double rate) {
    std::string out;
    // Only finite rates within range may be converted to an integer.
    if (std::isfinite(rate) && std::fabs(rate) < 9.0e18 &&
        rate == static_cast<double>(static_cast<int64_t>(rate))) {
        appendf(out, "%lld", static_cast<long long>(rate));
    } else {
        appendf(out, "%.3f", rate);
    }
    return out;
}

void appendEntryLines(std::string& out, const ListedDriver& driver) {
    appendf(out, "[%d] \"%s\"\n", static_cast<int>(driver.index), shown(driver.typedName).c_str());
    if (driver.cut) {
        appendf(out, "    listed as: %s\n", shown(driver.listedName).c_str());
        out += "    korvane knows names longer than 31 characters only in the cut form above\n";
    }
    const std::string& name = driver.typedName;
    if (!name.empty() && (name.front() == ' ' || name.back() == ' ')) {
        out += "    the name begins or ends with a blank: keep it inside the quotes\n";
    }
    if (driver.sameNameAs >= 0) {
        appendf(out,
                "    same name as [%d]: korvane always loads [%d] under this name, never this\n",
                static_cast<int>(driver.sameNameAs), static_cast<int>(driver.sameNameAs));
    }
    if (!driver.classIdValid) {
        out += "    the registry's class identifier is not valid: this driver cannot be loaded\n";
    } else if (driver.serverPath.empty()) {
        appendf(out, "    class %s, no server registered\n", driver.classId.c_str());
    } else {
        appendf(out, "    server: %s\n", escaped(driver.serverPathShown).c_str());
    }
}

void appendChannels(std::string& out, const char* title, const std::vector<ChannelReport>& channels,
                    int32_t count) {
    appendf(out, "    %s\n", title);
    if (channels.empty()) {
        out += "      (none)\n";
        return;
    }
    for (const ChannelReport& channel : channels) {
        if (channel.result != ASE_OK) {
            appendf(out, "    %4d  ASIOGetChannelInfo answered %s\n",
                    static_cast<int>(channel.number), resultText(channel.result).c_str());
            continue;
        }
        const char* name = sampleTypeName(channel.type);
        std::string type = name != nullptr ? name : "type " + std::to_string(channel.type);
        appendf(out, "    %4d  %-18s %-15s \"%s\"%s\n", static_cast<int>(channel.number),
                type.c_str(), korvaneStreams(channel.type) ? "streamable" : "not streamable",
                shown(channel.name).c_str(),
                channel.number > kKorvaneChannelLimit ? "  (beyond korvane's 64)" : "");
    }
    if (count > static_cast<int32_t>(channels.size())) {
        appendf(out, "      (%d more not asked about)\n",
                static_cast<int>(count - static_cast<int32_t>(channels.size())));
    }
}

// korvane takes its sample width from the first channel it creates (the first recorded
// input, else the first output) and refuses any chosen channel narrower than that.
bool mixedWidths(const DriverReport& report) {
    int32_t width = 0;
    for (const std::vector<ChannelReport>* side : {&report.inputChannels, &report.outputChannels}) {
        for (const ChannelReport& channel : *side) {
            if (channel.result != ASE_OK || !korvaneStreams(channel.type)) {
                continue;
            }
            const int32_t bytes = sampleTypeBytes(channel.type);
            if (width != 0 && bytes != width) {
                return true;
            }
            width = bytes;
        }
    }
    return false;
}

void appendDetails(std::string& out, const DriverReport& report) {
    appendf(out, "    Driver:         %s, version %d\n", shown(report.driverName).c_str(),
            static_cast<int>(report.driverVersion));
    if (report.channelsResult == ASE_OK) {
        appendf(out, "    Channels:       %d inputs, %d outputs\n", static_cast<int>(report.inputs),
                static_cast<int>(report.outputs));
    } else {
        appendf(out, "    Channels:       ASIOGetChannels answered %s\n",
                resultText(report.channelsResult).c_str());
    }
    if (report.bufferResult == ASE_OK) {
        appendf(out,
                "    Buffer lengths: minimum %d, maximum %d, preferred %d, granularity %d\n"
                "                    korvane takes any <ASIOBuffer> from %d to %d\n",
                static_cast<int>(report.minimumLength), static_cast<int>(report.maximumLength),
                static_cast<int>(report.preferredLength), static_cast<int>(report.granularity),
                static_cast<int>(report.minimumLength), static_cast<int>(report.maximumLength));
    } else {
        appendf(out, "    Buffer lengths: ASIOGetBufferSize answered %s\n",
                resultText(report.bufferResult).c_str());
    }
    if (report.rateResult == ASE_OK) {
        appendf(out, "    Sample rate:    %s Hz now\n", rateText(report.sampleRate).c_str());
    } else {
        appendf(out, "    Sample rate:    ASIOGetSampleRate answered %s\n",
                resultText(report.rateResult).c_str());
    }
    std::string accepted;
    std::string refused;
    for (int k = 0; k < kProbeRateCount; ++k) {
        std::string& list = report.rateAnswers[k] == ASE_OK ? accepted : refused;
        list += (list.empty() ? "" : " ") + rateText(kProbeRates[k]);
    }
    appendf(out, "    Rates accepted: %s\n", accepted.empty() ? "none" : accepted.c_str());
    appendf(out, "    Rates refused:  %s\n", refused.empty() ? "none" : refused.c_str());
    if (report.channelsResult == ASE_OK) {
        appendChannels(out, "Inputs (<RecStartChannel> counts from 1):", report.inputChannels,
                       report.inputs);
        appendChannels(out, "Outputs (<PlayStartChannel> counts from 1):", report.outputChannels,
                       report.outputs);
        if (mixedWidths(report)) {
            out += "    Sample widths differ: korvane takes its width from the first channel it "
                   "creates\n    (the first recorded input, else the first output) and refuses "
                   "a run with a narrower one\n";
        }
    }
}

void appendReport(std::string& out, const DriverReport& report) {
    if (report.listed) {
        appendEntryLines(out, report.entry);
        for (int32_t index : report.shadowed) {
            appendf(out, "    [%d] has the same name and is never loaded\n",
                    static_cast<int>(index));
        }
    } else {
        appendf(out, "\"%s\"\n", shown(report.requested).c_str());
    }
    switch (report.status) {
    case ProbeStatus::NotListed:
        appendf(out, "    Error: %s\n", shown(report.error).c_str());
        for (const std::string& suggestion : report.suggestions) {
            appendf(out, "    Did you mean \"%s\"? Letter case and blanks count.\n",
                    shown(suggestion).c_str());
        }
        break;
    case ProbeStatus::Shadowed:
        out += "    Not loaded: korvane loads the earlier entry of this name instead\n";
        break;
    case ProbeStatus::LoadFailed:
        appendf(out, "    Error: korvane cannot load this driver: %s\n",
                shown(report.error).c_str());
        break;
    case ProbeStatus::InitFailed:
        appendf(out, "    Error: the driver failed to initialise: %s\n",
                report.error.empty() ? "(it gave no error text)" : shown(report.error).c_str());
        break;
    case ProbeStatus::Ok:
    case ProbeStatus::QueryFailed:
        appendDetails(out, report);
        for (const CallFailure& failure : report.failures) {
            appendf(out, "    Error: %s answered %s\n", failure.call.c_str(),
                    resultText(failure.result).c_str());
        }
        break;
    }
}

void setEntryFields(Json& json, const ListedDriver& driver) {
    json["index"] = driver.index;
    json["name"] = ansiJson(driver.typedName);
    json["listedName"] = ansiJson(driver.listedName);
    json["cut"] = driver.cut;
    json["sameNameAs"] = driver.sameNameAs >= 0 ? Json(driver.sameNameAs) : Json();
    json["classId"] = ansiJson(driver.classId);
    json["classIdValid"] = driver.classIdValid;
    json["server"] = driver.serverPath.empty() ? Json() : jsonString(driver.serverPathShown);
}

Json resultOrNull(ASIOError result, int64_t value) {
    return result == ASE_OK ? Json(value) : Json();
}

Json channelsJson(const std::vector<ChannelReport>& channels) {
    Json list = Json::array();
    for (const ChannelReport& channel : channels) {
        Json json = Json::object();
        json["number"] = channel.number;
        json["result"] = channel.result;
        if (channel.result == ASE_OK) {
            json["name"] = ansiJson(channel.name);
            json["type"] = channel.type;
            const char* name = sampleTypeName(channel.type);
            json["typeName"] = name != nullptr ? Json(name) : Json();
            json["bytes"] = sampleTypeBytes(channel.type);
            json["streamable"] = korvaneStreams(channel.type);
            json["active"] = channel.active;
            json["group"] = channel.group;
        }
        list.push_back(std::move(json));
    }
    return list;
}

void setDetails(Json& json, const DriverReport& report) {
    json["driverName"] = ansiJson(report.driverName);
    json["driverVersion"] = report.driverVersion;
    json["inputs"] = resultOrNull(report.channelsResult, report.inputs);
    json["outputs"] = resultOrNull(report.channelsResult, report.outputs);
    Json lengths;
    if (report.bufferResult == ASE_OK) {
        lengths["minimum"] = report.minimumLength;
        lengths["maximum"] = report.maximumLength;
        lengths["preferred"] = report.preferredLength;
        lengths["granularity"] = report.granularity;
    }
    json["bufferLengths"] = lengths;
    json["sampleRate"] = report.rateResult == ASE_OK ? jsonNumber(report.sampleRate) : Json();
    Json rates = Json::array();
    for (int k = 0; k < kProbeRateCount; ++k) {
        rates.push_back({{"rate", jsonNumber(kProbeRates[k])},
                         {"accepted", report.rateAnswers[k] == ASE_OK},
                         {"result", report.rateAnswers[k]}});
    }
    json["rates"] = rates;
    json["inputChannels"] = channelsJson(report.inputChannels);
    json["outputChannels"] = channelsJson(report.outputChannels);
}

Json reportJson(const DriverReport& report) {
    Json json = Json::object();
    json["requested"] = ansiJson(report.requested);
    json["status"] = probeStatusName(report.status);
    json["listed"] = report.listed;
    if (report.listed) {
        setEntryFields(json, report.entry);
    }
    const bool hasError = report.status == ProbeStatus::NotListed ||
                          report.status == ProbeStatus::LoadFailed ||
                          report.status == ProbeStatus::InitFailed;
    json["error"] = hasError ? ansiJson(report.error) : Json();
    Json suggestions = Json::array();
    for (const std::string& suggestion : report.suggestions) {
        suggestions.push_back(ansiJson(suggestion));
    }
    json["suggestions"] = suggestions;
    json["shadowed"] = report.shadowed;
    json["initialised"] = report.initialised;
    if (report.initialised) {
        setDetails(json, report);
    }
    Json failures = Json::array();
    for (const CallFailure& failure : report.failures) {
        failures.push_back({{"call", ansiJson(failure.call)}, {"result", failure.result}});
    }
    json["failedCalls"] = failures;
    return json;
}

void appendRegistryLine(std::string& out, const RegistryFile& registry) {
    if (registry.source == RegistrySource::SystemRegistry) {
        return;
    }
    out += "Registry file: " + shown(registry.path);
    if (registry.source == RegistrySource::Variable) {
        out += registry.exists ? ", named by KORVANE_REGISTRY\n"
                               : ", named by KORVANE_REGISTRY: it does not exist\n";
    } else if (registry.source == RegistrySource::BesideProgram) {
        out += ", beside the program\n";
    } else {
        out += registry.exists ? ", the installed drivers' list\n"
                               : ": it does not exist, nor does korvane.reg beside the program\n";
    }
}

// A document that starts with the registry file, where there is one.
Json registryJson(const RegistryFile& registry) {
    Json document = Json::object();
    if (registry.source != RegistrySource::SystemRegistry) {
        document["registry"] = {
            {"file", ansiJson(registry.path)},
            {"source", registry.source == RegistrySource::Variable        ? "KORVANE_REGISTRY"
                       : registry.source == RegistrySource::BesideProgram ? "beside the program"
                                                                          : "system"},
            {"exists", registry.exists}};
    }
    return document;
}

} // namespace

bool reportFailed(const DriverReport& report) {
    return report.status != ProbeStatus::Ok && report.status != ProbeStatus::Shadowed;
}

const NamedValue<ProbeStatus> kProbeStatusNames[] = {{ProbeStatus::Ok, "ok"},
                                                     {ProbeStatus::NotListed, "not-listed"},
                                                     {ProbeStatus::Shadowed, "shadowed"},
                                                     {ProbeStatus::LoadFailed, "load-failed"},
                                                     {ProbeStatus::InitFailed, "init-failed"},
                                                     {ProbeStatus::QueryFailed, "query-failed"}};

const char* probeStatusName(ProbeStatus status) {
    return nameOf(kProbeStatusNames, status, "unknown");
}

std::string listingText(const std::vector<ListedDriver>& drivers, const RegistryFile& registry) {
    std::string out;
    appendRegistryLine(out, registry);
    if (drivers.empty()) {
        out += "No ASIO driver is listed in the registry, so korvane cannot load any.\n";
        return out;
    }
    appendf(out, "ASIO drivers listed in the registry: %d\n", static_cast<int>(drivers.size()));
    out += "Give korvane the quoted name exactly, letter case included, as its first argument.\n";
    for (const ListedDriver& driver : drivers) {
        out += '\n';
        appendEntryLines(out, driver);
    }
    out += "\nChannels, buffer lengths and sample rates: korvane-drivers \"<name>\", or --all.\n";
    return out;
}

std::string listingJson(const std::vector<ListedDriver>& drivers, const RegistryFile& registry) {
    Json list = Json::array();
    for (const ListedDriver& driver : drivers) {
        Json entry = Json::object();
        setEntryFields(entry, driver);
        list.push_back(std::move(entry));
    }
    Json document = registryJson(registry);
    document["drivers"] = list;
    return jsonDocument(document);
}

std::string reportsText(const std::vector<DriverReport>& reports, const RegistryFile& registry) {
    std::string out;
    appendRegistryLine(out, registry);
    int failed = 0;
    for (size_t k = 0; k < reports.size(); ++k) {
        if (k > 0) {
            out += '\n';
        }
        appendReport(out, reports[k]);
        failed += reportFailed(reports[k]) ? 1 : 0;
    }
    if (reports.empty()) {
        out += "No ASIO driver is listed in the registry, so korvane cannot load any.\n";
    }
    if (failed > 0) {
        appendf(out, "\n%d of %d drivers failed.\n", failed, static_cast<int>(reports.size()));
    }
    return out;
}

std::string reportsJson(const std::vector<DriverReport>& reports, const RegistryFile& registry) {
    Json list = Json::array();
    int failed = 0;
    for (const DriverReport& report : reports) {
        list.push_back(reportJson(report));
        failed += reportFailed(report) ? 1 : 0;
    }
    Json document = registryJson(registry);
    document["drivers"] = list;
    document["failed"] = failed;
    return jsonDocument(document);
}
