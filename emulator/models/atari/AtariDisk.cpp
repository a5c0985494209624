#include "AtariDisk.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "AhdiRootSector.h"
#include "AtariFolders.h"

using namespace atari_disk;

namespace {

// Where partition 0 of a dumped image starts, in 512-byte sectors: behind
// the root sector and one empty sector, as AHDI lays out a disk.
constexpr std::uint32_t DUMP_PARTITION_START = 2;

bool dumpPartition(Disk& disk, const std::string& file) {
    const Volume& vol = disk.vol;
    const std::uint64_t bytes = static_cast<std::uint64_t>(vol.totalSectors) * vol.bytesPerSector;
    const auto fail = [&](const std::string& why) {
        (*disk.log)("dump " + file + " failed: " + why);
        return false;
    };
    if (vol.totalSectors > 0x10000) {
        return fail(format("the partition has %u sectors; requests address at most 65536", vol.totalSectors));
    }
    const std::uint32_t sectors512 = static_cast<std::uint32_t>(bytes / 512);
    std::uint8_t root[ahdi::ROOT_BYTES] = {};
    putBigEndian32(root + ahdi::DISK_SECTORS_AT, DUMP_PARTITION_START + sectors512);
    root[ahdi::PARTITION_FLAGS_AT] = 1;
    std::copy_n(ahdi::partitionIdFor(sectors512), 3, root + ahdi::PARTITION_ID_AT);
    putBigEndian32(root + ahdi::PARTITION_START_AT, DUMP_PARTITION_START);
    putBigEndian32(root + ahdi::PARTITION_SECTORS_AT, sectors512);
    ahdi::setRootWordSum(root);

    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return fail("cannot create the file");
    const std::vector<char> head(DUMP_PARTITION_START * 512, 0);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    out.seekp(0);
    out.write(reinterpret_cast<const char*>(root), sizeof root);
    out.seekp(static_cast<std::streamoff>(head.size()));
    // In pieces of a few requests, so a dump needs no partition-sized buffer.
    const std::uint32_t piece = vol.maxPerRequest * 16;
    const std::uint32_t before = disk.requests;
    std::vector<std::uint8_t> data;
    for (std::uint32_t first = 0; first < vol.totalSectors; first += piece) {
        std::string error;
        if (!readSectors(disk, first, std::min(piece, vol.totalSectors - first), data, error)) return fail(error);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    out.close();
    if (!out) return fail("cannot write the file");
    (*disk.log)(format("dump: %u sectors of %u bytes in %u requests -> %s (plain image, partition at sector %u)",
                       vol.totalSectors, vol.bytesPerSector, disk.requests - before, file.c_str(),
                       DUMP_PARTITION_START));
    return true;
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool parseAtariTasks(const std::string& config, std::vector<AtariTask>& tasks, std::string& error) {
    tasks.clear();
    std::size_t start = 0;
    while (start <= config.size()) {
        std::size_t end = config.find(';', start);
        if (end == std::string::npos) end = config.size();
        const std::string item = trim(config.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;
        const std::size_t colon = item.find(':');
        std::string word = trim(item.substr(0, colon));
        for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string arg = colon == std::string::npos ? "" : trim(item.substr(colon + 1));
        AtariTask task;
        if (word == "list" && colon == std::string::npos) {
            task.kind = AtariTaskKind::list;
        } else if (word == "readall" && colon == std::string::npos) {
            task.kind = AtariTaskKind::readAll;
        } else if (word == "read" && !arg.empty()) {
            task.kind = AtariTaskKind::read;
            task.path = arg;
        } else if (word == "dump" && !arg.empty()) {
            task.kind = AtariTaskKind::dump;
            task.path = arg;
        } else {
            error = "unknown Atari task \"" + item + "\" (use list, read:/PATH, readall or dump:FILE)";
            tasks.clear();
            return false;
        }
        tasks.push_back(task);
    }
    return true;
}

bool runAtariTasks(const std::vector<AtariTask>& tasks, const RequestSectors& request, const std::string& outDir,
                   const AtariLog& log) {
    Disk disk;
    disk.request = &request;
    disk.log = &log;
    std::string error;
    if (!readBootSector(disk, error)) {
        log("disk unreadable: " + error);
        return false;
    }
    bool ok = true;
    for (const AtariTask& task : tasks) {
        switch (task.kind) {
            case AtariTaskKind::list:
                ok = runWalk(disk, outDir, true, false) && ok;
                break;
            case AtariTaskKind::readAll:
                ok = runWalk(disk, outDir, false, true) && ok;
                break;
            case AtariTaskKind::read:
                ok = readOne(disk, task.path, outDir) && ok;
                break;
            case AtariTaskKind::dump:
                ok = dumpPartition(disk, task.path) && ok;
                break;
        }
    }
    log(format("%u sector requests in all", disk.requests));
    return ok;
}
