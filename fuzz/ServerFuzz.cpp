// The drive image server on a hostile byte stream from the cartridge. The
// image is loaded once; each input sets the parameter block the requests are
// served with (as if another image had been loaded), the read and write
// failures of the link, and the bytes the cartridge sends. ServeOnce runs
// until the stream is used up.
//
// The fake link checks every reply against the image: the server answers a
// complete sector request with one well-formed reply carrying the right
// sectors, or refuses it only when it cannot be served (no image, a length the
// 16-bit field cannot carry, more than the reply buffer, or sectors past the
// end of the image buffer), and writes nothing else.
//
// Input layout:
//   [0]      bit 0: serve with no image loaded
//            bits 1-3: every (n+1)-th read fails (0: none)
//            bit 4: failed reads return an error status (else one byte short)
//            bit 5: writes return an error status
//   [1..2]   bytes per sector, [3] FAT count, [4..5] sectors per FAT,
//   [6..7]   root entries (all low byte first),
//   [8..9]   partition start sector (modulo the sectors of the image buffer)
//   then     the bytes the cartridge sends
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CartridgeCommands.h"
#include "AhdiRoot.h"
#include "BootSector.h"
#include "FuzzSupport.h"
#include "VexloServer.h"

namespace {

constexpr std::size_t SETTINGS = 10;
using ahdi::WINDOW_SHIFT;
constexpr std::uint32_t PARTITION_START = 2;

struct Stream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    unsigned failEvery = 0;
    bool failWithStatus = false;
    bool writesFail = false;
    unsigned reads = 0;
    // The request the server has read completely and not yet answered.
    bool pending = false;
    std::uint16_t first = 0;
    std::uint8_t count = 0;
    bool numberJustRead = false;
    std::uint16_t number = 0;
    const VexloServer* server = nullptr;
};

Stream g_stream;
CartridgeLink g_link;
std::string g_path;
std::vector<std::uint8_t> g_expected;  // what the loaded image buffer holds
VexloServer* g_loaded = nullptr;
VexloServer* g_empty = nullptr;

std::uint8_t patternByte(std::uint64_t bufferOffset) {
    return std::uint8_t((bufferOffset * 2654435761u) >> 13 ^ bufferOffset);
}

bool canServe(const DriveImage& image, std::uint16_t first, std::uint8_t count) {
    const std::uint32_t length = std::uint32_t(image.bytesPerSector) * count;
    const std::uint64_t start = image.partitionOffset + std::uint64_t(first) * image.bytesPerSector;
    return image.pImage != nullptr && length <= 0xFFFF && length + SECTOR_REPLY_OVERHEAD <= SECTOR_REPLY_BUFFER &&
           start + length <= DriveImage::IMAGE_BYTES;
}

// A request read completely but not answered must have been one the server
// cannot serve.
void settlePending() {
    if (g_stream.pending) {
        FUZZ_CHECK(!canServe(g_stream.server->image, g_stream.first, g_stream.count));
        g_stream.pending = false;
    }
}

FT_STATUS FT_API streamStatus(FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* events) {
    FUZZ_CHECK(handle == g_link.deviceHandle);
    settlePending();
    *tx = 0;
    *events = 0;
    *rx = DWORD(g_stream.size - g_stream.pos);
    if (*rx == 0) {
        throw fuzz::StopRun{};  // the cartridge has nothing more to send
    }
    return FT_OK;
}

FT_STATUS FT_API streamRead(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    FUZZ_CHECK(handle == g_link.deviceHandle);
    FUZZ_CHECK(count == 1 || count == 2);
    const bool countAfterNumber = g_stream.numberJustRead && count == 1;
    g_stream.numberJustRead = false;
    settlePending();

    DWORD n = DWORD(std::min<std::size_t>(count, g_stream.size - g_stream.pos));
    FT_STATUS status = FT_OK;
    ++g_stream.reads;
    if (g_stream.failEvery != 0 && g_stream.reads % (g_stream.failEvery + 1) == 0) {
        if (g_stream.failWithStatus) {
            status = FT_IO_ERROR;
            n = 0;
        } else if (n > 0) {
            --n;
        }
    }
    std::memcpy(buffer, g_stream.data + g_stream.pos, n);
    g_stream.pos += n;
    *got = n;

    if (status == FT_OK && count == 2 && n == 2) {
        g_stream.numberJustRead = true;
        g_stream.number = std::uint16_t(g_stream.data[g_stream.pos - 2] | g_stream.data[g_stream.pos - 1] << 8);
    }
    if (status == FT_OK && countAfterNumber && n == 1) {
        g_stream.pending = true;
        g_stream.first = g_stream.number;
        g_stream.count = g_stream.data[g_stream.pos - 1];
    }
    return status;
}

FT_STATUS FT_API replyWrite(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    FUZZ_CHECK(handle == g_link.deviceHandle);
    // The server writes only to answer a request it has read completely.
    FUZZ_CHECK(g_stream.pending);
    g_stream.pending = false;
    const DriveImage& image = g_stream.server->image;
    FUZZ_CHECK(canServe(image, g_stream.first, g_stream.count));

    const auto* reply = static_cast<const std::uint8_t*>(buffer);
    const std::uint32_t length = std::uint32_t(image.bytesPerSector) * g_stream.count;
    FUZZ_CHECK(count == length + SECTOR_REPLY_OVERHEAD);
    FUZZ_CHECK(reply[0] == SYNC1 && reply[1] == SYNC2 && reply[2] == cmdUploadData);
    FUZZ_CHECK((reply[3] | reply[4] << 8) == int(length));
    const std::uint64_t start = image.partitionOffset + std::uint64_t(g_stream.first) * image.bytesPerSector;
    FUZZ_CHECK(std::memcmp(reply + SECTOR_REPLY_HEAD, g_expected.data() + start, length) == 0);
    const std::uint8_t tail[] = {SYNC1, SYNC2, cmdEndTransfer, SYNC1, SYNC2, cmdEndTransfer};
    FUZZ_CHECK(std::memcmp(reply + SECTOR_REPLY_HEAD + length, tail, sizeof tail) == 0);
    // The three bytes behind the markers must not carry stale stack memory.
    for (std::uint32_t i = SECTOR_REPLY_HEAD + length + sizeof tail; i < count; ++i) {
        FUZZ_CHECK(reply[i] == 0);
    }
    *written = g_stream.writesFail ? 0 : count;
    return g_stream.writesFail ? FT_IO_ERROR : FT_OK;
}

void writeImage() {
    // Root sector: word sum 0x1234, partition 0 active from sector 2.
    std::vector<std::uint8_t> root(ahdi::ROOT_BYTES);
    ahdi::RootSector fields;
    fields.partitionStart = PARTITION_START;
    ahdi::writeRootSector(root.data(), fields);

    g_expected.assign(DriveImage::IMAGE_BYTES, 0);
    std::copy(root.begin(), root.end(), g_expected.begin());
    for (std::uint64_t x = DriveImage::HEAD_BYTES; x < DriveImage::IMAGE_BYTES; ++x) {
        g_expected[x] = patternByte(x);
    }
    // A 512-byte parameter block so that Load accepts the image; the
    // harness sets its own values afterwards.
    g_expected[PARTITION_START * 512 + fat::BYTES_PER_SECTOR_AT] = 0;
    g_expected[PARTITION_START * 512 + fat::BYTES_PER_SECTOR_AT + 1] = 2;

    const int fd = ::open(g_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    bool ok = fd >= 0 && ::pwrite(fd, root.data(), root.size(), 0) == ssize_t(root.size());
    const std::uint8_t* window = g_expected.data() + DriveImage::HEAD_BYTES;
    const std::size_t windowBytes = DriveImage::IMAGE_BYTES - DriveImage::HEAD_BYTES;
    ok = ok && ::pwrite(fd, window, windowBytes, off_t(DriveImage::HEAD_BYTES + WINDOW_SHIFT)) == ssize_t(windowBytes);
    if (fd < 0 || ::close(fd) != 0 || !ok) {
        fuzz::fault("cannot write the image file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceConsole();
    fuzz::installQuietDriver(g_link);
    g_link.FT_GetStatus = streamStatus;
    g_link.FT_Read = streamRead;
    g_link.FT_Write = replyWrite;
    g_path = fuzz::tempPath("served.img");
    writeImage();

    // Both live for the process, as the server's image does.
    g_loaded = new VexloServer(&g_link, nullptr);
    g_loaded->Start(g_path.c_str());
    ::unlink(g_path.c_str());
    if (g_loaded->image.pImage == nullptr ||
        std::memcmp(g_loaded->image.pImage, g_expected.data(), DriveImage::IMAGE_BYTES) != 0) {
        fuzz::fault("the served image did not load as written");
    }
    g_empty = new VexloServer(&g_link, nullptr);
    g_empty->Start((g_path + ".missing").c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < SETTINGS) {
        return 0;
    }
    VexloServer* server = (data[0] & 1) != 0 ? g_empty : g_loaded;
    DriveImage& image = server->image;
    image.bytesPerSector = std::uint16_t(data[1] | data[2] << 8);
    image.fatCount = data[3];
    image.sectorsPerFat = std::int16_t(data[4] | data[5] << 8);
    image.rootEntries = std::uint16_t(data[6] | data[7] << 8);
    if (image.pImage != nullptr) {
        const std::uint32_t sectors = DriveImage::IMAGE_BYTES / 512;
        image.partitionOffset = (std::uint32_t(data[8] | data[9] << 8) % sectors) * 512;
    }

    g_stream = Stream{};
    g_stream.data = data + SETTINGS;
    g_stream.size = size - SETTINGS;
    g_stream.failEvery = (data[0] >> 1) & 7;
    g_stream.failWithStatus = (data[0] & 0x10) != 0;
    g_stream.writesFail = (data[0] & 0x20) != 0;
    g_stream.server = server;

    try {
        while (g_stream.pos < g_stream.size) {
            server->ServeOnce();
        }
    } catch (const fuzz::StopRun&) {
    }
    settlePending();
    return 0;
}
