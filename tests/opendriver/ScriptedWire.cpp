#include "ScriptedWire.h"

#include <algorithm>

struct WireList {};
struct WirePort {};

namespace {

Script current;
WireList theList;
WirePort thePort;

int listDevices(WireList** list) {
    *list = &theList;
    return current.listResult < 0 ? current.listResult : static_cast<int>(current.devices.size());
}
void freeList(WireList*) {}
std::uint16_t productId(WireList*, int d) { return current.devices[d].productId; }
int readStrings(WireList*, int d, std::string& description, std::string& serial) {
    const ScriptedDevice& dev = current.devices[d];
    description = dev.readResult == wireOk ? dev.description : "";
    serial = dev.readResult == wireOk ? dev.serial : "";
    return dev.readResult;
}
int open(WireList*, int d, int channel, WirePort** port) {
    current.calls.push_back("open " + std::to_string(d) + " " + std::to_string(channel));
    if (current.devices[d].openResult != wireOk) {
        return current.devices[d].openResult;
    }
    current.opened = d;
    current.openedChannel = channel;
    *port = &thePort;
    return wireOk;
}
void close(WirePort*) { ++current.closed; }
int read(WirePort*, std::uint8_t* buffer, int max) {
    ++current.reads;
    if (current.in.empty()) {
        if (current.readError != wireOk) {
            return current.readError;
        }
        current.now += current.latencyMs;
        return 0;
    }
    std::vector<std::uint8_t>& next = current.in.front();
    const int n = std::min(max, static_cast<int>(next.size()));
    std::copy(next.begin(), next.begin() + n, buffer);
    next.erase(next.begin(), next.begin() + n);
    if (next.empty()) {
        current.in.pop_front();
    }
    return n;
}
int write(WirePort*, const std::uint8_t* data, int count, std::uint32_t timeoutMs, int* done) {
    current.writeSizes.push_back(count);
    current.writeTimeouts.push_back(timeoutMs);
    ScriptedWrite w{count, wireOk};
    if (!current.writes.empty()) {
        w = current.writes.front();
        current.writes.pop_front();
    }
    *done = std::min(count, w.accept);
    current.written.insert(current.written.end(), data, data + *done);
    if (w.result == wireTimeout) {
        current.now += timeoutMs;
    }
    return w.result;
}
int logged(const std::string& what) {
    current.calls.push_back(what);
    return wireOk;
}
int reset(WirePort*) { return logged("reset"); }
int purge(WirePort*, bool rx, bool tx) { return logged(std::string("purge") + (rx ? " rx" : "") + (tx ? " tx" : "")); }
int setLatency(WirePort*, std::uint8_t ms) { return logged("latency " + std::to_string(ms)); }
int setBitMode(WirePort*, std::uint8_t mask, std::uint8_t mode) {
    return logged("bitmode " + std::to_string(mask) + " " + std::to_string(mode));
}
int setFlowControl(WirePort*, std::uint16_t flow, std::uint8_t, std::uint8_t) {
    return logged("flow " + std::to_string(flow));
}
int setBaudRate(WirePort*, std::uint32_t baud) { return logged("baud " + std::to_string(baud)); }
int setLineProperty(WirePort*, std::uint8_t bits, std::uint8_t stop, std::uint8_t parity) {
    return logged("line " + std::to_string(bits) + " " + std::to_string(stop) + " " + std::to_string(parity));
}
int setTransferSizes(WirePort*, std::uint32_t in, std::uint32_t out) {
    current.inSize = in;
    current.outSize = out;
    return wireOk;
}
int packetSize(WirePort*) { return current.devices[current.opened].packetSize; }
std::string lastError() { return "scripted"; }
std::int64_t nowMs() { return current.now; }

const Wire table = {listDevices, freeList,   productId,      readStrings,     open,
                    close,       read,       write,          reset,           purge,
                    setLatency,  setBitMode, setFlowControl, setBaudRate,     setLineProperty,
                    setTransferSizes, packetSize, lastError, nowMs};

}  // namespace

Script& script() { return current; }
const Wire& scriptedWire() { return table; }
