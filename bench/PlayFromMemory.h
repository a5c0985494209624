// One play of an XSVF file held in memory through the real player, as the
// benchmarks and the link model run it. Header only: only what links the
// player includes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "XsvfPlayer.h"

namespace bench {

// The player's result for `bytes`; `info` gets its counts.
inline int playFromMemory(const std::vector<std::uint8_t>& bytes, SXsvfInfo& info) {
    // fmemopen takes a non-const buffer but a "rb" stream never writes it.
    xsvfFile = fmemopen(const_cast<std::uint8_t*>(bytes.data()), bytes.size(), "rb");
    const int result = playXsvf(info);
    std::fclose(xsvfFile);
    xsvfFile = nullptr;
    return result;
}

}  // namespace bench
