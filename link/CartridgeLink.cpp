#include "CartridgeLink.h"

#include <array>

#include "CartridgeCommands.h"
#include "Console.h"
#include "platform/Platform.h"

namespace {

// The name of the function a field holds, for the "is not valid" line.
template <auto Field>
constexpr const char* entryName = nullptr;
// (Not every entry point has a checked call.)
#define VEXLO_ENTRY_NAME(name, step, missing, params, args, method) \
    template <>                                            \
    [[maybe_unused]] constexpr const char* entryName<&CartridgeLink::name> = #name;
VEXLO_D2XX_ENTRY_POINTS(VEXLO_ENTRY_NAME)
#undef VEXLO_ENTRY_NAME

// The checked call: a field that is still null prints its line and is skipped.
template <auto Field, typename... Args>
CallResult checked(const CartridgeLink& link, Args... args) {
    const auto fn = link.*Field;
    if (fn == nullptr) {
        consolePrintf("Error: %s is not valid!\n", entryName<Field>);
        return CallResult{false, 0};
    }
    return CallResult{true, fn(args...)};
}

// One step of the binding: where the pointer goes once it is found.
struct ResolveStep {
    const D2xxEntryInfo* entry;
    void (*store)(CartridgeLink& link, void* symbol);
};

// The entry points in the order BindDriver resolves them.
constexpr auto RESOLVE_ORDER = [] {
    std::array<ResolveStep, D2XX_ENTRY_COUNT> steps{};
#define VEXLO_RESOLVE_STEP(name, step, missing, params, args, method)                                   \
    steps[step - 1] = {&d2xxEntry(D2xxEntry::name), [](CartridgeLink& link, void* symbol) {   \
                           link.name = reinterpret_cast<PFN_##name>(symbol);                    \
                       }};
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_RESOLVE_STEP)
#undef VEXLO_RESOLVE_STEP
    return steps;
}();

}  // namespace

void CartridgeLink::BindDriver() { BindDriverFrom(platform::driverLibraryName()); }

void CartridgeLink::BindDriverFrom(const char* libraryFileName) {
    driverModule = platform::loadLibrary(libraryFileName);
    if (driverModule == nullptr) {
        // The same text on every platform: users and their scripts know it.
        consolePrintf("Error: Can't Load Ftd2xx.dll\n");
        const std::string note = platform::loadFailureNote(libraryFileName);
        if (!note.empty()) {
            consoleFprintf(stderr, "%s\n", note.c_str());
        }
        return;
    }
    // The first missing function stops the binding; it and the later ones stay null.
    for (const ResolveStep& step : RESOLVE_ORDER) {
        void* symbol = platform::findSymbol(driverModule, step.entry->name);
        step.store(*this, symbol);
        if (symbol == nullptr) {
            consolePrintf("%s", step.entry->missingText);
            return;
        }
    }
}

FT_STATUS CartridgeLink::OpenCartridge() {
    if (FT_OpenEx == nullptr) {
        consolePrintf("Error: FT_OpenEx is not valid!\n");
        return 1;
    }
    static char description[] = "Vexlo";
    FT_STATUS status = FT_OpenEx(description, FT_OPEN_BY_DESCRIPTION, &deviceHandle);
    opened = status == FT_OK ? 1 : 0;
    if (status != FT_OK) {
        return status;
    }
    // Configuration statuses are not examined: the device counts as open.
    ResetDevice();
    SetTimeouts(9000, 9000);
    Purge(FT_PURGE_RX);
    SetUSBParameters(4096, 65536);
    SetLatencyTimer(2);
    SetBitMode(0xFF, FT_BITMODE_RESET);
    platform::sleepMs(100);
    SetBitMode(0xFF, FT_BITMODE_SYNC_FIFO);
    return 0;
}

void CartridgeLink::Close() { checked<&CartridgeLink::FT_Close>(*this, deviceHandle); }

CallResult CartridgeLink::Write(const void* buffer, DWORD count, DWORD* written) {
    // The driver's signature takes a non-const buffer but never writes to it.
    return checked<&CartridgeLink::FT_Write>(*this, deviceHandle, const_cast<void*>(buffer), count, written);
}

CallResult CartridgeLink::Read(void* buffer, DWORD count, DWORD* got) {
    return checked<&CartridgeLink::FT_Read>(*this, deviceHandle, buffer, count, got);
}

CallResult CartridgeLink::ResetDevice() { return checked<&CartridgeLink::FT_ResetDevice>(*this, deviceHandle); }

CallResult CartridgeLink::Purge(ULONG mask) { return checked<&CartridgeLink::FT_Purge>(*this, deviceHandle, mask); }

CallResult CartridgeLink::SetTimeouts(ULONG readMs, ULONG writeMs) {
    return checked<&CartridgeLink::FT_SetTimeouts>(*this, deviceHandle, readMs, writeMs);
}

CallResult CartridgeLink::SetUSBParameters(ULONG inSize, ULONG outSize) {
    return checked<&CartridgeLink::FT_SetUSBParameters>(*this, deviceHandle, inSize, outSize);
}

CallResult CartridgeLink::SetLatencyTimer(UCHAR ms) {
    return checked<&CartridgeLink::FT_SetLatencyTimer>(*this, deviceHandle, ms);
}

CallResult CartridgeLink::SetBitMode(UCHAR mask, UCHAR mode) {
    return checked<&CartridgeLink::FT_SetBitMode>(*this, deviceHandle, mask, mode);
}

CallResult CartridgeLink::GetStatus(DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    return checked<&CartridgeLink::FT_GetStatus>(*this, deviceHandle, rxBytes, txBytes, eventStatus);
}

bool CartridgeLink::WriteHeader(std::uint8_t command) {
    const CommandHeader header = makeHeader(command);
    DWORD written = 0;
    return Write(&header, sizeof header, &written).ok() && written == sizeof header;
}

void WaitAck(CartridgeLink& link) {
    for (;;) {
        if (!link.WriteHeader(cmdPollReady)) {
            continue;
        }
        std::uint8_t reply = 0;
        DWORD got = 0;
        if (link.Read(&reply, 1, &got).ok() && got == 1) {
            return;  // any byte, 0 included, means ready
        }
    }
}
