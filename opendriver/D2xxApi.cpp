#include "D2xxApi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::size_t descriptionSize = 64;  // D2XX's buffer for one description or serial

struct Device {
    const Wire* wire = nullptr;
    WirePort* port = nullptr;
    std::vector<std::uint8_t> rx;  // received, not yet read: rx[rxHead..]
    std::size_t rxHead = 0;
    std::vector<std::uint8_t> chunk;  // one bulk IN transfer
    ULONG readTimeoutMs = 0;          // 0: wait for ever, as D2XX
    ULONG writeTimeoutMs = 0;
    DWORD inSize = 4096;
    DWORD outSize = 4096;

    std::size_t queued() const { return rx.size() - rxHead; }
};

// The open devices, so that a stale or foreign handle is refused instead of
// followed.
std::mutex devicesLock;
std::vector<Device*> devices;

Device* find(FT_HANDLE handle) {
    std::lock_guard<std::mutex> lock(devicesLock);
    const auto it = std::find(devices.begin(), devices.end(), static_cast<Device*>(handle));
    return it == devices.end() ? nullptr : *it;
}

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

// One enumeration, freed on every path.
struct Listing {
    const Wire& wire;
    WireList* list = nullptr;
    int count = 0;
    explicit Listing(const Wire& w) : wire(w) { count = wire.listDevices(&list); }
    ~Listing() {
        if (list != nullptr) {
            wire.freeList(list);
        }
    }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
};

// One D2XX device: a channel of a USB device, named as FTDI's driver names it.
struct Entry {
    int device;
    int channel;
    int readResult;  // of reading the strings
    std::string description;
    std::string serial;
};

std::vector<Entry> entries(Listing& listing, bool withStrings) {
    std::vector<Entry> out;
    for (int i = 0; i < listing.count; ++i) {
        const int channels = d2xx::channelCount(listing.wire.productId(listing.list, i));
        std::string description, serial;
        const int read = withStrings ? listing.wire.readStrings(listing.list, i, description, serial) : wireOk;
        for (int c = 0; c < channels; ++c) {
            Entry e{i, c, read, description, serial};
            if (channels > 1 && read == wireOk) {
                e.description += ' ';
                e.description += static_cast<char>('A' + c);
                if (!e.serial.empty()) {
                    e.serial += static_cast<char>('A' + c);
                }
            }
            out.push_back(std::move(e));
        }
    }
    return out;
}

// A device's own string as one safe line: control bytes and bytes above
// ASCII shown as \xNN.
std::string printableName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// What a user can do about a device that would not open; one line.
void hint(const D2xxContext& ctx, int why, const std::string& detail) {
    if (ctx.hints == nullptr) {
        return;
    }
    const char* text = nullptr;
    switch (why) {
    case wireAccessDenied:
        text = "no permission to open the FTDI USB device; install the udev rule "
               "tools/linux/70-vexlo-cartridge.rules and replug the cartridge";
        break;
    case wireBusy:
        text = "the FTDI USB device is held by another program or by the kernel's ftdi_sio driver; "
               "close that program, or install the udev rule tools/linux/70-vexlo-cartridge.rules "
               "(or run: sudo rmmod ftdi_sio)";
        break;
    default:
        text = "cannot open the FTDI USB device; replug it and see docs/LINUX.md";
        break;
    }
    if (detail.empty()) {
        std::fprintf(ctx.hints, "libftd2xx: %s\n", text);
    } else {
        std::fprintf(ctx.hints, "libftd2xx: %s (%s)\n", text, detail.c_str());
    }
    std::fflush(ctx.hints);
}

// Nothing matched and nothing failed: say what is on USB, so that a wrong
// description and a cartridge that is not there can be told apart.
void notFoundHint(const D2xxContext& ctx, const std::string& wanted, const std::vector<Entry>& seen,
                  bool withStrings) {
    if (ctx.hints == nullptr) {
        return;
    }
    if (seen.empty()) {
        std::fprintf(ctx.hints, "libftd2xx: no FTDI USB device found; plug in the cartridge and switch the Atari on\n");
    } else {
        std::string names;
        if (withStrings) {
            for (const Entry& e : seen) {
                names += names.empty() ? ": \"" : ", \"";
                names += printableName(e.description) + "\"";
            }
        }
        std::fprintf(ctx.hints,
                     "libftd2xx: no FTDI USB device %s; found %zu%s; plug in the cartridge and switch the Atari on\n",
                     wanted.c_str(), seen.size(), names.c_str());
    }
    std::fflush(ctx.hints);
}

FT_STATUS openEntry(const D2xxContext& ctx, Listing& listing, const Entry& e, FT_HANDLE* handle, int* why) {
    WirePort* port = nullptr;
    const int r = ctx.wire->open(listing.list, e.device, e.channel, &port);
    if (r != wireOk) {
        *why = r;
        return FT_DEVICE_NOT_OPENED;
    }
    auto* d = new Device;
    d->wire = ctx.wire;
    d->port = port;
    d->inSize = d2xx::roundTransferSize(d->inSize, ctx.wire->packetSize(port));
    d->chunk.resize(d->inSize);
    ctx.wire->setTransferSizes(port, d->inSize, d->outSize);
    {
        std::lock_guard<std::mutex> lock(devicesLock);
        devices.push_back(d);
    }
    *handle = d;
    return FT_OK;
}

// Opens the first entry that matches and opens; a device that cannot be
// read or opened does not end the search.
template <typename Match>
FT_STATUS openFirst(const D2xxContext& ctx, const std::string& wanted, bool withStrings, Match match,
                    FT_HANDLE* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *handle = nullptr;
    Listing listing(*ctx.wire);
    if (listing.count < 0) {
        hint(ctx, listing.count, ctx.wire->lastError());
        return FT_DEVICE_NOT_FOUND;
    }
    int why = wireOk;
    int index = 0;
    const std::vector<Entry> all = entries(listing, withStrings);
    for (const Entry& e : all) {
        if (e.readResult != wireOk) {
            // Could be the one we want: remember why, in case nothing else is.
            if (why == wireOk) {
                why = e.readResult;
            }
            ++index;
            continue;
        }
        if (match(e, index++)) {
            int openWhy = wireOk;
            if (openEntry(ctx, listing, e, handle, &openWhy) == FT_OK) {
                return FT_OK;
            }
            why = openWhy;
        }
    }
    if (why == wireOk) {
        notFoundHint(ctx, wanted, all, withStrings);
        return FT_DEVICE_NOT_FOUND;
    }
    hint(ctx, why, ctx.wire->lastError());
    return FT_DEVICE_NOT_OPENED;
}

void copyName(char* out, const std::string& name) {
    const std::size_t n = std::min(name.size(), descriptionSize - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
}

// Moves what the device has into the receive buffer: one bulk IN transfer.
int pollDevice(Device& d) {
    if (d.rxHead == d.rx.size()) {
        d.rx.clear();
        d.rxHead = 0;
    }
    const int n = d.wire->read(d.port, d.chunk.data(), static_cast<int>(d.chunk.size()));
    if (n > 0) {
        d.rx.insert(d.rx.end(), d.chunk.begin(), d.chunk.begin() + n);
    }
    return n;
}

DWORD take(Device& d, std::uint8_t* out, DWORD want) {
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(want, d.queued()));
    if (n != 0) {  // rx may have no storage yet
        std::memcpy(out, d.rx.data() + d.rxHead, n);
        d.rxHead += n;
    }
    return n;
}

}  // namespace

namespace d2xx {

int channelCount(std::uint16_t productId) {
    switch (productId) {
    case 0x6010:
        return 2;
    case 0x6011:
        return 4;
    default:
        return 1;
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

FT_STATUS open(const D2xxContext& ctx, int deviceNumber, FT_HANDLE* handle) {
    if (deviceNumber < 0) {
        if (handle != nullptr) {
            *handle = nullptr;
        }
        return FT_DEVICE_NOT_FOUND;
    }
    return openFirst(
        ctx, "number " + std::to_string(deviceNumber), false,
        [&](const Entry&, int index) { return index == deviceNumber; }, handle);
}

FT_STATUS openEx(const D2xxContext& ctx, void* arg1, DWORD flags, FT_HANDLE* handle) {
    if (arg1 == nullptr || (flags != FT_OPEN_BY_DESCRIPTION && flags != FT_OPEN_BY_SERIAL_NUMBER)) {
        if (handle != nullptr) {
            *handle = nullptr;
        }
        return arg1 == nullptr ? FT_INVALID_PARAMETER : FT_NOT_SUPPORTED;
    }
    const std::string wanted(static_cast<const char*>(arg1));
    const bool bySerial = flags == FT_OPEN_BY_SERIAL_NUMBER;
    const std::string asked =
        (bySerial ? "with the serial number \"" : "described \"") + printableName(wanted) + "\"";
    return openFirst(
        ctx, asked, true, [&](const Entry& e, int) { return (bySerial ? e.serial : e.description) == wanted; },
        handle);
}

FT_STATUS listDevices(const D2xxContext& ctx, void* arg1, void* arg2, DWORD flags) {
    const bool wantSerial = (flags & FT_OPEN_BY_SERIAL_NUMBER) != 0;
    const bool wantDescription = (flags & FT_OPEN_BY_DESCRIPTION) != 0;
    const bool byIndex = (flags & FT_LIST_BY_INDEX) != 0;
    // By index, the first argument is the index itself, 0 included.
    if (arg1 == nullptr && !byIndex) {
        return FT_INVALID_PARAMETER;
    }
    Listing listing(*ctx.wire);
    if (listing.count < 0) {
        return statusOf(listing.count);
    }
    const bool number = (flags & FT_LIST_NUMBER_ONLY) != 0;
    const std::vector<Entry> all = entries(listing, !number);
    if (number) {
        *static_cast<DWORD*>(arg1) = static_cast<DWORD>(all.size());
        return FT_OK;
    }
    if (wantSerial == wantDescription) {
        return FT_INVALID_ARGS;
    }
    auto nameOf = [&](const Entry& e) -> const std::string& { return wantSerial ? e.serial : e.description; };
    if (byIndex) {
        // D2XX passes the index itself in the pointer argument.
        const auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(arg1));
        if (arg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        if (index >= all.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        copyName(static_cast<char*>(arg2), nameOf(all[index]));
        return FT_OK;
    }
    if ((flags & FT_LIST_ALL) != 0) {
        // arg1: a null-terminated array of buffers; arg2: the count.
        auto** buffers = static_cast<char**>(arg1);
        std::size_t i = 0;
        for (; i < all.size() && buffers[i] != nullptr; ++i) {
            copyName(buffers[i], nameOf(all[i]));
        }
        if (arg2 != nullptr) {
            *static_cast<DWORD*>(arg2) = static_cast<DWORD>(all.size());
        }
        return FT_OK;
    }
    return FT_INVALID_ARGS;
}

FT_STATUS close(const D2xxContext&, FT_HANDLE handle) {
    Device* d = nullptr;
    {
        std::lock_guard<std::mutex> lock(devicesLock);
        const auto it = std::find(devices.begin(), devices.end(), static_cast<Device*>(handle));
        if (it == devices.end()) {
            return FT_INVALID_HANDLE;
        }
        d = *it;
        devices.erase(it);
    }
    d->wire->close(d->port);
    delete d;
    return FT_OK;
}

FT_STATUS read(const D2xxContext&, FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    if (got != nullptr) {
        *got = 0;
    }
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (got == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    DWORD n = take(*d, out, count);
    if (n == count) {
        *got = n;
        return FT_OK;
    }
    const std::int64_t deadline = d->wire->nowMs() + d->readTimeoutMs;
    FT_STATUS status = FT_OK;
    while (n < count) {
        const int r = pollDevice(*d);
        if (r < 0) {
            status = statusOf(r);
            break;
        }
        n += take(*d, out + n, count - n);
        if (n < count && d->readTimeoutMs != 0 && d->wire->nowMs() >= deadline) {
            break;  // a time-out is no error: the caller sees the count
        }
    }
    *got = n;
    return status;
}

FT_STATUS write(const D2xxContext&, FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    if (written != nullptr) {
        *written = 0;
    }
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (written == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    const std::int64_t deadline = d->wire->nowMs() + d->writeTimeoutMs;
    DWORD sent = 0;
    FT_STATUS status = FT_OK;
    while (sent < count) {
        const int part = static_cast<int>(std::min<DWORD>(count - sent, d->outSize));
        std::uint32_t timeout = 0;
        if (d->writeTimeoutMs != 0) {
            const std::int64_t left = deadline - d->wire->nowMs();
            if (left <= 0) {
                break;
            }
            timeout = static_cast<std::uint32_t>(left);
        }
        int done = 0;
        const int r = d->wire->write(d->port, data + sent, part, timeout, &done);
        sent += static_cast<DWORD>(std::clamp(done, 0, part));
        if (r == wireTimeout) {
            break;  // what the device took is reported, with FT_OK
        }
        if (r != wireOk) {
            status = statusOf(r);
            break;
        }
        if (done < part) {
            break;
        }
    }
    *written = sent;
    return status;
}

FT_STATUS resetDevice(const D2xxContext&, FT_HANDLE handle) {
    Device* d = find(handle);
    return d == nullptr ? FT_INVALID_HANDLE : statusOf(d->wire->reset(d->port));
}

FT_STATUS purge(const D2xxContext&, FT_HANDLE handle, ULONG mask) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const bool rx = (mask & FT_PURGE_RX) != 0;
    const bool tx = (mask & FT_PURGE_TX) != 0;
    if (rx) {
        d->rx.clear();
        d->rxHead = 0;
    }
    if (!rx && !tx) {
        return FT_OK;
    }
    return statusOf(d->wire->purge(d->port, rx, tx));
}

FT_STATUS setTimeouts(const D2xxContext&, FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    d->readTimeoutMs = readMs;
    d->writeTimeoutMs = writeMs;
    return FT_OK;
}

FT_STATUS getQueueStatus(const D2xxContext& ctx, FT_HANDLE handle, DWORD* rxBytes) {
    return getStatus(ctx, handle, rxBytes, nullptr, nullptr);
}

FT_STATUS getStatus(const D2xxContext&, FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    FT_STATUS status = FT_OK;
    // Bytes already here are reported without a round trip to the device.
    if (d->queued() == 0) {
        const int r = pollDevice(*d);
        if (r < 0) {
            status = statusOf(r);
        }
    }
    *rxBytes = static_cast<DWORD>(d->queued());
    if (txBytes != nullptr) {
        *txBytes = 0;  // writes are synchronous: nothing waits to be sent
    }
    if (eventStatus != nullptr) {
        *eventStatus = 0;
    }
    return status;
}

FT_STATUS setBaudRate(const D2xxContext&, FT_HANDLE handle, ULONG baud) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (baud == 0 || baud > 0x7fffffff) {
        return FT_INVALID_BAUD_RATE;
    }
    const int r = d->wire->setBaudRate(d->port, baud);
    return r == wireIoError ? FT_INVALID_BAUD_RATE : statusOf(r);
}

FT_STATUS setDataCharacteristics(const D2xxContext&, FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
        return FT_INVALID_PARAMETER;
    }
    return statusOf(d->wire->setLineProperty(d->port, wordLength, stopBits, parity));
}

FT_STATUS setFlowControl(const D2xxContext&, FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (flowControl != 0 && flowControl != 0x0100 && flowControl != 0x0200 && flowControl != FT_FLOW_XON_XOFF) {
        return FT_INVALID_PARAMETER;
    }
    return statusOf(d->wire->setFlowControl(d->port, flowControl, xon, xoff));
}

FT_STATUS setUSBParameters(const D2xxContext&, FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const int packet = d->wire->packetSize(d->port);
    // 0 leaves a size as it is.
    const DWORD in = inSize == 0 ? d->inSize : roundTransferSize(inSize, packet);
    const DWORD out = outSize == 0 ? d->outSize : roundTransferSize(outSize, packet);
    const int r = d->wire->setTransferSizes(d->port, in, out);
    if (r != wireOk) {
        return statusOf(r);
    }
    d->inSize = in;
    d->outSize = out;
    d->chunk.resize(in);
    return FT_OK;
}

FT_STATUS setLatencyTimer(const D2xxContext&, FT_HANDLE handle, UCHAR ms) {
    Device* d = find(handle);
    if (d == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (ms == 0) {
        return FT_INVALID_PARAMETER;
    }
    return statusOf(d->wire->setLatency(d->port, ms));
}

FT_STATUS setBitMode(const D2xxContext&, FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    Device* d = find(handle);
    return d == nullptr ? FT_INVALID_HANDLE : statusOf(d->wire->setBitMode(d->port, mask, mode));
}

// Nothing to reload: libusb sees devices as they are plugged.
FT_STATUS reload(const D2xxContext&, WORD, WORD) { return FT_OK; }

}  // namespace d2xx
