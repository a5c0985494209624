// The synthetic top.xsvf that the benchmarks, the link model and the
// end-to-end tests play: no real one is at hand.
#pragma once

#include <cstdint>
#include <vector>

namespace testkit {

// A representative top.xsvf of a configuration PROM update: IDCODE check,
// erase with a long wait, then `blocks` data blocks, each an instruction
// shift, XSDRSIZE 4097 and one 4097-bit XSDR (the pin driver's block mode)
// followed by a program instruction whose run-test time is `blockWaitUs`.
// Ends with XCOMPLETE. Every TDO mask is zero, so a run against a cartridge
// that answers every cmdReadPins with 0 passes its checks first time.
std::vector<std::uint8_t> syntheticTopXsvf(int blocks, std::int32_t blockWaitUs, std::int32_t eraseWaitUs);

}  // namespace testkit
