#include "FakeD2xx.h"

#include <cstring>
#include <tuple>
#include <type_traits>

namespace fake_d2xx {

namespace {

Driver g_driver;

const FT_HANDLE DEVICE = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});

// The quiet defaults, one per entry point.
namespace quiet {

FT_STATUS FT_Open(int, FT_HANDLE* handle) {
    *handle = nullptr;
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS FT_OpenEx(void*, DWORD, FT_HANDLE* handle) {
    *handle = DEVICE;
    return FT_OK;
}
FT_STATUS FT_ListDevices(void*, void*, DWORD) { return FT_OK; }
FT_STATUS FT_Close(FT_HANDLE) { return FT_OK; }
FT_STATUS FT_Read(FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    Driver& d = g_driver;
    DWORD n = count;
    if (!d.feedSet) {
        std::memset(buffer, 0, count);
    } else {
        n = count < d.feedLeft ? count : static_cast<DWORD>(d.feedLeft);
        if (n > 0) {
            std::memcpy(buffer, d.feed, n);
            d.feed += n;
            d.feedLeft -= n;
        }
    }
    d.bytesRead += n;
    *got = n;
    return FT_OK;
}
FT_STATUS FT_Write(FT_HANDLE, void*, DWORD count, DWORD* written) {
    g_driver.bytesWritten += count;
    *written = count;
    return FT_OK;
}
FT_STATUS FT_ResetDevice(FT_HANDLE) { return FT_OK; }
FT_STATUS FT_Purge(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_SetTimeouts(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD* rxBytes) {
    *rxBytes = static_cast<DWORD>(g_driver.feedLeft);
    return FT_OK;
}
FT_STATUS FT_SetBaudRate(FT_HANDLE, ULONG) { return FT_OK; }
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_SetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_GetStatus(FT_HANDLE, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    *rxBytes = static_cast<DWORD>(g_driver.feedLeft);
    *txBytes = 0;
    *eventStatus = 0;
    return FT_OK;
}
FT_STATUS FT_SetUSBParameters(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR) { return FT_OK; }
FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR) { return FT_OK; }
FT_STATUS FT_Reload(WORD, WORD) { return FT_OK; }

}  // namespace quiet

template <typename T>
void noteNumber(Call& call, std::size_t& next, T value) {
    if constexpr (std::is_integral_v<T>) {
        if (next < std::size(call.args)) {
            call.args[next++] = static_cast<std::uint32_t>(value);
        }
    }
}

// Records a call before it is made (a hook may look at the record), with
// its handle and numbers; the bytes it carries follow in finishRecord.
template <D2xxEntry E, typename First, typename... Rest>
std::size_t startRecord(std::vector<Call>& record, First first, Rest... rest) {
    Call call;
    call.fn = d2xxEntry(E).name;
    std::size_t next = 0;
    if constexpr (d2xxEntry(E).takesDeviceHandle) {
        call.handle = first;
    } else {
        noteNumber(call, next, first);
    }
    (noteNumber(call, next, rest), ...);
    if constexpr (E == D2xxEntry::FT_Write) {
        const auto all = std::tuple{first, rest...};
        const auto* in = static_cast<const std::uint8_t*>(std::get<1>(all));
        call.data.assign(in, in + std::get<2>(all));
    } else if constexpr (E == D2xxEntry::FT_OpenEx) {
        const char* text = static_cast<const char*>(first);
        call.data.assign(text, text + std::strlen(text));
    }
    record.push_back(std::move(call));
    return record.size() - 1;
}

template <D2xxEntry E, typename... Args>
void finishRecord(Call& call, FT_STATUS status, Args... args) {
    if constexpr (E == D2xxEntry::FT_Read) {
        const auto all = std::tuple{args...};
        const auto* out = static_cast<const std::uint8_t*>(std::get<1>(all));
        call.data.assign(out, out + (status == FT_OK ? *std::get<3>(all) : 0));
    } else {
        (void)call, (void)status, ((void)args, ...);
    }
}

}  // namespace

Driver& driver() { return g_driver; }

#define VEXLO_FAKE_ENTRY(name, step, missing, params, args, method)                                                  \
    FT_STATUS FT_API name params {                                                                           \
        Driver& d = g_driver;                                                                                \
        ++d.counts[static_cast<std::size_t>(D2xxEntry::name)];                                               \
        std::vector<Call>* record = d.record;                                                                \
        const std::size_t at = record != nullptr ? startRecord<D2xxEntry::name>(*record, VEXLO_D2XX_SPREAD args) : 0;\
        const FT_STATUS status = d.hooks.name != nullptr ? d.hooks.name(d.state, VEXLO_D2XX_SPREAD args)   \
                                                         : quiet::name args;                                 \
        if (record != nullptr) {                                                                             \
            finishRecord<D2xxEntry::name>((*record)[at], status, VEXLO_D2XX_SPREAD args);                  \
        }                                                                                                    \
        return status;                                                                                       \
    }
VEXLO_D2XX_ENTRY_POINTS(VEXLO_FAKE_ENTRY)
#undef VEXLO_FAKE_ENTRY

}  // namespace fake_d2xx
