// Where a decay has ended: a response's power followed in short blocks until no block
// stands above its floor. The linear window and the room's decay fits both follow it so.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr double kDecayBlockSeconds = 0.01;
constexpr int64_t kLeastDecayBlock = 256;

inline int64_t decayBlockFrames(uint32_t rate) {
    return std::max<int64_t>(kLeastDecayBlock, std::llround(kDecayBlockSeconds * rate));
}

// The mean power of each whole block of `block` frames, power(t) at frame t from 0.
template <typename Power>
std::vector<double> blockPowers(Power power, int64_t frames, int64_t block) {
    std::vector<double> blocks(size_t(std::max<int64_t>(0, frames / block)));
    for (size_t b = 0; b < blocks.size(); ++b) {
        double sum = 0;
        for (int64_t t = int64_t(b) * block; t < int64_t(b + 1) * block; ++t) {
            sum += power(t);
        }
        blocks[b] = sum / double(block);
    }
    return blocks;
}

// The blocks up to and including the last one above its floor: a gap before the first
// reflections, or a dip, does not end a decay. 0 where none stands above.
template <typename Floor> size_t decayBlocks(const std::vector<double>& powers, Floor floor) {
    size_t end = 0;
    for (size_t b = 0; b < powers.size(); ++b) {
        if (powers[b] > floor(b)) {
            end = b + 1;
        }
    }
    return end;
}
