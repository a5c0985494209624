#include "D2xxDevice.h"

#include <chrono>
#include <cstring>
#include <thread>

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
    return onOpenHandle(handle, "FT_Close", [&] {
        isOpen_ = false;
        syncFifo_ = false;
        return Answer{FT_OK, formatText("FT_Close(handle #%u) -> FT_OK", openCount_)};
    });
}

FT_STATUS D2xxDevice::resetDevice(FT_HANDLE handle) {
    return onOpenHandle(handle, "FT_ResetDevice", [] { return Answer{FT_OK, "FT_ResetDevice -> FT_OK"}; });
}

FT_STATUS D2xxDevice::purge(FT_HANDLE handle, ULONG mask) {
    return onOpenHandle(handle, "FT_Purge", [&] {
        std::string what;
        if ((mask & FT_PURGE_RX) != 0) {
            what += formatText(" receive buffer (%zu bytes dropped)", host_.bytes.size());
            host_.bytes.clear();
        }
        if ((mask & FT_PURGE_TX) != 0) {
            what += " transmit buffer";
        }
        return Answer{FT_OK, formatText("FT_Purge(mask %u):%s -> FT_OK", static_cast<unsigned>(mask),
                                        what.empty() ? " nothing" : what.c_str())};
    });
}

FT_STATUS D2xxDevice::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return onOpenHandle(handle, "FT_SetTimeouts", [&] {
        readTimeout_ = readMs;
        writeTimeout_ = writeMs;
        return Answer{FT_OK, formatText("FT_SetTimeouts(read %u ms, write %u ms) -> FT_OK",
                                        static_cast<unsigned>(readMs), static_cast<unsigned>(writeMs))};
    });
}

FT_STATUS D2xxDevice::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return onOpenHandle(handle, "FT_GetQueueStatus", [&] {
        if (rxBytes == nullptr) {
            return Answer{FT_INVALID_PARAMETER, ""};
        }
        *rxBytes = static_cast<DWORD>(host_.bytes.size());
        return Answer{FT_OK, formatText("FT_GetQueueStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes))};
    });
}

FT_STATUS D2xxDevice::setBaudRate(FT_HANDLE handle, ULONG baud) {
    return onOpenHandle(handle, "FT_SetBaudRate", [&] {
        return Answer{FT_OK, formatText("FT_SetBaudRate(%u) -> FT_OK (no meaning in FIFO mode)",
                                        static_cast<unsigned>(baud))};
    });
}

FT_STATUS D2xxDevice::setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    return onOpenHandle(handle, "FT_SetDataCharacteristics", [&] {
        return Answer{FT_OK,
                      formatText("FT_SetDataCharacteristics(%u, %u, %u) -> FT_OK", wordLength, stopBits, parity)};
    });
}

FT_STATUS D2xxDevice::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    return onOpenHandle(handle, "FT_SetFlowControl", [&] {
        return Answer{FT_OK, formatText("FT_SetFlowControl(0x%04x, 0x%02x, 0x%02x) -> FT_OK", flowControl, xon, xoff)};
    });
}

FT_STATUS D2xxDevice::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    return onOpenHandle(handle, "FT_SetUSBParameters", [&] {
        inSize_ = inSize;
        outSize_ = outSize;
        return Answer{FT_OK, formatText("FT_SetUSBParameters(in %u, out %u) -> FT_OK", static_cast<unsigned>(inSize),
                                        static_cast<unsigned>(outSize))};
    });
}

FT_STATUS D2xxDevice::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    return onOpenHandle(handle, "FT_SetLatencyTimer", [&] {
        latency_ = ms;
        return Answer{FT_OK, formatText("FT_SetLatencyTimer(%u ms) -> FT_OK", ms)};
    });
}

FT_STATUS D2xxDevice::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return onOpenHandle(handle, "FT_SetBitMode", [&] {
        const char* effect = "a mode the cartridge does not use";
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
        }
        return Answer{FT_OK, formatText("FT_SetBitMode(mask 0x%02x, mode 0x%02x) -> FT_OK, %s", mask, mode, effect)};
    });
}

FT_STATUS D2xxDevice::reload(WORD vid, WORD pid) {
    trace_.emit(formatText("FT_Reload(0x%04x, 0x%04x) -> FT_OK", vid, pid));
    return FT_OK;
}

FT_STATUS D2xxDevice::getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return onOpenHandle(handle, "FT_GetStatus", [&] {
        if (rxBytes == nullptr || txBytes == nullptr || eventStatus == nullptr) {
            return Answer{FT_INVALID_PARAMETER, ""};
        }
        beforeStatus_();
        *rxBytes = static_cast<DWORD>(host_.bytes.size());
        *txBytes = 0;
        *eventStatus = 0;
        if (*rxBytes == 0 && !config_.logEveryCall) {
            // The drive image server polls flat out: count, do not log each.
            trace_.countEmptyPoll();
            return Answer{FT_OK, ""};
        }
        return Answer{FT_OK, formatText("FT_GetStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes))};
    });
}

FT_STATUS D2xxDevice::read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    pendingWaitMs_ = 0;
    if (got != nullptr) {
        *got = 0;
    }
    return onOpenHandle(handle, "FT_Read", [&] {
        if (got == nullptr || (buffer == nullptr && count != 0)) {
            return Answer{FT_INVALID_PARAMETER, ""};
        }
        auto* out = static_cast<std::uint8_t*>(buffer);
        DWORD n = 0;
        while (n < count && !host_.bytes.empty()) {
            out[n++] = host_.bytes.front();
            host_.bytes.pop_front();
        }
        *got = n;
        if (n < count) {
            pendingWaitMs_ = config_.readTimeoutMs;
        }
        const bool pinTraffic = host_.lastWasPins && count <= 1;
        host_.lastWasPins = false;
        if (pinTraffic && !config_.logEveryCall) {
            trace_.countPinRead();
            return Answer{FT_OK, ""};
        }
        if (n < count) {
            return Answer{FT_OK, formatText("FT_Read %u bytes -> FT_OK, %u read%s%s", static_cast<unsigned>(count),
                                            static_cast<unsigned>(n), n != 0 ? ": " : "",
                                            n != 0 ? hexBytes(out, n).c_str()
                                                   : " (nothing to answer: the read times out)")};
        }
        return Answer{FT_OK,
                      formatText("FT_Read %u bytes -> FT_OK: %s", static_cast<unsigned>(count), hexBytes(out, n).c_str())};
    });
}

void D2xxDevice::waitAfterShortRead() {
    if (pendingWaitMs_ != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pendingWaitMs_));
        pendingWaitMs_ = 0;
    }
}

FT_STATUS D2xxDevice::write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return onOpenHandle(handle, "FT_Write", [&] {
        if (written == nullptr || (buffer == nullptr && count != 0)) {
            return Answer{FT_INVALID_PARAMETER, ""};
        }
        return admitWrite(static_cast<const std::uint8_t*>(buffer), count, written);
    });
}

D2xxDevice::Answer D2xxDevice::admitWrite(const std::uint8_t* data, DWORD count, DWORD* written) {
    const std::uint32_t number = ++writes_;
    if (config_.failWrites.count(number) != 0) {
        return Answer{FT_IO_ERROR, formatText("w%u FT_Write %u bytes: %s -> FT_IO_ERROR, 0 written (write_fail)",
                                              number, static_cast<unsigned>(count), hexBytes(data, count).c_str())};
    }
    if (prgStallsLeft_ != 0 && protocol_.inProgramStream()) {
        --prgStallsLeft_;
        return Answer{FT_OK, formatText("w%u FT_Write %u bytes of the program stream -> FT_OK, 0 written (prg_stall: "
                                        "the link stalls, %u stalls left)",
                                        number, static_cast<unsigned>(count), prgStallsLeft_)};
    }
    const bool shortWrite = config_.shortWrites.count(number) != 0 && count != 0;
    const DWORD accepted = shortWrite ? count - 1 : count;
    *written = accepted;
    if (!syncFifo_) {
        return Answer{FT_OK, formatText("w%u FT_Write %u bytes: %s -> FT_OK, %u written; ignored: the cartridge is "
                                        "not in synchronous FIFO mode",
                                        number, static_cast<unsigned>(count), hexBytes(data, count).c_str(),
                                        static_cast<unsigned>(accepted))};
    }
    trace_.startWrite();
    protocol_.take(data, accepted);
    trace_.endWrite(number, data, count, accepted, shortWrite);
    return Answer{FT_OK, ""};
}
