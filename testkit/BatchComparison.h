// The updater's two ways of sending its pin commands, compared on a driver
// library: vexlo_batch_player plays one XSVF file single and batched, and
// what the cartridge received in each run is set side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ProgramRun.h"

struct BatchModeRun {
    ProgramResult result;
    std::string dir;        // the run's folder; the emulator wrote below dir/out
    std::uint64_t writes = 0;  // FT_Write calls
    std::uint64_t reads = 0;   // FT_Read calls
    std::vector<std::uint8_t> stream;  // every byte the driver took
};

// One run of `player` ("single" or "batch") on `xsvf` in dir/<mode>, through
// the driver library in `libraryDir`, the emulator with `emulatorSettings`.
BatchModeRun runBatchPlayer(const std::string& player, const std::string& mode, const std::string& dir,
                            const std::vector<std::uint8_t>& xsvf, const std::string& libraryDir,
                            const std::string& emulatorSettings = "");

// The lines of the emulator's log that name a JTAG scan or IDCODE read, and
// the JTAG line of its summary: what the JTAG device went through.
std::vector<std::string> jtagRecord(const std::string& runDir);

// Checks that both runs completed and that the cartridge got the same bytes
// and its JTAG device the same scans; the batched run in fewer writes.
void expectSameCartridgeTraffic(const BatchModeRun& single, const BatchModeRun& batched);
