// The updater's error line says "See line #N in the XSVF ASCII file.": the
// listing's line N must be the command the player stopped at.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FakeDriver.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"
#include "XsvfText.h"

namespace {

class PlayerLine : public ::testing::Test {
protected:
    void SetUp() override {
        fakeDriver().reset();
        installFakes(link_);
        installFakeClock();
        linkPtr = &link_;
        debugLevel = 0;
    }
    void TearDown() override {
        restoreClock();
        linkPtr = nullptr;
        if (xsvfFile != nullptr) {
            std::fclose(xsvfFile);
            xsvfFile = nullptr;
        }
    }

    // Plays the assembled text and returns the command number of the
    // player's location line (0 when there is none).
    long playAndLocate(const std::string& text, std::string& output) {
        std::vector<std::uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(assembleXsvf(text, bytes, error)) << error;
        xsvfFile = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), xsvfFile);
        std::rewind(xsvfFile);
        ConsoleCapture capture;
        info_ = std::make_unique<SXsvfInfo>();
        playXsvf(*info_);
        output = capture.out();
        long command = 0;
        long line = 0;
        const std::size_t at = output.find("ERROR at or near");
        if (at == std::string::npos ||
            std::sscanf(output.c_str() + at, "ERROR at or near XSVF command #%ld.  See line #%ld", &command, &line) != 2) {
            return 0;
        }
        EXPECT_EQ(command, line);
        return line;
    }

    CartridgeLink link_{};
    std::unique_ptr<SXsvfInfo> info_;
};

std::string lineOf(const std::string& listing, long n) {
    std::istringstream in(listing);
    std::string line;
    for (long i = 0; i < n && std::getline(in, line); ++i) {
    }
    return line;
}

TEST_F(PlayerLine, LocationLineIsTheListingLineOfTheFailingCommand) {
    // Comments with line ends in their text would break the count if the
    // listing did not escape them.
    const std::string prologue =
        "XCOMMENT \"two\\nlines\"\n"
        "XREPEAT 0\n"
        "XCOMMENT \"\\r\\n\"\n"
        "XSTATE RUNTEST/IDLE\n"
        "XSDRSIZE 8\n"
        "XTDOMASK 0xff\n";
    struct Case {
        const char* failing;
        const char* expectedText;
    };
    const Case cases[] = {
        {"XENDIR 2", "ERROR:  Illegal state specification"},
        {"XSTATE 200", "ERROR:  Illegal state specification"},
        {"UNKNOWN 0x05", "ERROR:  Unsupported XSVF command"},
        {"UNKNOWN 0x18", "ERROR:  Unsupported XSVF command"},
        {"XSDRSIZE 56001", "ERROR:  Data overflows allocated MAX_LEN buffer size"},
        {"XSDRTDO 0x00 0x01", "ERROR:  TDO mismatch"},  // nothing answers: TDO reads 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        fakeDriver().reset();
        const std::string text = prologue + "XSIR 8 0x01\nXRUNTEST 0\n" + c.failing + "\nXCOMPLETE\n";
        std::string output;
        const long line = playAndLocate(text, output);
        EXPECT_NE(output.find(c.expectedText), std::string::npos) << output;
        ASSERT_EQ(line, 9) << output;

        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(assembleXsvf(text, bytes, error));
        EXPECT_EQ(lineOf(disassembleXsvf(bytes), line), c.failing);
    }
}

// The text tool splits a file by the operand layouts of XsvfFormat.h; the
// player's handlers read their operands by hand. Each handler must stop
// exactly where the layout says its command ends.
TEST_F(PlayerLine, EachHandlerReadsExactlyTheOperandsOfItsLayout) {
    // Every command once; on the silent link TDO reads 0, so the expected
    // values are 0 and every check passes.
    const std::string text =
        "XCOMMENT \"every command\"\n"
        "XREPEAT 2\n"
        "XRUNTEST 0\n"
        "XENDIR 1\n"
        "XENDDR 0\n"
        "XSTATE 0\n"
        "XSTATE RUNTEST/IDLE\n"
        "XSIR 9 0x01ff\n"
        "XSIR2 12 0x0abc\n"
        "XSDRSIZE 16\n"
        "XTDOMASK 0x0000\n"
        "XSDRTDO 0x00ff 0x0000\n"
        "XSDR 0x1234\n"
        "XSETSDRMASKS 0x0001 0x0f00\n"
        "XSDRINC 0x00ff 2 0x01 0x0e\n"
        "XSDRB 0x0001\n"
        "XSDRC 0x0002\n"
        "XSDRE 0x0003\n"
        "XSDRTDOB 0x0004 0x0000\n"
        "XSDRTDOC 0x0006 0x0000\n"
        "XSDRTDOE 0x0008 0x0000\n"
        "XWAIT RUNTEST/IDLE RUNTEST/IDLE 5\n"
        "XCOMPLETE\n";
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(assembleXsvf(text, bytes, error)) << error;
    xsvfFile = std::tmpfile();
    ASSERT_NE(xsvfFile, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), xsvfFile);

    info_ = std::make_unique<SXsvfInfo>();
    initXsvfInfo(*info_);
    const std::vector<XsvfCommandSpan> spans = splitXsvf(bytes);
    ASSERT_EQ(spans.size(), 23u);
    for (const XsvfCommandSpan& span : spans) {
        SCOPED_TRACE(xsvfCommandNames[span.code]);
        // Each command starts where the layout puts it, whatever the one
        // before it read.
        std::fseek(xsvfFile, static_cast<long>(span.offset), SEEK_SET);
        info_->commandCode = readXsvfByte();
        ASSERT_EQ(info_->commandCode, span.code);
        ConsoleCapture console;
        EXPECT_EQ(xsvfHandlers[span.code](*info_), ERR_NONE) << console.out();
        EXPECT_EQ(info_->errorCode, ERR_NONE);
        EXPECT_EQ(std::ftell(xsvfFile), static_cast<long>(span.offset + span.size));
    }
}

TEST_F(PlayerLine, CommandNamesMatchThePlayersTable) {
    for (int code = 0; code < 24; ++code) {
        EXPECT_STREQ(xsvfCommandName(static_cast<std::uint8_t>(code)), xsvfCommandNames[code]);
    }
    EXPECT_EQ(xsvfCommandName(24), nullptr);
}

}  // namespace
