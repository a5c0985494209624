// The XSVF text form: exact round trips (corpus files, hand-written listings,
// truncated files), line N = command N, assembler errors naming the line,
// and clearing TDO masks.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Corpus.h"
#include "XsvfText.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes assemble(const std::string& text) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(assembleXsvf(text, out, error)) << error << "\nin:\n" << text;
    return out;
}

std::string assembleError(const std::string& text) {
    Bytes out = {0xEE};
    std::string error;
    EXPECT_FALSE(assembleXsvf(text, out, error)) << text;
    EXPECT_TRUE(out.empty());
    return error;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// One of every command, in a listing's own form.
const char kEveryCommand[] =
    "XCOMMENT \"every command once\"\n"
    "XREPEAT 32\n"
    "XRUNTEST 1000\n"
    "XENDIR 1\n"
    "XENDDR 0\n"
    "XSTATE 0\n"
    "XSTATE 1\n"
    "XSIR 8 0xfe\n"
    "XSIR 9 0x01ff\n"
    "XSIR 0 0x\n"
    "XSIR2 12 0x0abc\n"
    "XSDRSIZE 16\n"
    "XTDOMASK 0xffff\n"
    "XSDRTDO 0x00ff 0x0100\n"
    "XSDR 0x1234\n"
    "XSETSDRMASKS 0x0001 0x0f00\n"
    "XSDRINC 0x00ff 2 0x01 0x0e\n"
    "XSDRB 0x0001\n"
    "XSDRC 0x0002\n"
    "XSDRE 0x0003\n"
    "XSDRTDOB 0x0004 0x0005\n"
    "XSDRTDOC 0x0006 0x0007\n"
    "XSDRTDOE 0x0008 0x0009\n"
    "XWAIT 1 6 4294967295\n"
    "UNKNOWN 0x05\n"
    "UNKNOWN 0x06\n"
    "UNKNOWN 0x18\n"
    "UNKNOWN 0xff\n"
    "XCOMPLETE\n";

TEST(XsvfText, EveryCommandAssemblesToItsBytesAndListsBackTheSame) {
    const Bytes bytes = assemble(kEveryCommand);
    const Bytes expected = {
        22, 'e', 'v', 'e', 'r', 'y', ' ', 'c', 'o', 'm', 'm', 'a', 'n', 'd', ' ', 'o', 'n', 'c', 'e', 0,
        7, 32,
        4, 0x00, 0x00, 0x03, 0xE8,
        19, 1,
        20, 0,
        18, 0,
        18, 1,
        2, 8, 0xFE,
        2, 9, 0x01, 0xFF,
        2, 0,
        21, 0x00, 12, 0x0A, 0xBC,
        8, 0x00, 0x00, 0x00, 16,
        1, 0xFF, 0xFF,
        9, 0x00, 0xFF, 0x01, 0x00,
        3, 0x12, 0x34,
        10, 0x00, 0x01, 0x0F, 0x00,       // data mask has 4 ones: 1-byte pieces
        11, 0x00, 0xFF, 2, 0x01, 0x0E,
        12, 0x00, 0x01,
        13, 0x00, 0x02,
        14, 0x00, 0x03,
        15, 0x00, 0x04, 0x00, 0x05,
        16, 0x00, 0x06, 0x00, 0x07,
        17, 0x00, 0x08, 0x00, 0x09,
        23, 1, 6, 0xFF, 0xFF, 0xFF, 0xFF,
        5, 6, 24, 255,
        0,
    };
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(disassembleXsvf(bytes), kEveryCommand);
}

TEST(XsvfText, ListingLineNIsCommandN) {
    const Bytes bytes = assemble(kEveryCommand);
    const std::vector<XsvfCommandSpan> spans = splitXsvf(bytes);
    const std::vector<std::string> listed = lines(disassembleXsvf(bytes));
    ASSERT_EQ(listed.size(), spans.size());
    std::size_t offset = 0;
    for (std::size_t n = 0; n < spans.size(); ++n) {
        // The spans tile the file, and each line starts with its command's name.
        EXPECT_EQ(spans[n].offset, offset);
        offset += spans[n].size;
        const char* name = xsvfCommandName(spans[n].code);
        const std::string expected = (name == nullptr || spans[n].code == 5 || spans[n].code == 6) ? "UNKNOWN" : name;
        EXPECT_EQ(listed[n].substr(0, listed[n].find(' ')), expected) << "line " << n + 1;
    }
    EXPECT_EQ(offset, bytes.size());
}

TEST(XsvfText, CommentsAndBlankLinesInTheInputDoNotShiftTheListing) {
    const Bytes bytes = assemble(
        "# a fixture with notes\n"
        "\n"
        "XSDRSIZE 8   # one byte\r\n"
        "  xsdrtdo 0x1 0XfF  # lower case names, short vectors\n"
        "\t# indented note\n"
        "XCOMMENT \"a # inside text\"  # a real comment\n"
        "XENDIR 2\n"
        "XCOMPLETE");
    // Line 4 of the listing is the fourth command: where a player stops on XENDIR 2.
    EXPECT_EQ(lines(disassembleXsvf(bytes)),
              (std::vector<std::string>{"XSDRSIZE 8", "XSDRTDO 0x01 0xff", "XCOMMENT \"a # inside text\"",
                                        "XENDIR 2", "XCOMPLETE"}));
}

TEST(XsvfText, InputAcceptsNamesForStatesAndHexForNumbers) {
    EXPECT_EQ(assemble("XSTATE RUNTEST/IDLE\nXSTATE drpause\nXENDIR IRPAUSE\nXENDDR DRPAUSE\n"
                       "XENDDR RUNTEST/IDLE\nXWAIT DRPAUSE RUNTEST/IDLE 0x10\nXRUNTEST 0x000003e8\n"
                       "Reserved5\nreserved6\n"),
              (Bytes{18, 1, 18, 6, 19, 1, 20, 1, 20, 0, 23, 6, 1, 0, 0, 0, 16, 4, 0, 0, 3, 0xE8, 5, 6}));
}

TEST(XsvfText, VectorsFollowTheLastXsdrsizeAndXsdrincPiecesTheDataMask) {
    // Before any XSDRSIZE the vectors are empty; masks keep the length they
    // had when set, even after a later XSDRSIZE.
    const std::string text =
        "XTDOMASK 0x\n"
        "XSDR 0x\n"
        "XSDRSIZE 16\n"
        "XSETSDRMASKS 0x0000 0x01ff\n"      // 9 ones: 2-byte pieces
        "XSDRSIZE 24\n"
        "XSDRINC 0x000000 1 0x0155\n"
        "XSDRSIZE 4097\n"
        "XSETSDRMASKS 0x" + std::string(1026, '0') + " 0x" + std::string(1026, '0') + "\n"
        "XSDRINC 0x" + std::string(1026, 'a') + " 3 0x 0x 0x\n";  // zero ones: empty pieces
    const Bytes bytes = assemble(text);
    EXPECT_EQ(bytes.size(), 1u + 1u + 5u + 5u + 5u + (1u + 3u + 1u + 2u) + 5u + (1u + 2u * 513u) + (1u + 513u + 1u));
    EXPECT_EQ(disassembleXsvf(bytes), text);
}

TEST(XsvfText, CommentTextEscapesRoundTrip) {
    Bytes bytes = {22};
    for (int c = 1; c < 256; ++c) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    const std::string text = disassembleXsvf(bytes);
    EXPECT_NE(text.find("!\\\"#"), std::string::npos);  // quote escaped
    EXPECT_NE(text.find("[\\\\]"), std::string::npos);  // backslash escaped
    EXPECT_EQ(lines(text).size(), 2u);                       // newline escaped, not broken
    EXPECT_EQ(assemble(text), bytes);
    EXPECT_EQ(assemble("XCOMMENT \"tab\\there\\r\\n\\x7f\\\"\"\n"),
              (Bytes{22, 't', 'a', 'b', '\t', 'h', 'e', 'r', 'e', '\r', '\n', 0x7F, '"', 0}));
}

TEST(XsvfText, EveryTruncationOfAFileListsFlaggedAndRoundTrips) {
    const Bytes whole = assemble(kEveryCommand);
    const std::size_t commands = splitXsvf(whole).size();
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string text = disassembleXsvf(prefix);
        const std::vector<XsvfCommandSpan> spans = splitXsvf(prefix);
        ASSERT_LE(spans.size(), commands);
        ASSERT_EQ(lines(text).size(), spans.size()) << "size " << size;
        if (!spans.empty() && spans.back().truncated) {
            EXPECT_EQ(lines(text).back().rfind("TRUNCATED ", 0), 0u) << "size " << size << ": " << text;
        }
        Bytes back;
        std::string error;
        ASSERT_TRUE(assembleXsvf(text, back, error)) << "size " << size << ": " << error;
        ASSERT_EQ(back, prefix) << "size " << size;
    }
}

TEST(XsvfText, TruncatedCommandShowsTheBytesPresent) {
    const Bytes bytes = {8, 0, 0, 0, 16, 9, 0x00, 0xFF, 0x01};
    EXPECT_EQ(disassembleXsvf(bytes), "XSDRSIZE 16\nTRUNCATED XSDRTDO 0x00ff01  # end of file inside the operands\n");
    EXPECT_EQ(disassembleXsvf(Bytes{22, 'a', 'b'}), "TRUNCATED XCOMMENT 0x6162  # end of file inside the operands\n");
    const std::vector<XsvfCommandSpan> spans = splitXsvf(bytes);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_TRUE(spans[1].truncated);
    EXPECT_EQ(spans[1].size, 4u);
}

TEST(XsvfText, HugeSizesStillListWithinTheFile) {
    // XSDRSIZE 0xFFFFFFFF: the vectors after it cannot be in the file.
    const Bytes bytes = {8, 0xFF, 0xFF, 0xFF, 0xFF, 3, 1, 2, 3};
    const std::string text = disassembleXsvf(bytes);
    EXPECT_EQ(text, "XSDRSIZE 4294967295\nTRUNCATED XSDR 0x010203  # end of file inside the operands\n");
    EXPECT_EQ(assemble(text), bytes);
    EXPECT_NE(assembleError("XSDRSIZE 4294967295\nXSDR 0x01\n").find("line 2: XSDR: a vector of 536870912 bytes"),
              std::string::npos);
}

TEST(XsvfText, AssemblerErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"XCOMPLETE\nXFOO 1\n", "line 2: unknown command 'XFOO'"},
        {"# note\nXSDRSIZE 8\nXSDR 0x123\n", "line 3: XSDR: 0x123 does not fit in 1 byte"},
        {"XSIR 8 0x1ff\n", "line 1: XSIR: 0x1ff does not fit in 1 byte"},
        {"XSIR 256 0x00\n", "line 1: XSIR: 256 does not fit in 1 byte"},
        {"XSIR2 65536 0x00\n", "line 1: XSIR2: 65536 does not fit in 2 bytes"},
        {"XSDRSIZE 4294967296\n", "line 1: XSDRSIZE: 4294967296 does not fit in 4 bytes"},
        {"XRUNTEST 12a\n", "line 1: XRUNTEST: '12a' is not a number"},
        {"XRUNTEST\n", "line 1: XRUNTEST needs 1 operand"},
        {"XSDRSIZE 8\nXSDRTDO 0x01\n", "line 2: XSDRTDO needs 2 operands"},
        {"XCOMPLETE 1\n", "line 1: XCOMPLETE: unexpected operand '1'"},
        {"XSDRSIZE 8\nXSDR 12\n", "line 2: XSDR: '12' is not a hex vector (0x...)"},
        {"XSDRSIZE 8\nXSDR 0x1g\n", "line 2: XSDR: '0x1g' is not a hex vector (0x...)"},
        {"XSDRSIZE 8\nXSETSDRMASKS 0x00 0x03\nXSDRINC 0x00 2 0x01\n", "line 3: XSDRINC: the count says 2 pieces, the line has 1"},
        {"XSDRSIZE 8\nXSETSDRMASKS 0x00 0x03\nXSDRINC 0x00 1 0x101\n", "line 3: XSDRINC: 0x101 does not fit in 1 byte"},
        {"XCOMMENT \"open\n", "line 1: text without its closing quote"},
        {"XCOMMENT bare\n", "line 1: XCOMMENT: the text must be in double quotes"},
        {"XCOMMENT \"a\\x00b\"\n", "line 1: XCOMMENT: a 0 byte would end the text early"},
        {"XCOMMENT \"\\q\"\n", "line 1: unknown escape \\q"},
        {"XCOMMENT \"\\x4\"\n", "line 1: \\x needs two hex digits"},
        {"XSTATE NOWHERE\n", "line 1: XSTATE: 'NOWHERE' is not a number"},
        {"XENDIR DRPAUSE\n", "line 1: XENDIR: 'DRPAUSE' is not a number"},
        {"UNKNOWN 0x02\n", "line 1: UNKNOWN: 0x02 is the code of XSIR"},
        {"UNKNOWN 256\n", "line 1: UNKNOWN: 256 does not fit in 1 byte"},
        {"TRUNCATED XSDRSIZE 0x0000\nXCOMPLETE\n", "line 2: nothing can follow a TRUNCATED command"},
        {"XCOMPLETE\nTRUNCATED XSIR 0x0801\n", "line 2: TRUNCATED: these bytes are not a command cut short"},
        {"TRUNCATED XSIR 0x081\n", "line 1: TRUNCATED: the operand bytes must be written as 0x and two digits per byte"},
        {"TRUNCATED XCOMPLETE 0x\n", "line 1: TRUNCATED: these bytes are not a command cut short"},
        {"TRUNCATED UNKNOWN 0x05\n", "line 1: TRUNCATED takes a command name"},
        {"\"XCOMPLETE\"\n", "line 1: a line starts with a command name, not text"},
    };
    for (const Case& c : cases) {
        const std::string error = assembleError(c.text);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << "text: " << c.text << "\nerror: " << error;
    }
}

TEST(XsvfText, ZeroMasksClearsOnlyXtdomaskOperands) {
    Bytes bytes = assemble(
        "XSDRSIZE 16\n"
        "XTDOMASK 0xffff\n"
        "XSDRTDO 0x0001 0x0001\n"      // TDO bytes stay
        "XCOMMENT \"\\x01\\xff\"\n"     // a comment byte equal to the XTDOMASK code stays
        "XSDRSIZE 8\n"
        "XTDOMASK 0x0f\n"
        "TRUNCATED XTDOMASK 0x");
    EXPECT_EQ(zeroXsvfTdoMasks(bytes), 3u);
    EXPECT_EQ(disassembleXsvf(bytes),
              "XSDRSIZE 16\n"
              "XTDOMASK 0x0000\n"
              "XSDRTDO 0x0001 0x0001\n"
              "XCOMMENT \"\\x01\\xff\"\n"
              "XSDRSIZE 8\n"
              "XTDOMASK 0x00\n"
              "TRUNCATED XTDOMASK 0x  # end of file inside the operands\n");
}

// ------------------------------------------------------------------ corpus

const std::filesystem::path kCorpus = testkit::corpusDir() / "xsvf";

// Every .xsvf file of the corpus; skips, or fails where the corpus is
// required, when there is none.
class XsvfCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(kCorpus, ec)) {
            if (entry.path().extension() == ".xsvf") {
                files.push_back(entry.path());
            }
        }
        if (files.empty()) {
            if (testkit::corpusRequired) {
                FAIL() << "no XSVF file in " << kCorpus;
            }
            GTEST_SKIP() << "no XSVF file in " << kCorpus;
        }
    }

    std::vector<std::filesystem::path> files;
};

Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(XsvfCorpus, EveryFileRoundTripsExactly) {
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const Bytes original = readBytes(path);
        ASSERT_FALSE(original.empty());
        const std::string text = disassembleXsvf(original);
        const std::vector<XsvfCommandSpan> spans = splitXsvf(original);
        EXPECT_EQ(lines(text).size(), spans.size());
        EXPECT_EQ(text.find("TRUNCATED"), std::string::npos);
        EXPECT_EQ(text.find("UNKNOWN"), std::string::npos);
        EXPECT_EQ(lines(text).back(), "XCOMPLETE");
        Bytes back;
        std::string error;
        ASSERT_TRUE(assembleXsvf(text, back, error)) << error;
        EXPECT_TRUE(back == original);
    }
}

TEST_F(XsvfCorpus, ZeroMasksKeepsEverythingButTheMasks) {
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const Bytes original = readBytes(path);
        Bytes zeroed = original;
        const std::size_t masks = zeroXsvfTdoMasks(zeroed);
        EXPECT_GT(masks, 0u);
        const std::vector<std::string> before = lines(disassembleXsvf(original));
        const std::vector<std::string> after = lines(disassembleXsvf(zeroed));
        ASSERT_EQ(before.size(), after.size());
        std::size_t seen = 0;
        for (std::size_t n = 0; n < before.size(); ++n) {
            if (before[n].rfind("XTDOMASK ", 0) == 0) {
                ++seen;
                EXPECT_EQ(after[n].find_first_not_of('0', 11), std::string::npos) << after[n];
                EXPECT_EQ(after[n].size(), before[n].size());
            } else {
                EXPECT_EQ(after[n], before[n]);
            }
        }
        EXPECT_EQ(seen, masks);
    }
}

}  // namespace
