// DriveImage::Load and ReadSectors on hostile image files. The input is split
// into a few settings, sector requests, the root part (file bytes from 0 on)
// and the window part (file bytes at the partition's boot sector inside the
// window); they are written to a sparse temporary file of a chosen length.
// The harness knows every byte of that file, so it checks what Load accepts,
// the parameter block it reads and every byte a sector read hands out.
//
// Input layout:
//   [0]      bit 0: fix the root sector's word sum to 0x1234 (after bit 1)
//            bit 1: set the active bit of partition entry 0
//            bits 2-3: file length: 0 = end of the root part, 1 = end of the
//            window part, 2 = end of the window, 3 = 4 KB past the window
//   [1..2]   root part length, big-endian (at most 1024)
//   [3]      number of sector requests (low 3 bits)
//   then     3 bytes per request: first sector (low byte first), count
//   then     the root part, then the window part (at most 64 KB)
//
// Speed: a fresh 20 MB heap block for every load costs some 5000 page
// faults, and a sparse file on a disk file system refills its page cache on
// every read; together they held the harness to a few dozen inputs a second.
// Large arrays therefore come from blocks kept for the whole run, poisoned
// for AddressSanitizer whenever they are not handed out. A block is handed
// out as the last input left it, as a reused heap block is (clearing it
// cost a pass over 20 MB per input): Load must write every byte of its
// buffer, and a byte it skipped keeps what an earlier input left there, which
// the comparison with the model finds wherever that differs from the file;
// a sector read is compared only where ReadSectors says it copied. The file lives in memory
// where /dev/shm exists, and the buffer is compared with the model only where
// the input placed bytes, and checked to be zero everywhere else in one pass.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DriveImage.h"
#include "AhdiRoot.h"
#include "BootSector.h"
#include "ByteOrder.h"
#include "FuzzSupport.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define FUZZ_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define FUZZ_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#endif
#endif
#ifndef FUZZ_POISON
#define FUZZ_POISON(at, size) ((void)(at), (void)(size))
#define FUZZ_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace {

// Arrays from this size up come from the kept blocks: the image buffer and
// the destination of a large sector read.
constexpr std::size_t LARGE_ARRAY = 65536;
constexpr std::size_t BLOCK_CAPACITY = DriveImage::IMAGE_BYTES;
constexpr std::size_t GUARD = 4096;  // poisoned on both sides of each block
constexpr std::size_t HUGE_PAGE = 2 * 1024 * 1024;
struct KeptBlock {
    std::uint8_t* start = nullptr;  // GUARD + BLOCK_CAPACITY + GUARD bytes
    bool handedOut = false;
};
KeptBlock g_blocks[2];

void* takeBlock(std::size_t size) {
    if (size < LARGE_ARRAY || size > BLOCK_CAPACITY) {
        return nullptr;
    }
    for (KeptBlock& block : g_blocks) {
        if (block.handedOut) {
            continue;
        }
        if (block.start == nullptr) {
            // Huge pages where the system gives them: fewer TLB misses in
            // the passes over 20 MB.
            void* start = nullptr;
            if (::posix_memalign(&start, HUGE_PAGE, GUARD + BLOCK_CAPACITY + GUARD) != 0) {
                return nullptr;
            }
            ::madvise(start, GUARD + BLOCK_CAPACITY + GUARD, MADV_HUGEPAGE);
            block.start = static_cast<std::uint8_t*>(start);
            FUZZ_POISON(block.start, GUARD + BLOCK_CAPACITY + GUARD);
        }
        block.handedOut = true;
        std::uint8_t* array = block.start + GUARD;
        // Exactly `size` bytes usable, so a write past the array is caught.
        FUZZ_UNPOISON(array, size);
        return array;
    }
    return nullptr;
}

bool giveBackBlock(void* array) {
    for (KeptBlock& block : g_blocks) {
        if (block.handedOut && array == block.start + GUARD) {
            FUZZ_POISON(array, BLOCK_CAPACITY);
            block.handedOut = false;
            return true;
        }
    }
    return false;
}

using ahdi::WINDOW_FILE_END;
using ahdi::WINDOW_SHIFT;
constexpr std::size_t MAX_WINDOW_PART = 65536;

struct Request {
    std::uint16_t first;
    std::uint8_t count;
};

struct Placed {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

std::string g_path;
// What the image buffer must hold after a load: built from the file model.
std::vector<std::uint8_t> g_expected;

void writeFile(const Placed& root, const Placed& window, bool writeWindow, std::uint64_t length) {
    const int fd = ::open(g_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        fuzz::fault("cannot create the image file");
    }
    bool ok = ::pwrite(fd, root.bytes.data(), root.bytes.size(), off_t(root.offset)) ==
              ssize_t(root.bytes.size());
    if (writeWindow && !window.bytes.empty()) {
        ok = ok && ::pwrite(fd, window.bytes.data(), window.bytes.size(), off_t(window.offset)) ==
                       ssize_t(window.bytes.size());
    }
    ok = ok && ::ftruncate(fd, off_t(length)) == 0;
    if (::close(fd) != 0 || !ok) {
        fuzz::fault("cannot write the image file");
    }
}

// The buffer offset that holds file offset `fileOffset`, if the window has one.
bool bufferOffsetOf(std::uint64_t fileOffset, std::uint64_t* bufferOffset) {
    if (fileOffset < DriveImage::HEAD_BYTES) {
        *bufferOffset = fileOffset;
        return true;
    }
    if (fileOffset >= DriveImage::WINDOW_FILE_OFFSET && fileOffset < WINDOW_FILE_END) {
        *bufferOffset = fileOffset - WINDOW_SHIFT;
        return true;
    }
    return false;
}

// Puts the file bytes that lie in the window into g_expected; bytes past the
// file's end stay zero.
void placeExpected(const Placed& part, std::uint64_t fileLength) {
    for (std::size_t i = 0; i < part.bytes.size(); ++i) {
        std::uint64_t at = 0;
        if (part.offset + i < fileLength && bufferOffsetOf(part.offset + i, &at)) {
            g_expected[at] = part.bytes[i];
        }
    }
}

void clearExpected(const Placed& part) {
    for (std::size_t i = 0; i < part.bytes.size(); ++i) {
        std::uint64_t at = 0;
        if (bufferOffsetOf(part.offset + i, &at)) {
            g_expected[at] = 0;
        }
    }
}

// The buffer offsets [begin, end) where a placed part lands in the window.
void placedRange(const Placed& part, std::uint64_t* begin, std::uint64_t* end) {
    *begin = *end = 0;
    if (part.bytes.empty()) {
        return;
    }
    std::uint64_t first = 0;
    if (part.offset < DriveImage::HEAD_BYTES) {
        first = part.offset;
    } else if (part.offset >= DriveImage::WINDOW_FILE_OFFSET && part.offset < WINDOW_FILE_END) {
        first = part.offset - WINDOW_SHIFT;
    } else {
        return;
    }
    // A part never straddles the head and the window: the root part is at
    // most 1024 bytes from 0, the window part starts inside the window.
    const std::uint64_t limit = first < DriveImage::HEAD_BYTES ? DriveImage::HEAD_BYTES : DriveImage::IMAGE_BYTES;
    *begin = first;
    *end = std::min<std::uint64_t>(first + part.bytes.size(), limit);
}

// A plain loop over bytes the checks above have shown to be in the buffer,
// left uninstrumented: per-byte shadow, overflow and coverage checks would
// cost more than all the rest of an input.
__attribute__((no_sanitize("address", "undefined", "coverage"))) bool allZero(const std::uint8_t* p, std::size_t n) {
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint64_t w[4];
        std::memcpy(w, p + i, sizeof w);
        any |= w[0] | w[1] | w[2] | w[3];
    }
    for (; i < n; ++i) {
        any |= p[i];
    }
    return any == 0;
}

// True when every byte of `buffer` equals the model: where a part was
// placed, byte for byte; everywhere else zero, checked in one pass.
bool bufferMatches(const std::uint8_t* buffer, const Placed& root, const Placed& window, bool writeWindow) {
    std::uint64_t ranges[2][2];
    placedRange(root, &ranges[0][0], &ranges[0][1]);
    placedRange(window, &ranges[1][0], &ranges[1][1]);
    if (!writeWindow) {
        ranges[1][0] = ranges[1][1] = 0;
    }
    if (ranges[0][0] > ranges[1][0]) {
        std::swap(ranges[0], ranges[1]);
    }
    std::uint64_t at = 0;
    auto zeroUpTo = [&](std::uint64_t end) {
        const bool zero = end <= at || allZero(buffer + at, std::size_t(end - at));
        at = std::max(at, end);
        return zero;
    };
    for (const auto& range : ranges) {
        if (range[1] <= range[0]) {
            continue;
        }
        if (!zeroUpTo(range[0])) {
            return false;
        }
        // The model holds the placed bytes, and zeros where the file ended.
        const std::uint64_t from = std::max(at, range[0]);
        if (range[1] > from && std::memcmp(buffer + from, g_expected.data() + from, range[1] - from) != 0) {
            return false;
        }
        at = std::max(at, range[1]);
    }
    return zeroUpTo(DriveImage::IMAGE_BYTES);
}

}  // namespace

void* operator new[](std::size_t size) {
    if (void* kept = takeBlock(size)) {
        return kept;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (void* kept = takeBlock(size)) {
        return kept;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void operator delete[](void* p) noexcept {
    if (!giveBackBlock(p)) {
        std::free(p);
    }
}

void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceConsole();
    // A sparse file in memory: reading its holes costs no page cache.
    struct stat shm;
    if (::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && ::access("/dev/shm", W_OK) == 0) {
        g_path = "/dev/shm/vexlo-fuzz-" + std::to_string(static_cast<long>(::getpid())) + "-image.img";
    } else {
        g_path = fuzz::tempPath("image.img");
    }
    g_expected.assign(DriveImage::IMAGE_BYTES, 0);
    std::atexit([] { ::unlink(g_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const std::size_t requestCount = data[3] & 7;
    std::size_t pos = 4;
    std::vector<Request> requests;
    for (std::size_t i = 0; i < requestCount && pos + 3 <= size; ++i, pos += 3) {
        requests.push_back({std::uint16_t(data[pos] | data[pos + 1] << 8), data[pos + 2]});
    }

    Placed root;
    const std::size_t rootLength = std::min<std::size_t>({std::size_t(data[1] << 8 | data[2]), 1024, size - pos});
    root.bytes.assign(data + pos, data + pos + rootLength);
    pos += rootLength;
    if (flags & 2) {
        if (root.bytes.size() < 512) {
            root.bytes.resize(512, 0);
        }
        root.bytes[ahdi::PARTITION_FLAGS_AT] |= 1;
    }
    if (flags & 1) {
        // The word sum is what hostile images rarely get right by chance.
        if (root.bytes.size() < 512) {
            root.bytes.resize(512, 0);
        }
        ahdi::setRootWordSum(root.bytes.data());
    }

    // What the root sector says, as the loader will see it (missing bytes are 0).
    std::vector<std::uint8_t> head(root.bytes);
    head.resize(1024, 0);
    const std::uint64_t partitionOffset = std::uint64_t(bigEndian32(head.data() + ahdi::PARTITION_START_AT)) * 512;

    Placed window;
    window.bytes.assign(data + pos, data + std::min(size, pos + MAX_WINDOW_PART));
    window.offset = partitionOffset >= DriveImage::HEAD_BYTES && partitionOffset < DriveImage::IMAGE_BYTES
                        ? partitionOffset + WINDOW_SHIFT
                        : DriveImage::WINDOW_FILE_OFFSET;

    const int lengthMode = (flags >> 2) & 3;
    std::uint64_t fileLength = root.bytes.size();
    if (lengthMode == 1) {
        fileLength = std::max<std::uint64_t>(fileLength, window.offset + window.bytes.size());
    } else if (lengthMode == 2) {
        fileLength = WINDOW_FILE_END;
    } else if (lengthMode == 3) {
        fileLength = WINDOW_FILE_END + 4096;
    }
    const bool writeWindow = lengthMode != 0;
    writeFile(root, window, writeWindow, fileLength);
    placeExpected(root, fileLength);
    if (writeWindow) {
        placeExpected(window, fileLength);
    }

    // What the loader must decide.
    std::vector<std::uint8_t> loadedHead(g_expected.begin(), g_expected.begin() + 1024);
    const bool sumOk = ahdi::rootWordSum(loadedHead.data()) == ahdi::ROOT_WORD_SUM;
    const bool active = (loadedHead[ahdi::PARTITION_FLAGS_AT] & 1) != 0;
    const std::uint64_t loadedOffset = std::uint64_t(bigEndian32(loadedHead.data() + ahdi::PARTITION_START_AT)) * 512;
    const bool expectLoad = sumOk && active && loadedOffset + 512 <= DriveImage::IMAGE_BYTES;

    {
        DriveImage image;
        const int result = image.Load(g_path.c_str());
        FUZZ_CHECK(result == 1 || result == -5);
        FUZZ_CHECK((result == 1) == expectLoad);
        FUZZ_CHECK((image.pImage != nullptr) == expectLoad);
        if (expectLoad) {
            FUZZ_CHECK(bufferMatches(image.pImage, root, window, writeWindow));
            FUZZ_CHECK(image.partitionOffset == loadedOffset);
            const std::uint8_t* boot = g_expected.data() + loadedOffset;
            FUZZ_CHECK(image.bytesPerSector == littleEndian16(boot + fat::BYTES_PER_SECTOR_AT));
            FUZZ_CHECK(image.fatCount == boot[fat::FAT_COUNT_AT]);
            FUZZ_CHECK(image.rootEntries == littleEndian16(boot + fat::ROOT_ENTRIES_AT));
            FUZZ_CHECK(image.sectorsPerFat == std::int16_t(littleEndian16(boot + fat::SECTORS_PER_FAT_AT)));
        }
        for (const Request& r : requests) {
            const std::uint32_t length = std::uint32_t(image.bytesPerSector) * r.count;
            const std::uint64_t start = std::uint64_t(image.partitionOffset) + std::uint64_t(r.first) * image.bytesPerSector;
            const bool fits = expectLoad && start + length <= DriveImage::IMAGE_BYTES;
            // Exactly the requested size, so any write past it is caught.
            std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[length]);
            const bool ok = image.ReadSectors(r.first, r.count, destination.get());
            FUZZ_CHECK(ok == fits);
            if (ok) {
                FUZZ_CHECK(std::memcmp(destination.get(), g_expected.data() + start, length) == 0);
            }
        }
    }

    clearExpected(root);
    if (writeWindow) {
        clearExpected(window);
    }
    return 0;
}
