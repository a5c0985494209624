#include "ImageTool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AtariImage.h"
#include "FolderWalk.h"
#include "BootSector.h"
#include "ByteOrder.h"
#include "Convert.h"
#include "Text.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using namespace atari;

namespace {

constexpr int OK = 0;
constexpr int FAILED = 1;
constexpr int USAGE = 2;

void usage(std::FILE* to) {
    std::fputs(
        "Usage:\n"
        "  vexlo-image create OUT.img [FOLDER-OR-FILE...] [--size-mb N | --size-kb N]\n"
        "                     [--sector-size 512|1024|2048|4096] [--label NAME]\n"
        "                     [--layout served|plain] [--force]\n"
        "      Makes an image that `Vexlo -drvimg OUT.img` serves (--layout plain: an\n"
        "      ordinary one for Atari emulators and hard-disk adapters). A folder's\n"
        "      contents go to the disk's root (sub-folders kept), a file to the root.\n"
        "      Default size 8 MB, grown to fit the files; at most 20479 KB.\n"
        "  vexlo-image convert IN OUT --to plain|served [--partition N] [--force]\n"
        "      Writes IN's partition to OUT in the other layout: served for Vexlo\n"
        "      -drvimg, plain for Atari emulators and hard-disk adapters. --partition\n"
        "      picks one of a plain image's entries 0-3 (default: the first active).\n"
        "  vexlo-image info IMAGE\n"
        "      What the server does with IMAGE, and why.\n"
        "  vexlo-image ls IMAGE [PATH]\n"
        "      The folders and files the Atari sees, from PATH (default: the root) down.\n"
        "  vexlo-image get IMAGE PATH [DEST] [--force]\n"
        "      Copies a file or folder out of IMAGE as the Atari reads it (DEST \"-\":\n"
        "      a file to standard output).\n"
        "  vexlo-image --version | --help\n",
        to);
}

// Messages carry names from images and folders: none reaches the terminal raw.
int fail(const std::string& message) {
    std::fprintf(stderr, "vexlo-image: %s\n", printable(message).c_str());
    return FAILED;
}

// "1 file", "2 files".
std::string counted(std::uint64_t n, const char* noun) {
    return format("%llu %s%s", static_cast<unsigned long long>(n), noun, n == 1 ? "" : "s");
}

bool parseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::uint32_t(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

std::string dateText(std::uint16_t date, std::uint16_t time) {
    return format("%04u-%02u-%02u %02u:%02u", 1980 + (date >> 9), (date >> 5) & 15u, date & 31u, time >> 11,
                  (time >> 5) & 63u);
}

int create(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    BuildOptions options;
    bool force = false;
    bool plain = false;
    bool sizeGiven = false;
    std::string sizeOption;
    std::string sizeText;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--force") {
            force = true;
        } else if (a == "--layout") {
            if (!hasValue) return fail(a + " needs a value"), USAGE;
            const std::string& value = args[++i];
            if (value != "served" && value != "plain") return fail("--layout must be served or plain"), USAGE;
            plain = value == "plain";
        } else if (a == "--size-mb" || a == "--size-kb" || a == "--sector-size" || a == "--label") {
            if (!hasValue) return fail(a + " needs a value"), USAGE;
            const std::string& value = args[++i];
            std::uint32_t n = 0;
            if (a == "--label") {
                options.label = value;
                continue;
            }
            if (!parseNumber(value, n)) return fail("bad " + a + ": " + value), USAGE;
            if (a == "--sector-size") {
                options.sectorSize = n;
                continue;
            }
            if (sizeGiven) return fail("give --size-mb or --size-kb once"), USAGE;
            sizeGiven = true;
            sizeOption = a;
            sizeText = value;
            // Out of range stays out of range: 0 and sizes past 32 bits become 1 KB and the most.
            const std::uint64_t kb = a == "--size-mb" ? std::uint64_t(n) * 1024 : n;
            options.sizeKb = kb == 0 ? 1 : std::uint32_t(std::min<std::uint64_t>(kb, 0xFFFFFFFF));
            // 20 MB is the window itself; the root sector takes its first KB.
            if (a == "--size-mb" && n == 20) options.sizeKb = MAX_SIZE_KB;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return fail("unknown option " + a + " (see --help)"), USAGE;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) return fail("create needs OUT.img"), USAGE;
    std::string error;
    options.sizeOption = sizeOption;
    options.sizeValue = sizeText;
    if (!checkOptions(options, error)) return fail(error), USAGE;
    const std::string out = positional[0];
    const std::vector<std::string> sources(positional.begin() + 1, positional.end());
    if (!checkOutputTarget(out, force, error)) return fail(error);

    SourceNode root;
    std::vector<std::string> followed;
    if (!scanSources(sources, root, error, &followed)) return fail(error);
    for (const std::string& link : followed) {
        std::fprintf(stderr, "vexlo-image: following the link %s, outside its folder\n", printable(link).c_str());
    }
    BuiltImage image;
    if (!buildImage(root, options, image, error)) return fail(error);
    for (const NameMapping& m : image.renamed) {
        std::printf("8.3 name: %s -> %s\n", printable(m.from).c_str(), m.to.c_str());
    }
    if (!(plain ? writePlainImageFile(image, out, error) : writeImageFile(image, out, error))) return fail(error);
    const std::uint32_t sectors512 = std::uint32_t(image.partition.size() / 512);
    std::printf("%s: %s partition of %u KB at file sector %u; FAT16, %u clusters of %u bytes (%u-byte sectors)\n",
                printable(out).c_str(), ahdi::partitionIdFor(sectors512), image.sizeKb,
                plain ? PLAIN_START_SECTOR : SERVED_FILE_SECTOR,
                image.clusterCount, image.sectorsPerCluster * image.bytesPerSector, image.bytesPerSector);
    return OK;
}

// Served or plain: ls and get read either.
bool openImage(const std::string& path, Bytes& buffer, Volume& volume, std::string& error, Layout* layout = nullptr) {
    Layout found = Layout::unknown;
    const bool ok = openAnyLayout(path, buffer, volume, found, error);
    if (layout != nullptr) *layout = found;
    if (!ok) {
        error = path + ": " + error + " (see vexlo-image info " + path + ")";
        return false;
    }
    return true;
}

// A boot sector that other tools would take, at a file offset outside the window.
bool plausibleBootSector(const std::string& path, std::uint64_t offset) {
    std::uint8_t b[512] = {};
    return readFileBytes(path, offset, b, sizeof b) && looksLikeBootSector(b);
}

// Which layout the image has, what a plain partition holds, and the command to the other layout.
void printLayout(const std::string& path) {
    const LayoutFound found = findLayout(path);
    const std::string shown = printable(path);
    if (found.layout == Layout::served) {
        std::printf("Layout: served (partition 0's boot sector at file sector %u, where the server's window puts "
                    "it); `vexlo-image convert %s PLAIN.img --to plain` makes an ordinary image for Atari emulators "
                    "and hard-disk adapters\n",
                    SERVED_FILE_SECTOR, shown.c_str());
        return;
    }
    if (found.layout == Layout::unknown) {
        std::printf("Layout: neither served nor plain: no boot sector where the root sector's entries or the "
                    "server's window put one\n");
        return;
    }
    std::printf("Layout: plain (partition %d where its root sector says); `vexlo-image convert %s SERVED.img --to "
                "served` makes it servable\n",
                found.partition, shown.c_str());
    Bytes window;
    PartitionEntry chosen;
    Volume volume;
    TreeCount count;
    std::string error;
    if (!loadPlainPartition(path, found.partition, window, chosen, error) ||
        !openVolume(windowOf(window), ahdi::HEAD_BYTES, volume, error) || !checkTree(volume, count, error)) {
        std::printf("Plain partition %d: convert refuses it: %s\n", found.partition, printable(error).c_str());
        return;
    }
    std::printf("Plain partition %d: start sector %u, %u KB; FAT%d, %s in %s, %s\n", chosen.index, chosen.start,
                chosen.sectors / 2, volume.fatBits, counted(count.files, "file").c_str(),
                counted(count.folders, "folder").c_str(), counted(count.bytes, "byte").c_str());
}

int info(const std::string& path) {
    Bytes buffer;
    std::uint64_t fileSize = 0;
    std::string error;
    if (!loadWindow(path, buffer, fileSize, error)) return fail(error);
    const Window window = windowOf(buffer);
    const RootSector root = readRootSector(window);
    std::printf("Image: %s, %llu bytes\n", printable(path).c_str(), static_cast<unsigned long long>(fileSize));
    printLayout(path);
    std::printf("Window: the server loads file bytes 0-1023 and %u-%llu (sectors %u-%llu) into its %u-byte buffer\n",
                ahdi::WINDOW_FILE_OFFSET,
                static_cast<unsigned long long>(WINDOW_SHIFT + ahdi::WINDOW_BYTES - 1), SERVED_FILE_SECTOR,
                static_cast<unsigned long long>((WINDOW_SHIFT + ahdi::WINDOW_BYTES) / 512 - 1),
                ahdi::WINDOW_BYTES);
    std::printf("Root sector: word sum 0x%04X, %s\n", root.wordSum,
                root.checksumOk() ? "as the server needs" : "the server needs 0x1234 (\"Bad root checksum\")");
    std::printf("Partition 0: flags 0x%02X (%s), id %s, start sector %u, %u sectors (%u KB); disk %u sectors\n",
                root.flags, root.active() ? "active" : "not active: \"First partition not active\"",
                format("%c%c%c", std::isprint(static_cast<unsigned char>(root.id[0])) ? root.id[0] : '?',
                       std::isprint(static_cast<unsigned char>(root.id[1])) ? root.id[1] : '?',
                       std::isprint(static_cast<unsigned char>(root.id[2])) ? root.id[2] : '?')
                    .c_str(),
                root.start, root.sectors, root.sectors / 2, root.diskSectors);

    const std::uint64_t bootBuffer = root.bootBufferOffset();
    const std::uint64_t ordinary = std::uint64_t(root.start) * 512;
    // ls and get read only what the server serves, so the files come out with another FAT tool.
    const std::string rebuild =
        "create can rebuild it: copy the image's files into a folder (any FAT tool reads the partition where "
        "it is), then `vexlo-image create NEW.img FOLDER`, or serve the folder itself with `Vexlo -drvimg FOLDER`";
    bool bootUsable = false;
    if (!root.bootInWindow()) {
        std::printf("Boot sector: buffer offset %llu is outside the %u-byte window (\"Partition outside drive image "
                    "window\")\n",
                    static_cast<unsigned long long>(bootBuffer), ahdi::WINDOW_BYTES);
    } else {
        const std::uint64_t fileOffset = fileOffsetOfBuffer(bootBuffer);
        std::printf("Boot sector: buffer offset %llu = file offset %llu (file sector %llu), %s\n",
                    static_cast<unsigned long long>(bootBuffer), static_cast<unsigned long long>(fileOffset),
                    static_cast<unsigned long long>(fileOffset / 512),
                    bootBuffer < ahdi::HEAD_BYTES ? "inside the root sectors"
                    : fileOffset + 512 > fileSize       ? "beyond the file's end: the server sees zeros there"
                                                        : "inside the window");
        bootUsable = fileOffset + 512 <= fileSize;
    }
    if (!bootUsable || ordinary != fileOffsetOfBuffer(bootBuffer)) {
        if (ordinary != fileOffsetOfBuffer(bootBuffer) && plausibleBootSector(path, ordinary)) {
            std::printf("Note: the file holds a boot sector at file offset %llu, where an ordinary disk has "
                        "partition 0; the server needs it at file offset %u (start sector %u, file sector %u); "
                        "%s.\n",
                        static_cast<unsigned long long>(ordinary), ahdi::WINDOW_FILE_OFFSET,
                        SERVED_START_SECTOR, SERVED_FILE_SECTOR, rebuild.c_str());
        } else if (!bootUsable) {
            std::printf("Note: the server needs partition 0 at file offset %u (start sector %u, file sector %u); "
                        "%s.\n",
                        ahdi::WINDOW_FILE_OFFSET, SERVED_START_SECTOR, SERVED_FILE_SECTOR, rebuild.c_str());
        }
    }

    Volume volume;
    std::string volumeError;
    const bool opened = root.bootInWindow() && openVolume(window, bootBuffer, volume, volumeError);
    if (root.bootInWindow()) {
        std::printf("Boot sector: %u bytes a sector, %u sectors a cluster, %u reserved, %u FATs of %u sectors, "
                    "%u root entries, %u sectors, media 0x%02X, %u sectors a track, %u sides\n",
                    volume.bytesPerSector, volume.sectorsPerCluster, volume.reservedSectors, volume.fatCount,
                    volume.sectorsPerFat, volume.rootEntries, volume.totalSectors, volume.media,
                    volume.sectorsPerTrack, volume.sides);
        // The areas as the server's trace names them, with its own arithmetic.
        const std::int16_t h = std::int16_t(std::int16_t(volume.fatCount) * std::int16_t(volume.sectorsPerFat));
        const int r = int(volume.rootEntries * 32 / 1024);
        std::printf("Server trace: boot 0, fat 1-%d, dir %d-%d, data from %d\n", int(h), h + 1, h + r, h + 1 + r);
        if (opened && (volume.reservedSectors != 1 || std::uint32_t(h + 1) != volume.rootStart ||
                       std::uint32_t(h + 1 + r) != volume.dataStart)) {
            std::printf("Note: the trace's areas are not the disk's: it counts one reserved sector and %u root "
                        "entries as %d sectors (32 bytes each, 1024 bytes a sector, whatever the sector size); the "
                        "disk has %u reserved, the root folder at %u-%u and data from %u. Only the trace's words "
                        "differ: the sectors served are the same.\n",
                        volume.rootEntries, r, volume.reservedSectors, volume.rootStart,
                        volume.rootStart + volume.rootSectors - 1, volume.dataStart);
        }
    }
    if (opened) {
        std::printf("File system: FAT%d, %u clusters of %u bytes; FAT from sector %u, root folder %u-%u, data from "
                    "sector %u\n",
                    volume.fatBits, volume.clusterCount, volume.clusterBytes(), volume.reservedSectors,
                    volume.rootStart, volume.rootStart + volume.rootSectors - 1, volume.dataStart);
        const std::string label = volumeLabel(volume);
        std::printf("Label: %s\n", label.empty() ? "none" : ("\"" + printable(label) + "\"").c_str());
    }

    std::string refusal;
    if (!root.checksumOk()) {
        refusal = "bad root sector checksum";
    } else if (!root.active()) {
        refusal = "partition 0 is not active";
    } else if (!root.bootInWindow()) {
        refusal = "partition 0 lies outside the window";
    }
    if (!refusal.empty()) {
        std::printf("Result: the server refuses this image: %s.\n", refusal.c_str());
        return FAILED;
    }
    if (!opened) {
        std::printf("Result: the server loads this image, but the Atari cannot use it: %s.\n",
                    printable(volumeError).c_str());
        return FAILED;
    }
    TreeCount count;
    std::string treeError;
    if (!checkTree(volume, count, treeError)) {
        std::printf("Result: the server loads this image, but the Atari fails reading it: %s.\n",
                    printable(treeError).c_str());
        return FAILED;
    }
    std::printf("Result: the server loads this image; the Atari sees %s in %s, %s.\n", counted(count.files, "file").c_str(),
                counted(count.folders, "folder").c_str(), counted(count.bytes, "byte").c_str());
    return OK;
}

int list(const std::string& image, const std::string& path) {
    Bytes buffer;
    Volume volume;
    std::string error;
    Layout layout = Layout::unknown;
    if (!openImage(image, buffer, volume, error, &layout)) return fail(error);
    Walker walker(volume);
    Entry start;
    if (!walker.find(path, start, error)) return fail(error);
    auto line = [](const Entry& e, const std::string& shown) {
        if (e.folder()) {
            std::printf("%10s  %s  %s/\n", "<DIR>", dateText(e.date, e.time).c_str(), printable(shown).c_str());
        } else {
            std::printf("%10u  %s  %s\n", e.size, dateText(e.date, e.time).c_str(), printable(shown).c_str());
        }
    };
    const auto layoutLine = [layout] { std::printf("Layout: %s\n", layoutName(layout)); };
    TreeCount count;
    if (!start.folder()) {
        line(start, path);
        layoutLine();
        return OK;
    }
    std::string prefix;
    for (char c : path) prefix += c == '\\' ? '/' : c;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    if (!prefix.empty() && prefix[0] != '/') prefix = "/" + prefix;
    prefix = upperAscii(prefix);
    const bool ok = walk(
        walker, start.firstCluster, prefix, 0,
        [&](const Entry& e, const std::string& shown, std::string&) {
            line(e, shown);
            e.folder() ? ++count.folders : ++count.files;
            count.bytes += e.folder() ? 0 : e.size;
            return true;
        },
        error);
    if (!ok) return fail(error);
    std::printf("%s, %s, %s\n", counted(count.files, "file").c_str(), counted(count.folders, "folder").c_str(),
                counted(count.bytes, "byte").c_str());
    layoutLine();
    return OK;
}

int convert(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool force = false;
    Layout to = Layout::unknown;
    int partition = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--force") {
            force = true;
        } else if (a == "--to") {
            if (!hasValue) return fail("--to needs a value"), USAGE;
            const std::string& value = args[++i];
            if (value != "served" && value != "plain") return fail("--to must be served or plain"), USAGE;
            to = value == "plain" ? Layout::plain : Layout::served;
        } else if (a == "--partition") {
            if (!hasValue) return fail("--partition needs a value"), USAGE;
            std::uint32_t n = 0;
            const std::string& value = args[++i];
            if (!parseNumber(value, n) || n >= std::uint32_t(PARTITION_ENTRIES)) {
                return fail(format("--partition must be 0-%d, one of the root sector's entries: %s",
                                   PARTITION_ENTRIES - 1, value.c_str())),
                       USAGE;
            }
            partition = int(n);
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return fail("unknown option " + a + " (see --help)"), USAGE;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return fail("convert needs IN OUT --to plain|served"), USAGE;
    if (to == Layout::unknown) return fail("convert needs --to plain or --to served"), USAGE;
    if (to == Layout::plain && partition >= 0) {
        return fail("--partition picks a plain image's partition to serve; it goes with --to served"), USAGE;
    }
    ConvertResult result;
    std::string error;
    if (!convertImage(positional[0], positional[1], to, partition, force, result, error)) return fail(error);
    const std::string next = to == Layout::served ? "Vexlo -drvimg " + printable(positional[1]) + " serves it"
                                                  : "Atari emulators and hard-disk adapters take it";
    std::printf("%s: partition %d of %s (%llu KB) in the %s layout, at file sector %u; %s\n",
                printable(positional[1]).c_str(), result.partition.index, printable(positional[0]).c_str(),
                static_cast<unsigned long long>(result.bytes / 1024), layoutName(to),
                to == Layout::served ? SERVED_FILE_SECTOR : PLAIN_START_SECTOR, next.c_str());
    return OK;
}

bool writeBytes(const fs::path& to, const Bytes& content, std::string& error) {
    return replaceFile(
        textOf(to), content.size(),
        [&content](int fd) { return content.empty() || platform::writeFileAt(fd, 0, content.data(), content.size()); },
        error);
}

// A path made of names from the image (each already checked by the reader)
// stays below the folder it is put under.
bool staysInside(const std::string& relative) {
    const fs::path path = pathOf(relative);
    if (path.empty() || path.has_root_name() || path.has_root_directory()) return false;
    return std::none_of(path.begin(), path.end(), [](const fs::path& part) {
        return part.empty() || part == "." || part == "..";
    });
}

// A folder `get` writes into: missing (it is made) or a folder; never a link,
// which would take the files elsewhere.
bool checkFolderTarget(const fs::path& folder, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (!fs::exists(status) || fs::is_directory(status)) return true;
    if (fs::is_symlink(status)) {
        error = textOf(folder) + " is a link (to " + textOf(fs::read_symlink(folder, ec)) +
                "); get writes into a folder itself, never through a link";
    } else {
        error = textOf(folder) + " exists and is not a folder";
    }
    return false;
}

int get(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    bool force = false;
    for (const std::string& a : args) {
        if (a == "--force") {
            force = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return fail("unknown option " + a + " (see --help)"), USAGE;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() < 2 || positional.size() > 3) return fail("get needs IMAGE PATH [DEST]"), USAGE;
    Bytes buffer;
    Volume volume;
    std::string error;
    if (!openImage(positional[0], buffer, volume, error)) return fail(error);
    Walker walker(volume);
    Entry start;
    if (!walker.find(positional[1], start, error)) return fail(error);

    // Everything is read and checked before anything is written.
    std::vector<std::pair<std::string, Bytes>> files;  // relative path, content
    std::vector<std::string> folders;
    if (start.folder()) {
        const bool ok = walk(
            walker, start.firstCluster, "", 0,
            [&](const Entry& e, const std::string& shown, std::string& why) {
                if (e.folder()) {
                    folders.push_back(shown.substr(1));
                    return true;
                }
                Bytes content;
                if (!walker.readFile(e, content, why)) {
                    why = shown + ": " + why;
                    return false;
                }
                files.emplace_back(shown.substr(1), std::move(content));
                return true;
            },
            error);
        if (!ok) return fail(error);
    } else {
        Bytes content;
        if (!walker.readFile(start, content, error)) return fail(error);
        files.emplace_back(start.name, std::move(content));
    }

    if (!start.folder() && positional.size() == 3 && positional[2] == "-") {
        const Bytes& content = files[0].second;
        std::fwrite(content.data(), 1, content.size(), stdout);
        return std::fflush(stdout) == 0 ? OK : fail("cannot write to standard output");
    }
    // Every target is checked before the first byte is written.
    std::error_code ec;
    if (start.folder()) {
        const fs::path dest = pathOf(positional.size() == 3 ? positional[2] : (start.name == "/" ? "." : start.name));
        if (!checkFolderTarget(dest, error)) return fail(error);
        for (const std::string& f : folders) {
            if (!staysInside(f)) return fail(f + ": not a name inside " + textOf(dest));
            if (!checkFolderTarget(dest / pathOf(f), error)) return fail(error);
        }
        for (const auto& [name, content] : files) {
            if (!staysInside(name)) return fail(name + ": not a name inside " + textOf(dest));
            if (!checkOutputTarget(textOf(dest / pathOf(name)), force, error)) return fail(error);
        }
        fs::create_directories(dest, ec);
        for (const std::string& f : folders) {
            if (!ec) fs::create_directories(dest / pathOf(f), ec);
        }
        if (ec) return fail("cannot make the folders in " + textOf(dest) + ": " + ec.message());
        for (const auto& [name, content] : files) {
            if (!writeBytes(dest / pathOf(name), content, error)) return fail(error);
        }
        std::printf("%s, %s written to %s\n", counted(files.size(), "file").c_str(),
                    counted(folders.size(), "folder").c_str(), printable(textOf(dest)).c_str());
        return OK;
    }
    fs::path to = pathOf(positional.size() == 3 ? positional[2] : start.name);
    if (fs::is_directory(fs::symlink_status(to, ec))) to /= pathOf(start.name);
    if (!checkOutputTarget(textOf(to), force, error)) return fail(error);
    if (!writeBytes(to, files[0].second, error)) return fail(error);
    return OK;
}

}  // namespace

int runImageTool(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        usage(stderr);
        return USAGE;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    // Help asked for anywhere (`vexlo-image create --help`) is help, not a mistake.
    const bool help = command == "-h" || command == "--help" || command == "help" ||
                      std::find_if(args.begin(), args.end(),
                                   [](const std::string& a) { return a == "-h" || a == "--help"; }) != args.end();
    if (help) {
        usage(stdout);
        return OK;
    }
    if (command == "--version" ||
        std::find(args.begin(), args.end(), std::string("--version")) != args.end()) {
        std::printf("vexlo-image %s\n", VEXLO_VERSION);
        return OK;
    }
    if (command == "create") return create(args);
    if (command == "info" && args.size() == 1) return info(args[0]);
    if (command == "ls" && (args.size() == 1 || args.size() == 2)) return list(args[0], args.size() == 2 ? args[1] : "/");
    if (command == "get") return get(args);
    if (command == "convert") return convert(args);
    if (command == "info" || command == "ls") {
        usage(stderr);
        return USAGE;
    }
    std::fprintf(stderr, "vexlo-image: unknown command %s\n", command.c_str());
    usage(stderr);
    return USAGE;
}
