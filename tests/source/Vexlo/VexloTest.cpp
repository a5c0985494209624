// The Vexlo front end run through runVexlo against recording fakes of the
// driver: what it prints, what crosses the link, and its exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AhdiImage.h"
#include "FakeDriver.h"
#include "TempFiles.h"
#include "Vexlo.h"

namespace {

// Thrown from the fake driver to leave the drive image server, which never returns.
struct ServerStopped {};

const char* const kBanner =
    "-----------------------------------\nFYI: the cartridge is switched off!\n"
    "-----------------------------------\n\n\n";

class VexloTest : public FakeLinkTest {
protected:
    void SetUp() override {
        FakeLinkTest::SetUp();
        fakeDriver().clockStepMs = 1250;
        link.deviceHandle = nullptr;
        link.opened = 0;
        failWrite = nullptr;
        powerReply = 1;
        lastCode = 0;
        fakeDriver().onWrite = [this](const std::uint8_t* data, DWORD count, DWORD* written) {
            lastCode = count == 3 ? data[2] : 0;
            if (failWrite && failWrite(data, count)) {
                *written = 0;
                return FT_IO_ERROR;
            }
            *written = count;
            return FT_OK;
        };
        // cmdGetPower gets `powerReply` (-1: nothing arrives); every other read is an acknowledgement.
        fakeDriver().onRead = [this](std::uint8_t* data, DWORD, DWORD* got) {
            const int reply = lastCode == 12 ? powerReply : 0;
            *got = reply < 0 ? 0 : 1;
            data[0] = static_cast<std::uint8_t>(reply < 0 ? 0 : reply);
            return FT_OK;
        };
        fakeDriver().onGetStatus = [](DWORD*) -> FT_STATUS { throw ServerStopped{}; };

        paths = {{"{fw}", files.pattern("firmware.bin", 100)},
                 {"{dbg}", files.pattern("bugaboo.prg", 20000)},
                 {"{prg}", files.pattern("program.prg", 10000)},
                 {"{data}", files.pattern("data.bin", 100)},
                 {"{bigfw}", files.pattern("big-firmware.bin", 20000)},
                 {"{bigdata}", files.pattern("big-data.bin", 16385)},
                 {"{fulldata}", files.pattern("full-data.bin", 16384)},
                 {"{img}", image("disk.img", [](ahdi::AhdiImage&) {})},
                 {"{badsum}", files.pattern("not-an-image.img", 1024)},
                 {"{inactive}", image("inactive.img", [](ahdi::AhdiImage& d) { d.partitionFlags = 0; })},
                 // The smallest program whose block count would not fit 16 bits.
                 {"{hugeprg}", files.sparse("huge.prg", 0xFFFFull * 8192)},
                 {"{none}", files.missing("missing.prg")},
                 {"{dir}", files.missing("folder")},
                 {"{fifo}", files.missing("pipe")}};
        std::filesystem::create_directories(paths["{dir}"]);
        ::mkfifo(paths["{fifo}"].c_str(), 0600);
    }

    std::string image(const std::string& name, void (*change)(ahdi::AhdiImage&)) {
        ahdi::AhdiImage disk;
        change(disk);
        const std::string path = files.missing(name);
        EXPECT_TRUE(disk.write(path));
        return path;
    }

    std::string substitute(std::string text) const {
        for (const auto& [key, value] : paths) {
            for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
        }
        return text;
    }

    // Runs the tool; `serves` is set when it went into the drive image server.
    int run(const std::vector<std::string>& args, bool* serves = nullptr) {
        std::vector<std::string> words = {"Vexlo"};
        for (const std::string& a : args) words.push_back(substitute(a));
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        if (serves) *serves = false;
        try {
            return runVexlo(link, static_cast<int>(words.size()), argv.data());
        } catch (const ServerStopped&) {
            if (serves) *serves = true;
            return 0;
        }
    }

public:  // the case table arranges these
    TempFiles files;
    std::map<std::string, std::string> paths;
    std::function<bool(const std::uint8_t*, DWORD)> failWrite;
    int powerReply = 1;
    std::uint8_t lastCode = 0;
};

// The link traffic in short: open, hdrN for a command header, wN for other
// writes, R for a read, status for a receive-queue poll, close.
std::string trace() {
    std::string out;
    for (const FakeCall& call : fakeDriver().calls) {
        std::string token;
        if (call.fn == "FT_OpenEx") token = "open";
        if (call.fn == "FT_Close") token = "close";
        if (call.fn == "FT_Read") token = "R";
        if (call.fn == "FT_GetStatus") token = "status";
        if (call.fn == "FT_Write") {
            const bool isHeader = call.data.size() == 3 && call.data[0] == 0x53 && call.data[1] == 0x59;
            token = isHeader ? "hdr" + std::to_string(call.data[2]) : "w" + std::to_string(call.data.size());
        }
        if (!token.empty()) out += (out.empty() ? "" : " ") + token;
    }
    return out;
}

// Located errors name a source line that moves with every edit.
std::string withoutLines(std::string err) {
    const std::string where = "(source/Vexlo/Vexlo.cpp ";
    for (std::size_t at = 0; (at = err.find(where, at)) != std::string::npos;) {
        const std::size_t close = err.find(')', at);
        err.replace(at, close + 1 - at, "(@)");
        at += 3;
    }
    return err;
}

// "Mmm dd yyyy hh:mm:ss" as the compiler's date and time macros spell them.
bool isBuildStamp(const std::string& s) {
    auto digit = [&](std::size_t i) { return s[i] >= '0' && s[i] <= '9'; };
    return s.size() == 20 && std::isupper(static_cast<unsigned char>(s[0])) && s[3] == ' ' &&
           (s[4] == ' ' || digit(4)) && digit(5) && s[6] == ' ' && digit(7) && digit(8) && digit(9) && digit(10) &&
           s[11] == ' ' && digit(12) && digit(13) && s[14] == ':' && digit(15) && digit(16) && s[17] == ':' &&
           digit(18) && digit(19);
}

std::function<bool(const std::uint8_t*, DWORD)> failSize(DWORD size) {
    return [size](const std::uint8_t*, DWORD count) { return count == size; };
}
std::function<bool(const std::uint8_t*, DWORD)> failHeader(int code) {
    return [code](const std::uint8_t* data, DWORD count) { return count == 3 && data[2] == code; };
}

struct RunCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(VexloTest&)> arrange;
    int status;
    std::string out;
    std::string err;
    std::string trace;
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

const std::string kPowered = "open hdr12 R hdr7 R hdr7 R";
const std::string kSeeHelp = "; run Vexlo without arguments to see the help.\n";
const std::string kTime = "Time to execute 1.25\n\n";
const std::string kSwitchedOff = "Vexlo: nothing was uploaded: switch the cartridge on and run again.\n";

// The located error of a path check and the line that says why.
std::string notFound(const std::string& option, const std::string& path, const std::string& reason) {
    return "Error: -1: " + option + " path not found. (@)\nVexlo: " + option + " \"" + path + "\": " + reason + ".\n";
}
const std::string kAbsent = "it does not exist";
const std::string kFolder = "it is a folder, not a file";
const std::string kPipe = "it is a named pipe, not a file";

std::string emptyValue(const std::string& option) {
    return "Warning: the " + option + " value is empty; the option counts as not given.\n";
}
std::string givenAgain(const std::string& option, const std::string& earlier) {
    return "Warning: " + option + " is given again; its earlier value \"" + earlier + "\" is dropped.\n";
}
// What the server prints of an image it cannot serve, before the run ends.
std::string serverStart(const std::string& path) {
    return "starting VexloServer\n\nusing drive image: " + path + "\n\n";
}
std::string cannotServe(const std::string& path) {
    return "Vexlo: " + path + " cannot be served; vexlo-image info " + path + " shows what it holds.\n";
}

std::vector<RunCase> runCases() {
    const std::string long2047(2047, 'a');
    const std::string long2048(2048, 'a');
    return {
        // Parse errors: nothing on standard output, nothing opened; one line
        // on standard error names the word.
        {"valueMissingAtEnd", {"-prg"}, nullptr, -1, "",
         "Vexlo: option -prg needs a value" + kSeeHelp, ""},
        {"valueIsAnOption", {"-prg", "-dbg", "{dbg}"}, nullptr, -1, "",
         "Vexlo: option -prg needs a value, not \"-dbg\"" + kSeeHelp, ""},
        {"firstWordWithoutDash", {"prg", "{prg}"}, nullptr, -1, "", "Vexlo: \"prg\" is not an option" + kSeeHelp,
         ""},
        {"optionInCapitals", {"-PRG", "{prg}"}, nullptr, -1, "", "Vexlo: unknown option \"-PRG\"" + kSeeHelp, ""},
        {"unknownOption", {"-foo", "x"}, nullptr, -1, "", "Vexlo: unknown option \"-foo\"" + kSeeHelp, ""},
        {"strayWordAtEnd", {"-prg", "{prg}", "extra"}, nullptr, -1, "", "Vexlo: \"extra\" is not an option" + kSeeHelp,
         ""},
        {"doubleDashOption", {"--uc", "{fw}"}, nullptr, -1, "", "Vexlo: unknown option \"--uc\"" + kSeeHelp, ""},
        {"firmwareWithoutValue", {"-uc"}, nullptr, -1, "", "Vexlo: option -uc needs a value" + kSeeHelp, ""},
        {"fileNameAlone", {"firmware.bin"}, nullptr, -1, "", "Vexlo: \"firmware.bin\" is not an option" + kSeeHelp,
         ""},
        {"emptyWordAsOption", {""}, nullptr, -1, "", "Vexlo: \"\" is not an option" + kSeeHelp, ""},

        // Help and version end with 0 before anything is checked or opened.
        {"version", {"--version"}, nullptr, 0, "Vexlo 0.51\n", "", ""},
        {"versionAfterAnOption", {"-prg", "{none}", "--version"}, nullptr, 0, "Vexlo 0.51\n", "", ""},
        {"firstProblemWins", {"-foo", "x", "--version"}, nullptr, -1, "", "Vexlo: unknown option \"-foo\"" + kSeeHelp,
         ""},

        // Path checks: each missing file once, in a fixed order, then the end.
        // Path checks: each missing file once, in a fixed order, then the end;
        // a line behind each names the file and why.
        {"twoMissingPaths", {"-uc", "{none}", "-prg", "{none}"}, nullptr, -1, "",
         notFound("-prg", "{none}", kAbsent) + notFound("-uc", "{none}", kAbsent), ""},
        {"allFourMissing", {"-data", "{none}", "-uc", "{none}", "-dbg", "{none}", "-prg", "{none}"}, nullptr, -1, "",
         notFound("-prg", "{none}", kAbsent) + notFound("-dbg", "{none}", kAbsent) +
             notFound("-uc", "{none}", kAbsent) + notFound("-data", "{none}", kAbsent),
         ""},
        {"driveImageCheckedLast", {"-drvimg", "{none}", "-prg", "{none}"}, nullptr, -1, "",
         notFound("-prg", "{none}", kAbsent) + notFound("-drvimg", "{none}", kAbsent), ""},
        {"driveImageMissing", {"-drvimg", "{none}", "-uc", "{fw}"}, nullptr, -1, "",
         notFound("-drvimg", "{none}", kAbsent), ""},
        // A folder opens for reading on some systems but holds no bytes to send.
        {"foldersAreNotFound", {"-prg", "{dir}", "-uc", "{dir}", "-data", "{dir}"}, nullptr, -1, "",
         notFound("-prg", "{dir}", kFolder) + notFound("-uc", "{dir}", kFolder) + notFound("-data", "{dir}", kFolder),
         ""},
        // Opening a named pipe would wait for a writer for ever.
        {"pipesAreNotFound", {"-dbg", "{fifo}", "-drvimg", "{fifo}"}, nullptr, -1, "",
         notFound("-dbg", "{fifo}", kPipe) + notFound("-drvimg", "{fifo}", kPipe), ""},
        // A repeated option keeps its last value, with a warning.
        {"onlySecondOfTwoValuesCounts", {"-prg", "{none}", "-prg", "{prg}"}, nullptr, 0,
         "Uploading prg-file {prg}.\n" + kTime, givenAgain("-prg", "{none}"),
         kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R close"},
        {"eachRepetitionIsWarnedOf", {"-cmd", "a", "-uc", "{none}", "-cmd", "b", "-uc", "{fw}", "-cmd", "c"},
         nullptr, 0, "Uploading firmare {fw}.\n" + kTime,
         givenAgain("-cmd", "a") + givenAgain("-uc", "{none}") + givenAgain("-cmd", "b"),
         kPowered + " hdr2 w16384 hdr7 R close"},

        // Values too long for the tool are refused before anything is opened.
        {"longestValueIsAccepted", {"-prg", long2047}, nullptr, -1, "",
         notFound("-prg", long2047, "it cannot be read (File name too long)"), ""},
        {"pathTooLong", {"-prg", long2048}, nullptr, -1, "", "Error: -1: -prg value too long. (@)\n", ""},
        {"commandsTooLong", {"-cmd", long2048, "-prg", "{prg}"}, nullptr, -1, "",
         "Error: -1: -cmd value too long. (@)\n", ""},

        {"commandsAlone", {"-cmd", "g"}, nullptr, 0, "Nothing to do.\n", "", ""},
        // An empty value (often an unset variable) counts as not given, with a warning.
        {"emptyValueIsNotGiven", {"-prg", ""}, nullptr, 0, "Nothing to do.\n", emptyValue("-prg"), ""},
        {"unsetFirmwareVariable", {"-uc", ""}, nullptr, 0, "Nothing to do.\n", emptyValue("-uc"), ""},
        {"emptyValuesEachWarned", {"-data", "", "-cmd", "", "-prg", "{prg}", "-drvimg", ""}, nullptr, 0,
         "Uploading prg-file {prg}.\n" + kTime, emptyValue("-data") + emptyValue("-cmd") + emptyValue("-drvimg"),
         kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R close"},
        {"emptyValueReplacesAnEarlierOne", {"-uc", "{fw}", "-uc", ""}, nullptr, 0, "Nothing to do.\n",
         givenAgain("-uc", "{fw}") + emptyValue("-uc"), ""},

        // Opening.
        {"noCartridge", {"-prg", "{prg}"}, [](VexloTest&) { fakeDriver().openStatus = FT_DEVICE_NOT_FOUND; }, -1, "",
         "Error: -1: Failed to open Vexlo cartridge. (@)\n", "open"},
        {"noDriver", {"-prg", "{prg}"}, [](VexloTest& t) { std::memset(&t.link, 0, sizeof t.link); }, -1,
         "Error: FT_OpenEx is not valid!\n", "Error: -1: Failed to open Vexlo cartridge. (@)\n", ""},

        // Power check: switched off, nothing is uploaded, and the run fails
        // with a status of its own (-6).
        {"powerReplyZero", {"-uc", "{fw}", "-prg", "{prg}"}, [](VexloTest& t) { t.powerReply = 0; }, -6, kBanner,
         kSwitchedOff, "open hdr12 R close"},
        {"powerNoReply", {"-prg", "{prg}"}, [](VexloTest& t) { t.powerReply = -1; }, -6, kBanner, kSwitchedOff,
         "open hdr12 R close"},
        {"powerHeaderFails", {"-prg", "{prg}"}, [](VexloTest& t) { t.failWrite = failHeader(12); }, -6, kBanner,
         kSwitchedOff, "open hdr12 close"},
        {"powerReadMissing", {"-prg", "{prg}"}, [](VexloTest& t) { t.link.FT_Read = nullptr; }, -6,
         std::string("Error: FT_Read is not valid!\n") + kBanner, kSwitchedOff, "open hdr12 close"},
        {"switchedOffDataOnly", {"-data", "{data}"}, [](VexloTest& t) { t.powerReply = 0; }, -6, kBanner,
         kSwitchedOff, "open hdr12 R close"},

        // Uploads: fixed order, each acknowledged, the time line, the close.
        {"everyUpload",
         {"-data", "{data}", "-prg", "{prg}", "-cmd", "g", "-dbg", "{dbg}", "-uc", "{fw}"},
         nullptr,
         0,
         "Uploading firmare {fw}.\nUploading prg-file {dbg}.\nUploading prg-file {prg}.\nUploading data {data}.\n" +
             kTime,
         "",
         kPowered +
             " hdr2 w16384 hdr7 R hdr8 hdr7 R hdr3 w2 w32768 hdr7 R hdr3 w2 w24576 hdr7 R hdr9 w2 w101 hdr7 R close"},
        {"dataOnlyNeedsNoPrepareLoad", {"-data", "{data}"}, nullptr, 0, "Uploading data {data}.\n" + kTime, "",
         kPowered + " hdr9 w2 w101 hdr7 R close"},
        {"firmwareFailureStillPreparesLoad", {"-uc", "{fw}", "-dbg", "{dbg}", "-prg", "{prg}"},
         [](VexloTest& t) { t.failWrite = failSize(16384); }, -2,
         "Uploading firmare {fw}.\nError: Upload firmware failed (-2)\n" + kTime, "",
         kPowered + " hdr2 w16384 hdr8 hdr7 R close"},
        {"debuggerFailureStopsProgram", {"-dbg", "{dbg}", "-prg", "{prg}", "-data", "{data}"},
         [](VexloTest& t) { t.failWrite = failHeader(3); }, -2,
         "Uploading prg-file {dbg}.\nError: UploadPrgFile failed (-2)\n" + kTime, "",
         kPowered + " hdr8 hdr7 R hdr3 close"},
        {"dataFailure", {"-prg", "{prg}", "-data", "{data}"}, [](VexloTest& t) { t.failWrite = failSize(101); }, -2,
         "Uploading prg-file {prg}.\nUploading data {data}.\nError: Upload data failed (-2)\n" + kTime, "",
         kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R hdr9 w2 w101 close"},
        {"prepareLoadOutcomeIgnored", {"-prg", "{prg}"}, [](VexloTest& t) { t.failWrite = failHeader(8); }, 0,
         "Uploading prg-file {prg}.\n" + kTime, "", kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R close"},
        // Inputs larger than the cartridge takes are cut, with a warning each.
        {"oversizeFirmwareAndData", {"-uc", "{bigfw}", "-data", "{bigdata}"}, nullptr, 0,
         "Uploading firmare {bigfw}.\nUploading data {bigdata}.\n" + kTime,
         "Warning: {bigfw} is 20000 bytes long; only its first 16384 bytes are sent.\n"
         "Warning: {bigdata} is 16385 bytes long; only its first 16384 bytes are sent.\n",
         kPowered + " hdr2 w16384 hdr7 R hdr9 w2 w16385 hdr7 R close"},
        {"fullWindowIsNoWarning", {"-data", "{fulldata}"}, nullptr, 0, "Uploading data {fulldata}.\n" + kTime, "",
         kPowered + " hdr9 w2 w16385 hdr7 R close"},
        {"longCommands", {"-prg", "{prg}", "-cmd", std::string(70, 'g')}, nullptr, 0,
         "Uploading prg-file {prg}.\n" + kTime,
         "Warning: the -cmd value is 70 characters long; only its first 60 are sent.\n",
         kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R close"},
        {"sixtyCommandCharsFit", {"-prg", "{prg}", "-cmd", std::string(60, 'g')}, nullptr, 0,
         "Uploading prg-file {prg}.\n" + kTime, "", kPowered + " hdr8 hdr7 R hdr3 w2 w24576 hdr7 R close"},
        // A program whose block count would not fit its 16 bits is refused
        // before its first byte; the earlier uploads stand.
        {"programTooLarge", {"-uc", "{fw}", "-prg", "{hugeprg}", "-data", "{data}"}, nullptr, -4,
         "Uploading firmare {fw}.\nUploading prg-file {hugeprg}.\nError: UploadPrgFile failed (-4)\n" + kTime,
         "Error: {hugeprg} is too large for the cartridge: a program must be under 536862720 bytes.\n",
         kPowered + " hdr2 w16384 hdr7 R hdr8 hdr7 R close"},
        {"debuggerTooLarge", {"-dbg", "{hugeprg}", "-prg", "{prg}"}, nullptr, -4,
         "Uploading prg-file {hugeprg}.\nError: UploadPrgFile failed (-4)\n" + kTime,
         "Error: {hugeprg} is too large for the cartridge: a program must be under 536862720 bytes.\n",
         kPowered + " hdr8 hdr7 R close"},
        // An image that cannot be served ends the run after the uploads, instead
        // of a server that answers nothing.
        {"imageBadChecksum", {"-data", "{data}", "-drvimg", "{badsum}"}, nullptr, -5,
         "Uploading data {data}.\n" + kTime + serverStart("{badsum}"),
         "Bad root checksum ({badsum})\n" + cannotServe("{badsum}"), kPowered + " hdr9 w2 w101 hdr7 R close"},
        {"imageInactivePartition", {"-drvimg", "{inactive}"}, nullptr, -5, kTime + serverStart("{inactive}"),
         "First partition not active ({inactive})\n" + cannotServe("{inactive}"), kPowered + " close"},
        {"imageBadWhileSwitchedOff", {"-drvimg", "{badsum}", "-prg", "{prg}"}, [](VexloTest& t) { t.powerReply = 0; },
         -5, kBanner + serverStart("{badsum}"), "Bad root checksum ({badsum})\n" + cannotServe("{badsum}"),
         "open hdr12 R close"},
        {"closeMissing", {"-data", "{data}"}, [](VexloTest& t) { t.link.FT_Close = nullptr; }, 0,
         "Uploading data {data}.\n" + kTime + "Error: FT_Close is not valid!\n", "", kPowered + " hdr9 w2 w101 hdr7 R"},
    };
}

class VexloRun : public VexloTest, public testing::WithParamInterface<RunCase> {};

TEST_P(VexloRun, AsTabled) {
    const RunCase& c = GetParam();
    if (c.arrange) c.arrange(*this);
    ConsoleCapture console;
    bool serves = true;
    EXPECT_EQ(run(c.args, &serves), c.status);
    EXPECT_FALSE(serves);
    EXPECT_EQ(console.out(), substitute(c.out));
    EXPECT_EQ(withoutLines(console.err()), substitute(c.err));
    EXPECT_EQ(trace(), c.trace);
}

INSTANTIATE_TEST_SUITE_P(Runs, VexloRun, testing::ValuesIn(runCases()), caseName<RunCase>);

struct HelpCase {
    const char* name;
    std::vector<std::string> args;
    int status;
};
void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

class VexloHelp : public VexloTest, public testing::WithParamInterface<HelpCase> {};

// Without arguments the help ends the run with -1, as it always did; asked
// for, it ends with 0.
TEST_P(VexloHelp, PrintsTheHelpText) {
    ConsoleCapture console;
    EXPECT_EQ(run(GetParam().args), GetParam().status);
    const std::string out = console.out();
    const std::string first = out.substr(0, out.find(")\n") + 2);
    const std::string intro = "\n\nVexlo help: (version 0.51 ";
    ASSERT_EQ(first.substr(0, intro.size()), intro);
    EXPECT_TRUE(isBuildStamp(first.substr(intro.size(), first.size() - intro.size() - 2))) << first;
    EXPECT_EQ(out.substr(first.size()),
              "-------------------------------------------------------\n\n"
              "-prg [path]\n Start Prg-file.\n\n"
              "-dbg [path]\n Bugaboo path. If given bugaboo is started before.\n\n"
              "-cmd [Bugaboo commands]\n Bugaboo commands which are executed after loading. -cmd g starts the prg "
              "directly after loading. The commands are separated by :\n\n"
              "-uc [path]\n Upload cartridge (68k firmware).\n\n"
              "-data [path]\n Send data of max 16kb to the cartridge. This can be used to send data after a prg is "
              "started. The 16kb is visable from $fa8000-$fabfff.\n\n"
              "-drvimg [path]\n Starts the drive image server with the given drive image.\n\n");
    EXPECT_EQ(console.err(), "");
    EXPECT_TRUE(fakeDriver().calls.empty());
}

const HelpCase kHelpCases[] = {
    {"noArguments", {}, -1},
    {"shortOption", {"-h"}, 0},
    {"longOption", {"--help"}, 0},
    {"afterAnOption", {"-uc", "{fw}", "--help"}, 0},
};

INSTANTIATE_TEST_SUITE_P(Requests, VexloHelp, testing::ValuesIn(kHelpCases),
                         [](const testing::TestParamInfo<HelpCase>& info) { return std::string(info.param.name); });

// The debugger command string travels in the header block of every program upload.
struct CommandCase {
    const char* name;
    std::string cmd;
    std::string header;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

std::vector<CommandCase> commandCases() {
    const std::string seventy = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01234567";
    return {
        {"short", "g", "le:g"},
        {"cutTo60", seventy, "le:" + seventy.substr(0, 60)},
    };
}

class VexloCommands : public VexloTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(VexloCommands, GoIntoEveryProgramHeader) {
    const CommandCase& c = GetParam();
    ConsoleCapture console;
    ASSERT_EQ(run({"-dbg", "{dbg}", "-prg", "{prg}", "-cmd", c.cmd}), 0);
    std::vector<std::uint8_t> expected(64, 0);
    std::memcpy(expected.data(), c.header.data(), c.header.size());
    int bodies = 0;
    for (const FakeCall& call : fakeDriver().callsOf("FT_Write")) {
        if (call.data.size() > 16384) {
            ++bodies;
            EXPECT_EQ(std::vector<std::uint8_t>(call.data.begin(), call.data.begin() + 64), expected);
        }
    }
    EXPECT_EQ(bodies, 2);
}

INSTANTIATE_TEST_SUITE_P(Lengths, VexloCommands, testing::ValuesIn(commandCases()), caseName<CommandCase>);

// With a drive image the run ends in the server, which keeps the device open.
struct DriveImageCase {
    const char* name;
    std::vector<std::string> args;
    int powerReply;
    std::string outStart;
    std::string trace;
};
void PrintTo(const DriveImageCase& c, std::ostream* os) { *os << c.name; }
const DriveImageCase kDriveImageCases[] = {
    {"imageOnly", {"-drvimg", "{img}"}, 1, kTime, kPowered + " status"},
    {"afterUploads", {"-drvimg", "{img}", "-data", "{data}"}, 1, "Uploading data {data}.\n" + kTime,
     kPowered + " hdr9 w2 w101 hdr7 R status"},
    {"switchedOff", {"-drvimg", "{img}", "-prg", "{prg}"}, 0, kBanner, "open hdr12 R status"},
    // A folder is built into an image in memory, before the cartridge is opened.
    {"folder", {"-drvimg", "{dir}"}, 1,
     "drive image built in memory from folder {dir}: 8192 KB, 0 names mapped to 8.3\n" + kTime, kPowered + " status"},
};

class VexloDriveImage : public VexloTest, public testing::WithParamInterface<DriveImageCase> {};

TEST_P(VexloDriveImage, HandsOverToTheServer) {
    const DriveImageCase& c = GetParam();
    powerReply = c.powerReply;
    ConsoleCapture console;
    bool serves = false;
    run(c.args, &serves);
    EXPECT_TRUE(serves);
    const std::string out = console.out();
    const std::string start = substitute(c.outStart);
    EXPECT_EQ(out.substr(0, start.size()), start);
    EXPECT_NE(out.find("starting VexloServer"), std::string::npos) << out;
    EXPECT_EQ(trace(), c.trace);
}

INSTANTIATE_TEST_SUITE_P(Runs, VexloDriveImage, testing::ValuesIn(kDriveImageCases), caseName<DriveImageCase>);

}  // namespace
