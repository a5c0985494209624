// vexlo-image and its image library. Images made by `create` are checked by
// tools nobody here wrote (fsck.fat, mtools); images those tools make are
// read back by `ls` and `get`; hostile images end in clear errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "AtariImage.h"
#include "DriveImage.h"

namespace fs = std::filesystem;
using atari::Bytes;

namespace {

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = std::uint8_t(x >> 16);
    }
    return out;
}

Bytes readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeWhole(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readText(const fs::path& path) {
    const Bytes b = readWhole(path);
    return std::string(b.begin(), b.end());
}

// Relative host path -> contents.
using Tree = std::map<std::string, Bytes>;

// Files whose 8.3 names stay as they are (case aside), spanning many
// clusters, an empty one, and two folders down.
Tree sampleTree() {
    return Tree{
        {"hello.txt", Bytes{'H', 'e', 'l', 'l', 'o', '\r', '\n'}},
        {"EMPTY.DAT", {}},
        {"EXACT.BIN", pattern(8192, 1)},
        {"DIR/BIG.BIN", pattern(300001, 2)},
        {"DIR/SUB/DEEP.TXT", pattern(5000, 3)},
    };
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void writeTree(const Tree& tree, const fs::path& root) {
    for (const auto& [name, content] : tree) writeWhole(root / name, content);
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

fs::path workDir(const std::string& name) {
    const fs::path dir = fs::path(WORK_DIR) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs a shell command in `dir`, capturing both streams.
ToolRun shell(const fs::path& dir, const std::string& command) {
    const std::string full = "cd '" + dir.string() + "' && " + command + " >run-out.txt 2>run-err.txt";
    const int raw = std::system(full.c_str());
    ToolRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readText(dir / "run-out.txt");
    run.err = readText(dir / "run-err.txt");
    return run;
}

ToolRun tool(const fs::path& dir, const std::string& args) {
    return shell(dir, std::string("'") + VEXLO_IMAGE + "' " + args);
}

bool haveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

constexpr std::uint64_t FS_OFFSET = DriveImage::WINDOW_FILE_OFFSET;

// ---------------------------------------------------------------------------
// create, checked by fsck.fat and mtools

struct CreateCase {
    const char* name;
    const char* options;
    std::uint32_t bytesPerSector;
    const char* id;
};

void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.name; }

class CreateTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateTest, FsckFindsNoErrorAndMtoolsReadsEveryFileBack) {
    if (!haveTool("fsck.fat") || !haveTool("mcopy")) GTEST_SKIP() << "fsck.fat or mcopy missing";
    const CreateCase& c = GetParam();
    const fs::path dir = workDir(std::string("create-") + c.name);
    const Tree files = sampleTree();
    writeTree(files, dir / "src");

    const ToolRun made = tool(dir, std::string("create disk.img src ") + c.options);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find(std::string("disk.img: ") + c.id + " partition"), std::string::npos) << made.out;

    const Bytes image = readWhole(dir / "disk.img");
    ASSERT_GT(image.size(), FS_OFFSET);
    EXPECT_EQ(atari::rootWordSum(image.data()), 0x1234);
    EXPECT_EQ(image[0x1C6] & 1, 1);
    EXPECT_EQ(std::string(image.begin() + 0x1C7, image.begin() + 0x1CA), c.id);
    EXPECT_EQ(image[FS_OFFSET + 11] | image[FS_OFFSET + 12] << 8, int(c.bytesPerSector));

    // fsck.fat has no offset option: it checks the partition on its own.
    writeWhole(dir / "partition.img", Bytes(image.begin() + FS_OFFSET, image.end()));
    const ToolRun fsck = shell(dir, "fsck.fat -n -A -v partition.img");
    EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
    EXPECT_NE(fsck.out.find("16 bit entries"), std::string::npos) << fsck.out;

    for (const auto& [name, content] : files) {
        const ToolRun got = shell(dir, "MTOOLS_SKIP_CHECK=1 mcopy -n -i disk.img@@" + std::to_string(FS_OFFSET) + " '::/" +
                                       upper(name) + "' out.bin");
        ASSERT_EQ(got.status, 0) << name << ": " << got.err;
        EXPECT_TRUE(readWhole(dir / "out.bin") == content) << name << " differs";
    }
    const bool labelled = std::string(c.options).find("--label") != std::string::npos;
    const ToolRun label = shell(dir, "MTOOLS_SKIP_CHECK=1 mlabel -s -i disk.img@@" + std::to_string(FS_OFFSET) + " ::");
    EXPECT_NE(label.out.find(labelled ? "TESTDISK" : "has no label"), std::string::npos) << label.out;
    const ToolRun info = tool(dir, "info disk.img");
    EXPECT_NE(info.out.find(labelled ? "Label: \"TESTDISK\"\n" : "Label: none\n"), std::string::npos) << info.out;
}

const CreateCase createCases[] = {
    {"Default8MbSectors512", "--label 'Test Disk'", 512, "GEM"},
    // fsck.fat takes "NO NAME" in the boot sector, not blanks.
    {"Default8MbWithoutLabel", "", 512, "GEM"},
    {"Small2300KbOneSectorClusters", "--size-kb 2300 --label 'Test Disk'", 512, "GEM"},
    {"SmallestSize", "--size-kb 2076", 512, "GEM"},
    {"Big16MbSectors1024", "--size-mb 16 --label 'Test Disk'", 1024, "BGM"},
    {"WholeWindowSectors2048", "--size-mb 20 --sector-size 2048 --label 'Test Disk'", 2048, "BGM"},
    {"Sectors4096", "--size-mb 19 --sector-size 4096 --label 'Test Disk'", 4096, "BGM"},
};

INSTANTIATE_TEST_SUITE_P(Geometries, CreateTest, ::testing::ValuesIn(createCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Create, TheFileIsSparseAndHoldsThePartitionWhereTheWindowLooks) {
    const fs::path dir = workDir("create-sparse");
    writeTree(sampleTree(), dir / "src");
    ASSERT_EQ(tool(dir, "create disk.img src").status, 0);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "disk.img").c_str(), &info), 0);
    EXPECT_EQ(std::uint64_t(info.st_size), FS_OFFSET + 8 * 1024 * 1024);
    // The file system's contents only: some 330 KB, far below the 73 MB file.
    EXPECT_LT(std::uint64_t(info.st_blocks) * 512, 4u * 1024 * 1024);

    // The server's own loader takes it, and finds the boot sector's BPB.
    DriveImage loaded;
    ASSERT_EQ(loaded.Load((dir / "disk.img").c_str()), 1);
    EXPECT_EQ(loaded.partitionStart, 2u);
    EXPECT_EQ(loaded.bytesPerSector, 512);
    EXPECT_EQ(loaded.fatCount, 2);
}

TEST(Create, NamesThatAreNot83AreMappedUniquelyAndPrinted) {
    const fs::path dir = workDir("create-names");
    writeWhole(dir / "src" / "Long File Name.txt", Bytes{'1'});
    writeWhole(dir / "src" / "longfilename.txt", Bytes{'2'});
    writeWhole(dir / "src" / "LONGFILE.TXT", Bytes{'3'});
    writeWhole(dir / "src" / "caf\xC3\xA9 menu.text", Bytes{'4'});
    writeWhole(dir / "src" / ".hidden", Bytes{'5'});
    writeWhole(dir / "src" / "a+b=c[1].c", Bytes{'6'});
    writeWhole(dir / "src" / "readme.txt", Bytes{'7'});
    writeWhole(dir / "src" / "Folder With Spaces" / "x.txt", Bytes{'8'});

    const ToolRun made = tool(dir, "create disk.img src");
    ASSERT_EQ(made.status, 0) << made.err;
    // A name that is 8.3 already keeps it (upper case), and so wins the plain
    // 8.3 form over names that only map to it.
    const std::string expected =
        "8.3 name: .hidden -> HIDDEN\n"
        "8.3 name: Folder With Spaces -> FOLDERWI\n"
        "8.3 name: Long File Name.txt -> LONGFI~1.TXT\n"
        "8.3 name: a+b=c[1].c -> A_B_C_1_.C\n"
        "8.3 name: caf\xC3\xA9 menu.text -> CAF_MENU.TEX\n"
        "8.3 name: longfilename.txt -> LONGFI~2.TXT\n";
    EXPECT_EQ(made.out.substr(0, expected.size()), expected) << made.out;

    const ToolRun listed = tool(dir, "ls disk.img");
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const char* name : {"/HIDDEN\n", "/FOLDERWI/\n", "/FOLDERWI/X.TXT\n", "/LONGFI~1.TXT\n", "/LONGFILE.TXT\n",
                             "/A_B_C_1_.C\n", "/CAF_MENU.TEX\n", "/LONGFI~2.TXT\n", "/README.TXT\n"}) {
        EXPECT_NE(listed.out.find(name), std::string::npos) << name << " in\n" << listed.out;
    }
    const ToolRun got = tool(dir, "get disk.img /longfile.txt -");
    EXPECT_EQ(got.out, "3");
}

TEST(Create, FilesThatDoNotFitAreRefusedBeforeAnythingIsWritten) {
    const fs::path dir = workDir("create-too-big");
    writeWhole(dir / "src" / "big.bin", pattern(3 * 1024 * 1024, 4));

    const ToolRun small = tool(dir, "create disk.img src --size-mb 3");
    EXPECT_EQ(small.status, 1);
    EXPECT_NE(small.err.find("holds only"), std::string::npos) << small.err;
    EXPECT_NE(small.err.find("use a larger --size-mb\n"), std::string::npos) << small.err;
    EXPECT_FALSE(fs::exists(dir / "disk.img"));

    writeWhole(dir / "huge" / "a.bin", pattern(12 * 1024 * 1024, 5));
    writeWhole(dir / "huge" / "b.bin", pattern(9 * 1024 * 1024, 6));
    const ToolRun huge = tool(dir, "create disk.img huge");
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("more than the 20 MB window holds"), std::string::npos) << huge.err;
    EXPECT_FALSE(fs::exists(dir / "disk.img"));

    // Without a size the default grows to fit.
    const ToolRun grown = tool(dir, "create disk.img src big.bin");
    EXPECT_EQ(grown.status, 1) << "big.bin is not in the work folder";
    const ToolRun fits = tool(dir, "create disk.img src");
    ASSERT_EQ(fits.status, 0) << fits.err;
    EXPECT_NE(fits.out.find("8192 KB"), std::string::npos) << fits.out;
}

TEST(Create, AnExistingImageIsOnlyOverwrittenWithForce) {
    const fs::path dir = workDir("create-force");
    writeWhole(dir / "src" / "a.txt", Bytes{'a'});
    writeWhole(dir / "disk.img", Bytes{'k', 'e', 'e', 'p'});

    const ToolRun refused = tool(dir, "create disk.img src");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("disk.img exists; give --force to overwrite it"), std::string::npos) << refused.err;
    EXPECT_EQ(readText(dir / "disk.img"), "keep");

    ASSERT_EQ(tool(dir, "create disk.img src --force").status, 0);
    EXPECT_EQ(tool(dir, "get disk.img /A.TXT -").out, "a");
}

struct UsageCase {
    const char* name;
    const char* args;
    int status;
    const char* message;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, WrongArgumentsSayWhat) {
    const fs::path dir = workDir(std::string("usage-") + GetParam().name);
    fs::create_directories(dir / "src");
    const ToolRun run = tool(dir, GetParam().args);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_NE((run.out + run.err).find(GetParam().message), std::string::npos) << run.out << run.err;
    EXPECT_FALSE(fs::exists(dir / "disk.img"));
}

const UsageCase usageCases[] = {
    {"NoCommand", "", 2, "Usage:"},
    {"UnknownCommand", "make disk.img", 2, "unknown command make"},
    {"CreateWithoutOut", "create", 2, "create needs OUT.img"},
    {"SizeTooLarge", "create disk.img src --size-kb 20480", 2, "bad --size-kb 20480: the size must be 2076 to 20479 KB"},
    {"SizeTooSmall", "create disk.img src --size-kb 63", 2, "bad --size-kb 63: the size must be 2076 to 20479 KB"},
    {"SizeZero", "create disk.img src --size-kb 0", 2, "bad --size-kb 0: the size must be 2076 to 20479 KB"},
    {"SizeMbTooLarge", "create disk.img src --size-mb 4000000", 2, "bad --size-mb 4000000: the size must be"},
    {"SizeTooSmallForItsSectors", "create disk.img src --size-mb 8 --sector-size 4096", 2,
     "bad --size-mb 8: the size must be 16376 to 20479 KB with 4096-byte sectors"},
    {"SizeNotANumber", "create disk.img src --size-mb 8x", 2, "bad --size-mb: 8x"},
    {"OddSectorSize", "create disk.img src --sector-size 8192", 2, "bad --sector-size 8192: use 512, 1024, 2048 or 4096"},
    {"SectorSizeNotAPowerOfTwo", "create disk.img src --sector-size 1000", 2, "bad --sector-size 1000"},
    {"TooSmallForFat16", "create disk.img src --size-kb 1024", 2, "bad --size-kb 1024: the size must be 2076"},
    {"MissingSource", "create disk.img nothing-here", 1, "no such file or folder: nothing-here"},
    {"UnknownOption", "create disk.img src --fat 12", 2, "unknown option --fat"},
    {"MissingImage", "info nothing.img", 1, "cannot open nothing.img"},
    {"Version", "--version", 0, "vexlo-image " VEXLO_VERSION "\n"},
    {"VersionAfterACommand", "info --version", 0, "vexlo-image " VEXLO_VERSION "\n"},
    {"ShortHelp", "-h", 0, "Usage:"},
    {"LongHelp", "create --help", 0, "Usage:"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, UsageTest, ::testing::ValuesIn(usageCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// ls and get on images made by mkfs.fat -A and mtools

struct RefereeCase {
    const char* name;
    const char* options;
    const char* fat;
};

void PrintTo(const RefereeCase& c, std::ostream* os) { *os << c.name; }

class RefereeImageTest : public ::testing::TestWithParam<RefereeCase> {};

TEST_P(RefereeImageTest, LsAndGetReadWhatMtoolsWrote) {
    if (!haveTool("mkfs.fat") || !haveTool("mcopy")) GTEST_SKIP() << "mkfs.fat or mcopy missing";
    const RefereeCase& c = GetParam();
    const fs::path dir = workDir(std::string("referee-") + c.name);
    const Tree files = sampleTree();
    writeTree(files, dir / "src");
    const ToolRun made = shell(dir, std::string("'") + MAKE_ATARI_IMAGE + "' " + c.options + " disk.img src");
    ASSERT_EQ(made.status, 0) << made.err;
    const struct stat before = [&] {
        struct stat s {};
        ::stat((dir / "disk.img").c_str(), &s);
        return s;
    }();
    const Bytes original = readWhole(dir / "disk.img");

    const ToolRun info = tool(dir, "info disk.img");
    EXPECT_EQ(info.status, 0) << info.out << info.err;
    EXPECT_NE(info.out.find(std::string("File system: ") + c.fat), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Result: the server loads this image; the Atari sees 5 files in 2 folders, 313200 bytes."),
              std::string::npos)
        << info.out;

    const ToolRun listed = tool(dir, "ls disk.img /dir");
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("    300001  "), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("  /DIR/BIG.BIN\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("  /DIR/SUB/\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("2 files, 1 folder, 305001 bytes\n"), std::string::npos) << listed.out;

    const ToolRun got = tool(dir, "get disk.img / out");
    ASSERT_EQ(got.status, 0) << got.err;
    for (const auto& [name, content] : files) {
        EXPECT_TRUE(readWhole(dir / "out" / upper(name)) == content) << name;
    }
    const ToolRun one = tool(dir, "get disk.img /Dir/Sub/Deep.txt");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_TRUE(readWhole(dir / "DEEP.TXT") == files.at("DIR/SUB/DEEP.TXT"));

    // Reading never writes to the image.
    struct stat after {};
    ::stat((dir / "disk.img").c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_TRUE(readWhole(dir / "disk.img") == original);
}

const RefereeCase refereeCases[] = {
    {"Fat16Sectors512", "--size-mb 8 --sector-size 512", "FAT16"},
    {"Fat16Sectors2048", "--size-mb 19 --sector-size 2048", "FAT16"},
    {"Fat12Sectors1024", "--size-mb 2 --sector-size 1024 --fat 12", "FAT12"},
};

INSTANTIATE_TEST_SUITE_P(Images, RefereeImageTest, ::testing::ValuesIn(refereeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Hostile images

// A made image, opened with the reader to find where things are.
struct MadeImage {
    atari::BuiltImage built;
    Bytes window;
    atari::Volume volume;

    MadeImage() {
        atari::SourceNode root;
        root.folder = true;
        atari::SourceNode hello;
        hello.name = "HELLO.TXT";
        hello.content = Bytes{'H', 'i'};
        atari::SourceNode sub;
        sub.name = "SUB";
        sub.folder = true;
        atari::SourceNode data;
        data.name = "DATA.BIN";
        data.content = pattern(3000, 7);
        sub.children.push_back(data);
        root.children = {hello, sub};
        std::string error;
        EXPECT_TRUE(atari::buildImage(root, atari::BuildOptions{}, built, error)) << error;
        reopen();
    }
    void reopen() {
        window.assign(DriveImage::IMAGE_BYTES, 0);
        atari::fillServerWindow(built, window.data());
        std::string error;
        EXPECT_TRUE(atari::openServedVolume(atari::windowOf(window), volume, error)) << error;
    }
    // Offsets into built.partition.
    std::size_t fatEntry(std::uint32_t cluster, std::uint32_t fat = 0) const {
        return (volume.reservedSectors + fat * volume.sectorsPerFat) * volume.bytesPerSector + cluster * 2;
    }
    std::size_t rootEntry(int index) const { return volume.rootStart * volume.bytesPerSector + index * 32; }
    std::size_t clusterOffset(std::uint32_t cluster) const {
        return (volume.dataStart + (cluster - 2) * volume.sectorsPerCluster) * std::size_t(volume.bytesPerSector);
    }
    void setFat(std::uint32_t cluster, std::uint16_t value) {
        for (std::uint32_t fat = 0; fat < 2; ++fat) {
            built.partition[fatEntry(cluster, fat)] = std::uint8_t(value);
            built.partition[fatEntry(cluster, fat) + 1] = std::uint8_t(value >> 8);
        }
    }
    // Root: HELLO.TXT (cluster 2), SUB (cluster 3); SUB holds ., .., DATA.BIN (clusters 4-6).
    std::size_t dataEntry() const { return clusterOffset(3) + 64; }
    // The 11 name bytes of an entry, embedded NULs included.
    void setName(std::size_t entry, const char (&name)[12]) {
        std::copy(name, name + 11, built.partition.begin() + std::ptrdiff_t(entry));
    }
};

struct HostileCase {
    const char* name;
    void (*spoil)(MadeImage&, std::uint64_t& truncateTo);
    const char* command;  // run on the spoiled image
    const char* message;  // on stderr, or on stdout for info
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileImageTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileImageTest, ClearErrorNonZeroStatusAndTheImageUntouched) {
    const HostileCase& c = GetParam();
    const fs::path dir = workDir(std::string("hostile-") + c.name);
    MadeImage made;
    std::uint64_t truncateTo = 0;
    c.spoil(made, truncateTo);
    std::string error;
    ASSERT_TRUE(atari::writeImageFile(made.built, (dir / "disk.img").string(), error)) << error;
    if (truncateTo != 0) fs::resize_file(dir / "disk.img", truncateTo);
    const Bytes original = readWhole(dir / "disk.img");
    fs::permissions(dir / "disk.img", fs::perms::owner_read);

    const ToolRun run = tool(dir, std::string(c.command) + " disk.img" +
                                  (std::string(c.command) == "get" ? " /SUB/DATA.BIN out.bin" : ""));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
    EXPECT_TRUE(readWhole(dir / "disk.img") == original);
}

const HostileCase hostileCases[] = {
    {"WrongChecksumInfo", [](MadeImage& m, std::uint64_t&) { m.built.rootSector[100] ^= 1; }, "info",
     "Result: the server refuses this image: bad root sector checksum."},
    {"WrongChecksumLs", [](MadeImage& m, std::uint64_t&) { m.built.rootSector[100] ^= 1; }, "ls",
     "bad root sector checksum"},
    {"Inactive",
     [](MadeImage& m, std::uint64_t&) {
         m.built.rootSector[0x1C6] = 0;
         atari::fixRootChecksum(m.built.rootSector.data());
     },
     "info", "not active: \"First partition not active\""},
    {"OutsideWindow",
     [](MadeImage& m, std::uint64_t&) {
         m.built.rootSector[0x1CB] = 0xA0;  // start sector 40962
         atari::fixRootChecksum(m.built.rootSector.data());
     },
     "info", "outside the 20971520-byte window (\"Partition outside drive image window\")"},
    {"OutsideWindowSaysWhereItMustBe",
     [](MadeImage& m, std::uint64_t&) {
         m.built.rootSector[0x1CB] = 0xA0;
         atari::fixRootChecksum(m.built.rootSector.data());
     },
     "info",
     "Note: the server needs partition 0 at file offset 65127424 (start sector 2, file sector 127202); create can "
     "rebuild it"},
    {"TruncatedBeforeTheWindow", [](MadeImage&, std::uint64_t& t) { t = 4096; }, "info",
     "beyond the file's end: the server sees zeros there"},
    {"TruncatedInsideTheFileSystem", [](MadeImage& m, std::uint64_t& t) { t = FS_OFFSET + m.clusterOffset(4); },
     "get", "the image file ends inside sectors"},
    {"TruncatedInsideAFileInfo", [](MadeImage& m, std::uint64_t& t) { t = FS_OFFSET + m.clusterOffset(5); }, "info",
     "Result: the server loads this image, but the Atari fails reading it: /SUB/DATA.BIN: DATA.BIN: the image file "
     "ends inside sectors"},
    {"LoopingChain", [](MadeImage& m, std::uint64_t&) { m.setFat(5, 4); }, "get", "is met twice"},
    {"ChainOutOfRange", [](MadeImage& m, std::uint64_t&) { m.setFat(5, 0xF000); }, "get", "is outside the disk"},
    {"ChainIntoFreeCluster", [](MadeImage& m, std::uint64_t&) { m.setFat(5, 100); }, "get",
     "points to a free cluster"},
    {"SizeBeyondTheChain",
     [](MadeImage& m, std::uint64_t&) { m.built.partition[m.dataEntry() + 29] = 0x40; },  // 16 KB + 3000
     "get", "is beyond its cluster chain"},
    {"FolderCycle",
     [](MadeImage& m, std::uint64_t&) {
         m.built.partition[m.dataEntry() + 11] = 0x10;  // DATA.BIN becomes a folder ...
         m.built.partition[m.dataEntry() + 26] = 3;     // ... that is SUB itself
     },
     "ls", "met twice"},
    {"FolderCycleInfo",
     [](MadeImage& m, std::uint64_t&) {
         m.built.partition[m.dataEntry() + 11] = 0x10;
         m.built.partition[m.dataEntry() + 26] = 3;
     },
     "info", "Result: the server loads this image, but the Atari fails reading it"},
    {"ZeroBytesPerSector",
     [](MadeImage& m, std::uint64_t&) { m.built.partition[11] = m.built.partition[12] = 0; }, "info",
     "but the Atari cannot use it: bad boot sector: 0 bytes per sector"},
    {"FatTooSmall", [](MadeImage& m, std::uint64_t&) { m.built.partition[22] = 1; }, "ls",
     "cannot hold"},
    {"BlankName",
     [](MadeImage& m, std::uint64_t&) {
         for (int i = 0; i < 8; ++i) m.built.partition[m.dataEntry() + i] = ' ';
     },
     "ls", "has a blank name"},
    // Names that would leave the destination folder or name something else on the host.
    {"NameClimbsOut", [](MadeImage& m, std::uint64_t&) { m.setName(m.dataEntry(), "x/../..    "); }, "get",
     "folder entry 2 is named \"x/../..\", which holds '/', a path separator"},
    {"NameIsAbsolute", [](MadeImage& m, std::uint64_t&) { m.setName(m.dataEntry(), "/ETC    BIN"); }, "get",
     "is named \"/ETC.BIN\", which holds '/'"},
    {"NameHoldsBackslash", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(0), "..\\X    TXT"); }, "ls",
     "starts with '.'"},
    {"NameHoldsBackslashInside", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(0), "A\\B     TXT"); }, "info",
     "Result: the server loads this image, but the Atari fails reading it: /: folder entry 0 is named \"A\\B.TXT\", "
     "which holds '\\'"},
    {"NameHoldsNul", [](MadeImage& m, std::uint64_t&) { m.setName(m.dataEntry(), "DA\0A    BIN"); }, "get",
     "is named \"DA\\x00A.BIN\", which holds a NUL byte"},
    {"NameClearsTheScreen", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(0), "\x1b[2J    TXT"); }, "info",
     "is named \"\\x1b[2J.TXT\", which holds the control byte 0x1B"},
    {"NameNamesADrive", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(0), "C:X     TXT"); }, "ls",
     "which holds ':'"},
    {"DotDotInTheRoot", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(0), "..         "); }, "ls",
     "folder entry 0 is named \"..\", which names a folder itself or its parent"},
    {"DotEntryOutOfPlace", [](MadeImage& m, std::uint64_t&) { m.setName(m.dataEntry(), ".          "); }, "get",
     "folder entry 2 is named \".\", which names a folder itself or its parent"},
    {"TwoEntriesOfOneName", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(1), "HELLO   TXT"); }, "get",
     "folder entry 1: a second entry named \"HELLO.TXT\""},
    {"TwoEntriesOfOneNameButTheCase", [](MadeImage& m, std::uint64_t&) { m.setName(m.rootEntry(1), "hello   txt"); },
     "info", "a second entry named \"hello.txt\""},
};

INSTANTIATE_TEST_SUITE_P(Images, HostileImageTest, ::testing::ValuesIn(hostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Hostile folders and outputs: links, pipes, existing files, a full disk.
// Every case starts from src/ (A.TXT, SUB/B.TXT) and disk.img made from it.

bool hasPartFiles(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.path().extension() == ".part") return true;
    }
    return false;
}

struct HostCase {
    const char* name;
    void (*setUp)(const fs::path& dir);
    const char* args;  // vexlo-image's arguments, run in the case's folder
    int status;
    const char* limits;  // shell commands before the run
    const char* message;  // on standard error
    void (*check)(const fs::path& dir, const ToolRun& run);
};

void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

class HostileFolderTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostileFolderTest, RefusedOrDoneWithoutTouchingAnythingElse) {
    const HostCase& c = GetParam();
    const fs::path dir = workDir(std::string("host-") + c.name);
    writeWhole(dir / "src" / "A.TXT", Bytes{'a'});
    writeWhole(dir / "src" / "SUB" / "B.TXT", Bytes{'b'});
    ASSERT_EQ(tool(dir, "create disk.img src").status, 0);
    c.setUp(dir);
    // A pipe that blocked would end here instead of in the test's time-out.
    const ToolRun run = shell(dir, std::string(c.limits) + "timeout 60 '" + VEXLO_IMAGE + "' " + c.args);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(hasPartFiles(dir));
    c.check(dir, run);
}

void mkfifo(const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }
// A disk that is full after about 100 KB: writes past it fail as on a full disk.
#define FULL_DISK "ulimit -f 200; trap '' XFSZ; "

const HostCase hostCases[] = {
    {"GetChecksEveryTargetBeforeWriting",
     [](const fs::path& d) { writeWhole(d / "out" / "SUB" / "B.TXT", Bytes{'o', 'l', 'd'}); }, "get disk.img / out", 1, "",
     "out/SUB/B.TXT exists; give --force to overwrite it",
     [](const fs::path& d, const ToolRun&) {
         EXPECT_FALSE(fs::exists(d / "out" / "A.TXT"));
         EXPECT_EQ(readText(d / "out" / "SUB" / "B.TXT"), "old");
     }},
    {"GetIntoALinkedFolder",
     [](const fs::path& d) {
         fs::create_directories(d / "elsewhere");
         fs::create_directory_symlink("elsewhere", d / "out");
     },
     "get disk.img / out", 1, "", "out is a link (to elsewhere); get writes into a folder itself, never through a link",
     [](const fs::path& d, const ToolRun&) { EXPECT_TRUE(fs::is_empty(d / "elsewhere")); }},
    {"GetThroughALinkedSubFolder",
     [](const fs::path& d) {
         fs::create_directories(d / "elsewhere");
         fs::create_directories(d / "out");
         fs::create_directory_symlink("../elsewhere", d / "out" / "SUB");
     },
     "get disk.img / out --force", 1, "", "out/SUB is a link (to ../elsewhere)",
     [](const fs::path& d, const ToolRun&) {
         EXPECT_TRUE(fs::is_empty(d / "elsewhere"));
         EXPECT_FALSE(fs::exists(d / "out" / "A.TXT"));
     }},
    {"GetToADanglingLink", [](const fs::path& d) { fs::create_symlink("missing.txt", d / "out.txt"); },
     "get disk.img /A.TXT out.txt", 1, "",
     "out.txt is a link to missing.txt, which does not exist; give --force to replace the link with the file",
     [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "missing.txt")); }},
    {"GetForceReplacesADanglingLinkNotWhereItPoints",
     [](const fs::path& d) { fs::create_symlink("missing.txt", d / "out.txt"); }, "get disk.img /A.TXT out.txt --force",
     0, "", "",
     [](const fs::path& d, const ToolRun&) {
         EXPECT_FALSE(fs::exists(d / "missing.txt"));
         EXPECT_FALSE(fs::is_symlink(d / "out.txt"));
         EXPECT_EQ(readText(d / "out.txt"), "a");
     }},
    {"GetToALinkedFolderAsAFile",
     [](const fs::path& d) {
         fs::create_directories(d / "elsewhere");
         fs::create_directory_symlink("elsewhere", d / "there");
     },
     "get disk.img /A.TXT there --force", 1, "", "there is a link to the folder elsewhere; name the folder itself",
     [](const fs::path& d, const ToolRun&) { EXPECT_TRUE(fs::is_empty(d / "elsewhere")); }},
    {"CreateOnADanglingLink", [](const fs::path& d) { fs::create_symlink("gone.img", d / "new.img"); },
     "create new.img src", 1, "", "new.img is a link to gone.img, which does not exist; give --force",
     [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "gone.img")); }},
    {"CreateForceOnADanglingLinkReplacesTheLink",
     [](const fs::path& d) { fs::create_symlink("gone.img", d / "new.img"); }, "create new.img src --force", 0, "", "",
     [](const fs::path& d, const ToolRun&) {
         EXPECT_FALSE(fs::exists(d / "gone.img"));
         EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d / "new.img")));
     }},
    {"InfoOnAPipe", [](const fs::path& d) { mkfifo(d / "pipe.img"); }, "info pipe.img", 1, "",
     "pipe.img is not a regular file", [](const fs::path&, const ToolRun&) {}},
    {"LsOnAPipe", [](const fs::path& d) { mkfifo(d / "pipe.img"); }, "ls pipe.img", 1, "", "pipe.img is not a regular file",
     [](const fs::path&, const ToolRun&) {}},
    {"GetFromAPipe", [](const fs::path& d) { mkfifo(d / "pipe.img"); }, "get pipe.img /A.TXT out.txt", 1, "",
     "pipe.img is not a regular file", [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "out.txt")); }},
    {"CreateFromAPipe", [](const fs::path& d) { mkfifo(d / "src" / "SUB" / "feed"); }, "create new.img src", 1, "",
     "src/SUB/feed is neither a file nor a folder",
     [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "new.img")); }},
    {"CreateFromAPipeGivenByName", [](const fs::path& d) { mkfifo(d / "feed"); }, "create new.img feed", 1, "",
     "feed is neither a file nor a folder", [](const fs::path&, const ToolRun&) {}},
    {"CreateForceOnAPipe", [](const fs::path& d) { mkfifo(d / "out.img"); }, "create out.img src --force", 1, "",
     "out.img is not a regular file", [](const fs::path&, const ToolRun&) {}},
    {"CreateForceOnAFullDiskKeepsTheOldImage", [](const fs::path& d) { writeWhole(d / "old.img", Bytes{'k', 'e', 'e', 'p'}); },
     "create old.img src --force", 1, FULL_DISK, "cannot write old.img",
     [](const fs::path& d, const ToolRun&) { EXPECT_TRUE(readText(d / "old.img") == "keep"); }},
    {"CreateOnAFullDiskLeavesNothing", [](const fs::path&) {}, "create new.img src", 1, FULL_DISK,
     "cannot write new.img", [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "new.img")); }},
    {"GetForceOnAFullDiskKeepsTheOldFile",
     [](const fs::path& d) {
         writeWhole(d / "big" / "BIG.BIN", pattern(300000, 9));
         ASSERT_EQ(tool(d, "create big.img big").status, 0);
         writeWhole(d / "BIG.BIN", Bytes{'o', 'l', 'd'});
     },
     "get big.img /BIG.BIN BIG.BIN --force", 1, FULL_DISK, "cannot write BIG.BIN",
     [](const fs::path& d, const ToolRun&) { EXPECT_TRUE(readText(d / "BIG.BIN") == "old"); }},
    {"LinkOutOfTheSourceIsNamed",
     [](const fs::path& d) {
         writeWhole(d / "outside.txt", Bytes{'o'});
         fs::create_symlink("../outside.txt", d / "src" / "out.txt");
     },
     "create new.img src", 0, "", "vexlo-image: following the link src/out.txt -> ../outside.txt, outside its folder\n",
     [](const fs::path& d, const ToolRun& run) {
         EXPECT_EQ(tool(d, "get new.img /OUT.TXT -").out, "o");
         EXPECT_EQ(run.err.find("SUB"), std::string::npos) << "one line per link: " << run.err;
     }},
    {"LinkInsideTheSourceIsQuiet", [](const fs::path& d) { fs::create_symlink("A.TXT", d / "src" / "C.TXT"); },
     "create new.img src", 0, "", "", [](const fs::path&, const ToolRun& run) { EXPECT_EQ(run.err, ""); }},
    {"DanglingLinkInTheSourceNamesTheEntry", [](const fs::path& d) { fs::create_symlink("nowhere", d / "src" / "SUB" / "gone"); },
     "create new.img src", 1, "", "src/SUB/gone is a link to nowhere, which does not exist",
     [](const fs::path& d, const ToolRun&) { EXPECT_FALSE(fs::exists(d / "new.img")); }},
    {"ControlBytesInSourceNamesAreEscaped",
     [](const fs::path& d) { writeWhole(d / "src" / "\x1b[2Jclear.txt", Bytes{'c'}); }, "create new.img src", 0, "", "",
     [](const fs::path&, const ToolRun& run) {
         EXPECT_NE(run.out.find("8.3 name: \\x1b[2Jclear.txt -> __2JCLEA.TXT\n"), std::string::npos) << run.out;
         EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
     }},
};

INSTANTIATE_TEST_SUITE_P(Hosts, HostileFolderTest, ::testing::ValuesIn(hostCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An ordinary Atari image (partition at sector 2 of the file) is explained.
TEST(Info, AnOrdinaryImageIsExplainedWithTheOffsetItWouldNeed) {
    if (!haveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    const fs::path dir = workDir("info-ordinary");
    ASSERT_EQ(shell(dir, "mkfs.fat -A -C fs.img 4096").status, 0);
    Bytes disk(1024, 0);
    disk[0x1C6] = 1;
    disk[0x1C7] = 'G';
    disk[0x1C8] = 'E';
    disk[0x1C9] = 'M';
    disk[0x1CD] = 2;
    disk[0x1CF] = 0;
    disk[0x1D0] = 0x20;  // 8192 sectors
    atari::fixRootChecksum(disk.data());
    const Bytes fsBytes = readWhole(dir / "fs.img");
    disk.insert(disk.end(), fsBytes.begin(), fsBytes.end());
    writeWhole(dir / "ordinary.img", disk);

    const ToolRun run = tool(dir, "info ordinary.img");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("beyond the file's end: the server sees zeros there"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Note: the file holds a boot sector at file offset 1024, where an ordinary disk has "
                           "partition 0; the server needs it at file offset 65127424"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("create can rebuild it: copy the image's files into a folder"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("vexlo-image create NEW.img FOLDER"), std::string::npos) << run.out;
}

// The server's trace areas, from its own arithmetic: 2 FATs of 32 sectors
// and 512 root entries make fat 1-64, dir 65-80, data from 81.
TEST(Info, TellsTheServersTraceAreasAndTheBootSector) {
    const fs::path dir = workDir("info-areas");
    writeTree(sampleTree(), dir / "src");
    ASSERT_EQ(tool(dir, "create disk.img src").status, 0);
    const ToolRun run = tool(dir, "info disk.img");
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* line :
         {"Root sector: word sum 0x1234, as the server needs\n",
          "Partition 0: flags 0x01 (active), id GEM, start sector 2, 16384 sectors (8192 KB); disk 143586 sectors\n",
          "Boot sector: buffer offset 1024 = file offset 65127424 (file sector 127202), inside the window\n",
          "Boot sector: 512 bytes a sector, 2 sectors a cluster, 1 reserved, 2 FATs of 32 sectors, 512 root "
          "entries, 16384 sectors, media 0xF8, 32 sectors a track, 2 sides\n",
          "Server trace: boot 0, fat 1-64, dir 65-80, data from 81\n",
          // The trace takes 1024-byte sectors for the root folder; info says so.
          "Note: the trace's areas are not the disk's: it counts one reserved sector and 512 root entries as 16 "
          "sectors (32 bytes each, 1024 bytes a sector, whatever the sector size); the disk has 1 reserved, the root "
          "folder at 65-96 and data from 97. Only the trace's words differ: the sectors served are the same.\n",
          "Label: none\n",
          "File system: FAT16, 8143 clusters of 1024 bytes; FAT from sector 1, root folder 65-96, data from sector "
          "97\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
    }
}

// ---------------------------------------------------------------------------
// The builder's limits and names

atari::SourceNode folderOf(std::size_t files, const char* nameFormat) {
    atari::SourceNode root;
    root.folder = true;
    root.children.resize(files);
    for (std::size_t i = 0; i < files; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, nameFormat, unsigned(i));
        root.children[i].name = name;
    }
    return root;
}

// 66016 names made a root entry count of 480 before: no field is stored wrapped.
TEST(Build, MoreRootNamesThanTheBootSectorCountsAreRefused) {
    atari::BuiltImage image;
    std::string error;
    EXPECT_FALSE(atari::buildImage(folderOf(65521, "F%05u.BIN"), atari::BuildOptions{}, image, error));
    EXPECT_NE(error.find("65521 names in the root folder are more than the boot sector can count (at most 65520 "
                         "with 512-byte sectors)"),
              std::string::npos)
        << error;
    atari::BuildOptions labelled;
    labelled.label = "DISK";
    EXPECT_FALSE(atari::buildImage(folderOf(65520, "F%05u.BIN"), labelled, image, error));
    EXPECT_NE(error.find("(the label is one)"), std::string::npos) << error;

    ASSERT_TRUE(atari::buildImage(folderOf(65520, "F%05u.BIN"), atari::BuildOptions{}, image, error)) << error;
    EXPECT_EQ(image.partition[17] | image.partition[18] << 8, 65520);
}

// Each collision takes the next free number, also past ~9 where the base
// gives up a letter and past names taken by files that were 8.3 already.
TEST(Build, CollidingLongNamesGetTheNextFreeNumber) {
    atari::SourceNode root = folderOf(12, "a long name %02u.txt");
    atari::SourceNode kept;
    kept.name = "ALONGN~2.TXT";
    root.children.push_back(kept);
    atari::BuiltImage image;
    std::string error;
    ASSERT_TRUE(atari::buildImage(root, atari::BuildOptions{}, image, error)) << error;
    std::vector<std::string> names;
    for (const atari::NameMapping& m : image.renamed) names.push_back(m.to);
    const std::vector<std::string> expected = {"ALONGNAM.TXT", "ALONGN~1.TXT", "ALONGN~3.TXT", "ALONGN~4.TXT",
                                               "ALONGN~5.TXT", "ALONGN~6.TXT", "ALONGN~7.TXT", "ALONGN~8.TXT",
                                               "ALONGN~9.TXT", "ALONG~10.TXT", "ALONG~11.TXT", "ALONG~12.TXT"};
    EXPECT_EQ(names, expected);
}

// The folder window Vexlo serves is what create writes, from the same code.
TEST(FolderWindow, HoldsWhatCreateWritesAtTheWindowsPlaces) {
    const fs::path dir = workDir("folder-window");
    writeTree(sampleTree(), dir / "src");
    ASSERT_EQ(tool(dir, "create disk.img src").status, 0);
    std::string summary;
    std::string error;
    const auto window = atari::windowFromFolder((dir / "src").string(), summary, error);
    ASSERT_TRUE(window) << error;
    EXPECT_EQ(summary, "drive image built in memory from folder " + (dir / "src").string() +
                           ": 8192 KB, 0 names mapped to 8.3");
    Bytes loaded;
    std::uint64_t size = 0;
    ASSERT_TRUE(atari::loadWindow((dir / "disk.img").string(), loaded, size, error)) << error;
    loaded.resize(DriveImage::IMAGE_BYTES, 0);
    EXPECT_TRUE(std::equal(loaded.begin(), loaded.end(), window.get()));

    const auto none = atari::windowFromFolder((dir / "missing").string(), summary, error);
    EXPECT_FALSE(none);
}


// ---------------------------------------------------------------------------
// convert between the served and the plain layout

constexpr std::uint64_t PLAIN_OFFSET = 1024;

Bytes slice(const Bytes& bytes, std::uint64_t from, std::uint64_t length) {
    if (from + length > bytes.size()) return {};
    return Bytes(bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + length));
}

std::uint32_t be32At(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 | std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void putBe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
}

// Partition entry `index` of an AHDI root sector.
void putEntry(Bytes& disk, int index, std::uint8_t flags, std::uint32_t start, std::uint32_t sectors) {
    const std::size_t at = 0x1C6 + std::size_t(index) * 12;
    disk[at] = flags;
    std::copy_n("GEM", 3, disk.begin() + std::ptrdiff_t(at + 1));
    putBe32(disk, at + 4, start);
    putBe32(disk, at + 8, sectors);
}

TEST(Convert, RoundTripKeepsThePartitionByteForByteAndCreatePlainIsTheSame) {
    if (!haveTool("mcopy")) GTEST_SKIP() << "mcopy missing";
    const fs::path dir = workDir("convert-round-trip");
    const Tree files = sampleTree();
    writeTree(files, dir / "src");
    ASSERT_EQ(tool(dir, "create served.img src --size-mb 17").status, 0);
    const ToolRun toPlain = tool(dir, "convert served.img plain.img --to plain");
    ASSERT_EQ(toPlain.status, 0) << toPlain.err;
    EXPECT_NE(toPlain.out.find("in the plain layout, at file sector 2"), std::string::npos) << toPlain.out;
    const ToolRun toServed = tool(dir, "convert plain.img again.img --to served");
    ASSERT_EQ(toServed.status, 0) << toServed.err;

    const Bytes served = readWhole(dir / "served.img");
    const Bytes plain = readWhole(dir / "plain.img");
    const Bytes again = readWhole(dir / "again.img");
    const std::uint32_t sectors = be32At(served, 0x1CE);
    const std::uint64_t length = std::uint64_t(sectors) * 512;
    ASSERT_EQ(plain.size(), PLAIN_OFFSET + length);
    const Bytes partition = slice(served, FS_OFFSET, length);
    ASSERT_FALSE(partition.empty());
    EXPECT_TRUE(slice(plain, PLAIN_OFFSET, length) == partition);
    EXPECT_TRUE(again == served) << "served -> plain -> served is not the image create made";
    EXPECT_EQ(be32At(plain, 0x1CA), 2u);
    EXPECT_EQ(be32At(plain, 0x1C2), 2u + sectors);
    EXPECT_EQ(std::string(plain.begin() + 0x1C7, plain.begin() + 0x1CA), "BGM");
    // No boot code in it, so no word sum that would have TOS run it.
    EXPECT_NE(atari::rootWordSum(plain.data()), 0x1234);

    ASSERT_EQ(tool(dir, "create direct.img src --size-mb 17 --layout plain").status, 0);
    EXPECT_TRUE(readWhole(dir / "direct.img") == plain);
    for (const auto& [name, content] : files) {
        const ToolRun got =
            shell(dir, "MTOOLS_SKIP_CHECK=1 mcopy -n -i plain.img@@1024 '::/" + upper(name) + "' out.bin");
        ASSERT_EQ(got.status, 0) << name << ": " << got.err;
        EXPECT_TRUE(readWhole(dir / "out.bin") == content) << name;
    }
    const ToolRun listed = tool(dir, "ls plain.img");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("/DIR/SUB/DEEP.TXT"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Layout: plain\n"), std::string::npos) << listed.out;
    EXPECT_NE(tool(dir, "ls served.img").out.find("Layout: served\n"), std::string::npos);
    const ToolRun plainInfo = tool(dir, "info plain.img");
    EXPECT_NE(plainInfo.out.find("Layout: plain (partition 0 where its root sector says); `vexlo-image convert "
                                 "plain.img SERVED.img --to served` makes it servable"),
              std::string::npos)
        << plainInfo.out;
    EXPECT_NE(plainInfo.out.find("Plain partition 0: start sector 2, 17408 KB; FAT16, 5 files in 2 folders"),
              std::string::npos)
        << plainInfo.out;
    EXPECT_NE(tool(dir, "info served.img").out.find("`vexlo-image convert served.img PLAIN.img --to plain`"),
              std::string::npos);
}

// A plain disk of three partitions made by mkfs.fat, each with its own file:
// entry 0 not active, 1 and 2 active, 3 unused.
fs::path threePartitionDisk(const std::string& name) {
    const fs::path dir = workDir(name);
    Bytes disk(1024, 0);
    std::uint32_t start = 2;
    for (int i = 0; i < 3; ++i) {
        const std::string fs = "fs" + std::to_string(i) + ".img";
        EXPECT_EQ(shell(dir, "mkfs.fat -A -C " + fs + " 4096 && printf 'part " + std::to_string(i) +
                                 "' >N.TXT && MTOOLS_SKIP_CHECK=1 mcopy -i " + fs + " N.TXT ::/N.TXT")
                      .status,
                  0);
        const Bytes part = readWhole(dir / fs);
        putEntry(disk, i, i == 0 ? 0x80 : 0x01, start, std::uint32_t(part.size() / 512));
        disk.resize(std::size_t(start) * 512, 0);
        disk.insert(disk.end(), part.begin(), part.end());
        start += std::uint32_t(part.size() / 512);
    }
    // Entry 0's flags: used (bit 7), not active; the sum as AHDI leaves it.
    atari::fixRootChecksum(disk.data());
    writeWhole(dir / "disk.img", disk);
    return dir;
}

TEST(Convert, PartitionPicksOneOfSeveralAndTheDefaultIsTheFirstActive) {
    if (!haveTool("mkfs.fat") || !haveTool("mcopy")) GTEST_SKIP() << "mkfs.fat or mcopy missing";
    const fs::path dir = threePartitionDisk("convert-partitions");
    const struct {
        const char* option;
        const char* text;
    } picks[] = {{"", "part 1"}, {"--partition 0", "part 0"}, {"--partition 2", "part 2"}};
    for (const auto& pick : picks) {
        fs::remove(dir / "served.img");
        const ToolRun run = tool(dir, std::string("convert disk.img served.img --to served ") + pick.option);
        ASSERT_EQ(run.status, 0) << pick.option << ": " << run.err;
        const ToolRun got = tool(dir, "get served.img /N.TXT -");
        EXPECT_EQ(got.status, 0) << got.err;
        EXPECT_EQ(got.out, pick.text) << pick.option;
        const Bytes served = readWhole(dir / "served.img");
        EXPECT_EQ(atari::rootWordSum(served.data()), 0x1234);
        EXPECT_EQ(served[0x1C6] & 1, 1) << "the server takes only an active partition 0";
    }
    const ToolRun unused = tool(dir, "convert disk.img x.img --to served --partition 3");
    EXPECT_EQ(unused.status, 1);
    EXPECT_NE(unused.err.find("partition 3 is not used (used entries: 0 (GEM, sector 2, 4096 KB), 1 (GEM, active"),
              std::string::npos)
        << unused.err;
    const ToolRun outOfRange = tool(dir, "convert disk.img x.img --to served --partition 4");
    EXPECT_EQ(outOfRange.status, 2);
    EXPECT_NE(outOfRange.err.find("--partition must be 0-3"), std::string::npos) << outOfRange.err;
    EXPECT_FALSE(fs::exists(dir / "x.img"));
}

struct ConvertRefusal {
    const char* name;
    void (*spoil)(Bytes& disk);  // a plain disk of one 4 MB partition
    const char* command;
    int status;
    const char* message;
};

void PrintTo(const ConvertRefusal& c, std::ostream* os) { *os << c.name; }

class ConvertRefusalTest : public ::testing::TestWithParam<ConvertRefusal> {};

TEST_P(ConvertRefusalTest, SaysWhyWritesNothingAndKeepsTheInput) {
    if (!haveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
    const ConvertRefusal& c = GetParam();
    const fs::path dir = workDir(std::string("convert-refused-") + c.name);
    ASSERT_EQ(shell(dir, "mkfs.fat -A -C fs.img 4096").status, 0);
    Bytes disk(1024, 0);
    const Bytes part = readWhole(dir / "fs.img");
    putEntry(disk, 0, 0x01, 2, std::uint32_t(part.size() / 512));
    disk.insert(disk.end(), part.begin(), part.end());
    c.spoil(disk);
    atari::fixRootChecksum(disk.data());
    writeWhole(dir / "in.img", disk);
    fs::create_directories(dir / "folder.img");

    const ToolRun run = tool(dir, c.command);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(readWhole(dir / "in.img") == disk) << "the input was changed";
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "in.img" || name == "fs.img" || name == "folder.img" || name.rfind("run-", 0) == 0)
            << "left behind: " << name;
    }
}

const ConvertRefusal convertRefusals[] = {
    {"TooBigForTheWindow", [](Bytes& d) { putBe32(d, 0x1CE, 40960 + 2); }, "convert in.img out.img --to served", 1,
     "partition 0 is 20481 KB, more than the 20479 KB of a partition the server's window holds"},
    {"CutShort", [](Bytes& d) { d.erase(d.end() - 512, d.end()); }, "convert in.img out.img --to served", 1,
     "inside partition 0 (file bytes 1024-4195327): the image is cut short"},
    {"RootSectorPointsAtNoBootSector", [](Bytes& d) { putBe32(d, 0x1CA, 3); putBe32(d, 0x1CE, 8000); },
     "convert in.img out.img --to served", 1, "partition 0: bad boot sector"},
    {"NoActivePartition", [](Bytes& d) { d[0x1C6] = 0x80; }, "convert in.img out.img --to served", 1,
     "the root sector has no active partition (used entries: 0 (GEM, sector 2, 4096 KB)); pick one with --partition N"},
    {"OutIsIn", [](Bytes&) {}, "convert in.img ./in.img --to served", 1, "is the input image itself"},
    {"OutIsAFolder", [](Bytes&) {}, "convert in.img folder.img --to served", 1, "folder.img is a folder"},
    {"OutInAMissingFolder", [](Bytes&) {}, "convert in.img missing/out.img --to served", 1,
     "cannot write missing/out.img"},
    {"AlreadyPlain", [](Bytes&) {}, "convert in.img out.img --to plain", 1, "in.img is already in the plain layout"},
    {"NoLayoutGiven", [](Bytes&) {}, "convert in.img out.img", 2, "convert needs --to plain or --to served"},
    {"PartitionWithToPlain", [](Bytes&) {}, "convert in.img out.img --to plain --partition 1", 2,
     "it goes with --to served"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ConvertRefusalTest, ::testing::ValuesIn(convertRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
