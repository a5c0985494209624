// DriveImage: the root sector checks, the 20 MB window, the BPB and the
// bounds of ReadSectors, against sparse image files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "AhdiImage.h"
#include "TextMatch.h"
#include "DriveImage.h"
#include "FakeDriver.h"

namespace {

using ahdi::AhdiImage;

const char* const kAssertionPattern =
    "Assertion '%s' failed, file 'source/DriveImage/DriveImage.cpp' line '#'.\n";

std::string assertionLine(const char* condition) {
    char text[256];
    std::snprintf(text, sizeof text, kAssertionPattern, condition);
    return text;
}

// Writes `disk` to a fresh file, loads it into `image` and removes the file.
int loadImage(const AhdiImage& disk, DriveImage& image, std::string* path = nullptr) {
    const std::string file = ahdi::tempImagePath("drive.img");
    EXPECT_TRUE(disk.write(file));
    const int result = image.Load(file.c_str());
    std::remove(file.c_str());
    if (path != nullptr) {
        *path = file;
    }
    return result;
}

bool allZero(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(DriveImage, LoadReadsRootEntryAndBpbFields) {
    AhdiImage disk;
    disk.diskSectors = 0x0102A3B4;
    disk.partitionId[0] = 'X';
    disk.partitionSectors = 0x00ABCDEF;
    // Distinct bytes in every field show the byte order; one-byte fields with
    // the top bit set show they are widened without sign.
    disk.bpb.bytesPerSector = 512;
    disk.bpb.sectorsPerCluster = 0xFE;
    disk.bpb.reservedSectors = 0x0102;
    disk.bpb.fatCount = 0xFF;
    disk.bpb.rootEntries = 0x0304;
    disk.bpb.totalSectors = 0xA1B2;
    disk.bpb.sectorsPerFat = 0x0506;
    disk.bpb.sectorsPerTrack = 0x0708;
    disk.bpb.sideCount = 0x090A;
    ConsoleCapture console;
    DriveImage image;
    ASSERT_EQ(loadImage(disk, image), 1);
    EXPECT_NE(image.pImage, nullptr);
    EXPECT_EQ(console.err(), "");
    EXPECT_EQ(image.diskSectors, 0x0102A3B4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(image.partitionId), 3), "XGM");
    EXPECT_EQ(image.partitionStart, 2u);
    EXPECT_EQ(image.partitionSectors, 0x00ABCDEFu);
    EXPECT_EQ(image.partitionOffset, 1024u);
    EXPECT_EQ(image.bytesPerSector, 512);
    EXPECT_EQ(image.sectorsPerCluster, 254);
    EXPECT_EQ(image.reservedSectors, 0x0102);
    EXPECT_EQ(image.fatCount, 255);
    EXPECT_EQ(image.rootEntries, 0x0304);
    EXPECT_EQ(image.totalSectors, 0xA1B2);
    EXPECT_EQ(image.sectorsPerFat, 0x0506);
    EXPECT_EQ(image.sectorsPerTrack, 0x0708);
    EXPECT_EQ(image.sideCount, 0x090A);
}

struct LoadCase {
    const char* name;
    std::function<void(AhdiImage&)> change;
    const char* message;  // null: the image loads
};

TEST(DriveImage, RootSectorAndPartitionChecks) {
    const LoadCase cases[] = {
        {"word sum one too high", [](AhdiImage& s) { s.rootWordSum = 0x1235; }, "Bad root checksum (%s)\n"},
        {"word sum zero", [](AhdiImage& s) { s.rootWordSum = 0; }, "Bad root checksum (%s)\n"},
        {"byte-swapped sum", [](AhdiImage& s) { s.rootWordSum = 0x3412; }, "Bad root checksum (%s)\n"},
        {"inactive", [](AhdiImage& s) { s.partitionFlags = 0x00; }, "First partition not active (%s)\n"},
        {"only upper flag bits", [](AhdiImage& s) { s.partitionFlags = 0xFE; },
         "First partition not active (%s)\n"},
        {"active with other bits", [](AhdiImage& s) { s.partitionFlags = 0x81; }, nullptr},
        {"boot sector in the last window sector", [](AhdiImage& s) { s.partitionStart = 40959; }, nullptr},
        {"boot sector is the root sector", [](AhdiImage& s) { s.partitionStart = 0; s.writeBootSector = false; },
         nullptr},
        {"boot sector just past the window", [](AhdiImage& s) { s.partitionStart = 40960; },
         "Partition outside drive image window (%s)\n"},
        {"start whose byte offset wraps 32 bits", [](AhdiImage& s) { s.partitionStart = 0x00800002; s.writeBootSector = false; },
         "Partition outside drive image window (%s)\n"},
        {"largest start", [](AhdiImage& s) { s.partitionStart = 0xFFFFFFFF; s.writeBootSector = false; },
         "Partition outside drive image window (%s)\n"},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        AhdiImage disk;
        c.change(disk);
        ConsoleCapture console;
        DriveImage image;
        std::string path;
        const int result = loadImage(disk, image, &path);
        EXPECT_EQ(console.out(), "");
        if (c.message == nullptr) {
            EXPECT_EQ(result, 1);
            EXPECT_NE(image.pImage, nullptr);
            EXPECT_EQ(console.err(), "");
            EXPECT_EQ(image.bytesPerSector, disk.writeBootSector ? 512 : 0);
        } else {
            char expected[1024];
            std::snprintf(expected, sizeof expected, c.message, path.c_str());
            EXPECT_EQ(result, -5);
            EXPECT_EQ(image.pImage, nullptr);
            EXPECT_EQ(console.err(), expected);
            EXPECT_EQ(image.bytesPerSector, 0) << "no BPB is read from a refused image";
        }
    }
}

TEST(DriveImage, MissingFileReportsAssertion) {
    ConsoleCapture console;
    DriveImage image;
    const std::string path = ahdi::tempImagePath("absent.img");
    EXPECT_EQ(image.Load(path.c_str()), -5);
    EXPECT_EQ(image.pImage, nullptr);
    EXPECT_TRUE(matchesWithNumbers(console.err(), assertionLine("pFile"))) << console.err();
}

TEST(DriveImage, WindowMapsBufferOntoFileSectors) {
    AhdiImage disk;  // partition at sector 2: boot sector at buffer 1024
    disk.put(1024, ahdi::pattern(1, 512));              // file sector 2: outside the window
    disk.put(127203ull * 512, ahdi::pattern(2, 512));   // buffer 1536
    disk.put(127210ull * 512, ahdi::pattern(3, 512));   // buffer 1024 + 8 * 512
    disk.put(ahdi::WINDOW_FILE_END - 512, ahdi::pattern(4, 512));  // last buffer sector
    disk.put(ahdi::WINDOW_FILE_END, ahdi::pattern(5, 512));        // first byte past the window
    disk.fileBytes = ahdi::WINDOW_FILE_END + 512;
    ConsoleCapture console;
    DriveImage image;
    ASSERT_EQ(loadImage(disk, image), 1);
    EXPECT_EQ(ahdi::fileOffsetOfBuffer(1024), 127202ull * 512);
    const std::vector<std::uint8_t> boot = disk.bootSector();
    EXPECT_EQ(std::memcmp(image.pImage + 1024, boot.data(), 512), 0);
    EXPECT_EQ(std::memcmp(image.pImage + 1536, ahdi::pattern(2, 512).data(), 512), 0);
    EXPECT_EQ(std::memcmp(image.pImage + 1024 + 8 * 512, ahdi::pattern(3, 512).data(), 512), 0);
    EXPECT_EQ(std::memcmp(image.pImage + DriveImage::IMAGE_BYTES - 512, ahdi::pattern(4, 512).data(), 512), 0);
    EXPECT_TRUE(allZero(image.pImage + 512, 512)) << "file sector 1 is zero; file sector 2 is not loaded";
}

TEST(DriveImage, ShortFileLeavesZerosNotOldHeap) {
    // Freed 20 MB blocks filled with a marker make the loader's allocation
    // likely to reuse dirty memory, which a missing zero-fill would expose.
    for (int round = 0; round < 2; ++round) {
        auto* dirty = new std::uint8_t[DriveImage::IMAGE_BYTES];
        std::memset(dirty, 0xA5, DriveImage::IMAGE_BYTES);
        asm volatile("" : : "r"(dirty) : "memory");
        delete[] dirty;
    }
    AhdiImage disk;
    disk.partitionStart = 1;  // boot sector at file byte 512, inside the short file
    disk.fileBytes = 700;
    ConsoleCapture console;
    DriveImage image;
    ASSERT_EQ(loadImage(disk, image), 1);
    EXPECT_EQ(image.partitionOffset, 512u);
    EXPECT_EQ(image.bytesPerSector, 512);
    const std::vector<std::uint8_t> boot = disk.bootSector();
    EXPECT_EQ(std::memcmp(image.pImage + 512, boot.data(), 700 - 512), 0);
    EXPECT_TRUE(allZero(image.pImage + 700, DriveImage::IMAGE_BYTES - 700));
}

// A file that stops inside its partition is still served (the Atari reads
// zeros there), with one warning at load that counts the missing sectors of
// the window.
TEST(DriveImage, FileEndingInsideThePartitionIsWarnedOf) {
    // Partition 0 from sector 2, 40000 sectors: it ends at this file offset.
    const std::uint64_t partitionEnd = ahdi::fileOffsetOfBuffer(1024 + 40000ull * 512);
    struct Case {
        const char* name;
        std::uint64_t fileBytes;
        std::uint32_t partitionSectors;
        std::uint64_t missing;  // 0: no warning
    };
    const Case cases[] = {
        {"whole window", ahdi::WINDOW_FILE_END, 40000, 0},
        {"ends with the partition", partitionEnd, 40000, 0},
        {"one byte short", partitionEnd - 1, 40000, 1},
        {"one sector short", partitionEnd - 512, 40000, 1},
        {"a sector and a byte short", partitionEnd - 513, 40000, 2},
        {"ends inside the boot sector", ahdi::fileOffsetOfBuffer(1024 + 100), 40000, 40000},
        {"small file, window not reached", 2 * 1024 * 1024, 40000, 40000},
        {"root sectors only", 1024, 40000, 40000},
        // Only the window is served: the partition's part behind it is not missing.
        {"partition larger than the window", ahdi::WINDOW_FILE_END, 100000, 0},
        {"partition larger than the window, file short", ahdi::WINDOW_FILE_END - 1024, 100000, 2},
        {"empty partition", 1024, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AhdiImage disk;
        disk.fileBytes = c.fileBytes;
        disk.partitionSectors = c.partitionSectors;
        ConsoleCapture console;
        DriveImage image;
        std::string path;
        EXPECT_EQ(loadImage(disk, image, &path), 1);
        EXPECT_EQ(console.out(), "");
        EXPECT_EQ(console.err(), c.missing == 0 ? std::string()
                                                : "Warning: " + path + " ends " + std::to_string(c.missing) +
                                                      " sectors before its partition does; the Atari reads "
                                                      "them as zeros.\n");
    }
}

TEST(DriveImage, TinyFileFailsItsChecks) {
    AhdiImage disk;
    disk.fileBytes = 300;  // cuts the partition entry off
    ConsoleCapture console;
    DriveImage image;
    std::string path;
    EXPECT_EQ(loadImage(disk, image, &path), -5);
    EXPECT_EQ(image.pImage, nullptr);
    EXPECT_EQ(console.err(), "Bad root checksum (" + path + ")\n");
}

TEST(DriveImage, ReadSectorsCopiesLogicalSectorsOfThePartition) {
    AhdiImage disk;
    disk.bpb.bytesPerSector = 1024;
    disk.putSector(3, ahdi::pattern(30, 1024));
    disk.putSector(4, ahdi::pattern(40, 1024));
    ConsoleCapture console;
    DriveImage image;
    ASSERT_EQ(loadImage(disk, image), 1);
    std::vector<std::uint8_t> out(2048, 0xCC);
    ASSERT_TRUE(image.ReadSectors(3, 2, out.data()));
    std::vector<std::uint8_t> expected = ahdi::pattern(30, 1024);
    const std::vector<std::uint8_t> second = ahdi::pattern(40, 1024);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(out, expected);
}

TEST(DriveImage, ReadSectorsRefusesWhatReachesPastTheBuffer) {
    AhdiImage disk;
    disk.partitionStart = 40958;  // two 512-byte sectors before the buffer's end
    disk.putSector(1, ahdi::pattern(7, 512));
    ConsoleCapture console;
    DriveImage image;
    ASSERT_EQ(loadImage(disk, image), 1);
    struct Case {
        std::uint16_t first;
        std::uint8_t count;
        bool ok;
    };
    const Case cases[] = {
        {0, 2, true}, {1, 1, true}, {2, 0, true},  // an empty read exactly at the end
        {0, 3, false}, {1, 2, false}, {2, 1, false}, {3, 0, false}, {65535, 255, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
        std::vector<std::uint8_t> out(255 * 512, 0xCC);
        EXPECT_EQ(image.ReadSectors(c.first, c.count, out.data()), c.ok);
        if (!c.ok) {
            EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xCC; }))
                << "a refused read copies nothing";
        }
    }
    std::vector<std::uint8_t> last(512);
    ASSERT_TRUE(image.ReadSectors(1, 1, last.data()));
    EXPECT_EQ(last, ahdi::pattern(7, 512));
    EXPECT_EQ(console.err(), "");
}

TEST(DriveImage, ReadSectorsWithoutImageReportsAssertion) {
    ConsoleCapture console;
    DriveImage image;
    std::uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_FALSE(image.ReadSectors(0, 0, out));
    EXPECT_EQ(out[0], 1);
    EXPECT_TRUE(matchesWithNumbers(console.err(), assertionLine("pImage"))) << console.err();
}

}  // namespace
