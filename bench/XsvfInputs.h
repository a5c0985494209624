// The XSVF files the updater benchmarks and the link model play.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// A representative top.xsvf of a configuration PROM update: IDCODE check,
// erase with a long wait, then `blocks` data blocks, each an instruction
// shift, XSDRSIZE 4097 and one 4097-bit XSDR (the pin driver's block mode)
// followed by a program instruction whose run-test time is `blockWaitUs`.
// Ends with XCOMPLETE. Every TDO mask is zero, so a run against a cartridge
// that answers every cmdReadPins with 0 passes its checks first time.
std::vector<std::uint8_t> syntheticTopXsvf(int blocks, std::int32_t blockWaitUs, std::int32_t eraseWaitUs);

// The file's bytes with every XTDOMASK cleared; empty when it cannot be
// read. Scans, TAP moves and waits stay those of the real file.
std::vector<std::uint8_t> readXsvfZeroMasks(const std::string& path);

// Corpus file `name` as readXsvfZeroMasks reads it, read once and kept for
// the whole run, so that a benchmark registered for it can play it later.
const std::vector<std::uint8_t>& keptCorpusXsvf(const std::string& name);

// Where the real-world XSVF files are: $VEXLO_CORPUS_DIR/xsvf, else the
// build's VEXLO_CORPUS_DIR/xsvf.
std::string corpusXsvfDir();

}  // namespace bench
