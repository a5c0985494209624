// The emulated Atari's FAT reader, run against disks it can only see through
// sector requests: hand-built volumes for exact layouts and faults, and real
// Atari images made by tools/make-atari-image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "AtariDisk.h"
#include "AtariImageFiles.h"
#include "TempFolder.h"

namespace fs = std::filesystem;

namespace {

using namespace atari_test;

struct TaskRun {
    bool ok = false;
    std::string log;
};

TaskRun runTasks(const std::string& config, MemoryDisk& disk, const fs::path& outDir) {
    std::vector<AtariTask> tasks;
    std::string error;
    EXPECT_TRUE(parseAtariTasks(config, tasks, error)) << error;
    TaskRun run;
    run.ok = runAtariTasks(tasks, disk.requester(), outDir.string(), [&](const std::string& line) {
        run.log += line;
        run.log += '\n';
    });
    return run;
}

// A small FAT volume built byte by byte: 512-byte sectors, one sector per
// cluster, one reserved sector, two FATs of one sector, a one-sector root of
// 16 entries. 300 clusters do not fit 16-bit entries in one FAT sector, so
// the reader must take that FAT as 12-bit; with 100 clusters both widths fit
// and only the FAT's contents tell them apart.
struct TinyVolume {
    static constexpr std::uint32_t BPS = 512;
    static constexpr std::uint32_t ROOT = 3;  // first root sector
    static constexpr std::uint32_t DATA = 4;  // first data sector = cluster 2
    int fatBits;
    Bytes bytes;
    int rootUsed = 0;

    explicit TinyVolume(int bits, std::uint32_t clusters = 0) : fatBits(bits) {
        if (clusters == 0) clusters = bits == 16 ? 100 : 300;
        bytes.assign((DATA + clusters) * BPS, 0);
        bytes[0] = 0x60;
        bytes[1] = 0x1C;
        put16(11, BPS);
        bytes[13] = 1;   // sectors per cluster
        put16(14, 1);    // reserved
        bytes[16] = 2;   // FATs
        put16(17, 16);   // root entries
        put16(19, DATA + clusters);
        bytes[21] = 0xF8;
        put16(22, 1);  // sectors per FAT
        setFat(0, 0xFFF8);
        setFat(1, 0xFFFF);
    }
    void put16(std::size_t at, std::uint32_t v) {
        bytes[at] = static_cast<std::uint8_t>(v);
        bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void setFat(std::uint32_t cluster, std::uint32_t value) {
        for (std::uint32_t copy = 0; copy < 2; ++copy) {
            const std::size_t fat = (1 + copy) * BPS;
            if (fatBits == 16) {
                put16(fat + cluster * 2, value);
                continue;
            }
            value &= 0xFFF;
            const std::size_t at = fat + cluster * 3 / 2;
            if (cluster % 2 == 0) {
                bytes[at] = static_cast<std::uint8_t>(value);
                bytes[at + 1] = static_cast<std::uint8_t>((bytes[at + 1] & 0xF0) | (value >> 8));
            } else {
                bytes[at] = static_cast<std::uint8_t>((bytes[at] & 0x0F) | ((value & 0x0F) << 4));
                bytes[at + 1] = static_cast<std::uint8_t>(value >> 4);
            }
        }
    }
    std::uint32_t endMark() const { return fatBits == 16 ? 0xFFFF : 0xFFF; }
    std::size_t clusterAt(std::uint32_t cluster) const { return (DATA + cluster - 2) * BPS; }
    void chain(const std::vector<std::uint32_t>& clusters) {
        for (std::size_t i = 0; i < clusters.size(); ++i)
            setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : endMark());
    }
    // An entry in the root (folder 0) or at byte `at` of a folder's cluster.
    void entry(std::size_t at, const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
        std::copy(name11, name11 + 11, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        bytes[at + 11] = attr;
        put16(at + 26, cluster);
        put16(at + 28, size & 0xFFFF);
        put16(at + 30, size >> 16);
    }
    void rootEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
        entry(ROOT * BPS + 32 * static_cast<std::size_t>(rootUsed++), name11, attr, cluster, size);
    }
    // A file whose data lies in `clusters`, in that order.
    Bytes addFile(const char* name11, const std::vector<std::uint32_t>& clusters, std::uint32_t size,
                  std::uint32_t seed) {
        rootEntry(name11, 0x20, clusters.empty() ? 0 : clusters[0], size);
        chain(clusters);
        const Bytes content = pattern(size, seed);
        for (std::uint32_t off = 0; off < size; ++off)
            bytes[clusterAt(clusters[off / BPS]) + off % BPS] = content[off];
        return content;
    }
    MemoryDisk disk() const {
        MemoryDisk d;
        d.partition = bytes;
        return d;
    }
};

struct TinyCase {
    const char* name;
    int fatBits;
    std::uint32_t clusters;
};

void PrintTo(const TinyCase& c, std::ostream* os) { *os << c.name; }

class TinyVolumeTest : public ::testing::TestWithParam<TinyCase> {};

TEST_P(TinyVolumeTest, FragmentedFileReadsBackInChainOrderWithRunsMerged) {
    TinyVolume vol(GetParam().fatBits, GetParam().clusters);
    const Bytes content = vol.addFile("FRAG    BIN", {5, 6, 3, 4, 9}, 5 * 512 - 100, 1);
    const Bytes small = vol.addFile("SMALL   TXT", {2}, 10, 2);
    vol.addFile("EMPTY   DAT", {}, 0, 3);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("read:/frag.bin;readall", disk, out.path());

    ASSERT_TRUE(run.ok) << run.log;
    EXPECT_EQ(readWhole(out.path() / "FRAG.BIN"), content);
    EXPECT_EQ(readWhole(out.path() / "SMALL.TXT"), small);
    EXPECT_TRUE(fs::exists(out.path() / "EMPTY.DAT"));
    EXPECT_EQ(fs::file_size(out.path() / "EMPTY.DAT"), 0u);
    EXPECT_NE(run.log.find("FAT" + std::to_string(GetParam().fatBits)), std::string::npos) << run.log;

    // Boot sector, FAT, root, then the file's three runs of clusters.
    ASSERT_GE(disk.requests.size(), 6u);
    const auto d = TinyVolume::DATA;
    const std::vector<std::pair<int, int>> expected{{0, 1}, {1, 1}, {3, 1}, {d + 3, 2}, {d + 1, 2}, {d + 7, 1}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(disk.requests[i].first, expected[i].first) << "request " << i;
        EXPECT_EQ(disk.requests[i].count, expected[i].second) << "request " << i;
    }
}

TEST_P(TinyVolumeTest, ListShowsFoldersAndSizesAndReadAllKeepsTheFolders) {
    TinyVolume vol(GetParam().fatBits, GetParam().clusters);
    const Bytes hello = vol.addFile("HELLO   TXT", {2}, 13, 4);
    vol.rootEntry("DIR        ", 0x10, 10, 0);
    vol.chain({10});
    vol.entry(vol.clusterAt(10), ".          ", 0x10, 10, 0);
    vol.entry(vol.clusterAt(10) + 32, "..         ", 0x10, 0, 0);
    vol.entry(vol.clusterAt(10) + 64, "INNER   DAT", 0x20, 11, 700);
    vol.chain({11, 12});
    const Bytes inner = pattern(700, 5);
    std::copy(inner.begin(), inner.end(), vol.bytes.begin() + static_cast<std::ptrdiff_t>(vol.clusterAt(11)));
    // A long-name entry and a volume label are not files.
    vol.rootEntry("Ab\0c\0d\0e\0f", 0x0F, 0, 0);
    vol.rootEntry("VOLUME     ", 0x08, 0, 0);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("list;readall", disk, out.path());

    ASSERT_TRUE(run.ok) << run.log;
    EXPECT_NE(run.log.find("Directory of /\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("  HELLO.TXT            13\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("  DIR               <DIR>\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Directory of /DIR\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("  INNER.DAT           700\n"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("VOLUME"), std::string::npos) << run.log;
    EXPECT_EQ(readWhole(out.path() / "HELLO.TXT"), hello);
    EXPECT_EQ(readWhole(out.path() / "DIR" / "INNER.DAT"), inner);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);
}

INSTANTIATE_TEST_SUITE_P(FatWidths, TinyVolumeTest,
                         ::testing::Values(TinyCase{"Fat16FewClusters", 16, 100}, TinyCase{"Fat12FullFat", 12, 300},
                                           TinyCase{"Fat12WithRoomFor16", 12, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

// Faults in the disk: each is reported, nothing crashes, every walk ends.
struct Fault {
    const char* name;
    void (*apply)(TinyVolume&);
    const char* logged;
};

const Fault faults[] = {
    {"ZeroBytesPerSector", [](TinyVolume& v) { v.put16(11, 0); }, "bad BPB: 0 bytes per sector"},
    {"OddBytesPerSector", [](TinyVolume& v) { v.put16(11, 1000); }, "bad BPB: 1000 bytes per sector"},
    {"SectorTooBigForAReply", [](TinyVolume& v) { v.put16(11, 16384); }, "bad BPB: 16384 bytes per sector"},
    {"ThreeSectorsPerCluster", [](TinyVolume& v) { v.bytes[13] = 3; }, "bad BPB: 3 sectors per cluster"},
    {"NoFats", [](TinyVolume& v) { v.bytes[16] = 0; }, "bad BPB"},
    {"NoRootEntries", [](TinyVolume& v) { v.put16(17, 0); }, "bad BPB"},
    {"NoDataSectors", [](TinyVolume& v) { v.put16(19, 4); }, "leave no room for data"},
    {"FatTooSmallForClusters", [](TinyVolume& v) { v.put16(19, 5000); }, "cannot hold"},
    {"FatCycle", [](TinyVolume& v) { v.setFat(4, 2); }, "loops"},
    {"ClusterPointsToItself", [](TinyVolume& v) { v.setFat(2, 2); }, "loops"},
    {"FreeClusterInChain", [](TinyVolume& v) { v.setFat(3, 0); }, "points to a free cluster"},
    {"BadCluster", [](TinyVolume& v) { v.setFat(3, v.fatBits == 16 ? 0xFFF7 : 0xFF7); }, "marked bad"},
    {"ChainLeavesTheDisk", [](TinyVolume& v) { v.setFat(3, 0xFF0); }, "outside the disk"},
    {"ChainTooShort", [](TinyVolume& v) { v.setFat(3, v.endMark()); }, "too short"},
    {"FileWithoutClusters", [](TinyVolume& v) { v.put16(TinyVolume::ROOT * 512 + 26, 0); }, "outside the disk"},
    {"SizeBeyondTheDisk", [](TinyVolume& v) { v.put16(TinyVolume::ROOT * 512 + 30, 0x100); }, "does not fit"},
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class FaultTest : public ::testing::TestWithParam<std::tuple<int, Fault>> {};

TEST_P(FaultTest, IsReportedAndTheRunEnds) {
    const auto& [bits, fault] = GetParam();
    TinyVolume vol(bits);
    vol.addFile("FILE    BIN", {2, 3, 4, 5}, 4 * 512 - 7, 9);
    fault.apply(vol);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("read:/FILE.BIN;readall;list", disk, out.path());

    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.log.find(fault.logged), std::string::npos) << run.log;
    EXPECT_LT(disk.requests.size(), 50u);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::Combine(::testing::Values(12, 16), ::testing::ValuesIn(faults)),
                         [](const auto& info) {
                             return std::string(std::get<1>(info.param).name) + "_FAT" +
                                    std::to_string(std::get<0>(info.param));
                         });

TEST(AtariFolders, AFolderThatContainsItselfIsWalkedOnceAndTheRestIsStillRead) {
    TinyVolume vol(16);
    vol.rootEntry("LOOP       ", 0x10, 10, 0);
    vol.chain({10});
    vol.entry(vol.clusterAt(10), "AGAIN      ", 0x10, 10, 0);   // points at itself
    vol.entry(vol.clusterAt(10) + 32, "UP         ", 0x10, 0, 0);  // points at the root
    const Bytes file = vol.addFile("AFTER   TXT", {20}, 100, 6);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("list;readall", disk, out.path());

    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.log.find("folder /LOOP/AGAIN skipped"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("folder /LOOP/UP skipped"), std::string::npos) << run.log;
    EXPECT_EQ(readWhole(out.path() / "AFTER.TXT"), file);
}

TEST(AtariNames, DiskNamesNeverLeaveTheOutputFolder) {
    TinyVolume vol(16);
    const Bytes slash = vol.addFile("A/B     TXT", {2}, 5, 7);
    const Bytes back = vol.addFile("..\\X    TXT", {3}, 6, 8);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("readall", disk, out.path());

    ASSERT_TRUE(run.ok) << run.log;
    EXPECT_EQ(readWhole(out.path() / "A_B.TXT"), slash);
    EXPECT_EQ(readWhole(out.path() / ".._X.TXT"), back);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(out.path()), fs::recursive_directory_iterator()), 2);
}

TEST(AtariRequests, AFailedOrShortReplyIsReported) {
    TinyVolume vol(16);
    vol.addFile("FILE    BIN", {2, 3}, 1000, 1);
    TempFolder out{"atari"};
    {
        MemoryDisk disk = vol.disk();
        disk.failAtRequest = 0;
        const TaskRun run = runTasks("list", disk, out.path());
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.log.find("disk unreadable: boot sector request failed: no reply"), std::string::npos)
            << run.log;
    }
    {
        MemoryDisk disk = vol.disk();
        disk.failAtRequest = 3;  // the file's data
        const TaskRun run = runTasks("read:/FILE.BIN", disk, out.path());
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.log.find("read /FILE.BIN failed: request for sector 4 count 2 failed: no reply"),
                  std::string::npos)
            << run.log;
    }
    {
        MemoryDisk disk = vol.disk();
        disk.shortReplies = true;
        const TaskRun run = runTasks("list", disk, out.path());
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.log.find("got 511 bytes, expected 512"), std::string::npos) << run.log;
    }
    {
        // The boot sector reply must have the size the BPB announces.
        MemoryDisk disk = vol.disk();
        disk.bytesPerSector = 1024;
        const TaskRun run = runTasks("list", disk, out.path());
        EXPECT_FALSE(run.ok);
        EXPECT_NE(run.log.find("boot sector reply of 1024 bytes, but the BPB says 512"), std::string::npos)
            << run.log;
    }
}

TEST(AtariRead, MissingFilesAndFoldersAreReported) {
    TinyVolume vol(16);
    vol.addFile("FILE    BIN", {2}, 10, 1);
    vol.rootEntry("DIR        ", 0x10, 10, 0);
    vol.chain({10});
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};

    const TaskRun run = runTasks("read:/NOPE.TXT;read:/DIR;read:/FILE.BIN/X;read:/DIR/NOPE;read:/FILE.BIN", disk,
                             out.path());

    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.log.find("read /NOPE.TXT failed: not found"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("read /DIR failed: it is a folder"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("read /FILE.BIN/X failed: /FILE.BIN is not a folder"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("read /DIR/NOPE failed: not found"), std::string::npos) << run.log;
    // A failed task does not stop the next one.
    EXPECT_NE(run.log.find("read /FILE.BIN: 10 bytes in 1 requests"), std::string::npos) << run.log;
}

TEST(AtariTasks, ParsesTheScript) {
    std::vector<AtariTask> tasks;
    std::string error;
    ASSERT_TRUE(parseAtariTasks(" list ; read:/HELLO.TXT;;READ: /DIR/BIG.BIN ;readall;", tasks, error)) << error;
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_EQ(tasks[0].kind, AtariTaskKind::list);
    EXPECT_EQ(tasks[1].kind, AtariTaskKind::read);
    EXPECT_EQ(tasks[1].path, "/HELLO.TXT");
    EXPECT_EQ(tasks[2].path, "/DIR/BIG.BIN");
    EXPECT_EQ(tasks[3].kind, AtariTaskKind::readAll);

    ASSERT_TRUE(parseAtariTasks("", tasks, error));
    EXPECT_TRUE(tasks.empty());

    for (const char* bad : {"lst", "read", "read:", "list:/X", "readall:/X", "list;format"}) {
        EXPECT_FALSE(parseAtariTasks(bad, tasks, error)) << bad;
        EXPECT_NE(error.find("unknown Atari task"), std::string::npos) << bad;
        EXPECT_TRUE(tasks.empty()) << bad;
    }
}

TEST(AtariTasks, DumpNamesItsFile) {
    std::vector<AtariTask> tasks;
    std::string error;
    ASSERT_TRUE(parseAtariTasks("dump: out/disk.img ;list", tasks, error)) << error;
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].kind, AtariTaskKind::dump);
    EXPECT_EQ(tasks[0].path, "out/disk.img");
    for (const char* bad : {"dump", "dump:", "dump: "}) {
        EXPECT_FALSE(parseAtariTasks(bad, tasks, error)) << bad;
        EXPECT_NE(error.find("dump:FILE"), std::string::npos) << error;
    }
}

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

Bytes readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The dump is an ordinary AHDI disk: root sector, empty sector 1, then the
// partition exactly as the requests returned it, asked for in pieces one
// reply can carry.
TEST(AtariDump, WritesAPlainImageOfEveryPartitionSector) {
    TinyVolume vol(16);
    vol.addFile("DATA    BIN", {2, 3, 4, 9}, 1900, 7);
    MemoryDisk disk = vol.disk();
    TempFolder out{"atari"};
    const std::string file = out.file("plain.img");
    const TaskRun run = runTasks("dump:" + file, disk, out.path());
    ASSERT_TRUE(run.ok) << run.log;

    const Bytes image = readWhole(file);
    const std::size_t partition = vol.bytes.size();
    ASSERT_EQ(image.size(), 1024 + partition);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 512; i += 2) sum += image[i] << 8 | image[i + 1];
    EXPECT_EQ(sum & 0xFFFF, 0x1234u);
    EXPECT_EQ(be32(image, 0x1C2), 2 + partition / 512) << "disk sectors";
    EXPECT_EQ(image[0x1C6] & 1, 1) << "partition 0 active";
    EXPECT_EQ(std::string(image.begin() + 0x1C7, image.begin() + 0x1CA), "GEM");
    EXPECT_EQ(be32(image, 0x1CA), 2u) << "partition start";
    EXPECT_EQ(be32(image, 0x1CE), partition / 512) << "partition sectors";
    EXPECT_TRUE(std::all_of(image.begin() + 512, image.begin() + 1024, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(vol.bytes.begin(), vol.bytes.end(), image.begin() + 1024)) << "partition bytes";
    for (const Request& r : disk.requests) EXPECT_LE(r.count * 512u, SECTOR_REPLY_MOST_DATA);
    EXPECT_NE(run.log.find("dump: 104 sectors of 512 bytes"), std::string::npos) << run.log;
}

TEST(AtariDump, AFailedRequestOrAnUnwritableFileFailsTheDump) {
    TinyVolume vol(16);
    TempFolder out{"atari"};
    MemoryDisk failing = vol.disk();
    failing.failAtRequest = 3;  // boot sector, FAT, the dump's first request, its second
    TaskRun run = runTasks("dump:" + out.file("plain.img"), failing, out.path());
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.log.find("dump " + out.file("plain.img") + " failed: request for sector"), std::string::npos)
        << run.log;

    MemoryDisk disk = vol.disk();
    run = runTasks("dump:" + out.file("no-such-folder/plain.img"), disk, out.path());
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.log.find("failed: cannot create the file"), std::string::npos) << run.log;
}

// --- Real Atari images --------------------------------------------------

struct ImageCase {
    const char* name;
    const char* options;
    int fatBits;
    int maxCount;  // sectors a reply can carry
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

class AtariImageTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(AtariImageTest, EveryFileReadsBackByteForByte) {
    if (!haveImageTools()) GTEST_SKIP() << "mkfs.fat or mcopy missing";
    const ImageCase& c = GetParam();
    TempFolder tmp{"atari"};
    const fs::path src = tmp.path() / "src";
    const FileTree files = sampleTree();
    writeTree(files, src);
    const fs::path image = tmp.path() / "disk.img";
    ASSERT_TRUE(makeImage(MAKE_ATARI_IMAGE, c.options, image, src));
    MemoryDisk disk;
    std::string why;
    ASSERT_TRUE(loadServedPartition(image, disk, why)) << why;

    const fs::path out = tmp.path() / "out";
    const TaskRun run = runTasks("list;read:/dir/big.bin;readall", disk, out);

    ASSERT_TRUE(run.ok) << run.log;
    EXPECT_NE(run.log.find("FAT" + std::to_string(c.fatBits)), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("  BIG.BIN          300001\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("5 files, 313200 bytes"), std::string::npos) << run.log;
    for (const auto& [name, content] : files) EXPECT_EQ(readWhole(out / name), content) << name;

    int largest = 0;
    for (const Request& r : disk.requests) {
        EXPECT_GE(r.count, 1);
        EXPECT_LE(r.count * disk.bytesPerSector, SECTOR_REPLY_MOST_DATA);
        largest = std::max<int>(largest, r.count);
    }
    EXPECT_EQ(largest, c.maxCount);
    // The big file alone takes many requests.
    EXPECT_GE(disk.requests.size(), 2 * 300001 / (c.maxCount * disk.bytesPerSector));
}

const ImageCase imageCases[] = {
    {"Fat16Sectors512", "--size-mb 8 --sector-size 512", 16, 31},
    {"Fat16Sectors1024", "--size-mb 16 --sector-size 1024", 16, 15},
    {"Fat16Sectors2048", "--size-mb 12 --sector-size 2048", 16, 7},
    {"Fat16Sectors4096", "--size-mb 19 --sector-size 4096", 16, 3},
    {"Fat16OneSectorPerCluster", "--size-mb 8 --sector-size 1024", 16, 15},
    {"SmallPartitionFat12", "--size-mb 1 --sector-size 512", 12, 31},
    {"Fat12Sectors512", "--size-kb 1440 --sector-size 512 --fat 12", 12, 31},
    {"Fat12Sectors1024", "--size-mb 4 --sector-size 1024 --fat 12", 12, 15},
};

INSTANTIATE_TEST_SUITE_P(Images, AtariImageTest, ::testing::ValuesIn(imageCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
