#include "SyntheticTop.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "XsvfText.h"

namespace testkit {

namespace {

std::string hexBytes(std::size_t count, std::uint32_t seed, std::uint8_t firstMask) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "0x";
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        std::uint8_t b = static_cast<std::uint8_t>(x >> 24);
        if (i == 0) {
            b &= firstMask;
        }
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> syntheticTopXsvf(int blocks, std::int32_t blockWaitUs, std::int32_t eraseWaitUs) {
    std::string text;
    auto line = [&text](const std::string& s) { text += s + "\n"; };
    line("XREPEAT 0");
    line("XENDIR 0");
    line("XENDDR 0");
    line("XSTATE 0");
    line("XSTATE 1");
    line("XRUNTEST 0");
    // IDCODE, checked (the mask is zero, see the header).
    line("XSIR 16 0x00fe");
    line("XSDRSIZE 32");
    line("XTDOMASK 0x00000000");
    line("XSDRTDO 0x00000000 0x05045093");
    // Enable programming, erase and wait for it.
    line("XSIR 16 0x00e8");
    line("XSDRSIZE 8");
    line("XSDR 0x34");
    line("XRUNTEST " + std::to_string(eraseWaitUs));
    line("XSIR 16 0x00ec");
    line("XRUNTEST 0");
    for (int b = 0; b < blocks; ++b) {
        line("XSIR 16 0x00eb");
        line("XSDRSIZE 4097");
        line("XSDR " + hexBytes(513, static_cast<std::uint32_t>(b), 0x01));
        line("XRUNTEST " + std::to_string(blockWaitUs));
        line("XSIR 16 0x00ea");
        line("XRUNTEST 0");
    }
    line("XSIR 16 0x00f0");
    line("XSTATE 0");
    line("XCOMPLETE");

    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!assembleXsvf(text, bytes, error)) {
        std::fprintf(stderr, "synthetic top.xsvf: %s\n", error.c_str());
        std::abort();
    }
    return bytes;
}

}  // namespace testkit
