// The D2XX behaviour the programs rely on, over a Wire: device search by
// description, serial or index, a receive buffer of our own so that reads
// wait for the whole count until their time-out, writes that report what
// the device accepted, and the settings calls. The exported entry points
// (Exports.cpp) forward here with the libftdi1 wire; tests pass their own.
// Discovery.cpp finds and opens devices; OpenDevices.h keeps the open ones,
// which Transfers.cpp and Settings.cpp work on.
#pragma once

#include <cstdio>

#include "Wire.h"
#include "d2xx.h"

// The wire and where the one-line hints for an unusable device go.
struct D2xxContext {
    const Wire* wire;
    std::FILE* hints;
};

namespace d2xx {

// The 18 entry points as link/D2xxEntryPoints.h declares them (open,
// openEx, ... reload), each after the context: the exports forward alike,
// though only the ones that open or list devices look at it.
#define VEXLO_D2XX_API_ENTRY(name, step, missing, params, args, method) \
    FT_STATUS method(const D2xxContext& ctx, VEXLO_D2XX_SPREAD params);
VEXLO_D2XX_ENTRY_POINTS(VEXLO_D2XX_API_ENTRY)
#undef VEXLO_D2XX_API_ENTRY

// A transfer size as the device moves it: whole packets, one at least,
// 64 KB at most.
DWORD roundTransferSize(ULONG requested, int packetSize);

// Number of channels of an FTDI chip by its product id.
int channelCount(std::uint16_t productId);

}  // namespace d2xx
