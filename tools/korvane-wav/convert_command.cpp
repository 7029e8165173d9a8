#include <string>

#include "commands.h"
#include "measure/files/canonical_writer.h"
#include "measure/files/convert.h"
#include "measure/text/number_text.h"

ToolExit runConvert(const Arguments& arguments, FILE* out, FILE* err) {
    double pad = 0;
    for (const auto& option : arguments.options) {
        if (!parseNumber(option.second, &pad) || pad < 0) {
            return usageError(err, "convert", "--pad needs a number of seconds, 0 or more");
        }
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "convert", "needs IN and OUT");
    }
    const char* in = arguments.positional[0].c_str();
    const char* outPath = arguments.positional[1].c_str();
    ConvertReport report;
    std::string error;
    const ToolExit result = convertToCanonical(in, outPath, pad, &report, &error);
    if (result != kToolOk) {
        return fileError(err, error, result);
    }
    const uint32_t frames = report.frames + report.padFrames;
    if (!korvaneProbeAccepts(outPath, report.format.channels, frames)) {
        return fileError(err, std::string(outPath) + ": korvane's probe refuses the written file",
                         kToolOutput);
    }
    std::string passed;
    for (const std::string& chunk : report.otherChunks) {
        passed += (passed.empty() ? "; passed over: \"" : ", \"") + chunk + "\"";
    }
    if (report.trailingBytes != 0) {
        passed += "; passed over the " + countText(report.trailingBytes, "byte") +
                  " after the last whole frame";
    }
    std::fprintf(out, "%s: %s%s, %s, %u Hz, %s%s\n", in, describeFormat(report.format).c_str(),
                 report.wasCanonical ? " (already the layout korvane plays)" : "",
                 countText(report.format.channels, "channel").c_str(),
                 unsigned(report.format.sampleRate), countText(report.frames, "frame").c_str(),
                 passed.c_str());
    std::fprintf(out, "%s: 32-bit float, %s (%u of them padding)\n", outPath,
                 countText(frames, "frame").c_str(), unsigned(report.padFrames));
    return kToolOk;
}
