// The 18 driver entry points the programs bind, under their plain names.
// A variant build defines VEXLO_OMIT_<name> to leave one of them out, so the
// programs' binding paths can be run against a library that lacks it.
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#include "EmulatedCartridge.h"
#include "d2xx.h"

#if defined(_WIN32)
// Exported through the module definition file (plain names on 32-bit too).
#define VEXLO_EXPORT extern "C"
#else
#define VEXLO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The log outlives the cartridge, which writes its summary when the
// process ends.
struct Emulator {
    EmulatorLog log;
    std::unique_ptr<EmulatedCartridge> cartridge;

    Emulator() {
        std::vector<std::string> problems;
        const EmulatorConfig config = loadEmulatorConfig(std::getenv(EMULATOR_ENV_VAR), problems);
        const std::string logPath =
            config.logPath.empty() ? config.outDir + "/emulator.log" : config.logPath;
        if (config.logPath.empty() || (config.logPath != "none" && config.logPath != "stdout" &&
                                       config.logPath != "stderr")) {
            std::error_code ec;
            const auto parent = std::filesystem::path(logPath).parent_path();
            if (!parent.empty()) {
                std::filesystem::create_directories(parent, ec);
            }
        }
        const bool logOpened = log.open(logPath);
        // A broken configuration must not go unnoticed, even though the
        // programs' own standard error is otherwise left alone.
        for (const auto& p : problems) {
            std::fprintf(stderr, "vexlo emulator: %s: %s\n", EMULATOR_ENV_VAR, p.c_str());
        }
        if (!logOpened) {
            std::fprintf(stderr, "vexlo emulator: cannot write the log %s\n", logPath.c_str());
        }
        cartridge = std::make_unique<EmulatedCartridge>(config, log);
        for (const auto& p : problems) {
            log.line("configuration problem: %s", p.c_str());
        }
    }
    ~Emulator() { cartridge.reset(); }
};

EmulatedCartridge& cart() {
    static Emulator emulator;
    return *emulator.cartridge;
}

}  // namespace

#ifndef VEXLO_OMIT_FT_Open
VEXLO_EXPORT FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle) { return cart().open(deviceNumber, handle); }
static_assert(std::is_same_v<decltype(&FT_Open), PFN_FT_Open>);
#endif

#ifndef VEXLO_OMIT_FT_OpenEx
VEXLO_EXPORT FT_STATUS FT_API FT_OpenEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
    return cart().openEx(arg1, flags, handle);
}
static_assert(std::is_same_v<decltype(&FT_OpenEx), PFN_FT_OpenEx>);
#endif

#ifndef VEXLO_OMIT_FT_ListDevices
VEXLO_EXPORT FT_STATUS FT_API FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    return cart().listDevices(arg1, arg2, flags);
}
static_assert(std::is_same_v<decltype(&FT_ListDevices), PFN_FT_ListDevices>);
#endif

#ifndef VEXLO_OMIT_FT_Close
VEXLO_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE handle) { return cart().close(handle); }
static_assert(std::is_same_v<decltype(&FT_Close), PFN_FT_Close>);
#endif

#ifndef VEXLO_OMIT_FT_Read
VEXLO_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
    return cart().read(handle, buffer, bytesToRead, bytesReturned);
}
static_assert(std::is_same_v<decltype(&FT_Read), PFN_FT_Read>);
#endif

#ifndef VEXLO_OMIT_FT_Write
VEXLO_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
    return cart().write(handle, buffer, bytesToWrite, bytesWritten);
}
static_assert(std::is_same_v<decltype(&FT_Write), PFN_FT_Write>);
#endif

#ifndef VEXLO_OMIT_FT_ResetDevice
VEXLO_EXPORT FT_STATUS FT_API FT_ResetDevice(FT_HANDLE handle) { return cart().resetDevice(handle); }
static_assert(std::is_same_v<decltype(&FT_ResetDevice), PFN_FT_ResetDevice>);
#endif

#ifndef VEXLO_OMIT_FT_Purge
VEXLO_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE handle, ULONG mask) { return cart().purge(handle, mask); }
static_assert(std::is_same_v<decltype(&FT_Purge), PFN_FT_Purge>);
#endif

#ifndef VEXLO_OMIT_FT_SetTimeouts
VEXLO_EXPORT FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout) {
    return cart().setTimeouts(handle, readTimeout, writeTimeout);
}
static_assert(std::is_same_v<decltype(&FT_SetTimeouts), PFN_FT_SetTimeouts>);
#endif

#ifndef VEXLO_OMIT_FT_GetQueueStatus
VEXLO_EXPORT FT_STATUS FT_API FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    return cart().getQueueStatus(handle, rxBytes);
}
static_assert(std::is_same_v<decltype(&FT_GetQueueStatus), PFN_FT_GetQueueStatus>);
#endif

#ifndef VEXLO_OMIT_FT_SetBaudRate
VEXLO_EXPORT FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    return cart().setBaudRate(handle, baudRate);
}
static_assert(std::is_same_v<decltype(&FT_SetBaudRate), PFN_FT_SetBaudRate>);
#endif

#ifndef VEXLO_OMIT_FT_SetDataCharacteristics
VEXLO_EXPORT FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                        UCHAR parity) {
    return cart().setDataCharacteristics(handle, wordLength, stopBits, parity);
}
static_assert(std::is_same_v<decltype(&FT_SetDataCharacteristics), PFN_FT_SetDataCharacteristics>);
#endif

#ifndef VEXLO_OMIT_FT_SetFlowControl
VEXLO_EXPORT FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xonChar, UCHAR xoffChar) {
    return cart().setFlowControl(handle, flowControl, xonChar, xoffChar);
}
static_assert(std::is_same_v<decltype(&FT_SetFlowControl), PFN_FT_SetFlowControl>);
#endif

#ifndef VEXLO_OMIT_FT_GetStatus
VEXLO_EXPORT FT_STATUS FT_API FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return cart().getStatus(handle, rxBytes, txBytes, eventStatus);
}
static_assert(std::is_same_v<decltype(&FT_GetStatus), PFN_FT_GetStatus>);
#endif

#ifndef VEXLO_OMIT_FT_SetUSBParameters
VEXLO_EXPORT FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE handle, ULONG inTransferSize, ULONG outTransferSize) {
    return cart().setUSBParameters(handle, inTransferSize, outTransferSize);
}
static_assert(std::is_same_v<decltype(&FT_SetUSBParameters), PFN_FT_SetUSBParameters>);
#endif

#ifndef VEXLO_OMIT_FT_SetLatencyTimer
VEXLO_EXPORT FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latency) {
    return cart().setLatencyTimer(handle, latency);
}
static_assert(std::is_same_v<decltype(&FT_SetLatencyTimer), PFN_FT_SetLatencyTimer>);
#endif

#ifndef VEXLO_OMIT_FT_SetBitMode
VEXLO_EXPORT FT_STATUS FT_API FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
    return cart().setBitMode(handle, mask, mode);
}
static_assert(std::is_same_v<decltype(&FT_SetBitMode), PFN_FT_SetBitMode>);
#endif

#ifndef VEXLO_OMIT_FT_Reload
VEXLO_EXPORT FT_STATUS FT_API FT_Reload(WORD vid, WORD pid) { return cart().reload(vid, pid); }
static_assert(std::is_same_v<decltype(&FT_Reload), PFN_FT_Reload>);
#endif

