// The emulated cartridge driven directly through its entry points: the open
// rules, the command parser across and within writes, the replies, the
// injected faults, the JTAG pins and the Atari's sector requests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "CartridgeCommands.h"
#include "EmulatedCartridge.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder that lasts until the test program ends.
std::string freshDir() {
    static std::vector<std::unique_ptr<TempFolder>> folders;
    folders.push_back(std::make_unique<TempFolder>("vexlo-emulator-test"));
    return folders.back()->path().string();
}

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One emulated cartridge with its log in memory and its output in a fresh folder.
struct Rig {
    std::string dir = freshDir();
    std::string logText;
    EmulatorLog log;
    std::unique_ptr<EmulatedCartridge> cart;
    FT_HANDLE handle = nullptr;
    std::vector<int> exits;
    std::vector<std::string> told;  // what the user was told on standard error

    explicit Rig(const std::string& settings = "", bool problemsExpected = false) {
        EmulatorConfig config;
        std::vector<std::string> problems;
        applyEmulatorSettings(settings, config, problems);
        if (!problemsExpected) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        }
        config.outDir = dir;
        log.captureTo(&logText);
        cart = std::make_unique<EmulatedCartridge>(config, log);
        cart->exitProcess = [this](int status) { exits.push_back(status); };
        cart->tellUser = [this](const std::string& text) { told.push_back(text); };
    }
    ~Rig() {
        cart.reset();
        fs::remove_all(dir);
    }

    void open() {
        char description[] = "Vexlo";
        ASSERT_EQ(cart->openEx(description, FT_OPEN_BY_DESCRIPTION, &handle), FT_OK);
        cart->setBitMode(handle, 0xFF, FT_BITMODE_RESET);
        cart->setBitMode(handle, 0xFF, FT_BITMODE_SYNC_FIFO);
    }
    DWORD write(const Bytes& bytes, FT_STATUS expected = FT_OK) {
        DWORD written = 12345;
        EXPECT_EQ(cart->write(handle, const_cast<std::uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                              &written),
                  expected);
        return written;
    }
    Bytes read(DWORD count) {
        Bytes out(count);
        DWORD got = 0;
        EXPECT_EQ(cart->read(handle, out.data(), count, &got), FT_OK);
        out.resize(got);
        return out;
    }
    DWORD queued() {
        DWORD rx = 0, tx = 0, ev = 0;
        cart->getStatus(handle, &rx, &tx, &ev);
        return rx;
    }
    std::string file(const std::string& name) const { return dir + "/" + name; }
};

Bytes header(std::uint8_t code) { return {SYNC1, SYNC2, code}; }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes filler(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return b;
}

// ------------------------------------------------------------------ settings

TEST(EmulatorSettings, PairsFilesAndProblems) {
    EmulatorConfig c;
    std::vector<std::string> problems;
    applyEmulatorSettings(
        "out=/tmp/x; power=off ;ready_after=2;ready_byte=0x00;write_fail=3,9;drop_reply=1;prg_stall=4;"
        "atari=list;read:/A.TXT;readall;garbage=53 00 ff;unknown_cmd=42;jtag=remote:localhost:9999",
        c, problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(c.outDir, "/tmp/x");
    EXPECT_FALSE(c.powered);
    EXPECT_EQ(c.readyAfter, 2u);
    EXPECT_EQ(c.readyByte, 0u);
    EXPECT_EQ(c.failWrites, (std::set<std::uint32_t>{3, 9}));
    EXPECT_EQ(c.prgStalls, 4u);
    // Pieces without '=' continue the Atari script, which uses ';' itself.
    EXPECT_TRUE(c.atariEnabled);
    EXPECT_EQ(c.atariTasks, "list;read:/A.TXT;readall");
    EXPECT_EQ(c.garbage, (Bytes{0x53, 0x00, 0xff}));
    EXPECT_EQ(c.unknownCommand, 42);
    EXPECT_EQ(c.jtag, "remote:localhost:9999");

    EmulatorConfig bad;
    applyEmulatorSettings("power=maybe;colour=red;ready_after=-1;garbage=5;power_byte=0;log=x.log", bad, problems);
    ASSERT_EQ(problems.size(), 5u);
    EXPECT_EQ(problems[0], "bad value for power: \"maybe\"");
    EXPECT_EQ(problems[1], "unknown setting \"colour\"");
    EXPECT_EQ(bad.logPath, "x.log");  // the good ones still apply
}

TEST(EmulatorSettings, VariableNamesAFileOfLines) {
    const std::string dir = freshDir();
    const std::string path = dir + "/emulator.conf";
    std::ofstream(path) << "# the cartridge for the demo\nout = " << dir << "/o\npower = on\natari = list\n"
                        << "log_calls = all\n"
                        << "  # a comment line is skipped whole; power = off; list it\n";
    std::vector<std::string> problems;
    const EmulatorConfig c = loadEmulatorConfig(path.c_str(), problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(c.outDir, dir + "/o");
    EXPECT_EQ(c.atariTasks, "list");
    EXPECT_TRUE(c.logEveryCall);
    EXPECT_TRUE(c.powered);
    loadEmulatorConfig((dir + "/missing.conf").c_str(), problems);
    ASSERT_EQ(problems.size(), 1u);
    fs::remove_all(dir);
}

// Every settings mistake is reported, naming the setting and, for a file,
// the line; a value that is changed on the way is said as well. The variable
// may name anything: what is not a regular file of at most 64 KB is reported
// and never read (a pipe would block the open, /dev/zero never ends).
enum class From {
    variable,     // the text is the variable's value
    file,         // the text is a settings file's
    fileAtLimit,  // the text, padded with a comment to exactly 64 KB
    fileOverLimit,  // the same, one byte longer
    folder,       // the variable names a folder
    pipe,         // the variable names a FIFO nobody writes to
};

struct SettingsMistake {
    const char* name;
    From from;
    const char* text;
    const char* problem;   // the one problem reported ("FILE" stands for the file's name)
    std::function<bool(const EmulatorConfig&)> applied;
};

void PrintTo(const SettingsMistake& c, std::ostream* os) { *os << c.name; }

class SettingsMistakes : public ::testing::TestWithParam<SettingsMistake> {};

std::string paddedTo(const std::string& text, std::size_t size) {
    return text + "#" + std::string(size - text.size() - 2, 'x') + "\n";
}

TEST_P(SettingsMistakes, AreReportedWithTheirSource) {
    const SettingsMistake& c = GetParam();
    std::vector<std::string> problems;
    EmulatorConfig config;
    const std::string dir = freshDir();
    std::string file = dir + "/vexlo.conf";
    switch (c.from) {
        case From::variable:
            file.clear();
            break;
        case From::file:
            std::ofstream(file) << c.text;
            break;
        case From::fileAtLimit:
            std::ofstream(file) << paddedTo(c.text, EMULATOR_SETTINGS_FILE_LIMIT);
            break;
        case From::fileOverLimit:
            std::ofstream(file) << paddedTo(c.text, EMULATOR_SETTINGS_FILE_LIMIT + 1);
            break;
        case From::folder:
            fs::create_directory(file);
            break;
        case From::pipe:
            ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
            break;
    }
    config = loadEmulatorConfig(file.empty() ? c.text : file.c_str(), problems);
    std::string expected = c.problem;
    // FILE stands for the settings file's path; a setting's own text may say FILE too.
    if (const auto at = expected.find("FILE"); !file.empty() && at != std::string::npos) {
        expected.replace(at, 4, file);
    }
    ASSERT_EQ(problems.size(), 1u) << ::testing::PrintToString(problems);
    EXPECT_EQ(problems[0], expected);
    EXPECT_TRUE(c.applied(config));
}

const SettingsMistake settingsMistakes[] = {
    {"FileLineWithoutEquals", From::file, "out = c80\npower off\n", "FILE line 2: line without '=': \"power off\"",
     [](const EmulatorConfig& c) { return c.outDir == "c80" && c.powered; }},
    {"FileUnknownKey", From::file, "# demo\n\ncolour = red\n", "FILE line 3: unknown setting \"colour\"",
     [](const EmulatorConfig& c) { return c == EmulatorConfig{}; }},
    {"FileBadValueNamesItsLine", From::file, "out = x\n  power = maybe ; ready_after = 2\n",
     "FILE line 2: bad value for power: \"maybe\"", [](const EmulatorConfig& c) { return c.readyAfter == 2; }},
    {"PieceWithoutEqualsAfterOut", From::variable, "out=c80;power off", "setting without '=': \"power off\"",
     [](const EmulatorConfig& c) { return c.outDir == "c80"; }},
    {"UnknownAtariTask", From::variable, "atari=lsit",
     "bad value for atari: \"lsit\" (unknown Atari task \"lsit\" (use list, read:/PATH, readall or dump:FILE))",
     // Kept, so the run fails at the script's start instead of serving forever.
     [](const EmulatorConfig& c) { return c.atariEnabled && c.atariTasks == "lsit"; }},
    {"RemoteWithoutPort", From::variable, "jtag=remote:localhost",
     "bad value for jtag: \"remote:localhost\" (expected remote:HOST:PORT with a port from 1 to 65535)",
     [](const EmulatorConfig& c) { return c.jtag == "model"; }},
    {"RemotePortTooLarge", From::variable, "jtag=remote:127.0.0.1:70000",
     "bad value for jtag: \"remote:127.0.0.1:70000\" (expected remote:HOST:PORT with a port from 1 to 65535)",
     [](const EmulatorConfig& c) { return c.jtag == "model"; }},
    {"JtagNeitherModelNorRemote", From::variable, "jtag=remote", "bad value for jtag: \"remote\" (model or remote:HOST:PORT)",
     [](const EmulatorConfig& c) { return c.jtag == "model"; }},
    {"IrLengthOutOfRange", From::variable, "jtag_irlen=40", "bad value for jtag_irlen: \"40\" (out of range: 2 to 32)",
     [](const EmulatorConfig& c) { return c.jtagIrLength == 8; }},
    {"PowerByteOutOfRange", From::variable, "power_byte=300", "bad value for power_byte: \"300\" (out of range: 1 to 255)",
     [](const EmulatorConfig& c) { return c.powerByte == 1; }},
    {"WriteNumberZero", From::variable, "write_fail=0,3",
     "bad value for write_fail: \"0,3\" (out of range: the numbers count from 1)",
     [](const EmulatorConfig& c) { return c.failWrites.empty(); }},
    {"TimeoutClamped", From::variable, "read_timeout_ms=90000", "read_timeout_ms=90000: at most 60000 ms; using 60000",
     [](const EmulatorConfig& c) { return c.readTimeoutMs == 60000; }},
    {"IdcodeBitZeroForced", From::variable, "jtag_idcode=0x12345678",
     "jtag_idcode=0x12345678: bit 0 of an IDCODE is always 1; using 0x12345679",
     [](const EmulatorConfig& c) { return c.jtagIdcode == 0x12345679u; }},
    {"FileAtTheLimitIsRead", From::fileAtLimit, "power = off\ncolour = red\n", "FILE line 2: unknown setting \"colour\"",
     [](const EmulatorConfig& c) { return !c.powered; }},
    {"FileOverTheLimitIsRefused", From::fileOverLimit, "power = off\n",
     "the settings file \"FILE\" is over 64 KB; no settings are read",
     [](const EmulatorConfig& c) { return c == EmulatorConfig{}; }},
    {"FileIsAFolder", From::folder, "", "the settings file \"FILE\" is a folder; no settings are read",
     [](const EmulatorConfig& c) { return c == EmulatorConfig{}; }},
    {"FileIsAPipe", From::pipe, "",
     "the settings file \"FILE\" is not a regular file (a pipe or a device); no settings are read",
     [](const EmulatorConfig& c) { return c == EmulatorConfig{}; }},
    {"FileIsADeviceWithoutEnd", From::variable, "/dev/zero",
     "the settings file \"/dev/zero\" is not a regular file (a pipe or a device); no settings are read",
     [](const EmulatorConfig& c) { return c == EmulatorConfig{}; }},
};

INSTANTIATE_TEST_SUITE_P(Settings, SettingsMistakes, ::testing::ValuesIn(settingsMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

// The output folder is made when the library starts; one that cannot be is
// said at once, naming the setting, instead of at each upload.
TEST(EmulatorSettings, OutputFolderThatCannotBeMadeIsReported) {
    const std::string dir = freshDir();
    std::ofstream(dir + "/plain") << "x";
    struct Case {
        std::string out;
        std::string problem;  // "" for none
    };
    const Case cases[] = {
        {dir + "/new/deeper", ""},
        {dir, ""},
        {dir + "/plain", "out=" + dir + "/plain: it is a file, not a folder; nothing the cartridge receives is saved"},
        {dir + "/plain/below", "out=" + dir + "/plain/below: cannot create the folder ("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const std::string problem = prepareOutputFolder(c.out);
        if (c.problem.empty()) {
            EXPECT_EQ(problem, "");
            EXPECT_TRUE(fs::is_directory(c.out));
        } else {
            EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem) << problem;
            EXPECT_NE(problem.find("; nothing the cartridge receives is saved"), std::string::npos) << problem;
        }
    }
}

// The keys and defaults in docs/EMULATOR.md are the settings table's.
TEST(EmulatorSettings, DocumentedTableIsTheParsersTable) {
    std::ifstream doc(EMULATOR_DOC);
    ASSERT_TRUE(doc) << EMULATOR_DOC;
    std::string line;
    while (std::getline(doc, line) && line.rfind("| Key | Default |", 0) != 0) {
    }
    ASSERT_FALSE(doc.eof()) << "no settings table in " << EMULATOR_DOC;
    std::getline(doc, line);  // |---|---|---|
    std::vector<std::pair<std::string, std::string>> documented;
    auto cell = [](std::string text) {
        text.erase(0, text.find_first_not_of(' '));
        text.erase(text.find_last_not_of(' ') + 1);
        if (text.size() >= 2 && text.front() == '`' && text.back() == '`') {
            text = text.substr(1, text.size() - 2);
        }
        return text;
    };
    while (std::getline(doc, line) && line.rfind("| ", 0) == 0) {
        const auto second = line.find('|', 1);
        const auto third = line.find('|', second + 1);
        documented.emplace_back(cell(line.substr(1, second - 1)), cell(line.substr(second + 1, third - second - 1)));
    }
    std::vector<std::pair<std::string, std::string>> table;
    for (const auto& s : emulatorSettings()) {
        table.emplace_back(s.key, s.defaultValue);
        EXPECT_NE(std::string(s.help), "") << s.key;
    }
    EXPECT_EQ(documented, table);
}

// Each default the table shows, given as a value, leaves the settings as
// they start.
TEST(EmulatorSettings, DefaultsAreTheStartingValues) {
    for (const auto& s : emulatorSettings()) {
        const std::string value = s.defaultValue;
        if (value.empty() || value[0] == '<') {
            continue;  // no value, or one described, not given
        }
        EmulatorConfig config;
        std::vector<std::string> problems;
        applyEmulatorSettings(std::string(s.key) + "=" + value, config, problems);
        EXPECT_TRUE(problems.empty()) << s.key;
        EXPECT_TRUE(config == EmulatorConfig{}) << s.key;
    }
}

// ------------------------------------------------------------------ the device

TEST(EmulatedDevice, OpensOnlyByTheDescriptionVexlo) {
    struct Case {
        const char* settings;
        const char* description;
        DWORD flags;
        FT_STATUS status;
    };
    const Case cases[] = {
        {"", "Vexlo", FT_OPEN_BY_DESCRIPTION, FT_OK},
        {"", "Vexlo", FT_OPEN_BY_SERIAL_NUMBER, FT_DEVICE_NOT_FOUND},
        {"", "vexlo", FT_OPEN_BY_DESCRIPTION, FT_DEVICE_NOT_FOUND},
        {"cartridge=absent", "Vexlo", FT_OPEN_BY_DESCRIPTION, FT_DEVICE_NOT_FOUND},
        {"open_status=4", "Vexlo", FT_OPEN_BY_DESCRIPTION, FT_IO_ERROR},
    };
    for (const auto& c : cases) {
        Rig rig(c.settings);
        std::string description = c.description;
        FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
        EXPECT_EQ(rig.cart->openEx(description.data(), c.flags, &h), c.status) << c.settings << c.description;
        EXPECT_EQ(h == nullptr, c.status != FT_OK);
    }
    Rig rig;
    FT_HANDLE h = nullptr;
    EXPECT_EQ(rig.cart->open(0, &h), FT_DEVICE_NOT_OPENED);
}

TEST(EmulatedDevice, ReopeningGivesANewHandleAndTheOldOneIsStale) {
    Rig rig;
    rig.open();
    const FT_HANDLE first = rig.handle;
    EXPECT_EQ(rig.cart->close(first), FT_OK);
    rig.open();
    EXPECT_NE(rig.handle, first);
    DWORD written = 0;
    std::uint8_t b = 0;
    EXPECT_EQ(rig.cart->write(first, &b, 1, &written), FT_INVALID_HANDLE);
    EXPECT_EQ(rig.cart->close(first), FT_INVALID_HANDLE);
}

TEST(EmulatedDevice, AnswersOnlyInSynchronousFifoModeAfterAReset) {
    Rig rig;
    char description[] = "Vexlo";
    ASSERT_EQ(rig.cart->openEx(description, FT_OPEN_BY_DESCRIPTION, &rig.handle), FT_OK);
    EXPECT_EQ(rig.write(header(cmdGetPower)), 3u);
    EXPECT_EQ(rig.queued(), 0u);
    rig.cart->setBitMode(rig.handle, 0xFF, FT_BITMODE_SYNC_FIFO);  // no reset before it
    rig.write(header(cmdGetPower));
    EXPECT_EQ(rig.queued(), 0u);
    rig.cart->setBitMode(rig.handle, 0xFF, FT_BITMODE_RESET);
    rig.cart->setBitMode(rig.handle, 0xFF, FT_BITMODE_SYNC_FIFO);
    rig.write(header(cmdGetPower));
    EXPECT_EQ(rig.read(1), Bytes{1});
    // A read with nothing to answer returns FT_OK with fewer bytes, at once.
    EXPECT_EQ(rig.read(1), Bytes{});
}

TEST(EmulatedDevice, KeepsAndLogsItsSettings) {
    Rig rig;
    rig.open();
    rig.cart->setTimeouts(rig.handle, 9000, 9000);
    rig.cart->setUSBParameters(rig.handle, 6400, 6400);
    rig.cart->setLatencyTimer(rig.handle, 1);
    EXPECT_EQ(rig.cart->inTransferSize(), 6400u);
    EXPECT_EQ(rig.cart->latencyMs(), 1u);
    EXPECT_NE(rig.logText.find("FT_SetTimeouts(read 9000 ms, write 9000 ms) -> FT_OK"), std::string::npos);
    EXPECT_NE(rig.logText.find("FT_SetUSBParameters(in 6400, out 6400) -> FT_OK"), std::string::npos);
}

// ------------------------------------------------------------------ the command stream

// What the tool sends for -uc, -dbg and -data, with the replies it waits for.
struct ToolSession {
    Bytes firmware = filler(16384, 3);
    Bytes program = filler(2 * 8192 + 8192, 5);  // header block, two blocks, tail
    Bytes data = filler(300, 9);
    Bytes stream() const {
        Bytes prg = program;
        prg[0] = 'l';
        prg[1] = 'e';
        prg[2] = ':';
        prg[3] = 'g';
        for (int i = 4; i < 64; ++i) {
            prg[i] = 0;
        }
        return concat({header(cmdGetPower), header(cmdPollReady), header(cmdUploadFirmware), firmware,
                       header(cmdPrepareLoad), header(cmdUploadPrg), {2, 0}, prg, header(cmdUploadData),
                       {0x2c, 0x01}, data, {0xEE}, header(cmdPollReady)});
    }
};

TEST(CommandStream, SameResultHoweverTheWritesCutTheStream) {
    const ToolSession session;
    const Bytes stream = session.stream();
    std::mt19937 random(42);
    // Whole, byte by byte, and cut at random places.
    for (int cut : {0, 1, 2, 3}) {
        Rig rig;
        rig.open();
        std::size_t at = 0;
        while (at < stream.size()) {
            std::size_t n = stream.size() - at;
            if (cut == 1) {
                n = 1;
            } else if (cut >= 2) {
                n = std::min<std::size_t>(n, 1 + random() % (cut == 2 ? 7 : 9000));
            }
            rig.write(Bytes(stream.begin() + at, stream.begin() + at + n));
            at += n;
        }
        EXPECT_EQ(rig.read(8), (Bytes{1, 1, 1})) << "cut " << cut;
        EXPECT_EQ(fileBytes(rig.file("firmware.bin")), session.firmware);
        const Bytes prg = fileBytes(rig.file("prg-1.bin"));
        ASSERT_EQ(prg.size(), 3u * 8192);
        EXPECT_TRUE(std::equal(prg.begin() + 64, prg.end(), session.program.begin() + 64));
        EXPECT_EQ(fileBytes(rig.file("data.bin")), session.data);
        ASSERT_EQ(rig.cart->uploads().size(), 3u);
        for (const auto& u : rig.cart->uploads()) {
            EXPECT_TRUE(u.complete) << u.fileName;
        }
        EXPECT_NE(rig.logText.find("command string \"le:g\""), std::string::npos);
        EXPECT_NE(rig.logText.find("the byte behind them is 0xee"), std::string::npos);
    }
}

TEST(CommandStream, BytesOutsideFramesAreDroppedAndRepeatedUploadsNumbered) {
    Rig rig;
    rig.open();
    // "S S Y" is no frame start: the second S is taken where Y belongs.
    rig.write(concat({{0x00, 0x53, 0x53, 0x59, 0x0c}, header(cmdGetPower)}));
    EXPECT_EQ(rig.read(4), Bytes{1});
    EXPECT_NE(rig.logText.find("5 bytes outside any frame dropped: 00 53 53 59 0c"), std::string::npos) << rig.logText;
    for (int i = 0; i < 2; ++i) {
        rig.write(concat({header(cmdUploadData), {1, 0}, {0x41, 0}}));
    }
    EXPECT_EQ(fileBytes(rig.file("data.bin")), Bytes{0x41});
    EXPECT_EQ(fileBytes(rig.file("data-2.bin")), Bytes{0x41});
    rig.write(concat({header(200), header(cmdGetPower)}));
    EXPECT_EQ(rig.read(1), Bytes{1});
    EXPECT_NE(rig.logText.find("unknown command 200"), std::string::npos);
}

TEST(CommandStream, RepliesFollowTheSettings) {
    struct Case {
        const char* settings;
        Bytes sent;
        Bytes replies;
    };
    const Bytes power = header(cmdGetPower);
    const Bytes poll = header(cmdPollReady);
    const Case cases[] = {
        {"", concat({power, poll}), {1, 1}},
        {"power=off", power, {0}},
        {"power_byte=0x80", power, {0x80}},
        {"ready_after=2;ready_byte=0", concat({poll, poll, poll}), {0}},
        {"drop_reply=2", concat({power, poll, poll}), {1, 1}},
    };
    for (const auto& c : cases) {
        Rig rig(c.settings);
        rig.open();
        rig.write(c.sent);
        EXPECT_EQ(rig.read(10), c.replies) << c.settings;
    }
}

TEST(CommandStream, InjectedWriteFaults) {
    Rig rig("write_fail=1;write_short=2");
    rig.open();
    EXPECT_EQ(rig.write(header(cmdGetPower), FT_IO_ERROR), 0u);
    EXPECT_EQ(rig.write(header(cmdGetPower)), 2u);  // the code byte is lost
    EXPECT_EQ(rig.queued(), 0u);
    rig.write(Bytes{cmdGetPower});  // only the code was lost: this completes it
    EXPECT_EQ(rig.read(1), Bytes{1});
}

TEST(CommandStream, ProgramStallsOnlyInsideTheProgramStream) {
    Rig rig("prg_stall=2");
    rig.open();
    EXPECT_EQ(rig.write(header(cmdUploadPrg)), 3u);
    EXPECT_EQ(rig.write({1, 0}), 2u);
    const Bytes body(16384, 0);
    EXPECT_EQ(rig.write(body), 0u);
    EXPECT_EQ(rig.write(body), 0u);
    // The device is closed and reopened; the cartridge keeps its place.
    rig.cart->close(rig.handle);
    rig.open();
    EXPECT_EQ(rig.write(Bytes(body.begin(), body.begin() + 10000)), 10000u);
    EXPECT_EQ(rig.write(Bytes(6384, 0)), 6384u);
    EXPECT_EQ(fileBytes(rig.file("prg-1.bin")).size(), 16384u);
    EXPECT_TRUE(rig.cart->uploads().at(0).complete);
}

// ------------------------------------------------------------------ JTAG

TEST(JtagPins, ReadsTheModelsIdcodeThroughPinCommands) {
    Rig rig("jtag_idcode=0x1234abcd");
    rig.open();
    auto clock = [&](bool tms, bool tdi) {
        rig.write(concat({header(cmdClockPins), {static_cast<std::uint8_t>((tms ? PIN_TMS : 0) | (tdi ? PIN_TDI : 0) |
                                                                           PIN_TCK)}}));
    };
    // Reset, then Run-Test/Idle, Select-DR, Capture-DR, Shift-DR.
    for (bool tms : {true, true, true, true, true, false, true, false, false}) {
        clock(tms, false);
    }
    std::uint32_t idcode = 0;
    for (int bit = 0; bit < 32; ++bit) {
        // TDO is valid after the falling edge: drop TCK, read, raise TCK.
        rig.write(concat({header(cmdSetPins), {static_cast<std::uint8_t>(bit == 31 ? PIN_TMS : 0)}}));
        rig.write(header(cmdReadPins));
        const Bytes reply = rig.read(1);
        ASSERT_EQ(reply.size(), 1u);
        idcode |= static_cast<std::uint32_t>((reply[0] & PIN_TDO) != 0) << bit;
        rig.write(concat({header(cmdSetPins), {static_cast<std::uint8_t>(PIN_TCK | (bit == 31 ? PIN_TMS : 0))}}));
    }
    clock(true, false);   // Update-DR
    clock(false, false);  // Run-Test/Idle
    EXPECT_EQ(idcode, 0x1234abcdu);
    EXPECT_EQ(rig.cart->jtagDevice().state(), JTAG_RUNTEST_IDLE);
    rig.cart->finishRun();
    EXPECT_EQ(rig.cart->idcodeReads(), 1u);
    EXPECT_NE(rig.logText.find("JTAG IDCODE read: 0x1234abcd"), std::string::npos) << rig.logText;
    // Pin traffic is counted, not logged call by call.
    EXPECT_EQ(rig.logText.find("w5 FT_Write"), std::string::npos);
    EXPECT_NE(rig.logText.find("JTAG pin traffic:"), std::string::npos);
}

// ------------------------------------------------------------------ the Atari side

// A FAT12 partition of 64 sectors: boot sector, two FATs of one sector, a
// root folder of one sector with HELLO.TXT in cluster 2.
Bytes tinyVolume() {
    Bytes v(64 * 512, 0);
    auto le16 = [&](std::size_t at, unsigned x) {
        v[at] = static_cast<std::uint8_t>(x);
        v[at + 1] = static_cast<std::uint8_t>(x >> 8);
    };
    le16(11, 512);  // bytes per sector
    v[13] = 1;      // sectors per cluster
    le16(14, 1);    // reserved sectors
    v[16] = 2;      // FATs
    le16(17, 16);   // root entries
    le16(19, 64);   // sectors
    v[21] = 0xF8;
    le16(22, 1);  // sectors per FAT
    for (std::size_t fat : {512u, 1024u}) {
        v[fat] = 0xF8;
        v[fat + 1] = 0xFF;
        v[fat + 2] = 0xFF;
        v[fat + 3] = 0xFF;  // cluster 2: end of chain
        v[fat + 4] = 0x0F;
    }
    const std::size_t root = 3 * 512;
    std::memcpy(&v[root], "HELLO   TXT", 11);
    v[root + 11] = 0x20;
    le16(root + 26, 2);
    le16(root + 28, 5);
    std::memcpy(&v[4 * 512], "hello", 5);
    return v;
}

// Plays the drive image server: polls, reads each request and answers it
// from `volume`, until the emulator ends the run. `mangle` may spoil a reply.
void serveVolume(Rig& rig, const Bytes& volume, const std::function<void(Bytes&)>& mangle = nullptr) {
    for (int polls = 0; rig.exits.empty() && polls < 1000; ++polls) {
        if (rig.queued() == 0) {
            continue;
        }
        Bytes head = rig.read(3);
        while (head.size() == 3 && !(head[0] == SYNC1 && head[1] == SYNC2 && head[2] == cmdReadSector)) {
            head.erase(head.begin());
            const Bytes next = rig.read(1);
            if (next.empty()) {
                break;
            }
            head.push_back(next[0]);
        }
        if (head.size() != 3) {
            continue;
        }
        const Bytes number = rig.read(2);
        const Bytes count = rig.read(1);
        const std::size_t first = number[0] | (number[1] << 8);
        const std::size_t m = count[0] * 512u;
        Bytes reply = {SYNC1, SYNC2, cmdUploadData, static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8)};
        reply.insert(reply.end(), volume.begin() + first * 512, volume.begin() + first * 512 + m);
        reply.insert(reply.end(), {SYNC1, SYNC2, cmdEndTransfer, SYNC1, SYNC2, cmdEndTransfer, 0, 0, 0});
        if (mangle) {
            mangle(reply);
        }
        rig.write(reply);
    }
}

TEST(AtariSide, ReadsAFileThroughSectorRequestsAndEndsTheRun) {
    Rig rig("atari=list;read:/HELLO.TXT");
    rig.open();
    serveVolume(rig, tinyVolume());
    ASSERT_EQ(rig.exits, std::vector<int>{0}) << rig.logText;
    EXPECT_TRUE(rig.told.empty());
    EXPECT_EQ(fileBytes(rig.file("atari/HELLO.TXT")), (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_NE(rig.logText.find("sector reply: 512 data bytes, end markers ok"), std::string::npos);
}

TEST(AtariSide, BadReplyFramingFailsTheScript) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> mangle;
        const char* logged;
    };
    const Case cases[] = {
        {"wrong end marker", [](Bytes& r) { r[r.size() - 4] = 0x0A; }, "end markers wrong"},
        {"three bytes short", [](Bytes& r) { r.erase(r.end() - 3, r.end()); }, "incomplete sector reply"},
        {"stray byte first", [](Bytes& r) { r.insert(r.begin(), 0x00); }, "1 stray bytes before the reply"},
        {"one byte too many", [](Bytes& r) { r.push_back(0x00); }, "1 stray bytes after the reply"},
        {"reply sent twice", [](Bytes& r) { r = concat({r, r}); }, "after the sector reply"},
        {"not a data header", [](Bytes& r) { r[2] = cmdPrepareLoad; }, "arrived instead of the sector reply"},
        {"no reply", [](Bytes& r) { r.clear(); }, "no reply to the sector request"},
    };
    for (const auto& c : cases) {
        Rig rig("atari=list;atari_retries=1");
        rig.open();
        serveVolume(rig, tinyVolume(), c.mangle);
        EXPECT_EQ(rig.exits, std::vector<int>{1}) << c.name;
        EXPECT_NE(rig.logText.find(c.logged), std::string::npos) << c.name << "\n" << rig.logText;
        // The reason reaches the user, not only the log.
        ASSERT_EQ(rig.told.size(), 1u) << c.name;
        EXPECT_EQ(rig.told[0].rfind("the Atari's script failed, the run ends with status 1: disk unreadable: ", 0), 0u)
            << rig.told[0];
        EXPECT_NE(rig.told[0].find(c.logged), std::string::npos) << rig.told[0];
    }
}

TEST(AtariSide, FailingStepsAreToldToTheUser) {
    struct Case {
        const char* script;
        const char* told;
    };
    const Case cases[] = {
        {"lsit", "unknown Atari task \"lsit\" (use list, read:/PATH, readall or dump:FILE)"},
        {"read:/NOPE.TXT;list", "read /NOPE.TXT failed: not found"},
    };
    for (const auto& c : cases) {
        Rig rig(std::string("atari=") + c.script, true);
        rig.open();
        serveVolume(rig, tinyVolume());
        EXPECT_EQ(rig.exits, std::vector<int>{1}) << c.script;
        const std::string told = std::string("the Atari's script failed, the run ends with status 1: ") + c.told;
        EXPECT_EQ(rig.told, std::vector<std::string>{told}) << rig.logText;
    }
}

TEST(AtariSide, SwitchedOffCartridgeEndsTheRunWithoutRequests) {
    Rig rig("atari=list;power=off");
    rig.open();
    EXPECT_EQ(rig.queued(), 0u);
    EXPECT_EQ(rig.exits, std::vector<int>{0});
}

// ------------------------------------------------------------------ stopped from outside

// `Vexlo -drvimg` runs until Ctrl-C or SIGTERM: the summary and the counts
// must be written before the process ends, as the signal ends it.
// A cartridge polled flat out, as by the drive image server, while the
// signal arrives; only the signal ends it.
[[noreturn]] void runUntilStopped(const fs::path& dir, int stopSignal) {
    EmulatorConfig config;
    config.outDir = dir.string();
    EmulatorLog log;
    log.open((dir / "emulator.log").string());
    EmulatedCartridge cart(config, log);
    FT_HANDLE h = nullptr;
    char description[] = "Vexlo";
    cart.openEx(description, FT_OPEN_BY_DESCRIPTION, &h);
    cart.setBitMode(h, 0xFF, FT_BITMODE_RESET);
    cart.setBitMode(h, 0xFF, FT_BITMODE_SYNC_FIFO);
    std::uint8_t power[3] = {SYNC1, SYNC2, cmdGetPower};
    DWORD n = 0, rx = 0, tx = 0, ev = 0;
    cart.write(h, power, 3, &n);
    cart.read(h, power, 1, &n);
    // Polls counted before the signal must appear in the log whenever the
    // stop is handled.
    for (int i = 0; i < 3; ++i) {
        cart.getStatus(h, &rx, &tx, &ev);
    }
    raise(stopSignal);
    for (;;) {
        cart.getStatus(h, &rx, &tx, &ev);
    }
}

class StoppedFromOutside : public ::testing::TestWithParam<int> {};

TEST_P(StoppedFromOutside, SummaryAndCountsAreWrittenFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int stopSignal = GetParam();
    const fs::path dir = fs::path(STOP_TEST_DIR) / std::to_string(stopSignal);
    fs::remove_all(dir);
    fs::create_directories(dir);
    EXPECT_EXIT(runUntilStopped(dir, stopSignal), ::testing::KilledBySignal(stopSignal), "");
    std::ifstream summary(dir / "summary.txt");
    std::stringstream text;
    text << summary.rdbuf();
    EXPECT_EQ(text.str(), "opened 1 times, 1 writes, 1 replies\n");
    std::ifstream logFile(dir / "emulator.log");
    std::stringstream log;
    log << logFile.rdbuf();
    EXPECT_NE(log.str().find("FT_GetStatus polled "), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("the run is stopped from outside\nSummary:\n"), std::string::npos) << log.str();
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedFromOutside, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT    ? "Sigint"
                                                : info.param == SIGTERM ? "Sigterm"
                                                                        : "Sighup");
                         });

}  // namespace
