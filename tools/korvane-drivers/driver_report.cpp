#include "driver_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "json_text.h"
#include "host/sample_types.h"

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
std::string shown(const std::string& text) {
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

const char* asioErrorName(ASIOError result) {
    switch (result) {
    case ASE_OK:
        return "ASE_OK";
    case ASE_SUCCESS:
        return "ASE_SUCCESS";
    case ASE_NotPresent:
        return "ASE_NotPresent";
    case ASE_HWMalfunction:
        return "ASE_HWMalfunction";
    case ASE_InvalidParameter:
        return "ASE_InvalidParameter";
    case ASE_InvalidMode:
        return "ASE_InvalidMode";
    case ASE_SPNotAdvancing:
        return "ASE_SPNotAdvancing";
    case ASE_NoClock:
        return "ASE_NoClock";
    case ASE_NoMemory:
        return "ASE_NoMemory";
    default:
        return nullptr;
    }
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
        appendf(out, "    server: %s\n", shown(driver.serverPath).c_str());
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

void writeEntryFields(JsonWriter& json, const ListedDriver& driver) {
    json.key("index");
    json.integer(driver.index);
    json.key("name");
    json.string(driver.typedName);
    json.key("listedName");
    json.string(driver.listedName);
    json.key("cut");
    json.boolean(driver.cut);
    json.key("sameNameAs");
    if (driver.sameNameAs >= 0) {
        json.integer(driver.sameNameAs);
    } else {
        json.null();
    }
    json.key("classId");
    json.string(driver.classId);
    json.key("classIdValid");
    json.boolean(driver.classIdValid);
    json.key("server");
    if (driver.serverPath.empty()) {
        json.null();
    } else {
        json.string(driver.serverPath);
    }
}

void writeResultOrNull(JsonWriter& json, ASIOError result, int64_t value) {
    if (result == ASE_OK) {
        json.integer(value);
    } else {
        json.null();
    }
}

void writeChannels(JsonWriter& json, const std::vector<ChannelReport>& channels) {
    json.beginArray();
    for (const ChannelReport& channel : channels) {
        json.beginObject();
        json.key("number");
        json.integer(channel.number);
        json.key("result");
        json.integer(channel.result);
        if (channel.result == ASE_OK) {
            json.key("name");
            json.string(channel.name);
            json.key("type");
            json.integer(channel.type);
            json.key("typeName");
            const char* name = sampleTypeName(channel.type);
            if (name != nullptr) {
                json.string(name, std::char_traits<char>::length(name));
            } else {
                json.null();
            }
            json.key("bytes");
            json.integer(sampleTypeBytes(channel.type));
            json.key("streamable");
            json.boolean(korvaneStreams(channel.type));
            json.key("active");
            json.boolean(channel.active);
            json.key("group");
            json.integer(channel.group);
        }
        json.endObject();
    }
    json.endArray();
}

void writeDetails(JsonWriter& json, const DriverReport& report) {
    json.key("driverName");
    json.string(report.driverName);
    json.key("driverVersion");
    json.integer(report.driverVersion);
    json.key("inputs");
    writeResultOrNull(json, report.channelsResult, report.inputs);
    json.key("outputs");
    writeResultOrNull(json, report.channelsResult, report.outputs);
    json.key("bufferLengths");
    if (report.bufferResult == ASE_OK) {
        json.beginObject();
        json.key("minimum");
        json.integer(report.minimumLength);
        json.key("maximum");
        json.integer(report.maximumLength);
        json.key("preferred");
        json.integer(report.preferredLength);
        json.key("granularity");
        json.integer(report.granularity);
        json.endObject();
    } else {
        json.null();
    }
    json.key("sampleRate");
    if (report.rateResult == ASE_OK) {
        json.number(report.sampleRate);
    } else {
        json.null();
    }
    json.key("rates");
    json.beginArray();
    for (int k = 0; k < kProbeRateCount; ++k) {
        json.beginObject();
        json.key("rate");
        json.number(kProbeRates[k]);
        json.key("accepted");
        json.boolean(report.rateAnswers[k] == ASE_OK);
        json.key("result");
        json.integer(report.rateAnswers[k]);
        json.endObject();
    }
    json.endArray();
    json.key("inputChannels");
    writeChannels(json, report.inputChannels);
    json.key("outputChannels");
    writeChannels(json, report.outputChannels);
}

void writeReport(JsonWriter& json, const DriverReport& report) {
    json.beginObject();
    json.key("requested");
    json.string(report.requested);
    json.key("status");
    const char* status = probeStatusName(report.status);
    json.string(status, std::char_traits<char>::length(status));
    json.key("listed");
    json.boolean(report.listed);
    if (report.listed) {
        writeEntryFields(json, report.entry);
    }
    json.key("error");
    if (report.status == ProbeStatus::NotListed || report.status == ProbeStatus::LoadFailed ||
        report.status == ProbeStatus::InitFailed) {
        json.string(report.error);
    } else {
        json.null();
    }
    json.key("suggestions");
    json.beginArray();
    for (const std::string& suggestion : report.suggestions) {
        json.string(suggestion);
    }
    json.endArray();
    json.key("shadowed");
    json.beginArray();
    for (int32_t index : report.shadowed) {
        json.integer(index);
    }
    json.endArray();
    json.key("initialised");
    json.boolean(report.initialised);
    if (report.initialised) {
        writeDetails(json, report);
    }
    json.key("failedCalls");
    json.beginArray();
    for (const CallFailure& failure : report.failures) {
        json.beginObject();
        json.key("call");
        json.string(failure.call);
        json.key("result");
        json.integer(failure.result);
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

} // namespace

bool reportFailed(const DriverReport& report) {
    return report.status != ProbeStatus::Ok && report.status != ProbeStatus::Shadowed;
}

const char* probeStatusName(ProbeStatus status) {
    switch (status) {
    case ProbeStatus::Ok:
        return "ok";
    case ProbeStatus::NotListed:
        return "not-listed";
    case ProbeStatus::Shadowed:
        return "shadowed";
    case ProbeStatus::LoadFailed:
        return "load-failed";
    case ProbeStatus::InitFailed:
        return "init-failed";
    case ProbeStatus::QueryFailed:
        return "query-failed";
    }
    return "unknown";
}

std::string listingText(const std::vector<ListedDriver>& drivers) {
    std::string out;
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

std::string listingJson(const std::vector<ListedDriver>& drivers) {
    JsonWriter json;
    json.beginObject();
    json.key("drivers");
    json.beginArray();
    for (const ListedDriver& driver : drivers) {
        json.beginObject();
        writeEntryFields(json, driver);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    return json.finish();
}

std::string reportsText(const std::vector<DriverReport>& reports) {
    std::string out;
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

std::string reportsJson(const std::vector<DriverReport>& reports) {
    JsonWriter json;
    int failed = 0;
    json.beginObject();
    json.key("drivers");
    json.beginArray();
    for (const DriverReport& report : reports) {
        writeReport(json, report);
        failed += reportFailed(report) ? 1 : 0;
    }
    json.endArray();
    json.key("failed");
    json.integer(failed);
    json.endObject();
    return json.finish();
}
