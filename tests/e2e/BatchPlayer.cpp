// Test helper: plays an XSVF file once through the real player and pin
// driver, single transfers or batched, on whatever driver library the loader
// finds (the emulator, the open-source driver), and saves every byte the
// driver took. Its clock jumps 10^8 ms at every reading, so each timed wait
// is exactly one pass in both modes and a run takes no real time.
//
//   vexlo_batch_player single|batch FILE.xsvf STREAM
//
// Prints "writes W reads R bytes B" and ends with 0 after XCOMPLETE, else 1.
#include <cstdio>
#include <cstring>

#include "CartridgeLink.h"
#include "PinDriver.h"
#include "XsvfPlayer.h"
#include "platform/Platform.h"

namespace {

PFN_FT_Write driverWrite = nullptr;
PFN_FT_Read driverRead = nullptr;
std::FILE* stream = nullptr;
unsigned long long writes = 0;
unsigned long long reads = 0;
unsigned long long bytesTaken = 0;

FT_STATUS FT_API savingWrite(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    const FT_STATUS status = driverWrite(handle, buffer, count, written);
    ++writes;
    if (status == FT_OK) {
        std::fwrite(buffer, 1, *written, stream);
        bytesTaken += *written;
    }
    return status;
}

FT_STATUS FT_API countingRead(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    ++reads;
    return driverRead(handle, buffer, count, got);
}

std::int64_t jumpingClock() {
    static std::int64_t now = 0;
    now += 100000000;
    return now;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "single") != 0 && std::strcmp(argv[1], "batch") != 0)) {
        std::fprintf(stderr, "usage: vexlo_batch_player single|batch FILE.xsvf STREAM\n");
        return 2;
    }
    // Kept for the whole process, as the updater keeps its global link and
    // device until it ends (and so the leak checker sees them reachable).
    static CartridgeLink link{};
    link.BindDriver();
    link.opened = 0;
    if (link.OpenCartridge() != 0) {
        std::fprintf(stderr, "vexlo_batch_player: cannot open the cartridge\n");
        return 1;
    }
    link.SetUSBParameters(6400, 6400);
    link.SetLatencyTimer(1);
    stream = std::fopen(argv[3], "wb");
    xsvfFile = std::fopen(argv[2], "rb");
    if (stream == nullptr || xsvfFile == nullptr) {
        std::fprintf(stderr, "vexlo_batch_player: cannot open %s or %s\n", argv[2], argv[3]);
        return 1;
    }
    driverWrite = link.FT_Write;
    driverRead = link.FT_Read;
    link.FT_Write = savingWrite;
    link.FT_Read = countingRead;
    linkPtr = &link;
    setPinBatching(std::strcmp(argv[1], "batch") == 0);
    platform::clockMs = jumpingClock;
    const int result = playXsvf();
    std::printf("writes %llu reads %llu bytes %llu\n", writes, reads, bytesTaken);
    const bool saved = std::fclose(stream) == 0;
    return result == 0 && !pinLinkLost() && saved ? 0 : 1;
}
