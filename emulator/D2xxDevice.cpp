#include "D2xxDevice.h"

#include <cstring>

namespace {

// Handles are tokens, never dereferenced; each open gets a new one so a
// handle kept after FT_Close is recognised as stale.
constexpr std::uintptr_t HANDLE_BASE = 0x7E510000;

std::string statusName(FT_STATUS s) {
    switch (s) {
        case FT_OK: return "FT_OK";
        case FT_INVALID_HANDLE: return "FT_INVALID_HANDLE";
        case FT_DEVICE_NOT_FOUND: return "FT_DEVICE_NOT_FOUND";
        case FT_DEVICE_NOT_OPENED: return "FT_DEVICE_NOT_OPENED";
        case FT_IO_ERROR: return "FT_IO_ERROR";
        case FT_INVALID_PARAMETER: return "FT_INVALID_PARAMETER";
        default: return formatText("status %u", static_cast<unsigned>(s));
    }
}

}  // namespace

bool D2xxDevice::validHandle(FT_HANDLE handle, const char* fn) {
    if (isOpen_ && reinterpret_cast<std::uintptr_t>(handle) == handleValue_) {
        return true;
    }
    trace_.emit(formatText("%s on a handle that is not open -> FT_INVALID_HANDLE", fn));
    return false;
}

// ---------------------------------------------------------------- device

FT_STATUS D2xxDevice::open(int deviceNumber, FT_HANDLE* handle) {
    // The cartridge is identified by its description only.
    trace_.emit(
        formatText("FT_Open(device %d) -> FT_DEVICE_NOT_OPENED (open the cartridge by its description)", deviceNumber));
    if (handle != nullptr) {
        *handle = nullptr;
    }
    return FT_DEVICE_NOT_OPENED;
}

FT_STATUS D2xxDevice::openEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    const char* text = static_cast<const char*>(arg1);
    std::string shown = "(null)";
    if (text != nullptr) {
        // Appended piecewise: GCC 12 at -O3 misreads "\"" + std::string(text) as overlapping.
        shown.assign(1, '"').append(text).append(1, '"');
    }
    FT_STATUS status = FT_OK;
    std::string why;
    if (handle == nullptr) {
        status = FT_INVALID_PARAMETER;
        why = "no handle pointer";
    } else if (!config_.cartridgePresent) {
        status = FT_DEVICE_NOT_FOUND;
        why = "no cartridge attached (cartridge=absent)";
    } else if (flags != FT_OPEN_BY_DESCRIPTION || text == nullptr || std::strcmp(text, "Vexlo") != 0) {
        status = FT_DEVICE_NOT_FOUND;
        why = "only the description \"Vexlo\" with FT_OPEN_BY_DESCRIPTION finds the cartridge";
    } else if (config_.openStatus != FT_OK) {
        status = config_.openStatus;
        why = "open_status";
    } else if (isOpen_) {
        status = FT_DEVICE_NOT_OPENED;
        why = "already open";
    }
    if (status != FT_OK) {
        if (handle != nullptr) {
            *handle = nullptr;
        }
        trace_.emit(formatText("FT_OpenEx(%s, flags %u) -> %s: %s", shown.c_str(), static_cast<unsigned>(flags),
                               statusName(status).c_str(), why.c_str()));
        return status;
    }
    ++openCount_;
    isOpen_ = true;
    handleValue_ = HANDLE_BASE + openCount_;
    *handle = reinterpret_cast<FT_HANDLE>(handleValue_);
    // A fresh open starts in the reset bit mode; the cartridge waits for
    // synchronous FIFO mode again.
    bitModeReset_ = false;
    syncFifo_ = false;
    trace_.emit(formatText("FT_OpenEx(%s, FT_OPEN_BY_DESCRIPTION) -> FT_OK, handle #%u", shown.c_str(), openCount_));
    return FT_OK;
}

FT_STATUS D2xxDevice::listDevices(void* arg1, void* arg2, DWORD flags) {
    FT_STATUS status = FT_INVALID_PARAMETER;
    const DWORD devices = config_.cartridgePresent ? 1 : 0;
    if ((flags & FT_LIST_NUMBER_ONLY) != 0 && arg1 != nullptr) {
        *static_cast<DWORD*>(arg1) = devices;
        status = FT_OK;
    } else if ((flags & FT_LIST_BY_INDEX) != 0 && arg2 != nullptr) {
        const auto index = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(arg1));
        if (index < devices) {
            const char* text = (flags & FT_OPEN_BY_DESCRIPTION) != 0 ? "Vexlo" : "VEXLO001";
            std::strcpy(static_cast<char*>(arg2), text);
            status = FT_OK;
        } else {
            status = FT_DEVICE_NOT_FOUND;
        }
    }
    trace_.emit(
        formatText("FT_ListDevices(flags 0x%08x) -> %s", static_cast<unsigned>(flags), statusName(status).c_str()));
    return status;
}

FT_STATUS D2xxDevice::close(FT_HANDLE handle) {
    if (!validHandle(handle, "FT_Close")) {
        return FT_INVALID_HANDLE;
    }
    isOpen_ = false;
    syncFifo_ = false;
    trace_.emit(formatText("FT_Close(handle #%u) -> FT_OK", openCount_));
    return FT_OK;
}

FT_STATUS D2xxDevice::resetDevice(FT_HANDLE handle) {
    if (!validHandle(handle, "FT_ResetDevice")) {
        return FT_INVALID_HANDLE;
    }
    trace_.emit("FT_ResetDevice -> FT_OK");
    return FT_OK;
}

FT_STATUS D2xxDevice::purge(FT_HANDLE handle, ULONG mask) {
    if (!validHandle(handle, "FT_Purge")) {
        return FT_INVALID_HANDLE;
    }
    std::string what;
    if ((mask & FT_PURGE_RX) != 0) {
        what += formatText(" receive buffer (%zu bytes dropped)", toHost_.size());
        toHost_.clear();
    }
    if ((mask & FT_PURGE_TX) != 0) {
        what += " transmit buffer";
    }
    trace_.emit(formatText("FT_Purge(mask %u):%s -> FT_OK", static_cast<unsigned>(mask),
                           what.empty() ? " nothing" : what.c_str()));
    return FT_OK;
}

FT_STATUS D2xxDevice::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    if (!validHandle(handle, "FT_SetTimeouts")) {
        return FT_INVALID_HANDLE;
    }
    readTimeout_ = readMs;
    writeTimeout_ = writeMs;
    trace_.emit(formatText("FT_SetTimeouts(read %u ms, write %u ms) -> FT_OK", static_cast<unsigned>(readMs),
                           static_cast<unsigned>(writeMs)));
    return FT_OK;
}

FT_STATUS D2xxDevice::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    if (!validHandle(handle, "FT_GetQueueStatus")) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *rxBytes = static_cast<DWORD>(toHost_.size());
    trace_.emit(formatText("FT_GetQueueStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes)));
    return FT_OK;
}

FT_STATUS D2xxDevice::setBaudRate(FT_HANDLE handle, ULONG baud) {
    if (!validHandle(handle, "FT_SetBaudRate")) {
        return FT_INVALID_HANDLE;
    }
    trace_.emit(formatText("FT_SetBaudRate(%u) -> FT_OK (no meaning in FIFO mode)", static_cast<unsigned>(baud)));
    return FT_OK;
}

FT_STATUS D2xxDevice::setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    if (!validHandle(handle, "FT_SetDataCharacteristics")) {
        return FT_INVALID_HANDLE;
    }
    trace_.emit(formatText("FT_SetDataCharacteristics(%u, %u, %u) -> FT_OK", wordLength, stopBits, parity));
    return FT_OK;
}

FT_STATUS D2xxDevice::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    if (!validHandle(handle, "FT_SetFlowControl")) {
        return FT_INVALID_HANDLE;
    }
    trace_.emit(formatText("FT_SetFlowControl(0x%04x, 0x%02x, 0x%02x) -> FT_OK", flowControl, xon, xoff));
    return FT_OK;
}

FT_STATUS D2xxDevice::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    if (!validHandle(handle, "FT_SetUSBParameters")) {
        return FT_INVALID_HANDLE;
    }
    inSize_ = inSize;
    outSize_ = outSize;
    trace_.emit(formatText("FT_SetUSBParameters(in %u, out %u) -> FT_OK", static_cast<unsigned>(inSize),
                           static_cast<unsigned>(outSize)));
    return FT_OK;
}

FT_STATUS D2xxDevice::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    if (!validHandle(handle, "FT_SetLatencyTimer")) {
        return FT_INVALID_HANDLE;
    }
    latency_ = ms;
    trace_.emit(formatText("FT_SetLatencyTimer(%u ms) -> FT_OK", ms));
    return FT_OK;
}

FT_STATUS D2xxDevice::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    if (!validHandle(handle, "FT_SetBitMode")) {
        return FT_INVALID_HANDLE;
    }
    std::string effect;
    if (mode == FT_BITMODE_RESET) {
        bitModeReset_ = true;
        syncFifo_ = false;
        effect = "reset";
    } else if (mode == FT_BITMODE_SYNC_FIFO && bitModeReset_) {
        syncFifo_ = true;
        effect = "synchronous FIFO: the cartridge now answers";
    } else if (mode == FT_BITMODE_SYNC_FIFO) {
        effect = "synchronous FIFO without a reset to 0x00 first: ignored";
    } else {
        syncFifo_ = false;
        effect = "a mode the cartridge does not use";
    }
    trace_.emit(formatText("FT_SetBitMode(mask 0x%02x, mode 0x%02x) -> FT_OK, %s", mask, mode, effect.c_str()));
    return FT_OK;
}

FT_STATUS D2xxDevice::reload(WORD vid, WORD pid) {
    trace_.emit(formatText("FT_Reload(0x%04x, 0x%04x) -> FT_OK", vid, pid));
    return FT_OK;
}

FT_STATUS D2xxDevice::checkStatusCall(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    if (!validHandle(handle, "FT_GetStatus")) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr || txBytes == nullptr || eventStatus == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    return FT_OK;
}

FT_STATUS D2xxDevice::getStatus(DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    *rxBytes = static_cast<DWORD>(toHost_.size());
    *txBytes = 0;
    *eventStatus = 0;
    if (*rxBytes == 0 && !config_.logEveryCall) {
        // The drive image server polls flat out: count, do not log each.
        trace_.countEmptyPoll();
    } else {
        trace_.emit(formatText("FT_GetStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes)));
    }
    return FT_OK;
}

FT_STATUS D2xxDevice::read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got, std::uint32_t& waitMs) {
    waitMs = 0;
    if (got != nullptr) {
        *got = 0;
    }
    if (!validHandle(handle, "FT_Read")) {
        return FT_INVALID_HANDLE;
    }
    if (got == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    DWORD n = 0;
    while (n < count && !toHost_.empty()) {
        out[n++] = toHost_.front();
        toHost_.pop_front();
    }
    *got = n;
    const bool pinTraffic = lastReplyWasPins_ && count <= 1;
    lastReplyWasPins_ = false;
    if (pinTraffic && !config_.logEveryCall) {
        trace_.countPinRead();
    } else if (n < count) {
        trace_.emit(formatText("FT_Read %u bytes -> FT_OK, %u read%s%s", static_cast<unsigned>(count),
                               static_cast<unsigned>(n), n != 0 ? ": " : "",
                               n != 0 ? hexBytes(out, n).c_str() : " (nothing to answer: the read times out)"));
    } else {
        trace_.emit(
            formatText("FT_Read %u bytes -> FT_OK: %s", static_cast<unsigned>(count), hexBytes(out, n).c_str()));
    }
    if (n < count) {
        waitMs = config_.readTimeoutMs;
    }
    return FT_OK;
}

void D2xxDevice::queueReply(std::uint8_t value, bool pinTraffic) {
    toHost_.push_back(value);
    lastReplyWasPins_ = pinTraffic;
}

D2xxDevice::WriteAdmission D2xxDevice::admitWrite(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written,
                                                  bool inProgramStream) {
    WriteAdmission a;
    if (written != nullptr) {
        *written = 0;
    }
    if (!validHandle(handle, "FT_Write")) {
        a.status = FT_INVALID_HANDLE;
        return a;
    }
    if (written == nullptr || (buffer == nullptr && count != 0)) {
        a.status = FT_INVALID_PARAMETER;
        return a;
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    const std::uint32_t number = ++writes_;
    a.number = number;
    if (config_.failWrites.count(number) != 0) {
        trace_.emit(formatText("w%u FT_Write %u bytes: %s -> FT_IO_ERROR, 0 written (write_fail)", number,
                               static_cast<unsigned>(count), hexBytes(data, count).c_str()));
        a.status = FT_IO_ERROR;
        return a;
    }
    if (prgStallsLeft_ != 0 && inProgramStream) {
        --prgStallsLeft_;
        trace_.emit(
            formatText("w%u FT_Write %u bytes of the program stream -> FT_OK, 0 written (prg_stall: the "
                       "link stalls, %u stalls left)",
                       number, static_cast<unsigned>(count), prgStallsLeft_));
        return a;
    }
    a.accepted = count;
    a.shortWrite = config_.shortWrites.count(number) != 0 && count != 0;
    if (a.shortWrite) {
        a.accepted = count - 1;
    }
    *written = a.accepted;
    if (!syncFifo_) {
        trace_.emit(formatText(
            "w%u FT_Write %u bytes: %s -> FT_OK, %u written; ignored: the cartridge is not in "
            "synchronous FIFO mode",
            number, static_cast<unsigned>(count), hexBytes(data, count).c_str(), static_cast<unsigned>(a.accepted)));
        return a;
    }
    a.feed = true;
    return a;
}
