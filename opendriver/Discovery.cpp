// Finding devices: the enumeration, D2XX's names for each channel, matching
// an open by number, description or serial, the device list, and the hint
// lines that say why nothing opened.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "OpenDevices.h"

namespace {

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
    *handle = d2xx::adoptPort(*ctx.wire, port);
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
    const std::size_t n = std::min(name.size(), FT_NAME_BUFFER_SIZE - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
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

// Nothing to reload: libusb sees devices as they are plugged.
FT_STATUS reload(const D2xxContext&, WORD, WORD) { return FT_OK; }

}  // namespace d2xx
