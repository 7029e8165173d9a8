#include "frontend/refusal_notes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/driver_names.h"
#include "platform/file_identity.h"
#include "platform/text_out.h"
#include "wav/wav_file_name.h"
#include "wav/wav_format.h"

namespace {

void note(const std::string& text) {
    std::fflush(stdout); // after the refusal's own text, where both go to one place
    printText(stderr, "korvane: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string quoted(const char* text) {
    return "\"" + std::string(text) + "\"";
}

// A driver's name is in the system's code page, as the registry and the argument have it.
std::string quotedName(const char* ansi) {
    return quoted(ansiToUtf8(ansi).c_str());
}

std::string formatText(uint32_t formatTag, uint32_t bits) {
    const std::string width = std::to_string(bits) + "-bit ";
    switch (formatTag) {
    case kWavFormatPcm:
        return width + "integer PCM";
    case kWavFormatFloat:
        return width + "float";
    case kWavFormatExtensible:
        return width + "extensible";
    default:
        return "format " + std::to_string(formatTag) + ", " + width + "samples";
    }
}

} // namespace

bool isWholeNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    return true;
}

void noteBufferRead(const char* text, uint32_t frames) {
    note("the buffer length " + quoted(text) + " is not a whole number; it is read as " +
         std::to_string(frames));
}

void noteBufferLimits(const char* text, uint32_t frames, int32_t minimum, int32_t maximum) {
    std::string read = quoted(text);
    if (!isWholeNumber(text)) {
        read += " (read as " + std::to_string(static_cast<int32_t>(frames)) + ")";
    }
    note("the buffer length " + read + " is outside the driver's " + std::to_string(minimum) +
         " to " + std::to_string(maximum) + " frames");
}

void noteRecordPath(const char* recordPath, const char* playPath, int systemError) {
    if (sameFile(recordPath, playPath)) {
        note(quoted(recordPath) + " is the file being played: give the recording another name");
        return;
    }
    note("cannot create " + quoted(recordPath) + ": " + std::strerror(systemError));
}

void noteDriverName(const char* name) {
    if (driverManager == nullptr) {
        return;
    }
    char typed[kTypedDriverNameCapacity];
    std::string meant;
    for (int32_t i = 0; i < driverManager->driverCount(); ++i) {
        const DriverEntry* entry = driverManager->findEntry(i);
        if (entry == nullptr ||
            driverManager->copyDriverName(i, typed, kTypedDriverNameCapacity) != 0) {
            continue;
        }
        if (std::strcmp(typed, name) == 0) {
            note("the driver " + quotedName(name) +
                 " is listed but could not be loaded; korvane-drivers " + quotedName(name) +
                 " shows why");
            return;
        }
        if (meant.empty() && driverNameMeant(typed, entry->displayName, name)) {
            meant = typed;
        }
    }
    if (!meant.empty()) {
        note("no driver is listed as " + quotedName(name) + "; did you mean " +
             quotedName(meant.c_str()) + "? Letter case and blanks count");
    } else {
        note("no driver is listed as " + quotedName(name) + "; korvane-drivers lists them");
    }
}

void notePlayFormat(const char* playPath, uint32_t formatTag, uint32_t bitsPerSample) {
    note(quoted(playPath) + " holds " + formatText(formatTag, bitsPerSample) +
         " samples, korvane plays 32-bit float; convert it with: korvane-wav convert " +
         quoted(playPath) + " " + quoted((withoutWavSuffix(playPath) + "-float.wav").c_str()));
}

void noteChannels(const ChannelChoice& c) {
    if (c.firstOutput < 1 || c.firstInput < 1 || c.inputCount < 0) {
        note("channels count from 1 (PlayStartChannel " + std::to_string(c.firstOutput) +
             ", RecNumChannel " + std::to_string(c.inputCount) + ", RecStartChannel " +
             std::to_string(c.firstInput) + ")");
        return;
    }
    const uint64_t lastOutput = uint64_t(c.firstOutput) + playChannels - 1;
    const uint64_t lastInput = uint64_t(c.firstInput) + uint64_t(c.inputCount) - 1;
    const int32_t outputs = duplexState.outputChannelCount;
    const int32_t inputs = duplexState.inputChannelCount;
    if (lastOutput > uint64_t(outputs < 0 ? 0 : outputs)) {
        note("the file has " + std::to_string(playChannels) +
             (playChannels == 1 ? " channel" : " channels") + " from output " +
             std::to_string(c.firstOutput) + ": outputs " + std::to_string(c.firstOutput) + " to " +
             std::to_string(lastOutput) + ", the device has " + std::to_string(outputs));
    } else if (c.inputCount > 0 && lastInput > uint64_t(inputs < 0 ? 0 : inputs)) {
        note("recording " + std::to_string(c.inputCount) + " inputs from input " +
             std::to_string(c.firstInput) + ": inputs " + std::to_string(c.firstInput) + " to " +
             std::to_string(lastInput) + ", the device has " + std::to_string(inputs));
    } else {
        note("korvane plays and records at most " + std::to_string(kMaxChannelsPerSide) +
             " channels a side");
    }
}
