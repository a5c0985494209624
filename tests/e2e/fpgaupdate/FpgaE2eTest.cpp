// The real VexloFPGAUpdate against the cartridge emulator: XSVF files that
// use every command complete against the JTAG model, fail with the player's
// texts where the model's TDO differs, the corpus files play to the end, and
// the pins can be forwarded to a remote_bitbang server instead.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "Corpus.h"
#include "JtagDevice.h"
#include "ProgramRun.h"
#include "XsvfText.h"

namespace {

const std::string BANNER =
    "Vexlo FPGA update version 1.0\n--------------------------------\n\n"
    "Do not disconnect the cartridge from USB or switch off your Atari!\n\n"
    "If the update hangs you maybe selected a char in the terminal\nwindow with the mouse. This forces the "
    "update to pause.\nIn this case just press return.\n\nPress return to continue.";
const std::string COMPLETED = "Completed FPGA update.            \n";

std::string sampleListing() { return readFile(std::string(SAMPLES_DIR) + "/top.xsvf.txt"); }

std::string replaceLine(const std::string& text, const std::string& from, const std::string& to) {
    const auto at = text.find(from + "\n");
    EXPECT_NE(at, std::string::npos) << from;
    std::string out = text;
    out.replace(at, from.size(), to);
    return out;
}

// Command numbers are line numbers of the listing.
long lineOf(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    std::string l;
    long n = 0;
    while (std::getline(in, l)) {
        ++n;
        if (l == line) {
            return n;
        }
    }
    ADD_FAILURE() << "no line " << line;
    return -1;
}

std::string workDirWith(const std::string& listing) {
    const std::string dir = makeTestWorkDir("fpga_");
    std::vector<std::uint8_t> xsvf;
    std::string error;
    EXPECT_TRUE(assembleXsvf(listing, xsvf, error)) << error;
    writeBytes(dir + "/top.xsvf", xsvf);
    return dir;
}

ProgramResult runUpdate(const std::string& dir, const std::string& config = "",
                        const std::string& libraryDir = EMULATOR_DIR, int timeout = 60,
                        const std::vector<std::string>& args = {}) {
    ProgramRun run = emulatedRun(FPGA_PROGRAM, dir, args, libraryDir, config);
    run.input = "\n";
    run.timeoutSeconds = timeout;
    return runProgram(run);
}

TEST(FpgaE2e, SampleUsingEveryCommandCompletesAgainstTheModel) {
    const std::string dir = workDirWith(sampleListing());
    const auto r = runUpdate(dir);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTimes(r.out), BANNER + "\nErasing prom (15s)\n" + COMPLETED + "Time to execute T\n");
    EXPECT_EQ(r.err, "");
    const std::string log = readFile(dir + "/out/emulator.log");
    EXPECT_NE(log.find("FT_SetUSBParameters(in 6400, out 6400)"), std::string::npos);
    EXPECT_NE(log.find("FT_SetLatencyTimer(1 ms)"), std::string::npos);
    EXPECT_NE(log.find("JTAG IDCODE read: 0x0ace50db"), std::string::npos);
    // The B/C/E pieces went through as one visit of Shift-DR.
    EXPECT_NE(log.find("JTAG DR scan, 48 bits: in 0x666655554444, out 0x333322221111"), std::string::npos);
}

TEST(FpgaE2e, BlockShiftOf4097BitsReachesTheRegister) {
    std::string block(1026, '0');
    const auto pattern = sampleBytes(513, 7);
    static const char hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < 513; ++i) {
        block[2 * i] = hex[pattern[i] >> 4];
        block[2 * i + 1] = hex[pattern[i] & 15];
    }
    block[0] = '0';  // 4097 bits: only the top byte's low bit is used
    block[1] = '1';
    const std::string lastTwo = block.substr(1022);
    const std::string listing = "XSTATE RESET\nXSTATE RUNTEST/IDLE\nXSIR 8 0x03\nXSDRSIZE 4097\nXSDRE 0x" + block +
                                "\nXSDRSIZE 16\nXTDOMASK 0xffff\nXSDRTDO 0x0000 0x" + lastTwo + "\nXCOMPLETE\n";
    const std::string dir = workDirWith(listing);
    const auto r = runUpdate(dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTimes(r.out),
              BANNER + "\nErasing prom (15s)\nWriting FPGA block = 1/555\r" + COMPLETED + "Time to execute T\n");
    EXPECT_NE(readFile(dir + "/out/emulator.log").find("JTAG DR scan, 4097 bits"), std::string::npos);
}

struct MismatchCase {
    const char* name;
    const char* config;
    const char* from;  // line of the sample replaced ("" = none)
    const char* to;
    const char* failingLine;
    const char* text;
    int status;  // the player's error code
};
void PrintTo(const MismatchCase& c, std::ostream* os) { *os << c.name; }

class Mismatch : public ::testing::TestWithParam<MismatchCase> {};

TEST_P(Mismatch, FailsWithThePlayersTextAndPlace) {
    const MismatchCase& c = GetParam();
    std::string listing = sampleListing();
    if (std::string(c.from).size() != 0) {
        listing = replaceLine(listing, c.from, c.to);
    }
    const long line = lineOf(listing, c.failingLine);
    const std::string dir = workDirWith(listing);
    const auto r = runUpdate(dir, c.config);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status);
    std::ostringstream where;
    where << "ERROR at or near XSVF command #" << line << ".  See line #" << line << " in the XSVF ASCII file.\n";
    EXPECT_EQ(maskTimes(r.out),
              BANNER + "\nErasing prom (15s)\n" + c.text + "\n" + where.str() + "Time to execute T\n");
}

const MismatchCase mismatchCases[] = {
    // Another device on the chain: the IDCODE check fails after its repeats.
    {"other_idcode_with_repeats", "jtag_idcode=0x12345679", "", "", "XSDRTDO 0x00000000 0x0ace50db",
     "ERROR:  TDO mismatch and exceeded max retries", 3},
    {"other_idcode_no_repeats", "jtag_idcode=0x12345679", "XREPEAT 3", "XREPEAT 0", "XSDRTDO 0x00000000 0x0ace50db",
     "ERROR:  TDO mismatch", 2},
    // The register holds what the previous visit stored, not what the file expects.
    {"register_contents_differ", "", "XSDRTDOE 0x6666 0x3333", "XSDRTDOE 0x6666 0x3334", "XSDRTDOE 0x6666 0x3334",
     "ERROR:  TDO mismatch", 2},
    {"register_keeps_what_xsdr_stored", "", "XSDR 0x5678", "XSDR 0x5679", "XSDRTDO 0x0000 0x5678",
     "ERROR:  TDO mismatch and exceeded max retries", 3},
    // BYPASS captures 0. (Expecting 1 after shifting in 1 would pass on the
    // first repeat: the repeat from Pause-DR stays in the same visit.)
    {"bypass_captures_zero", "", "XSDRTDO 0x01 0x00", "XSDRTDO 0x00 0x01", "XSDRTDO 0x00 0x01",
     "ERROR:  TDO mismatch and exceeded max retries", 3},
};

INSTANTIATE_TEST_SUITE_P(Model, Mismatch, ::testing::ValuesIn(mismatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FpgaE2e, NoCartridgeReportsTheOpenFailure) {
    const std::string dir = workDirWith(sampleListing());
    const auto r = runUpdate(dir, "cartridge=absent");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + "\n");
    EXPECT_EQ(r.err, "Unable to option Vexlo cartridge.\n");
}

TEST(FpgaE2e, NoDriverLibraryReportsTheLoadAndOpenFailures) {
    const std::string dir = workDirWith(sampleListing());
    const auto r = runUpdate(dir, "", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Error: Can't Load Ftd2xx.dll\n" + BANNER + "\nError: FT_OpenEx is not valid!\n");
    EXPECT_EQ(r.err.substr(0, 37), "Error: the driver library libftd2xx.s") << r.err;
    EXPECT_NE(r.err.find("LD_LIBRARY_PATH"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Unable to option Vexlo cartridge.\n");
}

TEST(FpgaE2e, MissingXsvfFileAfterTheLinkIsTuned) {
    const std::string dir = makeWorkDir("fpga_missing_file");
    const auto r = runUpdate(dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + "\n");
    EXPECT_EQ(r.err, "File top.xsvf not found\n");
    const std::string log = readFile(dir + "/out/emulator.log");
    EXPECT_NE(log.find("FT_SetUSBParameters(in 6400, out 6400)"), std::string::npos);
    EXPECT_NE(log.find("FT_SetLatencyTimer(1 ms)"), std::string::npos);
}

// The file to play named on the command line; top.xsvf is not looked at.
TEST(FpgaE2e, NamedXsvfFileIsPlayed) {
    const std::string dir = workDirWith(sampleListing());
    std::filesystem::rename(dir + "/top.xsvf", dir + "/mine.xsvf");
    const auto r = runUpdate(dir, "", EMULATOR_DIR, 60, {"mine.xsvf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTimes(r.out), BANNER + "\nErasing prom (15s)\n" + COMPLETED + "Time to execute T\n");
    EXPECT_EQ(r.err, "");
    const auto missing = runUpdate(dir, "", EMULATOR_DIR, 60, {"other.xsvf"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "File other.xsvf not found\n");
}

// A file that completes before its first scan is a success, as XSVF allows,
// with one warning on standard error: it changed nothing.
TEST(FpgaE2e, FileWithoutAScanCompletesWithAWarning) {
    const std::string dir = makeTestWorkDir("fpga_noscan_");
    writeBytes(dir + "/top.xsvf", {0x00});
    writeBytes(dir + "/zeros.xsvf", std::vector<std::uint8_t>(65536, 0x00));
    for (const char* file : {"top.xsvf", "zeros.xsvf", "/dev/zero"}) {
        SCOPED_TRACE(file);
        const auto r = runUpdate(dir, "", EMULATOR_DIR, 60, {file});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(maskTimes(r.out), BANNER + "\nErasing prom (15s)\n" + COMPLETED + "Time to execute T\n");
        EXPECT_EQ(r.err, "VexloFPGAUpdate: warning: " + std::string(file) +
                             " held no scan; the FPGA and its PROM were not changed\n");
    }
}

// A mistyped option stops before the banner and before the cartridge is opened.
TEST(FpgaE2e, UnknownOptionEndsWithUsage) {
    const std::string dir = makeWorkDir("fpga_unknown_option");
    const auto r = runUpdate(dir, "", EMULATOR_DIR, 60, {"--xsvf"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "VexloFPGAUpdate: unknown option \"--xsvf\"; usage: VexloFPGAUpdate [-h | --help | --version | "
                     "FILE.xsvf]\n");
    EXPECT_FALSE(fileExists(dir + "/out/emulator.log") &&
                 readFile(dir + "/out/emulator.log").find("FT_OpenEx") != std::string::npos);
}

TEST(FpgaE2e, LibraryWithoutLatencyTimerStillUpdates) {
    const std::string dir = workDirWith(sampleListing());
    const auto r = runUpdate(dir, "", std::string(EMULATOR_DIR) + "/variants/no_FT_SetLatencyTimer");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTimes(r.out), "Error: Can't Find FT_SetLatencyTimer\n" + BANNER +
                                    "\nError: FT_SetUSBParameters is not valid!\nError: FT_SetLatencyTimer is not "
                                    "valid!\nError: FT_SetUSBParameters is not valid!\nError: FT_SetLatencyTimer is "
                                    "not valid!\nErasing prom (15s)\n" +
                                    COMPLETED + "Time to execute T\n");
}

// ------------------------------------------------------------------ corpus

class Corpus : public ::testing::TestWithParam<const char*> {};

// Real vendor files, masks zeroed: the model has no flash to verify against,
// but the scans, TAP paths and waits are those of a real update. Their waits
// take real time (the updater's clock), about 15 to 35 s per file.
TEST_P(Corpus, PlaysToCompletion) {
    const std::string source = (testkit::corpusDir() / "xsvf" / GetParam()).string();
    VEXLO_NEED_CORPUS(source);
    std::string name = GetParam();
    name = name.substr(0, name.find('.'));
    const std::string dir = makeWorkDir("fpga_corpus_" + name);
    auto xsvf = readBytes(source);
    zeroXsvfTdoMasks(xsvf);
    writeBytes(dir + "/top.xsvf", xsvf);
    const auto r = runUpdate(dir, "", EMULATOR_DIR, 240);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(COMPLETED), std::string::npos) << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos);
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus,
                         ::testing::ValuesIn(testkit::corpusXsvfFiles),
                         [](const auto& info) { return testkit::corpusCaseName(info.param); });

// ------------------------------------------------------------------ remote_bitbang

// A JTAG simulator on the loopback interface: our own model behind the
// remote_bitbang protocol.
class BitbangServer {
public:
    BitbangServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        listen(listener_, 1);
        thread_ = std::thread([this] { serve(); });
    }
    ~BitbangServer() { finish(); }
    // Waits until the session has been served to its end (the program gone).
    void finish() {
        if (thread_.joinable()) {
            shutdown(listener_, SHUT_RDWR);
            thread_.join();
            close(listener_);
        }
    }
    int port() const { return port_; }
    bool quitSeen() const { return quit_; }
    std::uint64_t edges() const { return edges_; }
    std::uint64_t reads() const { return reads_; }
    std::uint32_t lastInstruction() const { return instruction_; }

private:
    void serve() {
        const int s = accept(listener_, nullptr, nullptr);
        if (s < 0) {
            return;
        }
        JtagDeviceConfig config;
        config.keepHistory = false;
        JtagDevice device(config);
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buffer[i];
                if (c >= '0' && c <= '7') {
                    const int v = c - '0';
                    device.setPins((v & 4) != 0, (v & 2) != 0, (v & 1) != 0);
                } else if (c == 'R') {
                    ++reads_;
                    const char answer = device.tdo() ? '1' : '0';
                    send(s, &answer, 1, MSG_NOSIGNAL);
                } else if (c == 'Q') {
                    quit_ = true;
                }
            }
        }
        edges_ = device.risingEdges();
        instruction_ = device.instruction();
        close(s);
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<std::uint64_t> edges_{0};
    std::atomic<std::uint64_t> reads_{0};
    std::atomic<std::uint32_t> instruction_{0};
};

TEST(FpgaE2e, PinsForwardedToARemoteBitbangServer) {
    const std::string dir = workDirWith(sampleListing());
    std::uint64_t edges = 0;
    {
        BitbangServer server;
        const auto r = runUpdate(dir, "jtag=remote:127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(COMPLETED), std::string::npos) << r.out;
        server.finish();
        EXPECT_TRUE(server.quitSeen());
        EXPECT_GT(server.reads(), 0u);
        edges = server.edges();
    }
    EXPECT_GT(edges, 1000u);
    EXPECT_NE(readFile(dir + "/out/emulator.log").find("forwarded to the remote_bitbang server"), std::string::npos);
}

TEST(FpgaE2e, UnreachableRemoteBitbangServerReadsTdoAsZero) {
    const std::string dir = workDirWith(sampleListing());
    // A port nobody listens on: bind one, then close it.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    const auto r = runUpdate(dir, "jtag=remote:127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("ERROR:  TDO mismatch and exceeded max retries\n"), std::string::npos) << r.out;
    EXPECT_NE(readFile(dir + "/out/emulator.log").find("cannot connect"), std::string::npos);
}

}  // namespace
