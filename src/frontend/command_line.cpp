#include "frontend/command_line.h"

#include <climits>

#include "platform/text.h"
#include "platform/text_out.h"

void printBanner(FILE* out) {
    static const char kStars[] = "****************************************"
                                 "****************************************";
    printText(out, "%s\n", kStars);
    printText(out, "*%23s%-56s*\n", "", "Korvane");
    printText(out, "%s\n\n", kStars);
}

const char kUsageText[] =
    "This command-line application play a WAV file on outputs channels\n"
    "of an ASIO enabled device  while records inputs channels.\n\n"
    "The application is built directly from the ASIO SDK to avoid intermediate layer\n"
    "on hardware access ensuring accurate and repetible syncronization between\n"
    "input and output buffer permit avoiding any packet loss.\n"
    "The application support only 32bit float WAV file\n"
    "and sound card with 26,24,32 bit LSB integer ASIO format (the majority I hope)\n\n"
    "Usage  : >korvane <ASIODriverName> <ASIOBuffer> <wavPlayFileName> "
    "<PlayStartChannel> <wavRecFileName> <RecNumChannel> <RecStartChannel>\n\n"
    "<ASIODriverName>   - Name of ASIO driver (Use \" \" to input name with space!)\n"
    "<ASIOBuffer>       - Length of buffer used to exchange audio data with sound card\n"
    "<wavPlayfileName>  - Name of 32bit float WAV input file\n"
    "<PlayStartChannel> - Index of the first output channel to use (Starting from 1)\n"
    "<wavRecfileName>   - Name of 32bit float WAV output file\n"
    "<RecNumChannel>    - Numbert of input channel to records\n"
    "<RecStartChannel>  - Index of the first input channel to record (Starting from 1)\n\n"
    "Example: >korvane \"ASIO4ALL v2\" 1024  testPlay.wav 1 testRec.wav 2 1\n\n";

void printUsage(FILE* out) {
    printText(out, "%s", kUsageText);
}

int32_t convertDecimal(const char* text) {
    const char* p = text;
    while (isBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate the magnitude in 64 bits and stop growing once past the 32-bit range.
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        if (magnitude <= limit) {
            magnitude = magnitude * 10 + (*p - '0');
        }
        ++p;
    }
    if (magnitude > limit) {
        magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
