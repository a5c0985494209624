// A Wire with scripted answers and a clock that moves only when the
// scripted device waits, for the D2XX layer's unit tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "Wire.h"

struct ScriptedDevice {
    std::uint16_t productId = 0x6014;
    std::string description = "Vexlo";
    std::string serial = "VX000001";
    int readResult = wireOk;  // of reading the strings
    int openResult = wireOk;
    int packetSize = 512;
};

struct ScriptedWrite {
    int accept;  // bytes the device takes of this transfer
    int result;  // wireOk, wireTimeout, ...
};

struct Script {
    std::vector<ScriptedDevice> devices;
    int listResult = 0;                        // < 0: enumeration fails
    std::deque<std::vector<std::uint8_t>> in;  // bulk IN payloads, in order
    int readError = wireOk;                    // returned once `in` is empty, if set
    std::deque<ScriptedWrite> writes;          // default: everything accepted
    std::int64_t now = 1000;
    std::int64_t latencyMs = 2;                // an idle IN transfer takes this long

    // What the layer did.
    std::vector<std::string> calls;
    std::vector<int> writeSizes;
    std::vector<std::uint8_t> written;
    std::vector<std::uint32_t> writeTimeouts;
    int reads = 0;
    int opened = -1, openedChannel = -1, closed = 0;
    std::uint32_t inSize = 0, outSize = 0;
};

// The one script the wire answers from; each test resets it.
Script& script();
const Wire& scriptedWire();
