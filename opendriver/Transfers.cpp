// An open device's bytes: a receive buffer of our own, so that a read waits
// for the whole count until its time-out; writes in transfers of the set
// size that report what the device accepted; the queue status and purges.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "OpenDevices.h"

namespace d2xx {

namespace {

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

FT_STATUS read(const D2xxContext&, FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    if (got != nullptr) {
        *got = 0;
    }
    return withDevice(handle, [&](Device& d) {
        if (got == nullptr || (buffer == nullptr && count != 0)) {
            return FT_INVALID_PARAMETER;
        }
        auto* out = static_cast<std::uint8_t*>(buffer);
        DWORD n = take(d, out, count);
        if (n == count) {
            *got = n;
            return FT_OK;
        }
        const std::int64_t deadline = d.wire->nowMs() + d.readTimeoutMs;
        FT_STATUS status = FT_OK;
        while (n < count) {
            const int r = pollDevice(d);
            if (r < 0) {
                status = statusOf(r);
                break;
            }
            n += take(d, out + n, count - n);
            if (n < count && d.readTimeoutMs != 0 && d.wire->nowMs() >= deadline) {
                break;  // a time-out is no error: the caller sees the count
            }
        }
        *got = n;
        return status;
    });
}

FT_STATUS write(const D2xxContext&, FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return withDevice(handle, [&](Device& d) {
        if (written == nullptr || (buffer == nullptr && count != 0)) {
            return FT_INVALID_PARAMETER;
        }
        const auto* data = static_cast<const std::uint8_t*>(buffer);
        const std::int64_t deadline = d.wire->nowMs() + d.writeTimeoutMs;
        DWORD sent = 0;
        FT_STATUS status = FT_OK;
        while (sent < count) {
            const int part = static_cast<int>(std::min<DWORD>(count - sent, d.outSize));
            std::uint32_t timeout = 0;
            if (d.writeTimeoutMs != 0) {
                const std::int64_t left = deadline - d.wire->nowMs();
                if (left <= 0) {
                    break;
                }
                timeout = static_cast<std::uint32_t>(left);
            }
            int done = 0;
            const int r = d.wire->write(d.port, data + sent, part, timeout, &done);
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
    });
}

FT_STATUS resetDevice(const D2xxContext&, FT_HANDLE handle) {
    return withDevice(handle, [](Device& d) { return statusOf(d.wire->reset(d.port)); });
}

FT_STATUS purge(const D2xxContext&, FT_HANDLE handle, ULONG mask) {
    return withDevice(handle, [&](Device& d) {
        const bool rx = (mask & FT_PURGE_RX) != 0;
        const bool tx = (mask & FT_PURGE_TX) != 0;
        if (rx) {
            d.rx.clear();
            d.rxHead = 0;
        }
        if (!rx && !tx) {
            return FT_OK;
        }
        return statusOf(d.wire->purge(d.port, rx, tx));
    });
}

FT_STATUS getQueueStatus(const D2xxContext& ctx, FT_HANDLE handle, DWORD* rxBytes) {
    return getStatus(ctx, handle, rxBytes, nullptr, nullptr);
}

FT_STATUS getStatus(const D2xxContext&, FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return withDevice(handle, [&](Device& d) {
        if (rxBytes == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        FT_STATUS status = FT_OK;
        // Bytes already here are reported without a round trip to the device.
        if (d.queued() == 0) {
            const int r = pollDevice(d);
            if (r < 0) {
                status = statusOf(r);
            }
        }
        *rxBytes = static_cast<DWORD>(d.queued());
        if (txBytes != nullptr) {
            *txBytes = 0;  // writes are synchronous: nothing waits to be sent
        }
        if (eventStatus != nullptr) {
            *eventStatus = 0;
        }
        return status;
    });
}

}  // namespace d2xx
