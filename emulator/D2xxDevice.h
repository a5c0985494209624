// The USB device as the driver entry points see it: the open rules (only by
// the description "Vexlo"), fresh handles per open, the bit mode that must
// be reset and then set to synchronous FIFO before the cartridge answers,
// the settings calls, the bytes queued for the host, and the injected write
// faults. What the written bytes mean is the cartridge's business.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "EmulatorConfig.h"
#include "EmulatorTrace.h"
#include "d2xx.h"

class D2xxDevice {
public:
    D2xxDevice(const EmulatorConfig& config, EmulatorTrace& trace)
        : config_(config), trace_(trace), prgStallsLeft_(config.prgStalls) {}

    // Written out rather than generated from the entry-point table: reads,
    // writes and FT_GetStatus take other shapes here than at the driver's edge.
    FT_STATUS open(int deviceNumber, FT_HANDLE* handle);
    FT_STATUS openEx(void* arg1, DWORD flags, FT_HANDLE* handle);
    FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
    FT_STATUS close(FT_HANDLE handle);
    // `waitMs`: how long a read that came up short should wait (read_timeout_ms).
    FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got, std::uint32_t& waitMs);
    FT_STATUS resetDevice(FT_HANDLE handle);
    FT_STATUS purge(FT_HANDLE handle, ULONG mask);
    FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
    FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
    FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud);
    FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
    FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
    FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
    FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms);
    FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
    FT_STATUS reload(WORD vid, WORD pid);
    // FT_GetStatus in two steps, so the Atari can queue a request between them.
    FT_STATUS checkStatusCall(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);
    FT_STATUS getStatus(DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);

    // What an FT_Write does before its bytes reach the cartridge.
    struct WriteAdmission {
        FT_STATUS status = FT_OK;
        bool feed = false;           // the bytes go on to the cartridge
        DWORD accepted = 0;          // bytes taken
        bool shortWrite = false;     // write_short took one byte fewer
        std::uint32_t number = 0;    // the write's number (w1, w2, ...)
    };
    WriteAdmission admitWrite(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written,
                              bool inProgramStream);

    // A one-byte answer for the host; pin answers are counted, not logged.
    void queueReply(std::uint8_t value, bool pinTraffic);
    std::deque<std::uint8_t>& toHost() { return toHost_; }
    const std::deque<std::uint8_t>& toHost() const { return toHost_; }

    bool syncFifo() const { return syncFifo_; }
    std::uint32_t openCount() const { return openCount_; }
    std::uint32_t writes() const { return writes_; }
    std::uint32_t latencyMs() const { return latency_; }
    std::uint32_t inTransferSize() const { return inSize_; }
    std::uint32_t outTransferSize() const { return outSize_; }

private:
    bool validHandle(FT_HANDLE handle, const char* fn);

    const EmulatorConfig& config_;
    EmulatorTrace& trace_;
    std::uint32_t openCount_ = 0;
    bool isOpen_ = false;
    std::uintptr_t handleValue_ = 0;
    bool bitModeReset_ = false;
    bool syncFifo_ = false;
    std::uint32_t readTimeout_ = 0, writeTimeout_ = 0, inSize_ = 0, outSize_ = 0, latency_ = 0;
    std::deque<std::uint8_t> toHost_;
    bool lastReplyWasPins_ = false;
    std::uint32_t writes_ = 0;
    std::uint32_t prgStallsLeft_ = 0;
};
