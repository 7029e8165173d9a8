#include "e2e/e2e_support.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {
std::atomic<unsigned> scratchCounter{0};

bool sanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}
} // namespace

ScratchDir::ScratchDir() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "korvane-e2e-" << stamp << "-" << scratchCounter++;
    root = (fs::temp_directory_path() / name.str()).string();
    fs::create_directories(root);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

std::string ScratchDir::file(const std::string& name) const {
    return (fs::path(root) / name).string();
}

bool windowsBuild() {
    const std::string path = programPath("korvane");
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

bool addressSpaceLimitUsable() {
    return !windowsBuild() && std::getenv("KORVANE_CHILD_WRAPPER") == nullptr && !sanitizedBuild();
}

ChildResult runKorvane(const std::vector<std::string>& args, const std::string& loopback,
                       uint64_t addressSpaceLimit) {
    std::vector<std::string> argv{programPath("korvane")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.environment.push_back({"KORVANE_LOOPBACK", loopback});
    // The registry beside the program lists the loopback; never one left over from elsewhere.
    options.unset.push_back("KORVANE_REGISTRY");
    options.addressSpaceLimit = addressSpaceLimit;
    return runChild(argv, options);
}

std::string bannerText() {
    const std::string stars(80, '*');
    std::string title = "*" + std::string(23, ' ') + "Korvane";
    title += std::string(80 - title.size(), ' ') + "*";
    return stars + "\n" + title + "\n" + stars + "\n\n";
}

// The usage text as the user reads it, written out here apart from the program's own copy
// so that a change of wording or spacing there is caught.
std::string usageText() {
    return R"(This command-line application play a WAV file on outputs channels
of an ASIO enabled device  while records inputs channels.

The application is built directly from the ASIO SDK to avoid intermediate layer
on hardware access ensuring accurate and repetible syncronization between
input and output buffer permit avoiding any packet loss.
The application support only 32bit float WAV file
and sound card with 26,24,32 bit LSB integer ASIO format (the majority I hope)

Usage  : >korvane <ASIODriverName> <ASIOBuffer> <wavPlayFileName> <PlayStartChannel> <wavRecFileName> <RecNumChannel> <RecStartChannel>

<ASIODriverName>   - Name of ASIO driver (Use " " to input name with space!)
<ASIOBuffer>       - Length of buffer used to exchange audio data with sound card
<wavPlayfileName>  - Name of 32bit float WAV input file
<PlayStartChannel> - Index of the first output channel to use (Starting from 1)
<wavRecfileName>   - Name of 32bit float WAV output file
<RecNumChannel>    - Numbert of input channel to records
<RecStartChannel>  - Index of the first input channel to record (Starting from 1)

Example: >korvane "ASIO4ALL v2" 1024  testPlay.wav 1 testRec.wav 2 1

)";
}

std::string initText(const SetupReport& r) {
    return "ASIO Driver correctly initialized: " + r.driverName + "\n" +
           "Available driver channel: " + std::to_string(r.inputs) + " inputs; " +
           std::to_string(r.outputs) + " outputs\n";
}

std::string bufferText(const SetupReport& r) {
    return "Permitted buffer size: " + std::to_string(r.minBuffer) + " to " +
           std::to_string(r.maxBuffer) + "\n" + "Buffer Size set to " + std::to_string(r.buffer) +
           " sample\n";
}

std::string rateText(const SetupReport& r) {
    return "SampleRate set to " + std::to_string(r.rate) + "\n" +
           "ASIO driver latency: input: " + std::to_string(r.inputLatency) +
           ", output: " + std::to_string(r.outputLatency) + "\n";
}

std::string formatText(const SetupReport& r) {
    return "ASIO native data fomat: LSB Integer " + std::to_string(r.bits) + "bits\n";
}

std::string setupText(const SetupReport& r) {
    return initText(r) + bufferText(r) + rateText(r) + formatText(r);
}

std::string completeRunText(const SetupReport& r) {
    return bannerText() + setupText(r) + "\n\nPlay & Record Started!\n\n" +
           "\n\nPlay & Record Stopped!\n\n" + "Converting and storing recorded data...\n" +
           "Done!\n";
}

std::string withoutProgress(const std::string& out, std::vector<long long>* samples) {
    static const std::string kStarted = "\n\nPlay & Record Started!\n\n";
    static const std::string kStopped = "\n\nPlay & Record Stopped!\n\n";
    if (samples != nullptr) {
        samples->clear();
    }
    const size_t start = out.find(kStarted);
    if (start == std::string::npos) {
        return out;
    }
    const size_t from = start + kStarted.size();
    const size_t end = out.find(kStopped, from);
    if (end == std::string::npos) {
        return out;
    }
    // Each line: optional minus, digits, " ms / ", optional minus, digits, " samples     \r".
    std::vector<long long> found;
    size_t p = from;
    auto number = [&]() {
        if (p < end && out[p] == '-') {
            ++p;
        }
        const size_t digits = p;
        while (p < end && out[p] >= '0' && out[p] <= '9') {
            ++p;
        }
        return p > digits;
    };
    auto literal = [&](const char* text) {
        const size_t n = std::strlen(text);
        if (out.compare(p, n, text) != 0 || p + n > end) {
            return false;
        }
        p += n;
        return true;
    };
    while (p < end) {
        if (!number() || !literal(" ms / ")) {
            return out;
        }
        const size_t value = p;
        if (!number() || !literal(" samples     \r")) {
            return out;
        }
        found.push_back(std::stoll(out.substr(value, p - value)));
    }
    if (samples != nullptr) {
        *samples = found;
    }
    return out.substr(0, from) + out.substr(end);
}

WavFile readWav(const std::string& path) {
    WavFile wav;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return wav;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    wav.fileSize = bytes.size();
    if (bytes.size() < 44) {
        return wav;
    }
    const uint8_t* h = bytes.data();
    auto tag = [](const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); };
    wav.riff = tag(h);
    wav.riffSize = getLe(h + 4, 4);
    wav.wave = tag(h + 8);
    wav.fmt = tag(h + 12);
    wav.fmtSize = getLe(h + 16, 4);
    wav.formatTag = uint16_t(getLe(h + 20, 2));
    wav.channels = uint16_t(getLe(h + 22, 2));
    wav.rate = getLe(h + 24, 4);
    wav.byteRate = getLe(h + 28, 4);
    wav.blockAlign = uint16_t(getLe(h + 32, 2));
    wav.bits = uint16_t(getLe(h + 34, 2));
    wav.data = tag(h + 36);
    wav.dataSize = getLe(h + 40, 4);
    for (size_t at = 44; at + 4 <= bytes.size(); at += 4) {
        const uint32_t bits = getLe(h + at, 4);
        float s;
        std::memcpy(&s, &bits, 4);
        wav.samples.push_back(s);
    }
    wav.read = true;
    return wav;
}

int32_t toNative(float x, int bytes) {
    const int64_t top = int64_t{1} << (8 * bytes - 1);
    if (std::isnan(x)) {
        return 0;
    }
    const float factor = static_cast<float>(top - 1); // 2^31 - 1 rounds up to 2^31 as float
    const double product = static_cast<double>(x) * static_cast<double>(factor);
    if (product >= static_cast<double>(top - 1)) {
        return static_cast<int32_t>(top - 1);
    }
    if (product <= static_cast<double>(-top)) {
        return static_cast<int32_t>(-top);
    }
    return static_cast<int32_t>(std::trunc(product));
}

float fromNative(int32_t n, int bytes) {
    const double top = static_cast<double>(int64_t{1} << (8 * bytes - 1));
    return static_cast<float>(static_cast<double>(n) / top);
}

uint32_t paddedFrames(const LoopbackRun& run) {
    return (run.frames + run.buffer - 1) / run.buffer * run.buffer;
}

std::vector<float> expectedRecording(const LoopbackRun& run, const std::vector<float>& play) {
    const uint32_t frames = paddedFrames(run);
    const int64_t buffer = run.buffer;
    // Device time of host frame t, and the host frame played at device time d (-1: none).
    const int64_t lostFrom = run.dropSwitch == 0 ? -1 : (int64_t{run.dropSwitch} - 1) * buffer;
    auto deviceTime = [&](int64_t t) { return lostFrom >= 0 && t >= lostFrom ? t + buffer : t; };
    auto hostFrame = [&](int64_t d) -> int64_t {
        if (d < 0 || lostFrom < 0 || d < lostFrom) {
            return d;
        }
        return d < lostFrom + buffer ? -1 : d - buffer;
    };
    std::vector<float> out(static_cast<size_t>(frames) * run.recordCount, 0.0f);
    for (uint32_t r = 0; r < run.recordCount; ++r) {
        const uint32_t input = run.recordStart - 1 + r; // 0-based device channel
        if (input >= run.outputs || input < run.playStart - 1 ||
            input >= run.playStart - 1 + run.channels) {
            continue; // nothing is played on the output wired to this input
        }
        const uint32_t source = input - (run.playStart - 1);
        for (uint32_t t = 0; t < frames; ++t) {
            const int64_t played = hostFrame(deviceTime(t) - int64_t{run.delay});
            if (played < 0 || played >= int64_t{run.frames}) {
                continue; // before the start, lost, or padding: silence
            }
            const float x = play[static_cast<size_t>(played) * run.channels + source];
            out[static_cast<size_t>(t) * run.recordCount + r] =
                fromNative(toNative(x, run.bytes), run.bytes);
        }
    }
    return out;
}

std::vector<std::string> channelInfoCalls(int inputs, int outputs, int firstInput,
                                          int firstOutput) {
    std::vector<std::string> calls;
    for (int i = 0; i < inputs; ++i) {
        calls.push_back("getChannelInfo in " + std::to_string(firstInput - 1 + i));
    }
    for (int o = 0; o < outputs; ++o) {
        calls.push_back("getChannelInfo out " + std::to_string(firstOutput - 1 + o));
    }
    return calls;
}

std::vector<std::string> setUpCalls(int inputs, int outputs, int buffer, int firstInput,
                                    int firstOutput) {
    std::vector<std::string> calls = {"init",
                                      "getDriverName",
                                      "getDriverVersion",
                                      "getChannels",
                                      "getBufferSize",
                                      "canSampleRate 44100",
                                      "setSampleRate 44100",
                                      "getSampleRate",
                                      "createBuffers " + std::to_string(inputs + outputs) + " " +
                                          std::to_string(buffer)};
    const std::vector<std::string> described =
        channelInfoCalls(inputs, outputs, firstInput, firstOutput);
    calls.insert(calls.end(), described.begin(), described.end());
    calls.push_back("getLatencies");
    return calls;
}

std::vector<std::string> callNames(const std::vector<std::string>& lines) {
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        names.push_back(line.substr(0, line.find_first_of(" (\t")));
    }
    return names;
}

bool waitUntil(ChildProcess& child, const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (child.ended() || std::chrono::steady_clock::now() > limit) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void E2eTest::SetUp() {
    playPath = dir.file("play.wav");
    recordPath = dir.file("rec.wav");
    tracePath = dir.file("trace.txt");
    playSamples.clear();
    for (int i = 0; i < 1000; ++i) {
        playSamples.push_back(static_cast<float>(i - 500) / 512.0f);
    }
    ASSERT_TRUE(writeBytes(playPath, floatWav(1, playSamples, 44100)));
}

std::vector<std::string> E2eTest::args(const std::string& buffer, const std::string& play,
                                       const std::string& firstOutput, const std::string& record,
                                       const std::string& inputCount,
                                       const std::string& firstInput) const {
    return {kLoopbackName, buffer, play, firstOutput, record, inputCount, firstInput};
}

std::vector<std::string> E2eTest::args(const std::string& buffer, const std::string& firstOutput,
                                       const std::string& inputCount,
                                       const std::string& firstInput) const {
    return args(buffer, playPath, firstOutput, recordPath, inputCount, firstInput);
}

ChildResult E2eTest::run(const std::vector<std::string>& arguments, const std::string& loopback,
                         uint64_t addressSpaceLimit) {
    std::error_code ignored;
    fs::remove(tracePath, ignored);
    std::string config = "trace=" + tracePath + ",clock=fast";
    if (!loopback.empty()) {
        config += "," + loopback;
    }
    ChildResult result = runKorvane(arguments, config, addressSpaceLimit);
    EXPECT_TRUE(result.started) << "the program could not be started";
    return result;
}
