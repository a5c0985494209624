#include "AhdiImage.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#define VEXLO_GETPID _getpid
#else
#include <unistd.h>
#define VEXLO_GETPID getpid
#endif

namespace ahdi {

namespace {

void putBig32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = std::uint8_t(v >> 24);
    b[at + 1] = std::uint8_t(v >> 16);
    b[at + 2] = std::uint8_t(v >> 8);
    b[at + 3] = std::uint8_t(v);
}

void putLittle16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

bool writeAt(std::fstream& file, std::uint64_t offset, const std::vector<std::uint8_t>& data) {
    file.seekp(std::streamoff(offset));
    file.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(file);
}

}  // namespace

std::uint64_t fileOffsetOfBuffer(std::uint64_t bufferOffset) {
    return bufferOffset < 1024 ? bufferOffset : bufferOffset + WINDOW_SHIFT;
}

void AhdiImage::put(std::uint64_t fileOffset, std::vector<std::uint8_t> data) {
    extra.emplace_back(fileOffset, std::move(data));
}

std::uint64_t AhdiImage::sectorFileOffset(std::uint32_t sector) const {
    return fileOffsetOfBuffer(std::uint64_t(partitionStart) * 512 + std::uint64_t(sector) * bpb.bytesPerSector);
}

void AhdiImage::putSector(std::uint32_t sector, std::vector<std::uint8_t> data) {
    put(sectorFileOffset(sector), std::move(data));
}

std::vector<std::uint8_t> AhdiImage::bootSector() const {
    std::vector<std::uint8_t> b(512, 0);
    b[0] = 0x60;  // a 68k branch, as real boot sectors start
    b[1] = 0x38;
    putLittle16(b, 11, bpb.bytesPerSector);
    b[13] = bpb.sectorsPerCluster;
    putLittle16(b, 14, bpb.reservedSectors);
    b[16] = bpb.fatCount;
    putLittle16(b, 17, bpb.rootEntries);
    putLittle16(b, 19, bpb.totalSectors);
    b[21] = bpb.media;
    putLittle16(b, 22, bpb.sectorsPerFat);
    putLittle16(b, 24, bpb.sectorsPerTrack);
    putLittle16(b, 26, bpb.sideCount);
    return b;
}

bool AhdiImage::write(const std::string& path) const {
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        if (!file) {
            return false;
        }
        std::vector<std::uint8_t> root(512, 0);
        putBig32(root, 0x1C2, diskSectors);
        root[0x1C6] = partitionFlags;
        root[0x1C7] = std::uint8_t(partitionId[0]);
        root[0x1C8] = std::uint8_t(partitionId[1]);
        root[0x1C9] = std::uint8_t(partitionId[2]);
        putBig32(root, 0x1CA, partitionStart);
        putBig32(root, 0x1CE, partitionSectors);
        bool ok = writeAt(file, 0, root);
        if (writeBootSector) {
            ok = ok && writeAt(file, fileOffsetOfBuffer(std::uint64_t(partitionStart) * 512), bootSector());
        }
        for (const auto& [offset, data] : extra) {
            ok = ok && writeAt(file, offset, data);
        }
        if (!ok) {
            return false;
        }
        // The word sum is settled last, over whatever landed in the first sector.
        std::vector<std::uint8_t> first(512, 0);
        file.seekg(0);
        file.read(reinterpret_cast<char*>(first.data()), 512);
        file.clear();
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 510; i += 2) {
            sum = std::uint16_t(sum + (first[i] << 8 | first[i + 1]));
        }
        const std::uint16_t fix = std::uint16_t(rootWordSum - sum);
        if (!writeAt(file, 510, {std::uint8_t(fix >> 8), std::uint8_t(fix)})) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::resize_file(path, fileBytes, error);
    return !error;
}

std::vector<std::uint8_t> pattern(std::uint32_t seed, std::size_t length) {
    std::vector<std::uint8_t> out(length);
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (std::uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x);
    }
    return out;
}

std::string tempImagePath(const std::string& name) {
    static int serial = 0;
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    return (dir / ("vexlo-" + std::to_string(VEXLO_GETPID()) + "-" + std::to_string(++serial) + "-" + name)).string();
}

}  // namespace ahdi
