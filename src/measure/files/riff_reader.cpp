#include "measure/files/riff_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "wav/wav_io.h"

namespace {

// Bytes of the format chunk that are looked at; any beyond are passed over.
constexpr uint32_t kFormatReadBytes = kFormatExtensibleBytes;
// A chunk list shorter than a chunk header at the end of the form is stray padding.
constexpr uint64_t kChunkHeaderBytes = 8;
// check holds both files in memory; this bounds each (512 MiB of floats).
constexpr uint64_t kMaxLoadSamples = uint64_t(1) << 27;

// The tail of KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT: {tag-0000-0010-8000-00AA00389B71}.
const uint8_t kSubformatGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string number(uint64_t value) {
    return std::to_string(value);
}

std::string quoted(const uint8_t* id) {
    return "\"" + chunkIdText(id) + "\"";
}

bool readBytes(RiffReader* reader, uint8_t* destination, size_t count) {
    const size_t got = std::fread(destination, 1, count, reader->file);
    reader->offset += got;
    return got == count;
}

// Passes over count bytes by reading them, so that a file ending early is noticed.
bool skipBytes(RiffReader* reader, uint64_t count) {
    if (reader->block.size() < 65536) {
        reader->block.resize(65536);
    }
    while (count > 0) {
        const size_t step = size_t(count < reader->block.size() ? count : reader->block.size());
        if (!readBytes(reader, reader->block.data(), step)) {
            return false;
        }
        count -= step;
    }
    return true;
}

std::string endsInside(const RiffReader& reader, const uint8_t* id, uint64_t chunkEnd) {
    return "the file ends at byte " + number(reader.offset) + ", inside the " + quoted(id) +
           " chunk that should end at byte " + number(chunkEnd) + " (truncated)";
}

// The data chunk holds fewer whole frames than it announces: the file ends at fileEnd.
std::string dataEndsEarly(const RiffReader& reader, uint64_t fileEnd) {
    const uint32_t blockAlign = reader.format.blockAlign;
    const uint64_t present =
        fileEnd > reader.dataStart ? (fileEnd - reader.dataStart) / blockAlign : 0;
    return "the file ends at byte " + number(fileEnd) +
           ", inside the \"data\" chunk that should end at byte " +
           number(reader.dataStart + uint64_t(reader.frames) * blockAlign) +
           " (truncated: " + number(present) + " of " + number(reader.frames) + " frames present)";
}

std::string formatTagName(uint32_t tag) {
    switch (tag) {
    case 0x0002:
        return "MS ADPCM";
    case 0x0006:
        return "A-law";
    case 0x0007:
        return "mu-law";
    case 0x0011:
        return "IMA ADPCM";
    case 0x0031:
        return "GSM 6.10";
    case 0x0050:
        return "MPEG";
    case 0x0055:
        return "MPEG layer 3";
    case 0x0092:
        return "AC-3";
    case 0x00FF:
        return "AAC";
    case 0x0161:
    case 0x0162:
    case 0x0163:
        return "WMA";
    case 0xF1AC:
        return "FLAC";
    default:
        return "";
    }
}

std::string hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(value));
    return text;
}

std::string unsupportedTag(uint32_t tag, bool subformat) {
    const std::string name = formatTagName(tag);
    return std::string(subformat ? "the extensible subformat " : "format tag ") + hex4(tag) +
           (name.empty() ? "" : " (" + name + ")") +
           " is not supported: only integer PCM and IEEE float are read";
}

// The extensible format's valid bits and subformat, whose tag becomes the encoding.
ReadResult parseExtensible(const uint8_t* raw, uint32_t size, uint32_t extension, WavFormat* format,
                           std::string* error) {
    if (size < kFormatExtensibleBytes || extension < kExtensibleExtraBytes) {
        *error = "the extensible \"fmt \" chunk has " + number(size) +
                 " bytes and an extension of " + number(extension) + "; it needs 40 and 22";
        return kReadBadFile;
    }
    format->extensible = true;
    format->validBits = loadLe16(raw + 18);
    const uint8_t* guid = raw + 24;
    if (std::memcmp(guid + 4, kSubformatGuidTail, sizeof kSubformatGuidTail) != 0 ||
        loadLe16(guid + 2) != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                      unsigned(loadLe32(guid)), unsigned(loadLe16(guid + 4)),
                      unsigned(loadLe16(guid + 6)), guid[8], guid[9], guid[10], guid[11], guid[12],
                      guid[13], guid[14], guid[15]);
        *error = std::string("the extensible subformat {") + text +
                 "} is not supported: only integer PCM and IEEE float are read";
        return kReadBadFile;
    }
    format->encoding = loadLe16(guid);
    if (format->encoding != kWaveFormatPcm && format->encoding != kWaveFormatFloat) {
        *error = unsupportedTag(format->encoding, true);
        return kReadBadFile;
    }
    return kReadOk;
}

// Whether the samples are of a kind and layout the reader converts.
ReadResult checkSampleLayout(WavFormat* format, std::string* error) {
    const uint32_t bits = format->bitsPerSample;
    if (format->encoding == kWaveFormatPcm && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        *error = number(bits) + "-bit integer PCM is not supported (8, 16, 24 or 32 bits)";
        return kReadBadFile;
    }
    if (format->encoding == kWaveFormatFloat && bits != 32 && bits != 64) {
        *error = number(bits) + "-bit float is not supported (32 or 64 bits)";
        return kReadBadFile;
    }
    if (format->extensible && format->validBits == 0) {
        format->validBits = bits;
    } else if (format->extensible && format->validBits > bits) {
        *error = "the extensible format's " + number(format->validBits) +
                 " valid bits exceed its " + number(bits) + "-bit container";
        return kReadBadFile;
    }
    if (format->channels == 0) {
        // What korvane writes when told to record no inputs: a header and nothing to read.
        *error = "the file has no channels and holds no audio (korvane writes such a file when "
                 "RecNumChannel is 0)";
        return kReadBadFile;
    }
    if (format->sampleRate == 0) {
        *error = "the \"fmt \" chunk gives a sample rate of 0";
        return kReadBadFile;
    }
    const uint32_t frameBytes = format->channels * (bits / 8);
    if (format->blockAlign != frameBytes) {
        *error = "the block align " + number(format->blockAlign) + " does not match " +
                 number(format->channels) + " channels of " + number(bits) + " bits (" +
                 number(frameBytes) + ")";
        return kReadBadFile;
    }
    return kReadOk;
}

ReadResult parseFormat(RiffReader* reader, uint32_t size, std::string* error) {
    if (size < kFormatPlainBytes) {
        *error = "the \"fmt \" chunk has " + number(size) + " bytes; it needs at least 16";
        return kReadBadFile;
    }
    uint8_t raw[kFormatReadBytes] = {};
    const uint32_t take = size < kFormatReadBytes ? size : kFormatReadBytes;
    if (!readBytes(reader, raw, take)) {
        return kReadBadFile; // the caller reports the truncation
    }
    WavFormat& format = reader->format;
    const uint32_t tag = loadLe16(raw);
    format.channels = loadLe16(raw + 2);
    format.sampleRate = loadLe32(raw + 4);
    format.blockAlign = loadLe16(raw + 12);
    format.bitsPerSample = loadLe16(raw + 14);
    format.validBits = format.bitsPerSample;
    format.formatChunkBytes = size;
    format.encoding = tag;
    uint32_t extension = 0;
    if (size >= kFormatExtensionBytes) {
        extension = loadLe16(raw + 16);
        if (kFormatExtensionBytes + extension > size) {
            *error = "the \"fmt \" chunk's extension size " + number(extension) +
                     " does not fit its " + number(size) + " bytes";
            return kReadBadFile;
        }
    }
    ReadResult result = kReadOk;
    if (tag == kWaveFormatExtensible) {
        result = parseExtensible(raw, size, extension, &format, error);
    } else if (tag != kWaveFormatPcm && tag != kWaveFormatFloat) {
        *error = unsupportedTag(tag, false);
        result = kReadBadFile;
    }
    if (result == kReadOk) {
        result = checkSampleLayout(&format, error);
    }
    if (result != kReadOk) {
        return result;
    }
    return skipBytes(reader, size - take) ? kReadOk : kReadBadFile;
}

ReadResult fail(RiffReader* reader, ReadResult result) {
    closeRiffReader(reader);
    return result;
}

std::string endsBeforeForm(const RiffReader& reader) {
    return "the file ends at byte " + number(reader.offset) +
           ", before the end of the RIFF form at byte " + number(reader.riffEnd) +
           " (truncated, or a broken RIFF size)";
}

// A chunk's header, read, and where the chunk ends.
struct Chunk {
    uint8_t header[kChunkHeaderBytes];
    uint64_t start = 0;
    uint32_t size = 0;
    uint64_t end = 0;
    uint64_t paddedEnd = 0; // with its pad byte, where the form holds it
};

ReadResult readChunkHeader(RiffReader* reader, Chunk* chunk, std::string* error) {
    chunk->start = reader->offset;
    if (!readBytes(reader, chunk->header, sizeof chunk->header)) {
        *error = endsBeforeForm(*reader);
        return kReadBadFile;
    }
    chunk->size = loadLe32(chunk->header + 4);
    chunk->end = reader->offset + chunk->size;
    if (chunk->end > reader->riffEnd) {
        *error = "the " + quoted(chunk->header) + " chunk at byte " + number(chunk->start) +
                 " has " + number(chunk->size) +
                 " bytes, which runs past the end of the RIFF form at byte " +
                 number(reader->riffEnd) + " (broken chunk size" +
                 (chunk->size == 0xFFFFFFFFu ? ", left unset as by a writer to a pipe)" : ")");
        return kReadBadFile;
    }
    // An odd chunk is followed by a pad byte; a writer may leave out the last one.
    chunk->paddedEnd = std::min(chunk->end + (chunk->size & 1), reader->riffEnd);
    return kReadOk;
}

ReadResult takeFormat(RiffReader* reader, const Chunk& chunk, std::string* error) {
    if (reader->format.channels != 0) {
        *error = "there is a second \"fmt \" chunk at byte " + number(chunk.start);
        return kReadBadFile;
    }
    const ReadResult result = parseFormat(reader, chunk.size, error);
    if (result != kReadOk && error->empty()) {
        *error = endsInside(*reader, chunk.header, chunk.end);
    }
    return result;
}

ReadResult takeData(RiffReader* reader, const Chunk& chunk, bool stopAtData, std::string* error) {
    if (!stopAtData) {
        *error = "there is a second \"data\" chunk at byte " + number(chunk.start);
        return kReadBadFile;
    }
    if (reader->format.channels == 0) {
        *error = "the \"data\" chunk at byte " + number(chunk.start) +
                 " comes before the \"fmt \" chunk";
        return kReadBadFile;
    }
    // Bytes after the last whole frame are passed over, as other readers do.
    reader->frames = chunk.size / reader->format.blockAlign;
    reader->trailingBytes = chunk.size % reader->format.blockAlign;
    reader->framesLeft = reader->frames;
    reader->dataStart = reader->offset;
    reader->dataEnd = chunk.paddedEnd;
    return kReadOk;
}

ReadResult skipChunk(RiffReader* reader, const Chunk& chunk, std::string* error) {
    if (skipBytes(reader, chunk.paddedEnd - reader->offset)) {
        return kReadOk;
    }
    if (reader->offset < chunk.end) {
        *error = endsInside(*reader, chunk.header, chunk.end);
    } else {
        *error = "the file ends at byte " + number(reader->offset) + ", in the pad byte of the " +
                 quoted(chunk.header) + " chunk (truncated)";
    }
    return kReadBadFile;
}

// Walks chunks from the current offset. Stops at the start of the data chunk when
// stopAtData, else at the end of the form. *foundData tells which.
ReadResult walkChunks(RiffReader* reader, bool stopAtData, bool* foundData, std::string* error) {
    *foundData = false;
    for (;;) {
        if (reader->riffEnd - reader->offset < kChunkHeaderBytes) {
            // Too short for a chunk: stray bytes some writers leave; they must still be there.
            if (!skipBytes(reader, reader->riffEnd - reader->offset)) {
                *error = endsBeforeForm(*reader);
                return kReadBadFile;
            }
            return kReadOk;
        }
        Chunk chunk;
        ReadResult result = readChunkHeader(reader, &chunk, error);
        if (result == kReadOk && wavTagIs(chunk.header, "fmt ")) {
            result = takeFormat(reader, chunk, error);
        } else if (result == kReadOk && wavTagIs(chunk.header, "data")) {
            result = takeData(reader, chunk, stopAtData, error);
            *foundData = result == kReadOk;
            return result;
        } else if (result == kReadOk) {
            reader->otherChunks.push_back(chunkIdText(chunk.header));
        }
        if (result == kReadOk) {
            result = skipChunk(reader, chunk, error);
        }
        if (result != kReadOk) {
            return result;
        }
    }
}

float roundToFloat(double value) {
    // Beyond half an ulp above the largest float the nearest value is infinity; the cast
    // itself is only defined inside the float range.
    const double limit = 3.4028235677973366e38; // 2^128 - 2^103
    if (value >= limit) {
        return INFINITY;
    }
    if (value <= -limit) {
        return -INFINITY;
    }
    return float(value);
}

int32_t signedFrom(uint32_t value, uint32_t bits) {
    const uint32_t sign = uint32_t(1) << (bits - 1);
    if ((value & sign) == 0) {
        return int32_t(value);
    }
    // value - 2^bits, as the negated magnitude; 2^31 itself has no positive int32.
    const uint32_t magnitude = (~value & (sign * 2 - 1)) + 1;
    return magnitude == sign && bits == 32 ? INT32_MIN : -int32_t(magnitude);
}

void decode(const WavFormat& format, const uint8_t* source, size_t samples, uint32_t* out) {
    const uint32_t bits = format.bitsPerSample;
    if (format.encoding == kWaveFormatFloat) {
        if (bits == 32) {
            for (size_t i = 0; i < samples; ++i) {
                out[i] = loadLe32(source + 4 * i);
            }
        } else {
            for (size_t i = 0; i < samples; ++i) {
                const uint64_t raw = loadLe64(source + 8 * i);
                double value;
                std::memcpy(&value, &raw, 8);
                out[i] = floatBits(roundToFloat(value));
            }
        }
        return;
    }
    switch (bits) {
    case 8:
        for (size_t i = 0; i < samples; ++i) {
            out[i] = floatBits(float(int32_t(source[i]) - 128) / 128.0f);
        }
        break;
    case 16:
        for (size_t i = 0; i < samples; ++i) {
            out[i] = floatBits(float(signedFrom(loadLe16(source + 2 * i), 16)) / 32768.0f);
        }
        break;
    case 24:
        for (size_t i = 0; i < samples; ++i) {
            out[i] = floatBits(float(signedFrom(loadLe24(source + 3 * i), 24)) / 8388608.0f);
        }
        break;
    default:
        for (size_t i = 0; i < samples; ++i) {
            const double native = signedFrom(loadLe32(source + 4 * i), 32);
            out[i] = floatBits(float(native / 2147483648.0));
        }
        break;
    }
}

} // namespace

std::string chunkIdText(const uint8_t* id) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (id[i] >= 0x20 && id[i] < 0x7F && id[i] != '"' && id[i] != '\\') {
            text += char(id[i]);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(id[i]));
            text += escape;
        }
    }
    return text;
}

namespace {

// The 12-byte RIFF header of a WAVE form; its end in reader->riffEnd.
ReadResult readRiffHeader(RiffReader* reader, std::string* error) {
    uint8_t header[12];
    if (!readBytes(reader, header, sizeof header)) {
        *error = reader->offset == 0 ? "the file is empty"
                                     : "the file ends after " + number(reader->offset) +
                                           " bytes, inside the RIFF header";
    } else if (wavTagIs(header, "RF64") || wavTagIs(header, "BW64")) {
        *error = "it is an RF64 file (64-bit sizes); only RIFF WAVE files are read";
    } else if (wavTagIs(header, "RIFX")) {
        *error = "it is a big-endian RIFX file; only little-endian RIFF WAVE files are read";
    } else if (!wavTagIs(header, "RIFF")) {
        *error = "it is not a RIFF file (it starts with " + quoted(header) + ")";
    } else if (!wavTagIs(header + 8, "WAVE")) {
        *error = "it is a RIFF file of form " + quoted(header + 8) + ", not WAVE";
    } else {
        reader->riffEnd = 8 + uint64_t(loadLe32(header + 4));
        if (reader->riffEnd >= 12) {
            return kReadOk;
        }
        *error = "its RIFF size " + number(loadLe32(header + 4)) + " cannot hold the WAVE form";
    }
    return kReadBadFile;
}

} // namespace

ReadResult openRiffReader(RiffReader* reader, const char* path, std::string* error) {
    *reader = RiffReader();
    error->clear();
    reader->file = std::fopen(path, "rb");
    if (reader->file == nullptr) {
        *error = std::string("the file cannot be opened (") + std::strerror(errno) + ")";
        return kReadCannotOpen;
    }
    bool foundData = false;
    ReadResult result = readRiffHeader(reader, error);
    if (result == kReadOk) {
        result = walkChunks(reader, true, &foundData, error);
    }
    if (result == kReadOk && !foundData) {
        *error =
            reader->format.channels == 0 ? "it has no \"fmt \" chunk" : "it has no \"data\" chunk";
        result = kReadBadFile;
    }
    // A header may announce far more than the file holds; found now, before anyone sizes
    // an output or a store by it. Where the size is unknown the reads find it.
    std::error_code unknown;
    const uint64_t fileBytes = result == kReadOk ? std::filesystem::file_size(path, unknown) : 0;
    if (result == kReadOk && !unknown &&
        fileBytes < reader->dataStart + uint64_t(reader->frames) * reader->format.blockAlign) {
        *error = dataEndsEarly(*reader, fileBytes);
        result = kReadBadFile;
    }
    if (result != kReadOk) {
        return fail(reader, result);
    }
    const WavFormat& format = reader->format;
    reader->canonical = format.encoding == kWaveFormatFloat && !format.extensible &&
                        format.bitsPerSample == 32 &&
                        format.formatChunkBytes == kFormatPlainBytes && reader->dataStart == 44;
    const uint32_t blockFrames = kReadBlockBytes / format.blockAlign;
    reader->block.resize(size_t(blockFrames > 0 ? blockFrames : 1) * format.blockAlign);
    return kReadOk;
}

ReadResult readRiffFrames(RiffReader* reader, uint32_t* out, uint32_t maxFrames, uint32_t* got,
                          std::string* error) {
    *got = 0;
    const uint32_t blockAlign = reader->format.blockAlign;
    const uint32_t blockFrames = uint32_t(reader->block.size() / blockAlign);
    while (*got < maxFrames && reader->framesLeft > 0) {
        uint32_t step = maxFrames - *got;
        step = step < reader->framesLeft ? step : reader->framesLeft;
        step = step < blockFrames ? step : blockFrames;
        const size_t bytes = size_t(step) * blockAlign;
        const size_t read = std::fread(reader->block.data(), 1, bytes, reader->file);
        reader->offset += read;
        if (read != bytes) {
            *error = dataEndsEarly(*reader, reader->offset);
            return kReadBadFile;
        }
        decode(reader->format, reader->block.data(), size_t(step) * reader->format.channels,
               out + size_t(*got) * reader->format.channels);
        *got += step;
        reader->framesLeft -= step;
    }
    return kReadOk;
}

ReadResult finishRiffReader(RiffReader* reader, std::string* error) {
    if (reader->framesLeft > 0) {
        *error = "not every frame was read";
        return kReadBadFile;
    }
    const uint8_t dataId[4] = {'d', 'a', 't', 'a'};
    if (!skipBytes(reader, reader->dataEnd - reader->offset)) {
        const uint64_t chunkEnd = reader->dataStart +
                                  uint64_t(reader->frames) * reader->format.blockAlign +
                                  reader->trailingBytes;
        *error = reader->offset < chunkEnd
                     ? endsInside(*reader, dataId, chunkEnd)
                     : "the file ends at byte " + number(reader->offset) +
                           ", in the pad byte of the " + quoted(dataId) + " chunk (truncated)";
        return kReadBadFile;
    }
    bool foundData = false;
    return walkChunks(reader, false, &foundData, error);
}

void closeRiffReader(RiffReader* reader) {
    if (reader->file != nullptr) {
        std::fclose(reader->file);
        reader->file = nullptr;
    }
}

uint32_t framesPerStep(uint32_t channels, uint64_t frames) {
    const uint64_t step = std::max<uint64_t>(1, (uint64_t(1) << 20) / std::max(1u, channels));
    return uint32_t(std::max<uint64_t>(1, std::min(step, frames)));
}

ReadResult loadWavData(const char* path, WavData* data, std::string* error) {
    *data = WavData();
    RiffReader reader;
    ReadResult result = openRiffReader(&reader, path, error);
    if (result != kReadOk) {
        return result;
    }
    const uint32_t channels = reader.format.channels;
    if (uint64_t(reader.frames) * channels > kMaxLoadSamples) {
        *error = "it is too long to check: " + number(uint64_t(reader.frames) * channels) +
                 " samples, at most " + number(kMaxLoadSamples);
        closeRiffReader(&reader);
        return kReadBadFile;
    }
    data->format = reader.format;
    data->canonical = reader.canonical;
    data->frames = reader.frames;
    data->channels.assign(channels, std::vector<float>(reader.frames));
    const uint32_t stepFrames = framesPerStep(channels, reader.frames);
    std::vector<uint32_t> bits(size_t(stepFrames) * channels);
    uint32_t done = 0;
    for (;;) {
        uint32_t got = 0;
        result = readRiffFrames(&reader, bits.data(), stepFrames, &got, error);
        if (result != kReadOk || got == 0) {
            break;
        }
        for (uint32_t frame = 0; frame < got; ++frame) {
            for (uint32_t c = 0; c < channels; ++c) {
                data->channels[c][done + frame] = bitsFloat(bits[size_t(frame) * channels + c]);
            }
        }
        done += got;
    }
    if (result == kReadOk) {
        result = finishRiffReader(&reader, error);
    }
    closeRiffReader(&reader);
    if (result != kReadOk) {
        *data = WavData();
    }
    return result;
}

std::string describeFormat(const WavFormat& format) {
    std::string text = number(format.bitsPerSample) + "-bit ";
    if (format.encoding == kWaveFormatFloat) {
        text += "float";
    } else {
        text += format.bitsPerSample == 8 ? "unsigned integer PCM" : "integer PCM";
    }
    if (format.extensible) {
        text += " (extensible";
        if (format.validBits != format.bitsPerSample) {
            text += ", " + number(format.validBits) + " valid bits";
        }
        text += ")";
    } else if (format.formatChunkBytes != kFormatPlainBytes) {
        text += " (" + number(format.formatChunkBytes) + "-byte fmt chunk)";
    }
    return text;
}
