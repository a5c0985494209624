// A model of the time the programs spend on the USB link of a real
// cartridge. The updater plays its file against driver entry points that
// charge each call its link cost to a simulated clock, and the pin driver's
// waits read that clock, so they run exactly as many passes as they would on
// the cartridge. The sector request is costed from the calls Handle makes.
//
// Assumptions (all settable, see --help): a write costs one 125 us
// microframe round trip per started 5000 bytes (about 40 MB/s on a
// high-speed link, the cartridge taking the bytes as fast as they come); a
// one-byte reply, and a request the cartridge sends, waits for the latency
// timer (1 ms in the updater, 2 ms in the tool); reads of bytes already
// queued cost nothing; no call times out (the 9000 ms time-outs are only
// reached when the cartridge does not answer). With --batch the updater's
// batched writes are costed the same way by their size, and one read of a
// batch's replies waits for one latency period.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CartridgeCommands.h"
#include "Console.h"
#include "NullDriver.h"
#include "PinDriver.h"
#include "PlayFromMemory.h"
#include "SyntheticTop.h"
#include "VexloServer.h"
#include "XsvfInputs.h"
#include "XsvfPlayer.h"
#include "platform/Platform.h"

namespace {

struct Model {
    double frameUs = 125.0;
    double bytesPerFrame = 5000.0;
    double updaterLatencyMs = 1.0;
    double toolLatencyMs = 2.0;
    std::int32_t blockWaitUs = 14000;
    std::int32_t eraseWaitUs = 15000000;
    int blocks = 555;
    bool batch = false;  // the updater's --batch
};

Model model;

struct Tally {
    std::uint64_t pinWrites = 0;    // 1- and 3-byte writes
    std::uint64_t waitWrites = 0;   // 128-byte clock blocks of the timed waits
    std::uint64_t blockWrites = 0;  // block shifts and anything else larger
    std::uint64_t writeBytes = 0;
    std::uint64_t reads = 0;
    double pinNs = 0;
    double waitNs = 0;
    double blockNs = 0;
    double readNs = 0;
};

Tally tally;
double simNs = 0;

double writeCostNs(DWORD count) {
    const double frames = std::max(1.0, std::ceil(static_cast<double>(count) / model.bytesPerFrame));
    return frames * model.frameUs * 1000.0;
}

FT_STATUS FT_API modelWrite(FT_HANDLE, void*, DWORD count, DWORD* written) {
    const double ns = writeCostNs(count);
    simNs += ns;
    tally.writeBytes += count;
    // By size: a batch of exactly 128 bytes counts as a wait write, at the
    // same cost.
    const bool block = count == 4 * BLOCK_SHIFT_BITS || count == 4 * BLOCK_SHIFT_BITS + 4;
    if (count == 128) {
        ++tally.waitWrites;
        tally.waitNs += ns;
    } else if (count <= 4 || (model.batch && !block)) {
        ++tally.pinWrites;
        tally.pinNs += ns;
    } else {
        ++tally.blockWrites;
        tally.blockNs += ns;
    }
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API modelRead(FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    const double ns = model.updaterLatencyMs * 1e6;
    simNs += ns;
    tally.readNs += ns;
    ++tally.reads;
    std::memset(buffer, 0, count);
    *got = count;
    return FT_OK;
}

std::int64_t simClock() { return static_cast<std::int64_t>(simNs / 1e6); }

std::string seconds(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ns / 1e9);
    return text;
}

bool playModelled(const char* name, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) {
        std::printf("| %s | (not found) | | | | | | | |\n", name);
        return false;
    }
    CartridgeLink link;
    bench::installNullDriver(link);
    link.FT_Write = modelWrite;
    link.FT_Read = modelRead;
    linkPtr = &link;
    setPinBatching(model.batch);
    tally = Tally{};
    simNs = 0;
    platform::clockMs = simClock;
    static SXsvfInfo info;
    const int result = bench::playFromMemory(bytes, info);
    const double writes = static_cast<double>(tally.pinWrites + tally.waitWrites + tally.blockWrites);
    std::printf("| %s | %ld | %.0f | %llu | %llu | %s | %s | %s | %s | **%s**%s |\n", name,
                static_cast<long>(info.commandCount), writes + static_cast<double>(tally.reads),
                static_cast<unsigned long long>(tally.reads), static_cast<unsigned long long>(tally.writeBytes),
                seconds(tally.pinNs).c_str(), seconds(tally.readNs).c_str(), seconds(tally.blockNs).c_str(),
                seconds(tally.waitNs).c_str(), seconds(simNs).c_str(), result == 0 ? "" : " (player error)");
    return result == 0;
}

// One request as the server sees it: the cartridge's six bytes wait for the
// latency timer, the five reads take queued bytes, the reply is one write.
void sectorRequest(int count, std::uint16_t bytesPerSector) {
    CartridgeLink link;
    bench::installNullDriver(link);
    VexloServer server(&link, nullptr);
    server.image.pImage = new std::uint8_t[DriveImage::IMAGE_BYTES]();
    server.image.partitionOffset = 1024;
    server.image.bytesPerSector = bytesPerSector;
    const std::uint8_t request[6] = {SYNC1, SYNC2, cmdReadSector, 100, 0, static_cast<std::uint8_t>(count)};
    bench::setReadFeed(request, sizeof request);
    const bench::NullCounts before = bench::nullCounts();
    server.ServeOnce();
    const std::uint64_t writes = bench::nullCounts().writes - before.writes;
    const std::uint64_t reads = bench::nullCounts().reads - before.reads;
    const std::uint64_t replyBytes = bench::nullCounts().writeBytes - before.writeBytes;
    const double linkNs = model.toolLatencyMs * 1e6 + writeCostNs(static_cast<DWORD>(replyBytes));
    const double dataBytes = static_cast<double>(count) * bytesPerSector;
    std::printf("| %d x %u | %llu | %llu | %llu | %.2f ms | %.0f KB/s |\n", count, bytesPerSector,
                static_cast<unsigned long long>(reads), static_cast<unsigned long long>(writes),
                static_cast<unsigned long long>(replyBytes), linkNs / 1e6, dataBytes / (linkNs / 1e9) / 1024.0);
}

void usage(std::FILE* to = stderr) {
    std::fputs(
        "Usage: vexlo_link_model [options] [FILE.xsvf...]\n"
        "Prints, as Markdown, the modelled link time of a synthetic top.xsvf,\n"
        "of the given files (TDO masks cleared) and of sector requests.\n"
        "  --frame-us N            cost of one write round trip (125)\n"
        "  --bytes-per-frame N     bytes one write round trip carries (5000)\n"
        "  --updater-latency-ms N  latency timer of the updater (1)\n"
        "  --tool-latency-ms N     latency timer of the tool (2)\n"
        "  --blocks N              blocks of the synthetic top.xsvf (555)\n"
        "  --block-wait-us N       run-test time after each block (14000)\n"
        "  --erase-wait-us N       run-test time of the erase (15000000)\n"
        "  --write-top PATH        also write the synthetic top.xsvf to PATH\n"
        "  --batch                 the updater's --batch: pin commands in batched writes,\n"
        "                          the TDO replies of a batch in one read\n"
        "  -h, --help              this text\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::string writeTop;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&]() { return std::atof(argv[++i]); };
        if (arg == "--frame-us" && hasValue) {
            model.frameUs = value();
        } else if (arg == "--bytes-per-frame" && hasValue) {
            model.bytesPerFrame = value();
        } else if (arg == "--updater-latency-ms" && hasValue) {
            model.updaterLatencyMs = value();
        } else if (arg == "--tool-latency-ms" && hasValue) {
            model.toolLatencyMs = value();
        } else if (arg == "--blocks" && hasValue) {
            model.blocks = static_cast<int>(value());
        } else if (arg == "--block-wait-us" && hasValue) {
            model.blockWaitUs = static_cast<std::int32_t>(value());
        } else if (arg == "--erase-wait-us" && hasValue) {
            model.eraseWaitUs = static_cast<std::int32_t>(value());
        } else if (arg == "--batch") {
            model.batch = true;
        } else if (arg == "--write-top" && hasValue) {
            writeTop = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg.rfind("-", 0) == 0) {
            usage();
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (!writeTop.empty()) {
        // For runs of the real program against the emulator.
        const std::vector<std::uint8_t> top = testkit::syntheticTopXsvf(model.blocks, model.blockWaitUs, model.eraseWaitUs);
        std::FILE* file = std::fopen(writeTop.c_str(), "wb");
        if (file == nullptr || std::fwrite(top.data(), 1, top.size(), file) != top.size() || std::fclose(file) != 0) {
            std::fprintf(stderr, "cannot write %s\n", writeTop.c_str());
            return 1;
        }
    }
    bench::silenceConsole();

    if (model.batch) {
        std::printf("Updater with --batch, modelled link time (write: %.0f us per started %.0f bytes; one read of "
                    "a batch's replies: %.1f ms)\n\n",
                    model.frameUs, model.bytesPerFrame, model.updaterLatencyMs);
    } else {
        std::printf("Updater, modelled link time (write: %.0f us per started %.0f bytes; one-byte reply: %.1f ms)\n\n",
                    model.frameUs, model.bytesPerFrame, model.updaterLatencyMs);
    }
    std::printf("| File | Commands | Driver calls | TDO reads | Bytes sent | Pin writes | TDO replies | "
                "Block writes | Waits | Total |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    bool ok = true;
    const std::string top = "top.xsvf (synthetic, " + std::to_string(model.blocks) + " blocks, block wait " +
                            std::to_string(model.blockWaitUs) + " us)";
    ok &= playModelled(top.c_str(), testkit::syntheticTopXsvf(model.blocks, model.blockWaitUs, model.eraseWaitUs));
    const std::string top0 = "top.xsvf (synthetic, " + std::to_string(model.blocks) + " blocks, block wait 0)";
    ok &= playModelled(top0.c_str(), testkit::syntheticTopXsvf(model.blocks, 0, model.eraseWaitUs));
    for (const std::string& file : files) {
        const std::size_t slash = file.find_last_of('/');
        const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
        ok &= playModelled(name.c_str(), bench::readXsvfZeroMasks(file));
    }

    if (model.batch) {
        return ok ? 0 : 1;  // the tool does not batch: its table is the same
    }
    std::printf("\nSector request, modelled link time (request waits %.1f ms for the latency timer; reply: %.0f us "
                "per started %.0f bytes)\n\n",
                model.toolLatencyMs, model.frameUs, model.bytesPerFrame);
    std::printf("| Sectors | Reads | Writes | Reply bytes | Link time | Sector data rate |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    sectorRequest(1, 512);
    sectorRequest(8, 512);
    sectorRequest(31, 512);
    sectorRequest(15, 1024);
    return ok ? 0 : 1;
}
