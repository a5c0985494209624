// The uploads' wire sequences, watched through recording fakes of the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "CartridgeCommands.h"
#include "FakeDriver.h"
#include "TempFiles.h"
#include "Uploader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr DWORD kAll = std::numeric_limits<DWORD>::max();  // "report every byte written"

struct Step {
    FT_STATUS status;
    DWORD count;  // kAll: the count asked for
};

FT_HANDLE handleOf(std::uintptr_t n) { return reinterpret_cast<FT_HANDLE>(n); }

Bytes header(int code) { return {0x53, 0x59, static_cast<std::uint8_t>(code)}; }
Bytes le16(unsigned n) { return {static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)}; }

// The first `length` bytes of a buffer holding a pattern file of `fileSize` bytes, zeros behind it.
Bytes body(std::size_t fileSize, std::size_t length) {
    Bytes out = TempFiles::patternBytes(std::min(fileSize, length));
    out.resize(length, 0);
    return out;
}

// What follows the block count: 64-byte header, file area, 8128 zeros.
Bytes programStream(const std::string& commands, std::size_t fileSize) {
    const std::size_t area = (fileSize / 8192 + 1) * 8192;
    Bytes out(64, 0);
    std::memcpy(out.data(), commands.data(), std::min<std::size_t>(commands.size(), 63));
    Bytes file = body(fileSize, area);
    out.insert(out.end(), file.begin(), file.end());
    out.resize(64 + area + 8128, 0);
    return out;
}

class UploaderTest : public FakeLinkTest {
protected:

    // FT_Write call `index` answers with `step`; all others write everything.
    void failWrite(int index, Step step) {
        fakeDriver().onWrite = [this, index, step](const std::uint8_t*, DWORD count, DWORD* written) {
            const int current = writes++;
            if (current == index) {
                *written = step.count == kAll ? count : step.count;
                return step.status;
            }
            *written = count;
            return FT_OK;
        };
    }

    // The payloads of all FT_Write calls, and the call names without open-sequence noise.
    static std::vector<Bytes> writtenPayloads() {
        std::vector<Bytes> out;
        for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) out.push_back(call.data);
        return out;
    }

    // The file of a case (a missing one for size -1), FT_Write call `failAt`
    // answering with `step`, and the acknowledgement queued.
    std::string arrange(const char* name, long fileSize, int failAt, Step step) {
        writes = 0;
        if (failAt >= 0) failWrite(failAt, step);
        fakeDriver().queueRx({0});  // the acknowledgement, when one is awaited
        return fileSize < 0 ? files.missing(name) : files.pattern(name, static_cast<std::size_t>(fileSize));
    }

    TempFiles files;
    int writes = 0;
};

struct FileCase {
    const char* name;
    std::uint8_t command;
    long fileSize;  // -1: no such file
    int failAt;     // FT_Write call that answers with `step`, -1 none
    Step step;
    int result;
    std::vector<Bytes> writes;  // WaitAck's header included when it runs
    const char* errorLine;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

std::vector<FileCase> fileCases() {
    const Bytes ack = header(7);
    return {
        {"data100", cmdUploadData, 100, -1, {}, 1, {header(9), {100, 0}, body(100, 101), ack}, ""},
        {"data20000CutTo16384", cmdUploadData, 20000, -1, {}, 1, {header(9), {0x00, 0x40}, body(16384, 16385), ack},
         ""},
        {"dataFullWindowTrailsZero", cmdUploadData, 16384, -1, {}, 1,
         {header(9), le16(16384), body(16384, 16385), ack}, ""},
        {"dataEmpty", cmdUploadData, 0, -1, {}, 1, {header(9), {0, 0}, {0}, ack}, ""},
        {"dataLengthWriteFailureIgnored", cmdUploadData, 100, 1, {FT_IO_ERROR, 0}, 1,
         {header(9), {100, 0}, body(100, 101), ack}, ""},
        {"dataBodyShort", cmdUploadData, 100, 2, {FT_OK, 100}, -2, {header(9), {100, 0}, body(100, 101)},
         "Error: Upload data failed (-2)\n"},
        {"dataBodyError", cmdUploadData, 100, 2, {FT_IO_ERROR, kAll}, -2, {header(9), {100, 0}, body(100, 101)},
         "Error: Upload data failed (-2)\n"},
        {"dataHeaderError", cmdUploadData, 100, 0, {FT_IO_ERROR, kAll}, -2, {header(9)},
         "Error: Upload data failed (-2)\n"},
        {"dataHeaderShort", cmdUploadData, 100, 0, {FT_OK, 2}, -2, {header(9)}, "Error: Upload data failed (-2)\n"},
        {"dataMissing", cmdUploadData, -1, -1, {}, -3, {}, "Error: Upload data failed (-3)\n"},
        {"firmware20000", cmdUploadFirmware, 20000, -1, {}, 1, {header(2), body(20000, 16384), ack}, ""},
        {"firmwareShortFileAccepted", cmdUploadFirmware, 100, -1, {}, 1, {header(2), body(100, 16384), ack}, ""},
        {"firmwareBodyShort", cmdUploadFirmware, 20000, 1, {FT_OK, 16383}, -2, {header(2), body(20000, 16384)},
         "Error: Upload firmware failed (-2)\n"},
        {"firmwareHeaderError", cmdUploadFirmware, 20000, 0, {FT_IO_ERROR, kAll}, -2, {header(2)},
         "Error: Upload firmware failed (-2)\n"},
        {"firmwareMissing", cmdUploadFirmware, -1, -1, {}, -3, {}, "Error: Upload firmware failed (-3)\n"},
    };
}

class UploadFile : public UploaderTest, public testing::WithParamInterface<FileCase> {};

TEST_P(UploadFile, WireSequence) {
    const FileCase& c = GetParam();
    const std::string path = arrange(c.name, c.fileSize, c.failAt, c.step);

    Uploader uploader(&link);
    ConsoleCapture console;
    EXPECT_EQ(uploader.UploadFile(path.c_str(), c.command), c.result);

    const char* intro = c.command == cmdUploadFirmware ? "Uploading firmare " : "Uploading data ";
    EXPECT_EQ(console.out(), intro + path + ".\n" + c.errorLine);
    EXPECT_EQ(writtenPayloads(), c.writes);
    // No acknowledgement wait after a failure.
    EXPECT_EQ(fakeDriver().callsOf("FT_Read").size(), c.result == 1 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, UploadFile, testing::ValuesIn(fileCases()), caseName<FileCase>);

TEST_F(UploaderTest, UploadFileWithoutWriteEntry) {
    link.FT_Write = nullptr;
    Uploader uploader(&link);
    const std::string path = files.pattern("data", 10);
    ConsoleCapture console;
    EXPECT_EQ(uploader.UploadFile(path.c_str(), cmdUploadData), -2);
    EXPECT_EQ(console.out(),
              "Uploading data " + path + ".\nError: FT_Write is not valid!\nError: Upload data failed (-2)\n");
    EXPECT_TRUE(fakeDriver().calls.empty());
}

struct PrgCase {
    const char* name;
    long fileSize;  // -1: no such file
    std::string commands;
    int failAt;
    Step step;
    int result;
    Bytes count;      // the block count write; empty when not reached
    bool bodySent;
    const char* errorLine;
};
void PrintTo(const PrgCase& c, std::ostream* os) { *os << c.name; }

std::vector<PrgCase> prgCases() {
    const std::string cmds100(100, 'x');
    return {
        {"program10000", 10000, "le:g", -1, {}, 1, {0x02, 0x00}, true, ""},
        {"emptyProgram", 0, "le:", -1, {}, 1, {0x01, 0x00}, true, ""},
        {"exactly8192", 8192, "le:", -1, {}, 1, {0x02, 0x00}, true, ""},
        {"just8193", 8193, "le:", -1, {}, 1, {0x02, 0x00}, true, ""},
        {"largeProgram", 600000, "le:", -1, {}, 1, le16(74), true, ""},
        {"commandsKeep63", 10, cmds100, -1, {}, 1, {0x01, 0x00}, true, ""},
        {"bodyStatusNotExamined", 10, "le:", 2, {FT_IO_ERROR, kAll}, 1, {0x01, 0x00}, true, ""},
        {"headerError", 10, "le:", 0, {FT_IO_ERROR, kAll}, -2, {}, false, "Error: UploadPrgFile failed (-2)\n"},
        {"headerShort", 10, "le:", 0, {FT_OK, 1}, -2, {}, false, "Error: UploadPrgFile failed (-2)\n"},
        {"countError", 10, "le:", 1, {FT_IO_ERROR, 0}, -2, {0x01, 0x00}, false, "Error: UploadPrgFile failed (-2)\n"},
        {"countShort", 10, "le:", 1, {FT_OK, 1}, -2, {0x01, 0x00}, false, "Error: UploadPrgFile failed (-2)\n"},
        {"missing", -1, "le:", -1, {}, -3, {}, false, "Error: UploadPrgFile failed (-3)\n"},
    };
}

class UploadPrgFile : public UploaderTest, public testing::WithParamInterface<PrgCase> {};

TEST_P(UploadPrgFile, WireSequence) {
    const PrgCase& c = GetParam();
    const std::string path = arrange(c.name, c.fileSize, c.failAt, c.step);

    Uploader uploader(&link);
    std::memset(uploader.commands, 0, sizeof uploader.commands);
    std::memcpy(uploader.commands, c.commands.data(), c.commands.size());
    ConsoleCapture console;
    EXPECT_EQ(uploader.UploadPrgFile(path.c_str()), c.result);
    EXPECT_EQ(console.out(), "Uploading prg-file " + path + ".\n" + c.errorLine);

    std::vector<Bytes> expected;
    std::vector<std::string> sequence;
    if (c.fileSize >= 0) {
        expected.push_back(header(3));
        sequence.push_back("FT_Write");
    }
    if (!c.count.empty()) {
        expected.push_back(c.count);
        sequence.push_back("FT_Write");
    }
    if (c.bodySent) {
        expected.push_back(programStream(c.commands, static_cast<std::size_t>(c.fileSize)));
        expected.push_back(header(7));
        sequence.insert(sequence.end(), {"FT_Purge", "FT_Write", "FT_Write", "FT_Read"});
    }
    EXPECT_EQ(writtenPayloads(), expected);
    EXPECT_EQ(fakeDriver().sequence(), sequence);
    if (c.bodySent) {
        EXPECT_EQ(fakeDriver().callsOf("FT_Purge")[0].args[0], 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, UploadPrgFile, testing::ValuesIn(prgCases()), caseName<PrgCase>);

// Writes that take part of the stream, or nothing at all (a stall): every
// byte still goes out exactly once, and each stall reopens the device.
struct StallCase {
    const char* name;
    std::vector<DWORD> bodyCounts;  // what each body write reports; kAll ends it
    int reopens;
};
void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }
const StallCase kStallCases[] = {
    {"partial", {5000, 5000, kAll}, 0},
    {"stallsTwice", {1000, 0, 3000, 0, kAll}, 2},
};

class UploadPrgFileStalls : public UploaderTest, public testing::WithParamInterface<StallCase> {};

TEST_P(UploadPrgFileStalls, EveryByteGoesOutOnce) {
    const StallCase& c = GetParam();
    link.deviceHandle = handleOf(100);
    const std::string path = files.pattern("program", 10000);
    const Bytes stream = programStream("le:g", 10000);
    Bytes accepted;
    std::vector<DWORD> asked;
    std::size_t bodyWrite = 0;
    int call = 0;
    fakeDriver().onWrite = [&](const std::uint8_t* data, DWORD count, DWORD* written) {
        if (call++ < 2 || count == 3) {  // command header, block count, poll
            *written = count;
            return FT_OK;
        }
        if (bodyWrite >= c.bodyCounts.size()) throw std::runtime_error("body written too often");
        const DWORD n = c.bodyCounts[bodyWrite] == kAll ? count : c.bodyCounts[bodyWrite];
        ++bodyWrite;
        asked.push_back(count);
        accepted.insert(accepted.end(), data, data + n);
        *written = n;
        return n == 0 ? FT_IO_ERROR : FT_OK;
    };
    fakeDriver().queueRx({0});

    Uploader uploader(&link);
    std::memcpy(uploader.commands, "le:g", 5);
    ConsoleCapture console;
    EXPECT_EQ(uploader.UploadPrgFile(path.c_str()), 1);
    EXPECT_EQ(console.out(), "Uploading prg-file " + path + ".\n");
    EXPECT_EQ(accepted, stream);

    // Every body write asks for all that is left.
    std::size_t left = stream.size();
    for (std::size_t i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(asked[i], left) << "body write " << i;
        left -= c.bodyCounts[i] == kAll ? asked[i] : c.bodyCounts[i];
    }

    // Each stall: close the old handle, the whole open sequence, purge; later calls use the new handle.
    const auto closes = fakeDriver().callsOf("FT_Close");
    ASSERT_EQ(closes.size(), static_cast<std::size_t>(c.reopens));
    EXPECT_EQ(fakeDriver().callsOf("FT_OpenEx").size(), static_cast<std::size_t>(c.reopens));
    EXPECT_EQ(fakeDriver().callsOf("sleep").size(), static_cast<std::size_t>(c.reopens));
    EXPECT_EQ(fakeDriver().callsOf("FT_Purge").size(), static_cast<std::size_t>(1 + 2 * c.reopens));
    // The device starts on handle 100; the n-th reopening hands out handle n.
    for (int i = 0; i < c.reopens; ++i) {
        EXPECT_EQ(closes[i].handle, handleOf(i == 0 ? 100 : i));
    }
    if (c.reopens == 2) {
        const std::vector<std::string> afterStall = {
            "FT_Write",        "FT_Close",           "FT_OpenEx",     "FT_ResetDevice", "FT_SetTimeouts",
            "FT_Purge",        "FT_SetUSBParameters", "FT_SetLatencyTimer", "FT_SetBitMode", "sleep",
            "FT_SetBitMode",   "FT_Purge",           "FT_Write"};
        const auto seq = fakeDriver().sequence();
        // header, count, purge, first body write, then the stalled write and its recovery
        EXPECT_EQ(std::vector<std::string>(seq.begin() + 4, seq.begin() + 4 + afterStall.size()), afterStall);
    }
    const FakeCall lastRead = fakeDriver().callsOf("FT_Read").back();
    EXPECT_EQ(lastRead.handle, handleOf(c.reopens == 0 ? 100 : c.reopens));
}

INSTANTIATE_TEST_SUITE_P(Writes, UploadPrgFileStalls, testing::ValuesIn(kStallCases), caseName<StallCase>);

TEST(ProgramImageSize, BlocksAndOverflow) {
    constexpr std::uint64_t sizeMax = std::numeric_limits<std::size_t>::max();
    constexpr std::uint64_t maxBlocks = (sizeMax - 32768 - 64) / 8192;
    struct Case {
        std::uint64_t fileSize;
        bool fits;
        std::size_t fileArea;
        std::size_t stream;
    };
    const Case cases[] = {
        {0, true, 8192, 16384},
        {8191, true, 8192, 16384},
        {8192, true, 16384, 24576},
        {10000, true, 16384, 24576},
        {(maxBlocks - 1) * 8192, true, static_cast<std::size_t>(maxBlocks * 8192),
         static_cast<std::size_t>(maxBlocks * 8192 + 8192)},
        {maxBlocks * 8192, false, 0, 0},
        {sizeMax, false, 0, 0},
        {std::numeric_limits<std::uint64_t>::max(), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileSize);
        ProgramImageSize size{};
        ASSERT_EQ(programImageSize(c.fileSize, &size), c.fits);
        if (c.fits) {
            EXPECT_EQ(size.fileArea, c.fileArea);
            EXPECT_EQ(size.streamBytes, c.stream);
            EXPECT_EQ(size.allocBytes, c.fileArea + 32768 + 64);
        }
    }
}

// The block count has 16 bits: a program of 0xFFFF blocks or more would go
// out as a wrapped count and a fraction of the file. It is refused before
// anything is sent (the files are holes: no room taken, nothing read).
TEST_F(UploaderTest, ProgramWhoseBlockCountWouldWrapIsRefused) {
    EXPECT_EQ(PROGRAM_SIZE_LIMIT, 512ull * 1024 * 1024 - 8192);
    ProgramImageSize largest{};
    ASSERT_TRUE(programImageSize(PROGRAM_SIZE_LIMIT - 1, &largest));
    EXPECT_EQ(largest.fileArea / 8192, 0xFFFFu) << "the largest accepted program still fits the count";

    for (const std::uint64_t size : {PROGRAM_SIZE_LIMIT, PROGRAM_SIZE_LIMIT + 8191, PROGRAM_SIZE_LIMIT + 8192,
                                     std::uint64_t(5) << 30}) {
        SCOPED_TRACE(size);
        TempFiles files;
        const std::string path = files.write("huge.prg", {});
        std::filesystem::resize_file(path, size);
        fakeDriver().calls.clear();
        Uploader uploader(&link);
        ConsoleCapture console;
        EXPECT_EQ(uploader.UploadPrgFile(path.c_str()), -4);
        EXPECT_EQ(console.out(), "Uploading prg-file " + path + ".\nError: UploadPrgFile failed (-4)\n");
        EXPECT_EQ(console.err(), "Error: " + path +
                                     " is too large for the cartridge: a program must be under 536862720 bytes.\n");
        EXPECT_TRUE(fakeDriver().calls.empty());
    }
}

#if defined(__linux__)
// A file whose size cannot be taken (a pipe) gives a size that cannot be
// allocated: out of memory, and nothing is sent.
TEST_F(UploaderTest, UploadPrgFileOfUnknownSizeIsOutOfMemory) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ::close(fds[1]);
    const std::string path = "/proc/self/fd/" + std::to_string(fds[0]);

    Uploader uploader(&link);
    ConsoleCapture console;
    EXPECT_EQ(uploader.UploadPrgFile(path.c_str()), -4);
    ::close(fds[0]);
    EXPECT_EQ(console.out(), "Uploading prg-file " + path + ".\nError: UploadPrgFile failed (-4)\n");
    EXPECT_TRUE(fakeDriver().calls.empty());
}
#endif

}  // namespace
