#include "AhdiImage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "BootSector.h"
#include "ByteOrder.h"
#include "TempFolder.h"

namespace ahdi {

namespace {

bool writeAt(std::fstream& file, std::uint64_t offset, const std::vector<std::uint8_t>& data) {
    file.seekp(std::streamoff(offset));
    file.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(file);
}

}  // namespace

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
    std::vector<std::uint8_t> b(fat::BOOT_SECTOR_BYTES, 0);
    b[0] = 0x60;  // a 68k branch, as real boot sectors start
    b[1] = 0x38;
    putLittleEndian16(b.data() + fat::BYTES_PER_SECTOR_AT, bpb.bytesPerSector);
    b[fat::SECTORS_PER_CLUSTER_AT] = bpb.sectorsPerCluster;
    putLittleEndian16(b.data() + fat::RESERVED_SECTORS_AT, bpb.reservedSectors);
    b[fat::FAT_COUNT_AT] = bpb.fatCount;
    putLittleEndian16(b.data() + fat::ROOT_ENTRIES_AT, bpb.rootEntries);
    putLittleEndian16(b.data() + fat::TOTAL_SECTORS_AT, bpb.totalSectors);
    b[fat::MEDIA_AT] = bpb.media;
    putLittleEndian16(b.data() + fat::SECTORS_PER_FAT_AT, bpb.sectorsPerFat);
    putLittleEndian16(b.data() + fat::SECTORS_PER_TRACK_AT, bpb.sectorsPerTrack);
    putLittleEndian16(b.data() + fat::SIDES_AT, bpb.sideCount);
    return b;
}

bool AhdiImage::write(const std::string& path) const {
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        if (!file) {
            return false;
        }
        std::vector<std::uint8_t> root(ROOT_BYTES);
        RootSector fields;
        fields.diskSectors = diskSectors;
        fields.partitionFlags = partitionFlags;
        std::copy(partitionId, partitionId + 3, fields.partitionId);
        fields.partitionStart = partitionStart;
        fields.partitionSectors = partitionSectors;
        writeRootSector(root.data(), fields, rootWordSum);
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
        std::vector<std::uint8_t> first(ROOT_BYTES, 0);
        file.seekg(0);
        file.read(reinterpret_cast<char*>(first.data()), std::streamsize(first.size()));
        file.clear();
        setRootWordSum(first.data(), rootWordSum);
        if (!writeAt(file, WORD_SUM_FIX_AT, {first[WORD_SUM_FIX_AT], first[WORD_SUM_FIX_AT + 1]})) {
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
    static const TempFolder folder("vexlo-images");
    static int serial = 0;
    return folder.file(std::to_string(++serial) + "-" + name);
}

}  // namespace ahdi
