#include "UpdaterFixture.h"

#include <cstdlib>
#include <ostream>

#include "CartridgeCommands.h"
#include "PinDriver.h"
#include "XsvfHandlers.h"
#include "XsvfText.h"

std::ostream& operator<<(std::ostream& out, const PinOp& op) {
    char text[16];
    std::snprintf(text, sizeof text, "%c:%02x", op.kind, op.pins);
    return out << text;
}

std::vector<PinOp> decodePins(const std::vector<std::uint8_t>& written) {
    std::vector<PinOp> ops;
    std::size_t i = 0;
    while (i + 3 <= written.size()) {
        EXPECT_EQ(written[i], SYNC1) << "at byte " << i;
        EXPECT_EQ(written[i + 1], SYNC2) << "at byte " << i;
        const std::uint8_t code = written[i + 2];
        if (code == cmdReadPins) {
            ops.push_back({'r', 0});
            i += 3;
        } else if ((code == cmdSetPins || code == cmdClockPins) && i + 4 <= written.size()) {
            ops.push_back({code == cmdSetPins ? 's' : 'c', written[i + 3]});
            i += 4;
        } else {
            ADD_FAILURE() << "bad command " << int(code) << " at byte " << i;
            return ops;
        }
    }
    EXPECT_EQ(i, written.size()) << "trailing bytes";
    return ops;
}

std::vector<Edge> risingEdges(const std::vector<PinOp>& ops, bool tck) {
    std::vector<Edge> edges;
    for (const PinOp& op : ops) {
        const bool tms = (op.pins & PIN_TMS) != 0;
        const bool tdi = (op.pins & PIN_TDI) != 0;
        if (op.kind == 'c') {
            edges.push_back({tms, tdi});
            tck = true;
        } else if (op.kind == 's') {
            const bool high = (op.pins & PIN_TCK) != 0;
            if (high && !tck) {
                edges.push_back({tms, tdi});
            }
            tck = high;
        }
    }
    return edges;
}

std::vector<int> tmsOf(const std::vector<Edge>& edges) {
    std::vector<int> out;
    for (const Edge& e : edges) {
        out.push_back(e.tms ? 1 : 0);
    }
    return out;
}

std::vector<int> tdiOf(const std::vector<Edge>& edges) {
    std::vector<int> out;
    for (const Edge& e : edges) {
        out.push_back(e.tdi ? 1 : 0);
    }
    return out;
}

std::vector<std::uint8_t> tdoReplies(const std::vector<std::uint8_t>& vectorBytes, int bits) {
    std::vector<std::uint8_t> replies;
    int k = 0;
    for (int i = static_cast<int>(vectorBytes.size()) - 1; i >= 0 && k < bits; --i) {
        for (int j = 0; j < 8 && k < bits; ++j, ++k) {
            // Junk in the other bits: only bit 4 may count.
            replies.push_back(((vectorBytes[i] >> j) & 1) ? 0x10 : 0xEF);
        }
    }
    return replies;
}

void UpdaterTest::SetUp() {
    fakeDriver().reset();
    installFakes(link);
    installFakeClock();
    linkPtr = &link;
    setPinBatching(false);
    pinShadow = PIN_TCK;  // between operations TCK is high
    blockBufferAllocate = std::malloc;
    debugLevel = 0;
    fpgaBlockCount = 0;
    xsvfFile = nullptr;
    initXsvfInfo(*info);
}

void UpdaterTest::TearDown() {
    restoreClock();
    if (xsvfFile != nullptr) {
        std::fclose(xsvfFile);
        xsvfFile = nullptr;
    }
    linkPtr = nullptr;
    debugLevel = 0;
    setPinBatching(false);
}

void UpdaterTest::useXsvf(const std::vector<std::uint8_t>& data) {
    if (xsvfFile != nullptr) {
        std::fclose(xsvfFile);
    }
    xsvfFile = std::tmpfile();
    ASSERT_NE(xsvfFile, nullptr);
    if (!data.empty()) {
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), xsvfFile), data.size());
    }
    std::rewind(xsvfFile);
}

void UpdaterTest::useXsvfText(const std::string& text) {
    std::vector<std::uint8_t> data;
    std::string error;
    ASSERT_TRUE(assembleXsvf(text, data, error)) << error;
    useXsvf(data);
}
