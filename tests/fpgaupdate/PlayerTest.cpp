// The XSVF run loop and the command handlers, on recording fakes of the link.
#include "CartridgeCommands.h"
#include "PinDriver.h"
#include "UpdaterFixture.h"
#include "XsvfHandlers.h"
#include "XsvfText.h"

namespace {

const std::string kCompleted = "Completed FPGA update.            \n";

std::string location(int command) {
    return "ERROR at or near XSVF command #" + std::to_string(command) + ".  See line #" + std::to_string(command) +
           " in the XSVF ASCII file.\n";
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::vector<std::string>& prefixes) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        for (const std::string& prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        start = end + 1;
    }
    return found;
}

class PlayerTest : public UpdaterTest {
protected:
    int run(const std::string& text) {
        useXsvfText(text);
        return HasFatalFailure() ? -1 : playXsvf(*info);
    }
    int runBytes(const std::vector<std::uint8_t>& data) {
        useXsvf(data);
        return playXsvf(*info);
    }
};

TEST_F(PlayerTest, RunLoopOutcomes) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        int result;
        std::string out;
        long bytesRead;
    };
    const std::string unsupported = "ERROR:  Unsupported XSVF command\n";
    const Case cases[] = {
        {"empty file", {}, 4,
         "ERROR:  Encountered unsupported command #255 (Unknown)\n" + unsupported + location(1), 0},
        {"XCOMPLETE first, rest unread", {0x00, 0x05, 0x05}, 0, kCompleted, 1},
        {"code 5", {0x05}, 4, "ERROR:  Encountered unsupported command #5 (Reserved5)\n" + unsupported + location(1), 1},
        {"code 6 after XREPEAT", {0x07, 0x01, 0x06}, 4,
         "ERROR:  Encountered unsupported command #6 (Reserved6)\n" + unsupported + location(2), 3},
        {"code 24", {0x18}, 4, "ERROR:  Encountered unsupported command #24 (Unknown)\n" + unsupported + location(1), 1},
        {"XWAIT is the highest command", {0x17, 1, 1, 0, 0, 0, 0, 0x00}, 0, kCompleted, 8},
        {"end without XCOMPLETE", {0x04, 0, 0, 0, 0, 0x07, 0x00}, 4,
         "ERROR:  Encountered unsupported command #255 (Unknown)\n" + unsupported + location(3), 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().reset();
        ConsoleCapture console;
        EXPECT_EQ(runBytes(c.file), c.result);
        EXPECT_EQ(console.out(), c.out);
        EXPECT_EQ(xsvfPosition(), c.bytesRead);
    }
}

TEST_F(PlayerTest, EveryRunStartsWithTheResetSequence) {
    runBytes({0x00});
    const auto edges = risingEdges(ops());
    EXPECT_EQ(tmsOf(edges), std::vector<int>(6, 1));
    EXPECT_EQ(ops().size(), 13u);
    EXPECT_EQ(info->tapState, TAP_RESET);
}

TEST_F(PlayerTest, FailingThirdCommandIsLocatedOnTheListingLine) {
    const std::string text = "XSDRSIZE 8\nXTDOMASK 0xff\nXSDRTDO 0x00 0x55\nXCOMPLETE\n";
    ConsoleCapture console;
    EXPECT_EQ(run(text), ERR_TDO_MISMATCH);
    EXPECT_EQ(console.out(), "ERROR:  TDO mismatch\n" + location(3));
    EXPECT_EQ(info->errorCode, ERR_TDO_MISMATCH);

    // The listing's third line is the command the location names.
    std::vector<std::uint8_t> data;
    std::string error;
    ASSERT_TRUE(assembleXsvf(text, data, error)) << error;
    const std::string listing = disassembleXsvf(data);
    EXPECT_EQ(listing.substr(0, listing.find('\n', listing.find('\n', listing.find('\n') + 1) + 1) + 1),
              "XSDRSIZE 8\nXTDOMASK 0xff\nXSDRTDO 0x00 0x55\n");
}

TEST_F(PlayerTest, DebugLevelsGateTheMessages) {
    {
        debugLevel = -1;
        ConsoleCapture console;
        EXPECT_EQ(run("XSDRSIZE 8\nXTDOMASK 0xff\nXSDRTDO 0x00 0x55\n"), ERR_TDO_MISMATCH);
        EXPECT_EQ(run("XCOMPLETE\n"), ERR_NONE);
        EXPECT_EQ(run("XSDRSIZE 4097\n"), ERR_UNSUPPORTED_COMMAND);
        EXPECT_EQ(console.out(), "");
        EXPECT_EQ(fpgaBlockCount, 1) << "counted even when not printed";
    }
    {
        debugLevel = 2;
        ConsoleCapture console;
        run("XREPEAT 0\nXCOMPLETE\n");
        EXPECT_EQ(console.out(), "  XREPEAT\n  XCOMPLETE\n" + kCompleted);
    }
    {
        debugLevel = 4;
        ConsoleCapture console;
        run("XCOMPLETE\n");
        EXPECT_EQ(console.out().rfind("    sizeof( SXsvfInfo ) = " + std::to_string(sizeof(SXsvfInfo)) + " bytes\n", 0),
                  0u);
    }
}

TEST_F(PlayerTest, SettingsPersistInTheRecord) {
    EXPECT_EQ(run("XRUNTEST 1000\nXREPEAT 3\nXSDRSIZE 12\nXTDOMASK 0x0fff\n"
                  "XSETSDRMASKS 0x0001 0x0f00\nXENDIR 1\nXENDDR 1\nXCOMPLETE\n"),
              ERR_NONE);
    EXPECT_EQ(info->runTestTime, 1000);
    EXPECT_EQ(info->repeatLimit, 3);
    EXPECT_EQ(info->sdrSizeBits, 12);
    EXPECT_EQ(info->sdrSizeBytes, 2);
    EXPECT_EQ(info->tdoMask.length, 2);
    EXPECT_EQ(info->tdoMask.bytes[0], 0x0f);
    EXPECT_EQ(info->tdoMask.bytes[1], 0xff);
    EXPECT_EQ(info->addressMask.bytes[1], 0x01);
    EXPECT_EQ(info->dataMask.bytes[0], 0x0f);
    EXPECT_EQ(info->endIrState, TAP_IRPAUSE);
    EXPECT_EQ(info->endDrState, TAP_DRPAUSE);

    EXPECT_EQ(run("XENDIR 1\nXENDIR 0\nXENDDR 1\nXENDDR 0\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(info->endIrState, TAP_RUNTEST_IDLE);
    EXPECT_EQ(info->endDrState, TAP_RUNTEST_IDLE);
}

TEST_F(PlayerTest, VectorsBeforeAnySizeReadNoBytes) {
    // XTDOMASK, XSDR, XSETSDRMASKS, XCOMPLETE: four codes, no operands.
    EXPECT_EQ(runBytes({0x01, 0x03, 0x0A, 0x00}), ERR_NONE);
    EXPECT_EQ(xsvfPosition(), 4);
}

TEST_F(PlayerTest, BadStateOperands) {
    struct Case {
        std::vector<std::uint8_t> file;
        std::size_t pinOps;  // all of them the run's reset
    };
    const Case cases[] = {
        {{0x13, 0x02}, 13},  // XENDIR 2
        {{0x14, 0xFF}, 13},  // XENDDR 255
        {{0x12, 0x10}, 13},  // XSTATE 16
        {{0x12}, 13},        // XSTATE at end of file reads 255
        {{0x12, 0x07}, 13},  // XSTATE DREXIT2 from RESET
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.file[0]));
        fakeDriver().reset();
        ConsoleCapture console;
        EXPECT_EQ(runBytes(c.file), ERR_ILLEGAL_STATE);
        EXPECT_EQ(console.out(), "ERROR:  Illegal state specification\n" + location(1));
        EXPECT_EQ(ops().size(), c.pinOps);
        EXPECT_EQ(info->endIrState, TAP_RUNTEST_IDLE);
        EXPECT_EQ(info->endDrState, TAP_RUNTEST_IDLE);
    }
}

TEST_F(PlayerTest, SizeLimits) {
    struct Case {
        std::vector<std::uint8_t> file;
        int result;
    };
    const auto size = [](std::uint32_t bits) {
        return std::vector<std::uint8_t>{0x08, std::uint8_t(bits >> 24), std::uint8_t(bits >> 16),
                                         std::uint8_t(bits >> 8), std::uint8_t(bits), 0x00};
    };
    const Case cases[] = {
        {size(56000), ERR_NONE},
        {size(56001), ERR_DATA_OVERFLOW},
        {size(2147483647), ERR_DATA_OVERFLOW},
        {size(2147483648u), ERR_DATA_OVERFLOW},  // negative as a signed size
        {size(4294967289u), ERR_DATA_OVERFLOW},  // + 7 wraps to 0 in 32 bits
        {size(4294967295u), ERR_DATA_OVERFLOW},
        {{0x15, 0xDA, 0xC1}, ERR_DATA_OVERFLOW},  // XSIR2 56001
        {{0x15, 0xFF, 0xFF}, ERR_DATA_OVERFLOW},  // XSIR2 65535
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.file));
        fakeDriver().reset();
        ConsoleCapture console;
        EXPECT_EQ(runBytes(c.file), c.result);
        if (c.result == ERR_DATA_OVERFLOW) {
            EXPECT_EQ(console.out(), "ERROR:  Data overflows allocated MAX_LEN buffer size\n" + location(1));
            EXPECT_EQ(ops().size(), 13u) << "nothing shifted";
        }
    }
    EXPECT_EQ(run("XSDRSIZE 56000\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(info->sdrSizeBytes, 7000);
    // The rejected XSIR2 leaves its TDI bytes unread.
    useXsvf({0x15, 0xDA, 0xC1, 0x00, 0x00});
    playXsvf(*info);
    EXPECT_EQ(xsvfPosition(), 3);
}

TEST_F(PlayerTest, BlockProgressLine) {
    ConsoleCapture console;
    EXPECT_EQ(run("XSDRSIZE 4097\nXSDRSIZE 8\nXSDRSIZE 4097\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(console.out(), "Writing FPGA block = 1/555\rWriting FPGA block = 2/555\r" + kCompleted);
    EXPECT_EQ(info->sdrSizeBytes, 513);
    EXPECT_EQ(fpgaBlockCount, 2);
    run("XSDRSIZE 4097\nXCOMPLETE\n");
    EXPECT_NE(console.out().find("Writing FPGA block = 3/555\r"), std::string::npos) << "never reset";
}

TEST_F(PlayerTest, BlockSizedDataShiftIsOneWrite) {
    std::string tdi = "0x";
    for (int i = 0; i < 513; ++i) {
        tdi += "a5";
    }
    EXPECT_EQ(run("XSDRSIZE 4097\nXSDR " + tdi + "\nXCOMPLETE\n"), ERR_NONE);
    std::vector<DWORD> large;
    for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
        if (call.args[0] > 4) {
            large.push_back(call.args[0]);
        }
    }
    EXPECT_EQ(large, std::vector<DWORD>{16392});  // the shift exits Shift-DR on its last bit
    EXPECT_EQ(info->tapState, TAP_RUNTEST_IDLE);
}

TEST_F(PlayerTest, Comments) {
    {
        ConsoleCapture console;
        EXPECT_EQ(run("XCOMMENT \"erase\"\nXCOMPLETE\n"), ERR_NONE);
        EXPECT_EQ(console.out(), kCompleted);
    }
    {
        debugLevel = 1;
        ConsoleCapture console;
        EXPECT_EQ(run("XCOMMENT \"erase\"\nXCOMPLETE\n"), ERR_NONE);
        EXPECT_EQ(console.out(), " erase\n" + kCompleted);
    }
    {
        // The text runs into the end of the file: the reader stops there and
        // the next command read reports it.
        debugLevel = 0;
        ConsoleCapture console;
        EXPECT_EQ(runBytes({0x16, 'a', 'b'}), ERR_UNSUPPORTED_COMMAND);
        EXPECT_EQ(console.out(),
                  "ERROR:  Encountered unsupported command #255 (Unknown)\nERROR:  Unsupported XSVF command\n" +
                      location(2));
    }
}

TEST_F(PlayerTest, StateMoves) {
    // XSTATE 0 resets even in RESET: two reset sequences in all.
    EXPECT_EQ(run("XSTATE 0\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(ops().size(), 26u);

    fakeDriver().reset();
    EXPECT_EQ(run("XSTATE 1\nXSTATE 2\nXSTATE 3\nXSTATE 5\nXSTATE 6\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(info->tapState, TAP_DRPAUSE);
    const auto tms = tmsOf(risingEdges(ops()));
    ASSERT_EQ(tms.size(), 11u);
    EXPECT_EQ(std::vector<int>(tms.begin() + 6, tms.end()), (std::vector<int>{0, 1, 0, 1, 0}));
}

TEST_F(PlayerTest, XwaitMovesWaitsAndNeverFails) {
    // From RESET: TMS 0 to Run-Test/Idle, the wait, then on to Pause-DR.
    EXPECT_EQ(run("XWAIT 1 6 0\nXCOMPLETE\n"), ERR_NONE);
    EXPECT_EQ(info->tapState, TAP_DRPAUSE);
    auto all = ops();
    std::vector<char> kinds;
    for (std::size_t i = 13; i < all.size(); ++i) {
        if (kinds.empty() || kinds.back() != all[i].kind) {
            kinds.push_back(all[i].kind);
        }
    }
    EXPECT_EQ(kinds, (std::vector<char>{'s', 'c', 's'}));
    EXPECT_EQ(tmsOf(risingEdges(std::vector<PinOp>(all.begin() + 13, all.begin() + 16))), std::vector<int>{0});

    // Already in the wait state (a pause state): no clock before the wait.
    fakeDriver().reset();
    EXPECT_EQ(run("XSTATE 1\nXSTATE 6\nXWAIT 6 6 0\nXCOMPLETE\n"), ERR_NONE);
    all = ops();
    EXPECT_EQ(all.back().kind, 'c') << "nothing after the wait either";
    EXPECT_EQ(info->tapState, TAP_DRPAUSE);

    // State codes above 15 skip the move; the wait still runs.
    fakeDriver().reset();
    EXPECT_EQ(runBytes({0x17, 200, 0xFF, 0, 0, 0, 0, 0x00}), ERR_NONE);
    EXPECT_EQ(info->tapState, TAP_RESET);
    all = ops();
    ASSERT_GT(all.size(), 13u);
    for (std::size_t i = 13; i < all.size(); ++i) {
        EXPECT_EQ(all[i].kind, 'c') << "only the reset and clock blocks";
    }
}

TEST_F(PlayerTest, RetryPathGrowsTheWait) {
    debugLevel = 3;
    ConsoleCapture console;
    EXPECT_EQ(run("XSDRSIZE 8\nXTDOMASK 0xff\nXRUNTEST 100\nXREPEAT 3\nXSDRTDO 0x00 0x55\nXCOMPLETE\n"),
              ERR_MAX_RETRIES);
    const std::string out = console.out();
    EXPECT_EQ(linesStartingWith(out, {"   Retry", "   Wait"}),
              (std::vector<std::string>{"   Retry #1", "   Wait = 125 usec", "   Retry #2", "   Wait = 156 usec",
                                        "   Retry #3", "   Wait = 195 usec", "   Wait = 195 usec"}));
    EXPECT_EQ(fakeDriver().callsOf("FT_Read").size(), 4u * 8);
    EXPECT_NE(out.find("ERROR:  TDO mismatch and exceeded max retries\n" + location(5)), std::string::npos);

    // One retry cycle on the TAP: the detour through Pause-DR.
    const std::size_t first = out.find("   Retry #1\n");
    const std::size_t wait = out.find("   Wait = 125 usec\n");
    EXPECT_EQ(out.substr(first, wait - first),
              "   Retry #1\n"
              "   TAP State = DRPAUSE\n"
              "   TAP State = DREXIT2\n"
              "   TAP State = DRSHIFT\n"
              "   TAP State = DREXIT1\n"
              "   TAP State = DRUPDATE\n"
              "   TAP State = RUNTEST/IDLE\n");
}

TEST_F(PlayerTest, RetryWaitStopsAtTheEndsOfItsRange) {
    struct Case {
        const char* runTest;
        const char* wait;
    };
    const Case cases[] = {
        {"XRUNTEST 2000000000\n", "   Wait = 2147483647 usec"},
        {"XRUNTEST 0x80000000\n", "   Wait = -2147483648 usec"},  // a negative time still takes the pause path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runTest);
        fakeDriver().reset();
        fakeDriver().clockStepMs = 100000;  // a 36-minute wait in a few passes
        debugLevel = 3;
        ConsoleCapture console;
        EXPECT_EQ(run(std::string("XSDRSIZE 8\nXTDOMASK 0xff\n") + c.runTest + "XREPEAT 2\nXSDRTDO 0x00 0x55\n"),
                  ERR_MAX_RETRIES);
        EXPECT_EQ(linesStartingWith(console.out(), {"   Retry", "   Wait"}),
                  (std::vector<std::string>{"   Retry #1", c.wait, "   Retry #2", c.wait, c.wait}));
    }
}

TEST_F(PlayerTest, MismatchOutcomes) {
    const std::vector<std::uint8_t> miss(8, 0xEF);
    const std::vector<std::uint8_t> hit = tdoReplies({0x55}, 8);
    struct Case {
        const char* name;
        const char* settings;
        std::vector<std::vector<std::uint8_t>> replies;  // per attempt
        int result;
        std::size_t reads;
        bool pauses;
    };
    const Case cases[] = {
        {"clears on the repeat", "XTDOMASK 0xff\nXRUNTEST 100\nXREPEAT 3\n", {miss, hit}, ERR_NONE, 16, true},
        {"no repeats allowed", "XTDOMASK 0xff\nXRUNTEST 100\nXREPEAT 0\n", {miss}, ERR_TDO_MISMATCH, 8, false},
        {"no wait: repeats without the detour", "XTDOMASK 0xff\nXRUNTEST 0\nXREPEAT 2\n", {miss, miss, miss}, ERR_MAX_RETRIES, 24,
         false},
        {"masked bits do not count", "XTDOMASK 0xf0\nXRUNTEST 0\nXREPEAT 0\n", {tdoReplies({0x5A}, 8)}, ERR_NONE, 8,
         false},
        {"zero mask before any XTDOMASK", "", {miss}, ERR_NONE, 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().reset();
        for (const auto& r : c.replies) {
            fakeDriver().queueRx(r);
        }
        debugLevel = 3;
        ConsoleCapture console;
        EXPECT_EQ(run(std::string("XSDRSIZE 8\n") + c.settings + "XSDRTDO 0x00 0x55\nXCOMPLETE\n"), c.result);
        EXPECT_EQ(fakeDriver().callsOf("FT_Read").size(), c.reads);
        EXPECT_EQ(console.out().find("TAP State = DRPAUSE") != std::string::npos, c.pauses);
    }
}

TEST_F(PlayerTest, FinalMismatchDumpAtLevelOne) {
    debugLevel = 1;
    ConsoleCapture console;
    EXPECT_EQ(run("XSDRSIZE 8\nXTDOMASK 0xff\nXSDRTDO 0x00 0x55\n"), ERR_TDO_MISMATCH);
    EXPECT_EQ(console.out(), " TDO Expected = 0x55\n TDO Captured = 0x00\n TDO Mask     = 0xff\nERROR:  TDO mismatch\n" +
                                 location(3));
}

TEST_F(PlayerTest, EmptyInstructionShiftStillWaitsInRunTestIdle) {
    EXPECT_EQ(run("XRUNTEST 1000\nXSIR 0 0x\nXCOMPLETE\n"), ERR_NONE);
    const auto all = ops();
    ASSERT_GT(all.size(), 16u);
    EXPECT_EQ(tmsOf(risingEdges(std::vector<PinOp>(all.begin() + 13, all.begin() + 16))), std::vector<int>{0});
    for (std::size_t i = 16; i < all.size(); ++i) {
        EXPECT_EQ(all[i].kind, 'c');
    }
    EXPECT_EQ(info->tapState, TAP_RUNTEST_IDLE);
}

}  // namespace
