// The emulated cartridge behind the 18 driver entry points: the USB device
// with its settings, the cartridge's command parser, the uploads it saves,
// its JTAG pins and the Atari that asks the drive image server for sectors.
// The exported functions only forward here, so tests drive this class
// directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AtariDisk.h"
#include "EmulatorConfig.h"
#include "EmulatorLog.h"
#include "HandOff.h"
#include "JtagDevice.h"
#include "RemoteBitbang.h"
#include "d2xx.h"

// What one upload left in the output folder.
struct SavedUpload {
    std::uint8_t command = 0;
    std::string fileName;        // relative to the output folder
    std::uint64_t bytes = 0;     // bytes saved
    bool complete = false;       // the whole payload arrived
};

class EmulatedCartridge {
public:
    // `log` must outlive the cartridge.
    EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log);
    ~EmulatedCartridge();
    EmulatedCartridge(const EmulatedCartridge&) = delete;
    EmulatedCartridge& operator=(const EmulatedCartridge&) = delete;

    // The driver entry points, with the published D2XX signatures' meaning.
    FT_STATUS open(int deviceNumber, FT_HANDLE* handle);
    FT_STATUS openEx(void* arg1, DWORD flags, FT_HANDLE* handle);
    FT_STATUS listDevices(void* arg1, void* arg2, DWORD flags);
    FT_STATUS close(FT_HANDLE handle);
    FT_STATUS read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got);
    FT_STATUS write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written);
    FT_STATUS resetDevice(FT_HANDLE handle);
    FT_STATUS purge(FT_HANDLE handle, ULONG mask);
    FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs);
    FT_STATUS getQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
    FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baud);
    FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
    FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
    FT_STATUS getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus);
    FT_STATUS setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
    FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR ms);
    FT_STATUS setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode);
    FT_STATUS reload(WORD vid, WORD pid);

    // Ends the process when the Atari's script is done; tests replace it.
    std::function<void(int status)> exitProcess;

    // Writes the run's summary to the log (and summary.txt); once.
    void finishRun();

    // Observation for tests.
    const std::vector<SavedUpload>& uploads() const { return uploads_; }
    const std::deque<std::uint8_t>& bytesForHost() const { return toHost_; }
    bool syncFifo() const { return syncFifo_; }
    const JtagDevice& jtagDevice() const { return *jtag_; }
    std::uint64_t tckRisingEdges() const { return risingEdges_; }
    std::uint64_t idcodeReads() const { return idcodeReads_; }
    std::uint32_t latencyMs() const { return latency_; }
    std::uint32_t inTransferSize() const { return inSize_; }
    std::uint32_t outTransferSize() const { return outSize_; }

private:
    enum class Parse { sync1, sync2, code, length, payload };

    bool validHandle(FT_HANDLE handle, const char* fn);
    void emit(const std::string& text);  // a log line, after any pending counts
    void flushCounts();

    // Host-to-cartridge stream.
    void feed(const std::uint8_t* data, std::size_t count);
    void startFrame(std::uint8_t code);
    void lengthComplete();
    void payloadBytes(const std::uint8_t* data, std::size_t count);
    void frameComplete();
    void dropByte(std::uint8_t b);
    void flushDropped();
    void resetParser(const char* why);
    bool inProgramStream() const;

    // Replies to the host.
    void reply(std::uint8_t value, const char* what, bool pinTraffic);

    // Uploads.
    void beginUpload(const char* baseName, bool numberAlways, std::uint64_t payload);
    void endUpload();

    // JTAG pins.
    void pinsSet(std::uint8_t pins);
    void pinsClock(std::uint8_t pins);
    bool readTdo();
    void collectScans();

    // The Atari side (AtariBridge.cpp).
    void atariStep();
    static void atariBody(void* self);
    bool atariRequest(std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data,
                      std::string& error);
    void endRun(int status);

    EmulatorConfig config_;
    EmulatorLog& log_;

    // USB device.
    std::uint32_t openCount_ = 0;
    bool isOpen_ = false;
    std::uintptr_t handleValue_ = 0;
    bool bitModeReset_ = false;
    bool syncFifo_ = false;
    std::uint32_t readTimeout_ = 0, writeTimeout_ = 0, inSize_ = 0, outSize_ = 0, latency_ = 0;
    std::deque<std::uint8_t> toHost_;

    // Counters; write and reply numbers are what the fault settings name.
    std::uint32_t writes_ = 0;
    std::uint32_t replies_ = 0;
    std::uint32_t polls_ = 0;
    std::uint32_t prgStallsLeft_ = 0;
    std::uint64_t emptyStatusPolls_ = 0;
    std::uint64_t pinWrites_ = 0, pinReads_ = 0;
    std::uint64_t setPinsFrames_ = 0, clockPinsFrames_ = 0, readPinsFrames_ = 0;
    std::uint64_t pinWritesTotal_ = 0, pinReadsTotal_ = 0;
    bool writeHadOtherTraffic_ = false;
    bool lastReplyWasPins_ = false;

    // Parser.
    Parse state_ = Parse::sync1;
    std::uint8_t code_ = 0;
    std::uint8_t lengthBytes_[2] = {};
    int lengthGot_ = 0;
    std::uint64_t payloadLeft_ = 0;
    std::uint64_t payloadDone_ = 0;
    std::vector<std::uint8_t> dropped_;
    std::uint64_t droppedTotal_ = 0;
    std::vector<std::string> lines_;  // frame lines of the call being handled

    // The upload being received.
    std::FILE* uploadFile_ = nullptr;
    std::string uploadName_;
    std::uint16_t uploadLength_ = 0;   // data length n, or program block count
    std::uint8_t prgHeader_[64] = {};
    std::uint64_t lastNonZero_ = 0;    // 1 + offset of the last nonzero payload byte
    std::uint8_t dataTrailer_ = 0;
    std::uint32_t firmwareCount_ = 0, prgCount_ = 0, dataCount_ = 0;
    std::vector<SavedUpload> uploads_;

    // JTAG.
    std::unique_ptr<JtagDevice> jtag_;
    RemoteBitbang remote_;
    bool remoteMode_ = false;
    std::uint8_t pins_ = 0;
    std::uint64_t risingEdges_ = 0;
    std::uint64_t irScans_ = 0, drScans_ = 0, idcodeReads_ = 0;

    // Atari side.
    HandOff atari_;
    std::vector<AtariTask> atariTasks_;
    std::string atariDir_;
    bool expectSectorReply_ = false;
    bool replyDone_ = false;
    bool replyOk_ = false;
    std::string replyError_;
    std::vector<std::uint8_t> replyData_;
    std::uint64_t replyStray_ = 0;
    std::uint32_t requests_ = 0;
    bool firstRequestSent_ = false;
    bool atariResult_ = false;
    bool runEnded_ = false;

    bool finished_ = false;
};
