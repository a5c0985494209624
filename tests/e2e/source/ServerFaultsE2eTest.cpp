// The drive image server as the emulated cartridge's Atari uses it, with the
// cartridge misbehaving: garbage before a request, an unknown command, a
// request the server cannot answer, a cartridge that is switched off.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AhdiImage.h"
#include "ProgramRun.h"

namespace {

const std::vector<std::uint8_t> hello = {'h', 'e', 'l', 'l', 'o', ' ', 'a', 't', 'a', 'r', 'i', '\n'};

// A small Atari hard-disk image with HELLO.TXT, or "" when the image tools
// are missing.
std::string makeImage(const std::string& dir) {
    const std::string files = dir + "/files";
    std::system(("mkdir -p '" + files + "'").c_str());
    writeBytes(files + "/HELLO.TXT", hello);
    const std::string image = dir + "/disk.img";
    const std::string command = "'" MAKE_ATARI_IMAGE "' --size-mb 2 '" + image + "' '" + files + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? image : "";
}

ProgramResult serve(const std::string& dir, const std::string& image, const std::string& config) {
    ProgramRun run = emulatedRun(VEXLO_PROGRAM, dir, {"-drvimg", image}, EMULATOR_DIR, config);
    run.timeoutSeconds = 30;
    return runProgram(run);
}

// Serves until the server is running, then stops it with a signal, as a
// user ends it.
ProgramResult serveUntilStopped(const std::string& dir, const std::string& image, int stopSignal) {
    ProgramRun run = emulatedRun(VEXLO_PROGRAM, dir, {"-drvimg", image}, EMULATOR_DIR, "");
    run.timeoutSeconds = 30;
    run.stopSignal = stopSignal;
    run.stopWhenOutputHas = "running...\n";
    return runProgram(run);
}

std::string workDir() { return makeTestWorkDir("server_"); }

// An image the server loads (a root sector and a boot sector, the rest a
// hole), for runs whose Atari needs no files: dir/any.img.
std::string servableImage(const std::string& dir) {
    const std::string path = dir + "/any.img";
    EXPECT_TRUE(ahdi::AhdiImage().write(path));
    return path;
}

TEST(ServerFaults, GarbageAndAnUnknownCommandBeforeTheFirstRequestAreSkipped) {
    const std::string dir = workDir();
    const std::string image = makeImage(dir);
    if (image.empty()) {
        GTEST_SKIP() << "tools/make-atari-image needs mkfs.fat and mcopy";
    }
    const auto r = serve(dir, image, "atari=read:/HELLO.TXT;garbage=00 ff 59 0a;unknown_cmd=42");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readBytes(dir + "/out/atari/HELLO.TXT"), hello);
    EXPECT_EQ(r.err.rfind("Error: -1: VexloServer::Handle unknown cmd 42 (", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one error line, nothing for the garbage
    EXPECT_NE(r.out.find("read sector 0 boot \n"), std::string::npos) << r.out;
}

TEST(ServerFaults, RequestSwallowedByASyncByteIsSentAgain) {
    const std::string dir = workDir();
    const std::string image = makeImage(dir);
    if (image.empty()) {
        GTEST_SKIP() << "tools/make-atari-image needs mkfs.fat and mcopy";
    }
    // A stray 'S' makes the server take the request's 'S' as its second sync
    // byte: the whole request is dropped and the Atari asks again.
    const auto r = serve(dir, image, "atari=read:/HELLO.TXT;garbage=53");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readBytes(dir + "/out/atari/HELLO.TXT"), hello);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(readFile(dir + "/out/emulator.log").find("(sent again)"), std::string::npos);
}

TEST(ServerFaults, ImageThatCannotBeServedEndsTheRunWithAFailure) {
    const std::string dir = workDir();
    // Not a drive image: serving without one would answer nothing, so the
    // run ends with -5 and says how to look into the file.
    writeBytes(dir + "/bad.img", std::vector<std::uint8_t>(100, 0));
    const auto r = serve(dir, dir + "/bad.img", "atari=list;atari_retries=1");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 251);
    const std::string path = dir + "/bad.img";
    EXPECT_EQ(r.err, "Bad root checksum (" + path + ")\nVexlo: " + path + " cannot be served; vexlo-image info " +
                         path + " shows what it holds.\n");
    EXPECT_EQ(r.out.find("running..."), std::string::npos) << r.out;
    EXPECT_NE(readFile(dir + "/out/summary.txt").find("0 sector requests"), std::string::npos)
        << readFile(dir + "/out/summary.txt");
}

// A file that ends inside its partition is served all the same, with one
// warning at load.
TEST(ServerFaults, ImageEndingInsideItsPartitionIsServedWithAWarning) {
    const std::string dir = workDir();
    ahdi::AhdiImage disk;  // partition 0: 40000 sectors from sector 2
    disk.fileBytes = ahdi::fileOffsetOfBuffer(1024 + 39000ull * 512);
    const std::string path = dir + "/short.img";
    ASSERT_TRUE(disk.write(path));
    const auto r = serveUntilStopped(dir, "short.img", SIGTERM);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.err, "Warning: short.img ends 1000 sectors before its partition does; the Atari reads them as zeros.\n");
}

TEST(ServerFaults, SwitchedOffCartridgeStillStartsTheServerAndEndsCleanly) {
    const std::string dir = workDir();
    servableImage(dir);
    const auto r = serve(dir, dir + "/any.img", "atari=list;power=off");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("-----------------------------------\nFYI: the cartridge is switched off!\n", 0), 0u);
    EXPECT_NE(r.out.find("starting VexloServer\n\n"), std::string::npos);
}

// The server runs until stopped from outside, the documented way to end it:
// the emulator's summary and counts are still complete, and the program
// ends as the signal ends it.
class ServerStopped : public ::testing::TestWithParam<int> {};

TEST_P(ServerStopped, SummaryAndCountsSurviveTheSignal) {
    const int stopSignal = GetParam();
    const std::string dir = makeWorkDir(std::string("server_stopped_") + std::to_string(stopSignal));
    servableImage(dir);
    const auto r = serveUntilStopped(dir, "any.img", stopSignal);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, stopSignal);
    EXPECT_EQ(readFile(dir + "/out/summary.txt").rfind("opened 1 times, ", 0), 0u);
    const std::string log = readFile(dir + "/out/emulator.log");
    EXPECT_NE(log.find("FT_GetStatus polled "), std::string::npos) << log;
    EXPECT_NE(log.find("the run is stopped from outside\nSummary:\n  opened 1 times"), std::string::npos) << log;
}

// SIGHUP: the terminal the server ran in was closed.
INSTANTIATE_TEST_SUITE_P(Signals, ServerStopped, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT    ? "Sigint"
                                                : info.param == SIGTERM ? "Sigterm"
                                                                        : "Sighup");
                         });

// What goes wrong with the emulator's own settings or the Atari's script
// is said on standard error; the program's standard output is unchanged.
TEST(EmulatorTellsTheUser, SettingsMistakesWhenTheLibraryLoads) {
    const std::string dir = workDir();
    servableImage(dir);
    const std::string conf = dir + "/vexlo.conf";
    std::ofstream(conf) << "out = " << dir << "/out\natari = list\npower = off\npower off\njtag_irlen = 40\n";
    ProgramRun run;
    run.program = VEXLO_PROGRAM;
    run.args = {"-drvimg", "any.img"};
    run.workDir = dir;
    run.libraryDir = EMULATOR_DIR;
    run.emulatorConfig = conf;
    run.timeoutSeconds = 30;
    const auto r = runProgram(run);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "vexlo emulator: VEXLO_EMULATOR: " + conf + " line 4: line without '=': \"power off\"\n" +
                         "vexlo emulator: VEXLO_EMULATOR: " + conf +
                         " line 5: bad value for jtag_irlen: \"40\" (out of range: 2 to 32)\n");
    // The line was not glued to the folder's name.
    EXPECT_TRUE(fileExists(dir + "/out/summary.txt"));
}

// A settings source that is not a regular file is never opened (a pipe
// would block the open, /dev/zero never ends) and an output folder that
// cannot be made is said once: the run itself goes on with the defaults.
TEST(EmulatorTellsTheUser, UnusableSettingsFileOrOutputFolder) {
    const std::string dir = workDir();
    writeBytes(dir + "/fw.bin", std::vector<std::uint8_t>(16384, 0x4e));
    writeBytes(dir + "/plain", {0x78});
    std::filesystem::create_directory(dir + "/folder");
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    const std::string prefix = "vexlo emulator: VEXLO_EMULATOR: ";
    const struct {
        std::string settings;
        std::string err;
    } cases[] = {
        {"/dev/zero",
         prefix + "the settings file \"/dev/zero\" is not a regular file (a pipe or a device); no settings are read\n"},
        {dir + "/pipe", prefix + "the settings file \"" + dir +
                            "/pipe\" is not a regular file (a pipe or a device); no settings are read\n"},
        {dir + "/folder", prefix + "the settings file \"" + dir + "/folder\" is a folder; no settings are read\n"},
        {"out=" + dir + "/plain", prefix + "out=" + dir +
                                      "/plain: it is a file, not a folder; nothing the cartridge receives is saved\n"
                                      "vexlo emulator: cannot write the log " + dir + "/plain/emulator.log\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        ProgramRun run;
        run.program = VEXLO_PROGRAM;
        run.args = {"-uc", "fw.bin"};
        run.workDir = dir;
        run.libraryDir = EMULATOR_DIR;
        run.emulatorConfig = c.settings;
        run.timeoutSeconds = 30;
        const auto r = runProgram(run);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(EmulatorTellsTheUser, WhyTheAtariScriptFailed) {
    const std::string dir = workDir();
    servableImage(dir);
    const auto r = serve(dir, dir + "/any.img", "atari=lsit");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vexlo emulator: VEXLO_EMULATOR: bad value for atari: \"lsit\" (unknown Atari task \"lsit\" (use list, "
              "read:/PATH, readall or dump:FILE))\n"
              "vexlo emulator: the Atari's script failed, the run ends with status 1: unknown Atari task \"lsit\" (use "
              "list, read:/PATH, readall or dump:FILE)\n");
    EXPECT_NE(r.out.find("running...\n"), std::string::npos);
}

}  // namespace
