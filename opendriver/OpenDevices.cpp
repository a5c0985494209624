#include "OpenDevices.h"

#include <algorithm>
#include <mutex>

namespace d2xx {

namespace {

std::mutex devicesLock;
std::vector<Device*> devices;

}  // namespace

FT_STATUS statusOf(int wireResult) {
    switch (wireResult) {
    case wireOk:
        return FT_OK;
    case wireNoDevice:
        return FT_DEVICE_NOT_FOUND;
    default:
        return FT_IO_ERROR;
    }
}

DWORD roundTransferSize(ULONG requested, int packetSize) {
    const ULONG packet = packetSize > 0 ? static_cast<ULONG>(packetSize) : 64;
    const ULONG most = 65536 - 65536 % packet;
    if (requested <= packet) {
        return packet;
    }
    if (requested >= most) {
        return most;
    }
    return (requested + packet - 1) / packet * packet;
}

FT_HANDLE adoptPort(const Wire& wire, WirePort* port) {
    auto* d = new Device;
    d->wire = &wire;
    d->port = port;
    d->inSize = roundTransferSize(d->inSize, wire.packetSize(port));
    d->chunk.resize(d->inSize);
    wire.setTransferSizes(port, d->inSize, d->outSize);
    std::lock_guard<std::mutex> lock(devicesLock);
    devices.push_back(d);
    return d;
}

Device* lookUp(FT_HANDLE handle, Lookup lookup) {
    std::lock_guard<std::mutex> lock(devicesLock);
    const auto it = std::find(devices.begin(), devices.end(), static_cast<Device*>(handle));
    if (it == devices.end()) {
        return nullptr;
    }
    Device* d = *it;
    if (lookup == Lookup::forget) {
        devices.erase(it);
    }
    return d;
}

FT_STATUS close(const D2xxContext&, FT_HANDLE handle) {
    // Off the list as it is found, so that a second close of the same
    // handle is refused.
    return withDevice(
        handle,
        [](Device& d) {
            d.wire->close(d.port);
            delete &d;
            return FT_OK;
        },
        Lookup::forget);
}

}  // namespace d2xx
