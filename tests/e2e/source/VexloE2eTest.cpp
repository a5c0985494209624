// The real Vexlo against the cartridge emulator: uploads byte for byte, the
// stall recovery, the failure paths the emulator injects, and the binding
// messages with libraries that lack one entry point or with none at all.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "ProgramRun.h"

namespace {

const std::string SWITCHED_OFF =
    "-----------------------------------\nFYI: the cartridge is switched off!\n"
    "-----------------------------------\n\n\n";
const char* const NOTHING_UPLOADED = "Vexlo: nothing was uploaded: switch the cartridge on and run again.\n";

ProgramResult runVexlo(const std::string& dir, const std::vector<std::string>& args, const std::string& config,
                       const std::string& libraryDir = EMULATOR_DIR) {
    return runProgram(emulatedRun(VEXLO_PROGRAM, dir, args, libraryDir, config));
}

std::string dirFor() { return makeTestWorkDir(); }

// ------------------------------------------------------------------ uploads

class UploadRun : public ::testing::TestWithParam<const char*> {};

TEST_P(UploadRun, EveryUploadArrivesByteForByte) {
    const std::string dir = dirFor();
    const UploadSamples samples;
    samples.writeTo(dir);
    const auto r = runVexlo(dir, UPLOAD_ALL_ARGS, GetParam());
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(maskTimes(r.out), UPLOAD_ALL_OUTPUT);
    EXPECT_EQ(r.err, FIRMWARE_CUT);
    expectUploadsSaved(dir, samples);
    const std::string log = readFile(dir + "/out/emulator.log");
    EXPECT_NE(log.find("command string \"le:g\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Links, UploadRun,
                         ::testing::Values("",                  // a willing cartridge
                                           "ready_after=1",     // first poll unanswered
                                           "prg_stall=2",       // program writes stall twice
                                           "prg_stall=3;ready_after=4;ready_byte=0"),
                         [](const auto& info) {
                             // The emulator settings as the name: "prg_stall=2" reads PrgStall2.
                             std::string name;
                             bool upper = true;
                             for (const char* c = info.param; *c != '\0'; ++c) {
                                 const bool alnum = std::isalnum(static_cast<unsigned char>(*c)) != 0;
                                 if (alnum) name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
                                 upper = !alnum;
                             }
                             return name.empty() ? std::string("WillingCartridge") : name;
                         });

TEST(VexloE2e, StalledProgramUploadReopensTheDeviceOncePerStall) {
    const std::string dir = dirFor();
    const UploadSamples samples;
    samples.writeTo(dir);
    const auto r = runVexlo(dir, {"-prg", "prog.prg"}, "prg_stall=2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readBytes(dir + "/out/prg-1.bin"), programStream(samples.program, "le:"));
    const std::string summary = readFile(dir + "/out/summary.txt");
    EXPECT_NE(summary.find("opened 3 times"), std::string::npos) << summary;
}

struct FailureCase {
    const char* name;
    const char* config;
    int status;
    const char* out;          // stdout, times masked
    const char* errStart;     // stderr starts with this ("" = empty)
    bool firmwareSaved;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class UploadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UploadFailure, EndsAsTheCartridgeMakesIt) {
    const FailureCase& c = GetParam();
    const std::string dir = dirFor();
    UploadSamples().writeTo(dir);
    const auto r = runVexlo(dir, {"-uc", "fw.bin", "-data", "data.bin"}, c.config);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(maskTimes(r.out), c.out);
    if (std::strlen(c.errStart) == 0) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    }
    EXPECT_EQ(fileExists(dir + "/out/firmware.bin"), c.firmwareSaved);
}

// Writes of this run: w1 cmdGetPower, w2/w3 the two cmdPollReady, w4 the
// firmware header, w5 its body, w6 cmdPollReady, w7 the data header, w8 the
// length, w9 the data.
const FailureCase failureCases[] = {
    // Switched off: nothing is uploaded, and the run fails with -6.
    {"power_off", "power=off", 250, SWITCHED_OFF.c_str(), NOTHING_UPLOADED, false},
    {"power_reply_missing", "drop_reply=1", 250, SWITCHED_OFF.c_str(), NOTHING_UPLOADED, false},
    {"power_header_fails", "write_fail=1", 250, SWITCHED_OFF.c_str(), NOTHING_UPLOADED, false},
    {"no_cartridge", "cartridge=absent", 255, "", "Error: -1: Failed to open Vexlo cartridge. (", false},
    {"open_fails", "open_status=4", 255, "", "Error: -1: Failed to open Vexlo cartridge. (", false},
    {"firmware_header_fails", "write_fail=4", 254,
     "Uploading firmare fw.bin.\nError: Upload firmware failed (-2)\nTime to execute T\n\n", FIRMWARE_CUT, false},
    {"firmware_body_short", "write_short=5", 254,
     "Uploading firmare fw.bin.\nError: Upload firmware failed (-2)\nTime to execute T\n\n", FIRMWARE_CUT, true},
    {"data_header_short", "write_short=7", 254,
     "Uploading firmare fw.bin.\nUploading data data.bin.\nError: Upload data failed (-2)\nTime to execute T\n\n",
     FIRMWARE_CUT,
     true},
    {"data_body_fails", "write_fail=9", 254,
     "Uploading firmare fw.bin.\nUploading data data.bin.\nError: Upload data failed (-2)\nTime to execute T\n\n",
     FIRMWARE_CUT,
     true},
};

INSTANTIATE_TEST_SUITE_P(Faults, UploadFailure, ::testing::ValuesIn(failureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Inputs the program refuses or warns of, as a user meets them: the
// statuses are the documented ones, and standard error says why.
struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* out;  // times masked
    const char* err;  // standard error ends with this
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

const RefusalCase refusalCases[] = {
    {"program_too_large", {"-prg", "huge.prg"}, 252,
     "Uploading prg-file huge.prg.\nError: UploadPrgFile failed (-4)\nTime to execute T\n\n",
     "Error: huge.prg is too large for the cartridge: a program must be under 536862720 bytes.\n"},
    {"firmware_missing", {"-uc", "nofw.bin"}, 255, "", ")\nVexlo: -uc \"nofw.bin\": it does not exist.\n"},
    {"data_is_a_folder", {"-data", "."}, 255, "", ")\nVexlo: -data \".\": it is a folder, not a file.\n"},
    {"unset_variable", {"-uc", ""}, 0, "Nothing to do.\n",
     "Warning: the -uc value is empty; the option counts as not given.\n"},
    {"repeated_option", {"-data", "fw.bin", "-data", "data.bin"}, 0, "Uploading data data.bin.\nTime to execute T\n\n",
     "Warning: -data is given again; its earlier value \"fw.bin\" is dropped.\n"},
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, SaysWhyWithItsStatus) {
    const RefusalCase& c = GetParam();
    const std::string dir = dirFor();
    UploadSamples().writeTo(dir);
    // A hole: no room taken, and refused before a byte of it is read.
    writeBytes(dir + "/huge.prg", {});
    std::filesystem::resize_file(dir + "/huge.prg", 0xFFFFull * 8192);
    const auto r = runVexlo(dir, c.args, "");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(maskTimes(r.out), c.out);
    const std::string end = c.err;
    EXPECT_TRUE(r.err.size() >= end.size() && r.err.compare(r.err.size() - end.size(), end.size(), end) == 0)
        << r.err;
    EXPECT_FALSE(fileExists(dir + "/out/prg-1.bin"));
}

INSTANTIATE_TEST_SUITE_P(Inputs, Refusal, ::testing::ValuesIn(refusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ binding

// Resolve order of the driver's entry points, and the open sequence's calls.
const char* const resolveOrder[] = {"FT_Write",          "FT_Read",        "FT_Open",        "FT_OpenEx",
                                    "FT_ListDevices",    "FT_Close",       "FT_ResetDevice", "FT_Purge",
                                    "FT_SetTimeouts",    "FT_GetQueueStatus", "FT_SetBaudRate",
                                    "FT_SetDataCharacteristics", "FT_SetFlowControl", "FT_GetStatus",
                                    "FT_SetBitMode",     "FT_SetLatencyTimer", "FT_SetUSBParameters", "FT_Reload"};

int resolveStep(const std::string& name) {
    for (int i = 0; i < 18; ++i) {
        if (name == resolveOrder[i]) {
            return i;
        }
    }
    return 99;
}

class BindingVariant : public ::testing::TestWithParam<const char*> {};

// Built from the binding rules: the binding stops at the missing entry
// point, so it and every later one stay unbound.
TEST_P(BindingVariant, VexloReportsTheMissingEntryPointAndGoesOn) {
    const std::string missing = GetParam();
    const std::string dir = dirFor();
    const UploadSamples samples;
    samples.writeTo(dir);
    const auto r = runVexlo(dir, {"-data", "data.bin"}, "", std::string(EMULATOR_DIR) + "/variants/no_" + missing);
    ASSERT_FALSE(r.timedOut);

    const int stop = resolveStep(missing);
    auto bound = [&](const char* name) { return resolveStep(name) < stop; };
    std::string expected = "Error: Can't Find " +
                           (missing == "FT_SetUSBParameters" ? std::string("FT_SetUSBParameter") : missing) + "\n";
    if (!bound("FT_OpenEx")) {
        expected += "Error: FT_OpenEx is not valid!\n";
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err.rfind("Error: -1: Failed to open Vexlo cartridge. (", 0), 0u) << r.err;
        EXPECT_EQ(r.status, 255);
        return;
    }
    for (const char* step : {"FT_ResetDevice", "FT_SetTimeouts", "FT_Purge", "FT_SetUSBParameters",
                             "FT_SetLatencyTimer", "FT_SetBitMode", "FT_SetBitMode"}) {
        if (!bound(step)) {
            expected += std::string("Error: ") + step + " is not valid!\n";
        }
    }
    // Without synchronous FIFO mode the cartridge never answers.
    const bool answers = bound("FT_SetBitMode");
    if (answers) {
        expected += "Uploading data data.bin.\nTime to execute T\n\n";
    } else {
        expected += SWITCHED_OFF;
    }
    if (!bound("FT_Close")) {
        expected += "Error: FT_Close is not valid!\n";
    }
    EXPECT_EQ(maskTimes(r.out), expected);
    EXPECT_EQ(r.err, answers ? "" : NOTHING_UPLOADED);
    EXPECT_EQ(r.status, answers ? 0 : 250);
    if (answers) {
        EXPECT_EQ(readBytes(dir + "/out/data.bin"), samples.data);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, BindingVariant, ::testing::ValuesIn(resolveOrder),
                         [](const auto& info) { return std::string(info.param); });

bool systemHasDriver() {
    void* h = dlopen("libftd2xx.so", RTLD_NOW);
    if (h != nullptr) {
        dlclose(h);
    }
    return h != nullptr;
}

// What the user learns on standard error when no driver library loads.
const std::string kNoDriverNote =
    "Error: the driver library libftd2xx.so could not be loaded (libftd2xx.so: cannot open shared object file: "
    "No such file or directory). Install FTDI's D2XX library so that libftd2xx.so is on the library path, or use "
    "this project's open-source driver by setting LD_LIBRARY_PATH to the folder of its libftd2xx.so (see "
    "README.md).\n";

TEST(VexloE2e, WithoutDriverLibraryPrintsTheLoadErrorThenTheHelp) {
    if (systemHasDriver()) {
        GTEST_SKIP() << "a driver library is installed on this system";
    }
    const std::string dir = dirFor();
    const auto withDriver = runVexlo(dir, {}, "");
    const auto without = runVexlo(dir, {}, "", "");
    EXPECT_EQ(without.status, 255);
    EXPECT_EQ(withDriver.status, 255);
    EXPECT_NE(withDriver.out.find("Vexlo help"), std::string::npos);
    EXPECT_EQ(without.out, "Error: Can't Load Ftd2xx.dll\n" + withDriver.out);
    EXPECT_EQ(without.err, kNoDriverNote);
}

TEST(VexloE2e, WithoutDriverLibraryTheOpenFails) {
    if (systemHasDriver()) {
        GTEST_SKIP() << "a driver library is installed on this system";
    }
    const std::string dir = dirFor();
    UploadSamples().writeTo(dir);
    const auto r = runVexlo(dir, {"-data", "data.bin"}, "", "");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error: Can't Load Ftd2xx.dll\nError: FT_OpenEx is not valid!\n");
    EXPECT_EQ(r.err.rfind(kNoDriverNote + "Error: -1: Failed to open Vexlo cartridge. (source/Vexlo/", 0), 0u)
        << r.err;
}

// ------------------------------------------------------------------ drive images

// A plain-layout image is served as it is, with one added line on standard
// error naming the convert command that makes it servable. The baseline is
// the same image with its partition's boot sector blanked: the server reads
// neither copy differently, but only the first is recognised as plain.
TEST(VexloE2e, PlainImageAddsOneLineNamingTheConvertCommand) {
    const std::string dir = dirFor();
    writeBytes(dir + "/HELLO.TXT", sampleBytes(300, 7));
    ProgramRun create;
    create.program = VEXLO_IMAGE;
    create.args = {"create", "PLAIN.img", "HELLO.TXT", "--size-mb", "4", "--layout", "plain"};
    create.workDir = dir;
    const auto made = runProgram(create);
    ASSERT_EQ(made.status, 0) << made.err;
    std::vector<std::uint8_t> unseen = readBytes(dir + "/PLAIN.img");
    ASSERT_GT(unseen.size(), 1536u);
    std::fill(unseen.begin() + 1024, unseen.begin() + 1536, std::uint8_t{0});
    writeBytes(dir + "/UNSEEN.img", unseen);

    const std::string settings = "atari=list;atari_retries=0";
    const auto plain = runVexlo(dir, {"-drvimg", "PLAIN.img"}, settings);
    const auto baseline = runVexlo(dir, {"-drvimg", "UNSEEN.img"}, settings);
    ASSERT_FALSE(plain.timedOut);
    ASSERT_FALSE(baseline.timedOut);

    const std::string line =
        "PLAIN.img is in the plain layout (partition 0 where its root sector says), which the server "
        "does not read: `vexlo-image convert PLAIN.img SERVED.img --to served` makes it servable\n";
    const std::size_t at = plain.err.find(line);
    ASSERT_NE(at, std::string::npos) << plain.err;
    std::string rest = plain.err;
    rest.erase(at, line.size());
    auto renamed = [](std::string text) {
        for (std::size_t p; (p = text.find("UNSEEN.img")) != std::string::npos;) text.replace(p, 10, "PLAIN.img");
        return text;
    };
    EXPECT_EQ(rest, renamed(baseline.err));
    EXPECT_EQ(plain.status, baseline.status);
    EXPECT_EQ(maskTimes(plain.out), renamed(maskTimes(baseline.out)));
    EXPECT_EQ(baseline.err.find("vexlo-image convert"), std::string::npos) << baseline.err;
}

}  // namespace
