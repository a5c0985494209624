// The program's steps around the player: prompt, open, tuning, file, time.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "PinDriver.h"
#include "TempFolder.h"
#include "Updater.h"
#include "UpdaterFixture.h"
#include "platform/Platform.h"

#ifndef VEXLO_UPDATER_PROGRAM
#define VEXLO_UPDATER_PROGRAM ""
#endif

namespace {

const std::string kBanner =
    "Vexlo FPGA update version 1.0\n"
    "--------------------------------\n\n"
    "Do not disconnect the cartridge from USB or switch off your Atari!\n\n"
    "If the update hangs you maybe selected a char in the terminal\n"
    "window with the mouse. This forces the update to pause.\n"
    "In this case just press return.\n\n"
    "Press return to continue.\n";

// The console's input mode as the faked console calls see it; every change
// is recorded with what had been printed by then.
struct FakeConsole {
    bool hasMode = true;
    std::uint32_t mode = 0x1F7;  // a Windows console's usual mode: QuickEdit on
    std::vector<std::uint32_t> sets;
    std::vector<std::size_t> printedBeforeSet;
    void (*exitHook)() = nullptr;
    ConsoleCapture* console = nullptr;
};
FakeConsole fakeConsole;

const platform::ConsoleModeCalls kFakeConsoleCalls = {
    [](std::uint32_t* mode) {
        *mode = fakeConsole.mode;
        return fakeConsole.hasMode;
    },
    [](std::uint32_t mode) {
        fakeConsole.mode = mode;
        fakeConsole.sets.push_back(mode);
        fakeConsole.printedBeforeSet.push_back(fakeConsole.console ? fakeConsole.console->out().size() : 0);
        return true;
    },
    [](void (*restore)()) { fakeConsole.exitHook = restore; },
};

class UpdaterMainTest : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        savedConsoleCalls = platform::consoleModeCalls;
        platform::consoleModeCalls = kFakeConsoleCalls;
        const auto hook = fakeConsole.exitHook;  // registered once per process
        fakeConsole = FakeConsole{};
        fakeConsole.exitHook = hook;
        input = std::tmpfile();  // at end of file: must not block
        folder = std::make_unique<TempFolder>("vexlo-updater");
        dir = folder->path();
        linkPtr = nullptr;
    }
    void TearDown() override {
        platform::restoreConsoleMode();
        platform::consoleModeCalls = savedConsoleCalls;
        std::fclose(input);
        folder.reset();
        UpdaterTest::TearDown();
    }

public:  // the case tables arrange these
    std::string xsvfPath() const { return (dir / "top.xsvf").string(); }
    void writeXsvf(const std::vector<std::uint8_t>& data) {
        std::ofstream out(xsvfPath(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }

protected:
    int runMain(std::vector<std::string> args) {
        args.insert(args.begin(), "VexloFPGAUpdate");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return updaterMain(link, static_cast<int>(args.size()), argv.data(), input);
    }

    std::FILE* input = nullptr;
    std::unique_ptr<TempFolder> folder;
    std::filesystem::path dir;
    platform::ConsoleModeCalls savedConsoleCalls{};
};

TEST_F(UpdaterMainTest, OpenFailureEndsWithStatusOne) {
    struct Case {
        const char* name;
        bool unbound;
        std::string out;
    };
    const Case cases[] = {
        {"no cartridge", false, kBanner},
        {"FT_OpenEx missing", true, kBanner + "Error: FT_OpenEx is not valid!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeDriver().reset();
        installFakes(link);
        fakeDriver().openStatus = FT_DEVICE_NOT_FOUND;
        if (c.unbound) {
            link.FT_OpenEx = nullptr;
        }
        ConsoleCapture console;
        EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), UPDATE_CANNOT_OPEN);
        EXPECT_EQ(console.out(), c.out);
        EXPECT_EQ(console.err(), "Unable to option Vexlo cartridge.\n");
        EXPECT_EQ(linkPtr, nullptr);
        EXPECT_TRUE(fakeDriver().callsOf("FT_SetLatencyTimer").empty());
    }
}

TEST_F(UpdaterMainTest, MissingFileAfterTheLinkIsTuned) {
    ConsoleCapture console;
    EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), UPDATE_CANNOT_OPEN);
    EXPECT_EQ(console.out(), kBanner);
    EXPECT_EQ(console.err(), "File " + xsvfPath() + " not found\n");
    EXPECT_EQ(linkPtr, &link);
    // The updater's own tuning comes after the open sequence's.
    const auto usb = fakeDriver().callsOf("FT_SetUSBParameters");
    ASSERT_EQ(usb.size(), 2u);
    EXPECT_EQ(usb[1].args[0], 6400u);
    EXPECT_EQ(usb[1].args[1], 6400u);
    const auto latency = fakeDriver().callsOf("FT_SetLatencyTimer");
    ASSERT_EQ(latency.size(), 2u);
    EXPECT_EQ(latency[1].args[0], 1u);
    EXPECT_TRUE(fakeDriver().callsOf("FT_Close").empty());
}

TEST_F(UpdaterMainTest, MissingTuningEntriesAreSkipped) {
    link.FT_SetUSBParameters = nullptr;
    link.FT_SetLatencyTimer = nullptr;
    ConsoleCapture console;
    EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), UPDATE_CANNOT_OPEN);
    EXPECT_EQ(console.out(), kBanner +
                                 "Error: FT_SetUSBParameters is not valid!\n"
                                 "Error: FT_SetLatencyTimer is not valid!\n"
                                 "Error: FT_SetUSBParameters is not valid!\n"
                                 "Error: FT_SetLatencyTimer is not valid!\n");
    EXPECT_EQ(console.err(), "File " + xsvfPath() + " not found\n");
}

TEST_F(UpdaterMainTest, PlaysTheFileAndPrintsTheTime) {
    struct Case {
        std::vector<std::uint8_t> file;
        std::string player;
        int status;          // the player's error code
        bool noScanWarning;  // completed without a single register shift
    };
    const Case cases[] = {
        {{0x00}, "Completed FPGA update.            \n", UPDATE_DONE, true},
        // A zero-filled file: XCOMPLETE first, the rest is never read.
        {std::vector<std::uint8_t>(4096, 0x00), "Completed FPGA update.            \n", UPDATE_DONE, true},
        // Moves and waits without a shift change nothing either.
        {{0x12, 0x01, 0x04, 0x00, 0x00, 0x00, 0x10, 0x00}, "Completed FPGA update.            \n", UPDATE_DONE,
         true},
        // A zero-length XSIR shifts nothing.
        {{0x02, 0x00, 0x00}, "Completed FPGA update.            \n", UPDATE_DONE, true},
        // XSIR of 8 bits, then XCOMPLETE: a real scan, no warning.
        {{0x02, 0x08, 0xFF, 0x00}, "Completed FPGA update.            \n", UPDATE_DONE, false},
        {{0x05},
         "ERROR:  Encountered unsupported command #5 (Reserved5)\nERROR:  Unsupported XSVF command\n"
         "ERROR at or near XSVF command #1.  See line #1 in the XSVF ASCII file.\n",
         ERR_UNSUPPORTED_COMMAND, false},
        // XSTATE 16: no such TAP state.
        {{0x12, 0x10}, "ERROR:  Illegal state specification\n"
                        "ERROR at or near XSVF command #1.  See line #1 in the XSVF ASCII file.\n",
         ERR_ILLEGAL_STATE, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        fakeDriver().reset();
        // Only t0 and t1 read the clock here: 1.5 s apart.
        fakeDriver().clockStepMs = 1500;
        writeXsvf(c.file);
        ConsoleCapture console;
        EXPECT_EQ(runUpdater(link, input, xsvfPath().c_str()), c.status);
        EXPECT_EQ(console.out(), kBanner + "Erasing prom (15s)\n" + c.player + "Time to execute 1.50\n");
        EXPECT_EQ(console.err(), c.noScanWarning ? "VexloFPGAUpdate: warning: " + xsvfPath() +
                                                       " held no scan; the FPGA and its PROM were not changed\n"
                                                 : std::string());
        std::fclose(xsvfFile);
        xsvfFile = nullptr;
    }
}

// The command line: help and version end with 0 and an unknown option with
// 2, each before the banner and before the cartridge is opened; a file name
// replaces top.xsvf.
struct ArgsCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // "{banner}" stands for the banner and prompt
    std::string err;
    bool opens;
};
void PrintTo(const ArgsCase& c, std::ostream* os) { *os << c.name; }

const std::string kHelp =
    "Usage: VexloFPGAUpdate [--batch] [FILE.xsvf]\n"
    "Rewrites the cartridge's FPGA configuration: plays FILE.xsvf (default top.xsvf\n"
    "in the current folder) through the cartridge's JTAG pins, after Return is pressed.\n"
    "  --batch      send the pin commands in few large USB writes and read the TDO\n"
    "               bits of a scan together: the same bytes reach the cartridge in\n"
    "               less time. Not yet tried on a cartridge; without it the proven\n"
    "               way is used. A failed write then ends the run at once (status 7).\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "Exit status: 0 after \"Completed FPGA update.\", 1 when the file or the cartridge\n"
    "cannot be opened, 2 for an unknown option, 7 when a --batch write failed, else\n"
    "the player's error code (1 to 6).\n";
const std::string kUsage = "usage: VexloFPGAUpdate [-h | --help | --version | FILE.xsvf]\n";

// The fixture's top.xsvf only completes: no scan.
const std::string kNoScan = "VexloFPGAUpdate: warning: {dir}/top.xsvf held no scan; the FPGA and its PROM were not changed\n";

const ArgsCase kArgsCases[] = {
    {"shortHelp", {"-h"}, 0, kHelp, "", false},
    {"longHelp", {"--help"}, 0, kHelp, "", false},
    {"helpAfterAFile", {"mine.xsvf", "--help"}, 0, kHelp, "", false},
    {"version", {"--version"}, 0, "VexloFPGAUpdate 1.0\n", "", false},
    {"unknownOption", {"-x"}, 2, "", "VexloFPGAUpdate: unknown option \"-x\"; " + kUsage, false},
    {"dashAlone", {"-"}, 2, "", "VexloFPGAUpdate: unknown option \"-\"; " + kUsage, false},
    {"unknownAfterAFile", {"mine.xsvf", "--uc"}, 2, "", "VexloFPGAUpdate: unknown option \"--uc\"; " + kUsage,
     false},
    {"twoFiles", {"a.xsvf", "b.xsvf"}, 2, "", "VexloFPGAUpdate: one XSVF file only, not also \"b.xsvf\"; " + kUsage,
     false},
    {"namedFileMissing", {"{dir}/mine.xsvf"}, 1, "{banner}", "File {dir}/mine.xsvf not found\n", true},
    {"namedFilePlays", {"{dir}/top.xsvf"}, 0,
     "{banner}Erasing prom (15s)\nCompleted FPGA update.            \nTime to execute 0.00\n", kNoScan, true},
    {"batchBeforeAFile", {"--batch", "{dir}/top.xsvf"}, 0,
     "{banner}Erasing prom (15s)\nCompleted FPGA update.            \nTime to execute 0.00\n", kNoScan, true},
    {"batchAfterAFile", {"{dir}/top.xsvf", "--batch"}, 0,
     "{banner}Erasing prom (15s)\nCompleted FPGA update.            \nTime to execute 0.00\n", kNoScan, true},
};

class UpdaterArgs : public UpdaterMainTest, public testing::WithParamInterface<ArgsCase> {
protected:
    std::string expand(std::string text) const {
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"{banner}", kBanner},
                                         std::pair<std::string, std::string>{"{dir}", dir.string()}}) {
            for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
        }
        return text;
    }
};

TEST_P(UpdaterArgs, ActsOnTheCommandLine) {
    const ArgsCase& c = GetParam();
    writeXsvf({0x00});
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(expand(a));
    ConsoleCapture console;
    EXPECT_EQ(runMain(args), c.status);
    EXPECT_EQ(console.out(), expand(c.out));
    EXPECT_EQ(console.err(), expand(c.err));
    EXPECT_EQ(fakeDriver().callsOf("FT_OpenEx").size(), c.opens ? 1u : 0u);
    if (xsvfFile != nullptr) {
        std::fclose(xsvfFile);
        xsvfFile = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, UpdaterArgs, testing::ValuesIn(kArgsCases),
                         [](const testing::TestParamInfo<ArgsCase>& info) { return std::string(info.param.name); });

// QuickEdit is off from before the banner until the run ends, by whichever
// path it ends; a console without it, or no console, is left alone.
struct QuickEditCase {
    const char* name;
    bool hasMode;
    std::uint32_t mode;
    std::function<void(UpdaterMainTest&)> arrange;
    int status;
    std::vector<std::uint32_t> sets;
};
void PrintTo(const QuickEditCase& c, std::ostream* os) { *os << c.name; }

const QuickEditCase kQuickEditCases[] = {
    {"completed", true, 0x1F7, [](UpdaterMainTest& t) { t.writeXsvf({0x00}); }, UPDATE_DONE,
     {0x1B7, 0x1F7}},
    {"playerError", true, 0x1F7, [](UpdaterMainTest& t) { t.writeXsvf({0x05}); }, ERR_UNSUPPORTED_COMMAND,
     {0x1B7, 0x1F7}},
    {"fileMissing", true, 0x1F7, nullptr, UPDATE_CANNOT_OPEN, {0x1B7, 0x1F7}},
    {"noCartridge", true, 0x1F7, [](UpdaterMainTest&) { fakeDriver().openStatus = FT_DEVICE_NOT_FOUND; },
     UPDATE_CANNOT_OPEN, {0x1B7, 0x1F7}},
    // Restored with the extended-flags bit, without which QuickEdit stays off.
    {"modeWithoutExtendedFlags", true, 0x0047, nullptr, UPDATE_CANNOT_OPEN, {0x0087, 0x00C7}},
    {"quickEditAlreadyOff", true, 0x1B7, nullptr, UPDATE_CANNOT_OPEN, {}},
    {"noConsole", false, 0x1F7, nullptr, UPDATE_CANNOT_OPEN, {}},
};

class UpdaterQuickEdit : public UpdaterMainTest, public testing::WithParamInterface<QuickEditCase> {};

TEST_P(UpdaterQuickEdit, IsOffForTheRunAndRestoredAfter) {
    const QuickEditCase& c = GetParam();
    fakeConsole.hasMode = c.hasMode;
    fakeConsole.mode = c.mode;
    if (c.arrange) c.arrange(*this);
    ConsoleCapture console;
    fakeConsole.console = &console;
    EXPECT_EQ(runMain({xsvfPath()}), c.status);
    fakeConsole.console = nullptr;
    EXPECT_EQ(fakeConsole.sets, c.sets);
    if (!c.sets.empty()) {
        EXPECT_EQ(fakeConsole.printedBeforeSet[0], 0u) << "switched off before the banner";
        EXPECT_GE(fakeConsole.printedBeforeSet[1], kBanner.size()) << "restored after the run";
        // Ctrl+C, closing the window and exit run the same restore, which
        // has nothing left to do.
        EXPECT_EQ(fakeConsole.exitHook, &platform::restoreConsoleMode);
        fakeConsole.exitHook();
        EXPECT_EQ(fakeConsole.sets.size(), 2u);
    }
    if (xsvfFile != nullptr) {
        std::fclose(xsvfFile);
        xsvfFile = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Consoles, UpdaterQuickEdit, testing::ValuesIn(kQuickEditCases),
                         [](const testing::TestParamInfo<QuickEditCase>& info) {
                             return std::string(info.param.name);
                         });

// Ending the process while the update runs (Ctrl+C) restores the mode then.
TEST_F(UpdaterMainTest, QuickEditRestoredWhenTheProcessEndsMidRun) {
    platform::quickEditOff();
    ASSERT_EQ(fakeConsole.sets, (std::vector<std::uint32_t>{0x1B7}));
    ASSERT_EQ(fakeConsole.exitHook, &platform::restoreConsoleMode);
    fakeConsole.exitHook();
    EXPECT_EQ(fakeConsole.sets, (std::vector<std::uint32_t>{0x1B7, 0x1F7}));
    platform::restoreConsoleMode();
    EXPECT_EQ(fakeConsole.sets.size(), 2u);
}

#if !defined(_WIN32)
// The real program, bound before main: without a cartridge (or without the
// driver library) it still prompts, reads no further than end of input and
// exits with status 1.
TEST_F(UpdaterMainTest, ProgramWithoutCartridgeExitsOne) {
    const std::string program = VEXLO_UPDATER_PROGRAM;
    if (program.empty()) {
        GTEST_SKIP() << "program path not configured";
    }
    const std::string command = "cd '" + dir.string() + "' && '" + program + "' </dev/null 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(out.find(kBanner), std::string::npos) << out;
    EXPECT_TRUE(out.find("Unable to option Vexlo cartridge.\n") != std::string::npos ||
                out.find("File top.xsvf not found\n") != std::string::npos)
        << out;
}
#endif

}  // namespace
