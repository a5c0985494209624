// Byte sequences of the JTAG pin driver on recording fakes of the link.
#include <climits>

#include "CartridgeCommands.h"
#include "PinDriver.h"
#include "UpdaterFixture.h"

namespace {

using PinDriverTest = UpdaterTest;

ShiftValue* vector(std::unique_ptr<ShiftValue>& holder, const std::vector<std::uint8_t>& data) {
    holder = std::make_unique<ShiftValue>();
    holder->length = static_cast<std::int16_t>(data.size());
    std::copy(data.begin(), data.end(), holder->bytes);
    return holder.get();
}

std::vector<DWORD> writeSizes() {
    std::vector<DWORD> sizes;
    for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
        sizes.push_back(call.args[0]);
    }
    return sizes;
}

TEST_F(PinDriverTest, WritePinsSendsHeaderThenPinByte) {
    writePins(0x05);
    EXPECT_EQ(pinShadow, 0x05);
    auto writes = fakeDriver().callsOf("FT_Write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].data, bytes({0x53, 0x59, 0x04}));
    EXPECT_EQ(writes[1].data, bytes({0x05}));
}

TEST_F(PinDriverTest, WritePinsFailedHeaderSendsNoPinByteButKeepsShadow) {
    struct Case {
        const char* name;
        FT_STATUS status;
        DWORD count;
        bool unbound;
        const char* printed;
    };
    const Case cases[] = {
        {"status", FT_IO_ERROR, 3, false, "no write !!!!!!!!!!!!!!!!!!!\n"},
        {"short", FT_OK, 2, false, "no write !!!!!!!!!!!!!!!!!!!\n"},
        {"unbound", FT_OK, 3, true, "Error: FT_Write is not valid!\nno write !!!!!!!!!!!!!!!!!!!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().reset();
        installFakes(link);
        if (c.unbound) {
            link.FT_Write = nullptr;
        }
        fakeDriver().onWrite = [&](const std::uint8_t*, DWORD, DWORD* written) {
            *written = c.count;
            return c.status;
        };
        ConsoleCapture console;
        writePins(0x03);
        EXPECT_EQ(pinShadow, 0x03);
        EXPECT_EQ(fakeDriver().callsOf("FT_Write").size(), c.unbound ? 0u : 1u);
        EXPECT_EQ(console.out(), c.printed);
    }
}

TEST_F(PinDriverTest, ReadPinsReturnsReplyOrZero) {
    fakeDriver().queueRx({0x13});
    EXPECT_EQ(readPins(), 0x13);
    EXPECT_EQ(fakeDriver().sequence(), (std::vector<std::string>{"FT_Write", "FT_Read"}));
    EXPECT_EQ(fakeDriver().callsOf("FT_Write")[0].data, bytes({0x53, 0x59, 0x05}));
    EXPECT_EQ(fakeDriver().callsOf("FT_Read")[0].args[0], 1u);
    // Nothing arrives: 0.
    EXPECT_EQ(readPins(), 0);
}

TEST_F(PinDriverTest, ReadPinsFailures) {
    {
        fakeDriver().onWrite = [](const std::uint8_t*, DWORD, DWORD* written) {
            *written = 0;
            return FT_IO_ERROR;
        };
        fakeDriver().queueRx({0x10});
        ConsoleCapture console;
        EXPECT_EQ(readPins(), 0);
        EXPECT_TRUE(fakeDriver().callsOf("FT_Read").empty());
        EXPECT_EQ(console.out(), "");
    }
    {
        fakeDriver().reset();
        link.FT_Read = nullptr;
        ConsoleCapture console;
        EXPECT_EQ(readPins(), 0);
        EXPECT_EQ(console.out(), "Error: FT_Read is not valid!\n");
    }
    {
        installFakes(link);
        link.FT_Write = nullptr;
        ConsoleCapture console;
        EXPECT_EQ(readPins(), 0);
        EXPECT_EQ(console.out(), "Error: FT_Write is not valid!\n");
    }
}

TEST_F(PinDriverTest, ClockTmsGivesOneRisingEdgeAndLeavesTckHigh) {
    pinShadow = PIN_TCK | PIN_TDI;
    clockTms(1);
    clockTms(0);
    EXPECT_EQ(ops(), (std::vector<PinOp>{{'s', 0x07}, {'s', 0x05}, {'s', 0x07}, {'s', 0x03}, {'s', 0x01}, {'s', 0x03}}));
    EXPECT_EQ(pinShadow, PIN_TCK | PIN_TDI);
    clockTms(-2);  // any non-zero level is high
    EXPECT_EQ(pinShadow, PIN_TCK | PIN_TDI | PIN_TMS);
}

TEST_F(PinDriverTest, TwelveBitShiftTakesLastByteFirstAndCapturesInPlace) {
    std::unique_ptr<ShiftValue> tdiHolder, capHolder;
    const ShiftValue* tdi = vector(tdiHolder, {0xA5, 0x3C});
    ShiftValue* captured = vector(capHolder, {0xFF, 0xFF, 0xFF});
    // TDO: byte 1 reads 0x96, byte 0's four bits read 0xB (the high nibble of
    // the reply pattern must not leak into captured byte 0).
    fakeDriver().queueRx(tdoReplies({0xFB, 0x96}, 12));

    shiftBits(12, *tdi, captured, false);

    const std::vector<Edge> edges = risingEdges(ops());
    EXPECT_EQ(tdiOf(edges), (std::vector<int>{0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 1, 0}));
    EXPECT_EQ(tmsOf(edges), std::vector<int>(12, 0));
    EXPECT_EQ(captured->length, 2);
    EXPECT_EQ(captured->bytes[1], 0x96);
    EXPECT_EQ(captured->bytes[0], 0x0B);
    EXPECT_EQ(captured->bytes[2], 0xFF) << "bytes past the length are not touched";
    // Per bit: TDI, TCK low, read, TCK high.
    auto all = ops();
    ASSERT_EQ(all.size(), 48u);
    EXPECT_EQ(all[0], (PinOp{'s', 0x02}));
    EXPECT_EQ(all[1], (PinOp{'s', 0x00}));
    EXPECT_EQ(all[2], (PinOp{'r', 0}));
    EXPECT_EQ(all[3], (PinOp{'s', 0x02}));
}

TEST_F(PinDriverTest, ExitingOneBitShiftRaisesTmsBeforeTheBit) {
    std::unique_ptr<ShiftValue> tdiHolder, capHolder;
    const ShiftValue* tdi = vector(tdiHolder, {0x01});
    ShiftValue* captured = vector(capHolder, {0x00});
    fakeDriver().queueRx({0x10});
    shiftBits(1, *tdi, captured, true);
    EXPECT_EQ(ops(), (std::vector<PinOp>{{'s', 0x06}, {'s', 0x07}, {'s', 0x05}, {'r', 0}, {'s', 0x07}}));
    EXPECT_EQ(captured->bytes[0], 0x01);
    EXPECT_EQ(pinShadow, PIN_TCK | PIN_TMS | PIN_TDI);
}

TEST_F(PinDriverTest, ZeroBitsSendNothingButSetCaptureLength) {
    std::unique_ptr<ShiftValue> tdiHolder, capHolder;
    const ShiftValue* tdi = vector(tdiHolder, {0x12, 0x34});
    ShiftValue* captured = vector(capHolder, {});
    shiftBits(0, *tdi, captured, true);
    EXPECT_TRUE(fakeDriver().calls.empty());
    EXPECT_EQ(captured->length, 2);
}

TEST_F(PinDriverTest, OnlyExactly4097BitsGoOutAsOneBlock) {
    std::unique_ptr<ShiftValue> tdiHolder;
    std::vector<std::uint8_t> data(513);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    const ShiftValue* tdi = vector(tdiHolder, data);

    // Either side of the block size: single mode, six writes per bit.
    for (int bits : {4096, 4098}) {
        SCOPED_TRACE(bits);
        fakeDriver().reset();
        std::unique_ptr<ShiftValue> wide;
        shiftBits(bits, *vector(wide, std::vector<std::uint8_t>(514, 0x5A)), nullptr, false);
        EXPECT_EQ(fakeDriver().callsOf("FT_Write").size(), 6u * bits);
    }

    for (bool exitOnLast : {false, true}) {
        SCOPED_TRACE(exitOnLast);
        fakeDriver().reset();
        pinShadow = PIN_TCK;
        std::unique_ptr<ShiftValue> capHolder;
        ShiftValue* captured = vector(capHolder, {0xEE});
        shiftBits(BLOCK_SHIFT_BITS, *tdi, captured, exitOnLast);
        EXPECT_EQ(writeSizes(), std::vector<DWORD>{exitOnLast ? 16392u : 16388u});
        EXPECT_TRUE(fakeDriver().callsOf("FT_Read").empty());
        EXPECT_EQ(captured->length, 513) << "length follows TDI";
        EXPECT_EQ(captured->bytes[0], 0xEE) << "no TDO in block mode";

        const auto all = ops();
        ASSERT_EQ(all.size(), exitOnLast ? 4098u : 4097u);
        std::vector<int> expectedTdi;
        for (int k = 0; k < BLOCK_SHIFT_BITS; ++k) {
            expectedTdi.push_back((data[512 - k / 8] >> (k % 8)) & 1);
        }
        const auto edges = risingEdges(all);
        EXPECT_EQ(tdiOf(edges), expectedTdi);
        for (std::size_t i = 0; i + 1 < all.size(); ++i) {
            if (exitOnLast && i == all.size() - 2) {
                EXPECT_EQ(all[i].kind, 's');
                EXPECT_EQ(all[i].pins & (PIN_TMS | PIN_TCK), PIN_TMS | PIN_TCK);
                continue;
            }
            ASSERT_EQ(all[i].kind, 'c') << i;
            ASSERT_EQ(all[i].pins & (PIN_TMS | PIN_TCK), PIN_TCK) << i;
        }
        EXPECT_EQ(all.back().kind, 'c');
        EXPECT_EQ((all.back().pins & PIN_TMS) != 0, exitOnLast);
        EXPECT_EQ(pinShadow, all.back().pins);
    }
}

TEST_F(PinDriverTest, BlockWithoutMemoryIsReportedAndNotSent) {
    std::unique_ptr<ShiftValue> tdiHolder;
    const ShiftValue* tdi = vector(tdiHolder, std::vector<std::uint8_t>(513, 0xFF));
    blockBufferAllocate = [](std::size_t) -> void* { return nullptr; };
    ConsoleCapture console;
    shiftBits(BLOCK_SHIFT_BITS, *tdi, nullptr, true);
    EXPECT_TRUE(fakeDriver().calls.empty());
    EXPECT_EQ(console.out(), "Out of memory: JTAG block of 4097 bits not sent.\n");
    EXPECT_EQ(pinShadow, PIN_TCK);
}

TEST_F(PinDriverTest, BlockWithoutWriteEntryPrintsItsLine) {
    std::unique_ptr<ShiftValue> tdiHolder;
    const ShiftValue* tdi = vector(tdiHolder, std::vector<std::uint8_t>(513, 0));
    link.FT_Write = nullptr;
    ConsoleCapture console;
    shiftBits(BLOCK_SHIFT_BITS, *tdi, nullptr, false);
    EXPECT_EQ(console.out(), "Error: FT_Write is not valid!\n");
}

TEST_F(PinDriverTest, WaitSendsClockBlocksOfTheShadowUntilTheDeadline) {
    pinShadow = PIN_TCK | PIN_TDI;
    const std::int64_t start = fakeDriver().nowMs;
    waitMicroseconds(0);
    const auto writes = fakeDriver().callsOf("FT_Write");
    ASSERT_GE(writes.size(), 1u);
    std::vector<std::uint8_t> block;
    for (int i = 0; i < 32; ++i) {
        block.insert(block.end(), {0x53, 0x59, 0x06, 0x03});
    }
    for (const FakeCall& call : writes) {
        ASSERT_EQ(call.data, block);
    }
    // 16 ms plus the clock readings of the set-up.
    EXPECT_GE(fakeDriver().nowMs - start, 16);
    EXPECT_LE(fakeDriver().nowMs - start, 19);
}

TEST_F(PinDriverTest, WaitTimesAndDots) {
    struct Case {
        std::int32_t us;
        std::int64_t ms;  // the wait's length on the clock
        bool dots;
    };
    const Case cases[] = {
        {1000000, 3016, false},        // three times the asked time plus 16 ms
        {14799999, 44415, false},      // the longest tripled wait
        {LONG_WAIT_US, 14816, true},   // from here on not tripled, with dots
        {-1000, 13, false},            // negative times shorten the 16 ms
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.us);
        fakeDriver().reset();
        fakeDriver().clockStepMs = 7;
        ConsoleCapture console;
        const std::int64_t start = fakeDriver().nowMs;
        waitMicroseconds(c.us);
        const std::int64_t elapsed = fakeDriver().nowMs - start;
        // A coarse fake clock overshoots by a few readings.
        EXPECT_GE(elapsed, c.ms);
        EXPECT_LE(elapsed, c.ms + 50);
        const std::string out = console.out();
        if (c.dots) {
            const std::string done = "\rDone.                      \n";
            ASSERT_GE(out.size(), done.size());
            EXPECT_EQ(out.substr(out.size() - done.size()), done);
            const std::string dots = out.substr(0, out.size() - done.size());
            EXPECT_EQ(dots, std::string(dots.size(), '.'));
            EXPECT_GE(dots.size(), 13u);
            EXPECT_LE(dots.size(), 15u);
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

TEST_F(PinDriverTest, VeryNegativeWaitsSendExactlyOneBlock) {
    for (std::int32_t us : {-5334, -100000, INT_MIN}) {
        SCOPED_TRACE(us);
        fakeDriver().reset();
        waitMicroseconds(us);
        EXPECT_EQ(fakeDriver().callsOf("FT_Write").size(), 1u);
    }
}

TEST_F(PinDriverTest, EveryWriteFailingKeepsTheRunGoing) {
    fakeDriver().onWrite = [](const std::uint8_t*, DWORD, DWORD* written) {
        *written = 0;
        return FT_IO_ERROR;
    };
    std::unique_ptr<ShiftValue> tdiHolder, capHolder;
    const ShiftValue* tdi = vector(tdiHolder, {0x01});
    ShiftValue* captured = vector(capHolder, {0xFF});
    ConsoleCapture console;
    shiftBits(1, *tdi, captured, false);
    EXPECT_EQ(captured->bytes[0], 0x00);
    std::string expected;
    for (int i = 0; i < 3; ++i) {
        expected += "no write !!!!!!!!!!!!!!!!!!!\n";
    }
    EXPECT_EQ(console.out(), expected);
    EXPECT_TRUE(fakeDriver().callsOf("FT_Read").empty());
}

}  // namespace
