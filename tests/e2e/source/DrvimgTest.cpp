// `Vexlo -drvimg` end to end: the real program, loading the emulator as its
// driver library, serves Atari images made by tools/make-atari-image or by
// vexlo-image create, and folders; the emulated Atari reads every file back
// through the server's replies.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "AtariDisk.h"
#include "AtariImageFiles.h"

namespace fs = std::filesystem;
using namespace atari_test;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
    std::string log;  // the emulator's log
};

// Runs `Vexlo -drvimg <image>` in `dir` against the emulator with the given
// settings (the output folder is dir/out).
ProgramRun runVexlo(const fs::path& dir, const std::string& image, const std::string& settings) {
    const std::string command = "cd '" + dir.string() + "' && VEXLO_EMULATOR='out=" + (dir / "out").string() + ";" +
                                settings + "' LD_LIBRARY_PATH='" + EMULATOR_DIR + "' timeout 120 '" + VEXLO_PROGRAM +
                                "' -drvimg '" + image + "' >stdout.txt 2>stderr.txt";
    ProgramRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readText(dir / "stdout.txt");
    run.err = readText(dir / "stderr.txt");
    run.log = readText(dir / "out" / "emulator.log");
    return run;
}

fs::path freshDir(const std::string& name) {
    const fs::path dir = fs::path(WORK_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// The server's trace of one request, its area worked out from the BPB the
// way the server does it.
std::string traceLine(const Bytes& boot, std::uint16_t first, std::uint8_t count) {
    const int fatCount = boot[16];
    const auto sectorsPerFat = static_cast<std::int16_t>(boot[22] | (boot[23] << 8));
    const int rootEntries = boot[17] | (boot[18] << 8);
    const auto h = static_cast<std::int16_t>(fatCount * sectorsPerFat);
    const int r = rootEntries * 32 / 1024;
    const char* area = "data";
    if (first == 0) {
        area = "boot";
    } else if (first < h + 1) {
        area = "fat";
    } else if (first < h + 1 + r) {
        area = "dir";
    }
    char line[64];
    if (count == 1) {
        std::snprintf(line, sizeof line, "read sector %d %s \n", first, area);
    } else {
        std::snprintf(line, sizeof line, "read sector %d-%d %s \n", first, first + count, area);
    }
    return line;
}

enum class Source { script, create, folder };

struct DrvimgCase {
    const char* name;
    Source source;
    const char* imageOptions;
    const char* tasks;
    int fatBits;
};

// Makes disk.img from dir/src with the case's tool; a folder is served as
// it is, and vexlo-image create with its defaults makes the image that
// must look the same to the Atari.
bool makeCaseImage(const DrvimgCase& c, const fs::path& dir) {
    if (c.source == Source::script) {
        return makeImage(MAKE_ATARI_IMAGE, c.imageOptions, dir / "disk.img", dir / "src");
    }
    const std::string command = std::string("'") + VEXLO_IMAGE + "' create '" + (dir / "disk.img").string() + "' '" +
                                (dir / "src").string() + "' " + c.imageOptions + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

void PrintTo(const DrvimgCase& c, std::ostream* os) { *os << c.name; }

class DrvimgTest : public ::testing::TestWithParam<DrvimgCase> {};

TEST_P(DrvimgTest, TheAtariReadsEveryFileBackThroughTheServer) {
    const DrvimgCase& c = GetParam();
    if (c.source == Source::script && !haveImageTools()) GTEST_SKIP() << "mkfs.fat or mcopy missing";
    const fs::path dir = freshDir(c.name);
    const FileTree files = sampleTree();
    writeTree(files, dir / "src");
    ASSERT_TRUE(makeCaseImage(c, dir));

    // The same reader run here against the image gives the requests the
    // server must see, in order.
    MemoryDisk expected;
    std::string why;
    ASSERT_TRUE(loadServedPartition(dir / "disk.img", expected, why)) << why;
    std::vector<AtariTask> tasks;
    ASSERT_TRUE(parseAtariTasks(c.tasks, tasks, why)) << why;
    ASSERT_TRUE(runAtariTasks(tasks, expected.requester(), (dir / "expected").string(), [](const std::string&) {}));
    std::string traces;
    for (const Request& r : expected.requests) traces += traceLine(expected.partition, r.first, r.count);

    const std::string served = c.source == Source::folder ? "src" : "disk.img";
    const ProgramRun run = runVexlo(dir, served, std::string("atari=") + c.tasks);

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    if (c.source == Source::folder) {
        EXPECT_EQ(run.out.find("drive image built in memory from folder src: 8192 KB, 0 names mapped to 8.3\n"), 0u)
            << run.out;
    }
    const std::string start = "starting VexloServer\n\nusing drive image: " + served + "\n\nrunning...\n";
    const std::size_t at = run.out.find(start);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(at + start.size()), traces);

    const fs::path got = dir / "out" / "atari";
    for (const auto& [name, content] : files) {
        ASSERT_TRUE(fs::is_regular_file(got / name)) << name;
        EXPECT_TRUE(readWhole(got / name) == content) << name << " differs";
    }
    std::size_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(got)) written += entry.is_regular_file();
    EXPECT_EQ(written, files.size());

    EXPECT_NE(run.log.find("FAT" + std::to_string(c.fatBits) + " of"), std::string::npos);
    EXPECT_NE(run.log.find(std::to_string(files.size()) + " files, " + std::to_string(treeBytes(files)) + " bytes\n"),
              std::string::npos);
    if (std::string(c.tasks).find("list") != std::string::npos) {
        EXPECT_NE(run.log.find("Directory of /DIR/SUB\n"), std::string::npos);
        EXPECT_NE(run.log.find("  BIG.BIN          300001\n"), std::string::npos);
    }
}

const DrvimgCase cases[] = {
    {"Fat16Sectors512", Source::script, "--size-mb 8 --sector-size 512", "list;readall", 16},
    {"Fat16Sectors1024", Source::script, "--size-mb 16 --sector-size 1024", "list;read:/dir/big.bin;readall", 16},
    {"Fat16Sectors4096", Source::script, "--size-mb 19 --sector-size 4096", "readall", 16},
    {"Fat12Sectors2048", Source::script, "--size-mb 4 --sector-size 2048 --fat 12", "list;readall", 12},
    {"CreatedDefault", Source::create, "", "list;readall", 16},
    {"CreatedBig", Source::create, "--size-mb 20", "list;read:/dir/big.bin;readall", 16},
    {"CreatedSectors4096", Source::create, "--size-mb 19 --sector-size 4096", "readall", 16},
    {"Folder", Source::folder, "", "list;readall", 16},
};

INSTANTIATE_TEST_SUITE_P(Images, DrvimgTest, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

// An image that does not load ends the run with -5 after the image's own
// message and a pointer to vexlo-image info: a server without an image
// would leave the Atari waiting for replies that never come.
TEST(DrvimgUnloadableImage, EndsTheRunInsteadOfServing) {
    const fs::path dir = freshDir("UnloadableImage");
    std::ofstream(dir / "blank.img", std::ios::binary) << std::string(1024, '\0');

    const ProgramRun run = runVexlo(dir, "blank.img", "atari=list;atari_retries=0");

    EXPECT_EQ(run.status, 251);
    const std::string end = "starting VexloServer\n\nusing drive image: blank.img\n\n";
    EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), end.size())), end) << run.out;
    EXPECT_EQ(run.err, "Bad root checksum (blank.img)\n"
                       "Vexlo: blank.img cannot be served; vexlo-image info blank.img shows what it holds.\n");
    EXPECT_EQ(run.log.find("FT_GetStatus"), std::string::npos) << "not one poll:\n" << run.log;
    EXPECT_FALSE(fs::exists(dir / "out" / "atari" / "HELLO.TXT"));
}

// A folder whose files the window cannot hold is refused before the
// cartridge is opened: the emulator never sees an open.
TEST(DrvimgFolder, FilesBeyondTheWindowAreRefusedBeforeTheCartridgeIsOpened) {
    const fs::path dir = freshDir("FolderTooBig");
    fs::create_directories(dir / "src");
    std::ofstream(dir / "src" / "SMALL.TXT") << "small";
    std::ofstream(dir / "src" / "HUGE.BIN").close();
    fs::resize_file(dir / "src" / "HUGE.BIN", 21u << 20);  // sparse: no disk space

    const ProgramRun run = runVexlo(dir, "src", "");

    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.find("Error: -1: -drvimg folder cannot be served: the files come to more than the 20 MB "
                           "window holds (at src/HUGE.BIN) ("),
              0u)
        << run.err;
    EXPECT_EQ(run.log.find("FT_OpenEx"), std::string::npos) << run.log;
}

}  // namespace
