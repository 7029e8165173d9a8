#include "sample_types.h"

namespace {

struct SampleTypeRow {
    ASIOSampleType type;
    const char* name;
    int32_t bytes;
};

constexpr SampleTypeRow kSampleTypes[] = {
    {ASIOSTInt16MSB, "ASIOSTInt16MSB", 2},       {ASIOSTInt24MSB, "ASIOSTInt24MSB", 3},
    {ASIOSTInt32MSB, "ASIOSTInt32MSB", 4},       {ASIOSTFloat32MSB, "ASIOSTFloat32MSB", 4},
    {ASIOSTFloat64MSB, "ASIOSTFloat64MSB", 8},   {ASIOSTInt32MSB16, "ASIOSTInt32MSB16", 4},
    {ASIOSTInt32MSB18, "ASIOSTInt32MSB18", 4},   {ASIOSTInt32MSB20, "ASIOSTInt32MSB20", 4},
    {ASIOSTInt32MSB24, "ASIOSTInt32MSB24", 4},   {ASIOSTInt16LSB, "ASIOSTInt16LSB", 2},
    {ASIOSTInt24LSB, "ASIOSTInt24LSB", 3},       {ASIOSTInt32LSB, "ASIOSTInt32LSB", 4},
    {ASIOSTFloat32LSB, "ASIOSTFloat32LSB", 4},   {ASIOSTFloat64LSB, "ASIOSTFloat64LSB", 8},
    {ASIOSTInt32LSB16, "ASIOSTInt32LSB16", 4},   {ASIOSTInt32LSB18, "ASIOSTInt32LSB18", 4},
    {ASIOSTInt32LSB20, "ASIOSTInt32LSB20", 4},   {ASIOSTInt32LSB24, "ASIOSTInt32LSB24", 4},
    {ASIOSTDSDInt8LSB1, "ASIOSTDSDInt8LSB1", 0}, {ASIOSTDSDInt8MSB1, "ASIOSTDSDInt8MSB1", 0},
    {ASIOSTDSDInt8NER8, "ASIOSTDSDInt8NER8", 0},
};

const SampleTypeRow* findRow(ASIOSampleType type) {
    for (const SampleTypeRow& row : kSampleTypes) {
        if (row.type == type) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

const char* sampleTypeName(ASIOSampleType type) {
    const SampleTypeRow* row = findRow(type);
    return row != nullptr ? row->name : nullptr;
}

int32_t sampleTypeWidth(ASIOSampleType type) {
    const SampleTypeRow* row = findRow(type);
    return row != nullptr ? row->bytes : 0;
}

bool korvaneStreams(ASIOSampleType type) {
    return type == ASIOSTInt16LSB || type == ASIOSTInt24LSB || type == ASIOSTInt32LSB;
}
