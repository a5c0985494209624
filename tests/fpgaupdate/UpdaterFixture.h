// Shared set-up of the updater's unit tests: a link filled with recording
// fakes, the fake clock, fresh player globals and XSVF input from bytes/text.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CartridgeLink.h"
#include "FakeDriver.h"
#include "XsvfPlayer.h"

// One decoded pin command from the bytes written to the link.
struct PinOp {
    char kind;          // 's' cmdSetPins, 'c' cmdClockPins, 'r' cmdReadPins
    std::uint8_t pins;  // pin byte ('r': 0)
    bool operator==(const PinOp&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PinOp& op);

std::vector<PinOp> decodePins(const std::vector<std::uint8_t>& written);

// TMS and TDI at each rising TCK edge the ops give, TCK starting at `tck`.
struct Edge {
    bool tms;
    bool tdi;
};
std::vector<Edge> risingEdges(const std::vector<PinOp>& ops, bool tck = true);
std::vector<int> tmsOf(const std::vector<Edge>& edges);
std::vector<int> tdiOf(const std::vector<Edge>& edges);

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes `data` the XSVF stream the player reads.
    void useXsvf(const std::vector<std::uint8_t>& data);
    // The same from the text form, one command per line.
    void useXsvfText(const std::string& text);
    long xsvfPosition() const { return std::ftell(xsvfFile); }

    std::vector<PinOp> ops() const { return decodePins(fakeDriver().written()); }

    ConsoleCapture quiet;  // tests that check output open their own capture
    CartridgeLink link{};
    std::unique_ptr<SXsvfInfo> info = std::make_unique<SXsvfInfo>();
};

// TDO replies for a captured byte sequence: bit j of each byte, low bit
// first, bytes in shift order (last byte of the vector first).
std::vector<std::uint8_t> tdoReplies(const std::vector<std::uint8_t>& vectorBytes, int bits);
