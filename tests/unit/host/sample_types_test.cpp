#include <gtest/gtest.h>

#include <string>

#include "host/sample_types.h"

TEST(SampleTypes, NamesEveryTypeOfTheInterfaceWithItsWidth) {
    struct Row {
        ASIOSampleType type;
        const char* name;
        int32_t bytes;
    };
    const Row rows[] = {
        {0, "ASIOSTInt16MSB", 2},     {1, "ASIOSTInt24MSB", 3},     {2, "ASIOSTInt32MSB", 4},
        {3, "ASIOSTFloat32MSB", 4},   {4, "ASIOSTFloat64MSB", 8},   {8, "ASIOSTInt32MSB16", 4},
        {9, "ASIOSTInt32MSB18", 4},   {10, "ASIOSTInt32MSB20", 4},  {11, "ASIOSTInt32MSB24", 4},
        {16, "ASIOSTInt16LSB", 2},    {17, "ASIOSTInt24LSB", 3},    {18, "ASIOSTInt32LSB", 4},
        {19, "ASIOSTFloat32LSB", 4},  {20, "ASIOSTFloat64LSB", 8},  {24, "ASIOSTInt32LSB16", 4},
        {25, "ASIOSTInt32LSB18", 4},  {26, "ASIOSTInt32LSB20", 4},  {27, "ASIOSTInt32LSB24", 4},
        {32, "ASIOSTDSDInt8LSB1", 1}, {33, "ASIOSTDSDInt8MSB1", 1}, {40, "ASIOSTDSDInt8NER8", 1},
    };
    int named = 0;
    for (ASIOSampleType type = -2; type <= 64; ++type) {
        const Row* row = nullptr;
        for (const Row& candidate : rows) {
            if (candidate.type == type) {
                row = &candidate;
            }
        }
        const char* name = sampleTypeName(type);
        if (row == nullptr) {
            EXPECT_EQ(name, nullptr) << type;
            EXPECT_EQ(sampleTypeBytes(type), 0) << type;
            continue;
        }
        ++named;
        ASSERT_NE(name, nullptr) << type;
        EXPECT_EQ(std::string(name), row->name);
        EXPECT_EQ(sampleTypeBytes(type), row->bytes) << row->name;
    }
    EXPECT_EQ(named, 21);
}

TEST(SampleTypes, KorvaneStreamsLittleEndianIntegersOf16To32BitsOnly) {
    for (ASIOSampleType type = -2; type <= 64; ++type) {
        const bool expected = type == 16 || type == 17 || type == 18;
        EXPECT_EQ(korvaneStreams(type), expected) << type;
    }
}
