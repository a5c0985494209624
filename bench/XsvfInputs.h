// The XSVF files the updater benchmarks and the link model play.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

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
