// The USB device as the driver entry points see it: the open rules (only by
// the description "Vexlo"), fresh handles per open, the bit mode that must
// be reset and then set to synchronous FIFO before the cartridge answers,
// the settings calls, the bytes queued for the host, and the injected write
// faults. What the written bytes mean is the cartridge protocol's business.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "CartridgeProtocol.h"
#include "D2xxEntryPoints.h"
#include "EmulatorConfig.h"
#include "EmulatorTrace.h"
#include "HostQueue.h"
#include "d2xx.h"

class D2xxDevice {
public:
    // `beforeStatus` runs in each valid FT_GetStatus before the queue is
    // looked at: the emulated Atari takes its turn there.
    D2xxDevice(const EmulatorConfig& config, EmulatorTrace& trace, HostQueue& host, CartridgeProtocol& protocol,
               std::function<void()> beforeStatus)
        : config_(config),
          trace_(trace),
          host_(host),
          protocol_(protocol),
          beforeStatus_(std::move(beforeStatus)),
          prgStallsLeft_(config.prgStalls) {}

    // The driver entry points, with the published D2XX signatures' meaning:
    // open, openEx, ... as link/D2xxEntryPoints.h names them.
#define VEXLO_DEVICE_ENTRY(name, step, missing, params, args, method) FT_STATUS method params;
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_DEVICE_ENTRY)
#undef VEXLO_DEVICE_ENTRY

    // A read that came up short waits read_timeout_ms; called after the
    // entry point, outside the driver call, so a stop need not wait for it.
    void waitAfterShortRead();

    const std::deque<std::uint8_t>& toHost() const { return host_.bytes; }
    bool syncFifo() const { return syncFifo_; }
    std::uint32_t openCount() const { return openCount_; }
    std::uint32_t writes() const { return writes_; }
    std::uint32_t latencyMs() const { return latency_; }
    std::uint32_t inTransferSize() const { return inSize_; }
    std::uint32_t outTransferSize() const { return outSize_; }

private:
    // What a call on an open handle answers, and its log line ("": none).
    struct Answer {
        FT_STATUS status = FT_OK;
        std::string line;
    };
    // The handle check every call on a handle starts with, and its line.
    template <class Body>
    FT_STATUS onOpenHandle(FT_HANDLE handle, const char* fn, Body body) {
        if (!validHandle(handle, fn)) {
            return FT_INVALID_HANDLE;
        }
        const Answer answer = body();
        if (!answer.line.empty()) {
            trace_.emit(answer.line);
        }
        return answer.status;
    }
    bool validHandle(FT_HANDLE handle, const char* fn);
    Answer admitWrite(const std::uint8_t* data, DWORD count, DWORD* written);

    const EmulatorConfig& config_;
    EmulatorTrace& trace_;
    HostQueue& host_;
    CartridgeProtocol& protocol_;
    std::function<void()> beforeStatus_;
    std::uint32_t openCount_ = 0;
    bool isOpen_ = false;
    std::uintptr_t handleValue_ = 0;
    bool bitModeReset_ = false;
    bool syncFifo_ = false;
    std::uint32_t readTimeout_ = 0, writeTimeout_ = 0, inSize_ = 0, outSize_ = 0, latency_ = 0;
    std::uint32_t writes_ = 0;
    std::uint32_t prgStallsLeft_ = 0;
    std::uint32_t pendingWaitMs_ = 0;
};
