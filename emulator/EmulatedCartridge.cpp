#include "EmulatedCartridge.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "CartridgeCommands.h"

namespace {

constexpr std::uint32_t FIRMWARE_BYTES = 16384;
constexpr std::uint32_t PRG_BLOCK = 8192;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000;
// Handles are tokens, never dereferenced; each open gets a new one so a
// handle kept after FT_Close is recognised as stale.
constexpr std::uintptr_t HANDLE_BASE = 0x7E510000;

const char* commandName(std::uint8_t code) {
    switch (code) {
        case cmdUploadFirmware: return "cmdUploadFirmware";
        case cmdUploadPrg: return "cmdUploadPrg";
        case cmdSetPins: return "cmdSetPins";
        case cmdReadPins: return "cmdReadPins";
        case cmdClockPins: return "cmdClockPins";
        case cmdPollReady: return "cmdPollReady";
        case cmdPrepareLoad: return "cmdPrepareLoad";
        case cmdUploadData: return "cmdUploadData";
        case cmdReadSector: return "cmdReadSector";
        case cmdEndTransfer: return "cmdEndTransfer";
        case cmdGetPower: return "cmdGetPower";
        default: return "unknown";
    }
}

std::string format(const char* fmt, ...) EMU_PRINTF(1, 2);
std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string statusName(FT_STATUS s) {
    switch (s) {
        case FT_OK: return "FT_OK";
        case FT_INVALID_HANDLE: return "FT_INVALID_HANDLE";
        case FT_DEVICE_NOT_FOUND: return "FT_DEVICE_NOT_FOUND";
        case FT_DEVICE_NOT_OPENED: return "FT_DEVICE_NOT_OPENED";
        case FT_IO_ERROR: return "FT_IO_ERROR";
        case FT_INVALID_PARAMETER: return "FT_INVALID_PARAMETER";
        default: return format("status %u", static_cast<unsigned>(s));
    }
}

std::string bitsHex(const std::vector<bool>& bits) {
    std::string hex = jtagBitsToHex(bits);
    if (hex.size() > 66) {
        hex = hex.substr(0, 66) + "...";
    }
    return hex;
}

}  // namespace

EmulatedCartridge::EmulatedCartridge(const EmulatorConfig& config, EmulatorLog& log)
    : config_(config), log_(log) {
    exitProcess = [](int status) { std::exit(status); };
    prgStallsLeft_ = config_.prgStalls;
    JtagDeviceConfig jc;
    if (config_.jtagIdcode != 0) {
        jc.idcode = config_.jtagIdcode | 1u;  // the standard's marker bit
    }
    if (config_.jtagIrLength != 0) {
        jc.irLength = config_.jtagIrLength;
    }
    jtag_ = std::make_unique<JtagDevice>(jc);
    atariDir_ = (std::filesystem::path(config_.outDir) / "atari").string();

    emit(format("Vexlo cartridge emulator: output folder %s", config_.outDir.c_str()));
    emit(format("settings: cartridge %s, power %s, cmdPollReady answered after %u unanswered polls with 0x%02x",
                config_.cartridgePresent ? "present" : "absent", config_.powered ? "on" : "off",
                config_.readyAfter, config_.readyByte));
    if (config_.jtag.rfind("remote:", 0) == 0) {
        remoteMode_ = true;
        std::string error;
        const std::string target = config_.jtag.substr(7);
        if (remote_.connectTo(target, error)) {
            emit("JTAG pins forwarded to the remote_bitbang server at " + target);
        } else {
            emit("JTAG: " + error + "; TDO reads as 0");
        }
    } else {
        emit(format("JTAG pins drive the device model: IR %u bits, IDCODE 0x%08x", jc.irLength,
                    static_cast<unsigned>(jc.idcode)));
    }
}

EmulatedCartridge::~EmulatedCartridge() {
    finishRun();
    if (uploadFile_ != nullptr) {
        std::fclose(uploadFile_);
    }
}

// ---------------------------------------------------------------- logging

void EmulatedCartridge::flushCounts() {
    if (emptyStatusPolls_ != 0) {
        const auto n = emptyStatusPolls_;
        emptyStatusPolls_ = 0;
        log_.line("FT_GetStatus polled %llu times with nothing queued", static_cast<unsigned long long>(n));
    }
    if (pinWrites_ != 0 || pinReads_ != 0) {
        collectScans();
        log_.line("JTAG pin traffic: %llu FT_Write, %llu FT_Read calls (%llu cmdSetPins, %llu cmdClockPins, "
                  "%llu cmdReadPins so far)",
                  static_cast<unsigned long long>(pinWrites_), static_cast<unsigned long long>(pinReads_),
                  static_cast<unsigned long long>(setPinsFrames_),
                  static_cast<unsigned long long>(clockPinsFrames_),
                  static_cast<unsigned long long>(readPinsFrames_));
        pinWrites_ = 0;
        pinReads_ = 0;
    }
}

void EmulatedCartridge::emit(const std::string& text) {
    flushCounts();
    log_.line("%s", text.c_str());
}

bool EmulatedCartridge::validHandle(FT_HANDLE handle, const char* fn) {
    if (isOpen_ && reinterpret_cast<std::uintptr_t>(handle) == handleValue_) {
        return true;
    }
    emit(format("%s on a handle that is not open -> FT_INVALID_HANDLE", fn));
    return false;
}

// ---------------------------------------------------------------- device

FT_STATUS EmulatedCartridge::open(int deviceNumber, FT_HANDLE* handle) {
    // The cartridge is identified by its description only.
    emit(format("FT_Open(device %d) -> FT_DEVICE_NOT_OPENED (open the cartridge by its description)",
                deviceNumber));
    if (handle != nullptr) {
        *handle = nullptr;
    }
    return FT_DEVICE_NOT_OPENED;
}

FT_STATUS EmulatedCartridge::openEx(void* arg1, DWORD flags, FT_HANDLE* handle) {
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
        emit(format("FT_OpenEx(%s, flags %u) -> %s: %s", shown.c_str(), static_cast<unsigned>(flags),
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
    emit(format("FT_OpenEx(%s, FT_OPEN_BY_DESCRIPTION) -> FT_OK, handle #%u", shown.c_str(), openCount_));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::listDevices(void* arg1, void* arg2, DWORD flags) {
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
    emit(format("FT_ListDevices(flags 0x%08x) -> %s", static_cast<unsigned>(flags), statusName(status).c_str()));
    return status;
}

FT_STATUS EmulatedCartridge::close(FT_HANDLE handle) {
    if (!validHandle(handle, "FT_Close")) {
        return FT_INVALID_HANDLE;
    }
    isOpen_ = false;
    syncFifo_ = false;
    emit(format("FT_Close(handle #%u) -> FT_OK", openCount_));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::resetDevice(FT_HANDLE handle) {
    if (!validHandle(handle, "FT_ResetDevice")) {
        return FT_INVALID_HANDLE;
    }
    emit("FT_ResetDevice -> FT_OK");
    return FT_OK;
}

FT_STATUS EmulatedCartridge::purge(FT_HANDLE handle, ULONG mask) {
    if (!validHandle(handle, "FT_Purge")) {
        return FT_INVALID_HANDLE;
    }
    std::string what;
    if ((mask & FT_PURGE_RX) != 0) {
        what += format(" receive buffer (%zu bytes dropped)", toHost_.size());
        toHost_.clear();
    }
    if ((mask & FT_PURGE_TX) != 0) {
        what += " transmit buffer";
    }
    emit(format("FT_Purge(mask %u):%s -> FT_OK", static_cast<unsigned>(mask), what.empty() ? " nothing" : what.c_str()));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    if (!validHandle(handle, "FT_SetTimeouts")) {
        return FT_INVALID_HANDLE;
    }
    readTimeout_ = readMs;
    writeTimeout_ = writeMs;
    emit(format("FT_SetTimeouts(read %u ms, write %u ms) -> FT_OK", static_cast<unsigned>(readMs),
                static_cast<unsigned>(writeMs)));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::getQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
    if (!validHandle(handle, "FT_GetQueueStatus")) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *rxBytes = static_cast<DWORD>(toHost_.size());
    emit(format("FT_GetQueueStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes)));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setBaudRate(FT_HANDLE handle, ULONG baud) {
    if (!validHandle(handle, "FT_SetBaudRate")) {
        return FT_INVALID_HANDLE;
    }
    emit(format("FT_SetBaudRate(%u) -> FT_OK (no meaning in FIFO mode)", static_cast<unsigned>(baud)));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                    UCHAR parity) {
    if (!validHandle(handle, "FT_SetDataCharacteristics")) {
        return FT_INVALID_HANDLE;
    }
    emit(format("FT_SetDataCharacteristics(%u, %u, %u) -> FT_OK", wordLength, stopBits, parity));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    if (!validHandle(handle, "FT_SetFlowControl")) {
        return FT_INVALID_HANDLE;
    }
    emit(format("FT_SetFlowControl(0x%04x, 0x%02x, 0x%02x) -> FT_OK", flowControl, xon, xoff));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    if (!validHandle(handle, "FT_SetUSBParameters")) {
        return FT_INVALID_HANDLE;
    }
    inSize_ = inSize;
    outSize_ = outSize;
    emit(format("FT_SetUSBParameters(in %u, out %u) -> FT_OK", static_cast<unsigned>(inSize),
                static_cast<unsigned>(outSize)));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    if (!validHandle(handle, "FT_SetLatencyTimer")) {
        return FT_INVALID_HANDLE;
    }
    latency_ = ms;
    emit(format("FT_SetLatencyTimer(%u ms) -> FT_OK", ms));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::setBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode) {
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
    emit(format("FT_SetBitMode(mask 0x%02x, mode 0x%02x) -> FT_OK, %s", mask, mode, effect.c_str()));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::reload(WORD vid, WORD pid) {
    emit(format("FT_Reload(0x%04x, 0x%04x) -> FT_OK", vid, pid));
    return FT_OK;
}

FT_STATUS EmulatedCartridge::getStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventStatus) {
    if (!validHandle(handle, "FT_GetStatus")) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr || txBytes == nullptr || eventStatus == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (config_.atariEnabled && toHost_.empty() && !runEnded_) {
        atariStep();
    }
    *rxBytes = static_cast<DWORD>(toHost_.size());
    *txBytes = 0;
    *eventStatus = 0;
    if (*rxBytes == 0 && !config_.logEveryCall) {
        // The drive image server polls flat out: count, do not log each.
        ++emptyStatusPolls_;
    } else {
        emit(format("FT_GetStatus -> %u bytes queued", static_cast<unsigned>(*rxBytes)));
    }
    return FT_OK;
}

// ---------------------------------------------------------------- reads and writes

FT_STATUS EmulatedCartridge::read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* got) {
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
        ++pinReads_;
        ++pinReadsTotal_;
    } else if (n < count) {
        emit(format("FT_Read %u bytes -> FT_OK, %u read%s%s", static_cast<unsigned>(count),
                    static_cast<unsigned>(n), n != 0 ? ": " : "",
                    n != 0 ? hexBytes(out, n).c_str() : " (nothing to answer: the read times out)"));
    } else {
        emit(format("FT_Read %u bytes -> FT_OK: %s", static_cast<unsigned>(count), hexBytes(out, n).c_str()));
    }
    if (n < count && config_.readTimeoutMs != 0) {
        emulatorSleepMs(config_.readTimeoutMs);
    }
    return FT_OK;
}

bool EmulatedCartridge::inProgramStream() const {
    return state_ == Parse::payload && code_ == cmdUploadPrg && payloadLeft_ != 0;
}

FT_STATUS EmulatedCartridge::write(FT_HANDLE handle, const void* buffer, DWORD count, DWORD* written) {
    if (written != nullptr) {
        *written = 0;
    }
    if (!validHandle(handle, "FT_Write")) {
        return FT_INVALID_HANDLE;
    }
    if (written == nullptr || (buffer == nullptr && count != 0)) {
        return FT_INVALID_PARAMETER;
    }
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    const std::uint32_t number = ++writes_;
    if (config_.failWrites.count(number) != 0) {
        emit(format("w%u FT_Write %u bytes: %s -> FT_IO_ERROR, 0 written (write_fail)", number,
                    static_cast<unsigned>(count), hexBytes(data, count).c_str()));
        return FT_IO_ERROR;
    }
    if (prgStallsLeft_ != 0 && inProgramStream()) {
        --prgStallsLeft_;
        emit(format("w%u FT_Write %u bytes of the program stream -> FT_OK, 0 written (prg_stall: the link "
                    "stalls, %u stalls left)",
                    number, static_cast<unsigned>(count), prgStallsLeft_));
        return FT_OK;
    }
    DWORD accepted = count;
    const bool shortWrite = config_.shortWrites.count(number) != 0 && count != 0;
    if (shortWrite) {
        accepted = count - 1;
    }
    *written = accepted;
    if (!syncFifo_) {
        emit(format("w%u FT_Write %u bytes: %s -> FT_OK, %u written; ignored: the cartridge is not in "
                    "synchronous FIFO mode",
                    number, static_cast<unsigned>(count), hexBytes(data, count).c_str(),
                    static_cast<unsigned>(accepted)));
        return FT_OK;
    }
    writeHadOtherTraffic_ = false;
    lines_.clear();
    feed(data, accepted);
    flushDropped();
    collectScans();
    if (!writeHadOtherTraffic_ && lines_.empty() && !config_.logEveryCall && !shortWrite) {
        ++pinWrites_;
        ++pinWritesTotal_;
        return FT_OK;
    }
    emit(format("w%u FT_Write %u bytes: %s -> FT_OK, %u written%s", number, static_cast<unsigned>(count),
                hexBytes(data, count).c_str(), static_cast<unsigned>(accepted),
                shortWrite ? " (write_short: the last byte is lost)" : ""));
    for (const auto& line : lines_) {
        log_.line("  %s", line.c_str());
    }
    lines_.clear();
    return FT_OK;
}

// ---------------------------------------------------------------- the command parser

void EmulatedCartridge::feed(const std::uint8_t* data, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        switch (state_) {
            case Parse::sync1:
                // Whole pin records, the bulk of an FPGA update, go straight through.
                if (count - i >= 4 && data[i] == SYNC1 && data[i + 1] == SYNC2 &&
                    (data[i + 2] == cmdClockPins || data[i + 2] == cmdSetPins)) {
                    flushDropped();
                    if (data[i + 2] == cmdClockPins) {
                        ++clockPinsFrames_;
                        pinsClock(data[i + 3]);
                    } else {
                        ++setPinsFrames_;
                        pinsSet(data[i + 3]);
                    }
                    i += 4;
                    continue;
                }
                if (data[i] == SYNC1) {
                    state_ = Parse::sync2;
                } else {
                    dropByte(data[i]);
                }
                ++i;
                break;
            case Parse::sync2:
                if (data[i] == SYNC2) {
                    state_ = Parse::code;
                } else {
                    dropByte(SYNC1);
                    dropByte(data[i]);
                    state_ = Parse::sync1;
                }
                ++i;
                break;
            case Parse::code:
                flushDropped();
                startFrame(data[i++]);
                break;
            case Parse::length:
                lengthBytes_[lengthGot_++] = data[i++];
                if (lengthGot_ == 2) {
                    lengthComplete();
                }
                break;
            case Parse::payload: {
                std::size_t n = count - i;
                if (n > payloadLeft_) {
                    n = static_cast<std::size_t>(payloadLeft_);
                }
                payloadBytes(data + i, n);
                i += n;
                payloadLeft_ -= n;
                payloadDone_ += n;
                if (payloadLeft_ == 0) {
                    frameComplete();
                }
                break;
            }
        }
    }
}

void EmulatedCartridge::dropByte(std::uint8_t b) {
    if (dropped_.size() < 64) {
        dropped_.push_back(b);
    }
    ++droppedTotal_;
    writeHadOtherTraffic_ = true;
}

void EmulatedCartridge::flushDropped() {
    if (droppedTotal_ == 0) {
        return;
    }
    lines_.push_back(format("%llu bytes outside any frame dropped: %s",
                            static_cast<unsigned long long>(droppedTotal_),
                            hexBytes(dropped_.data(), dropped_.size()).c_str()));
    if (expectSectorReply_) {
        replyStray_ += droppedTotal_;
    }
    dropped_.clear();
    droppedTotal_ = 0;
}

void EmulatedCartridge::resetParser(const char* why) {
    if (state_ != Parse::sync1) {
        emit(format("partial %s frame abandoned (%s)", commandName(code_), why));
    }
    endUpload();
    state_ = Parse::sync1;
}

void EmulatedCartridge::startFrame(std::uint8_t code) {
    code_ = code;
    state_ = Parse::sync1;
    payloadDone_ = 0;
    lengthGot_ = 0;
    if (code != cmdSetPins && code != cmdClockPins && code != cmdReadPins) {
        writeHadOtherTraffic_ = true;
    }
    if (expectSectorReply_ && replyDone_) {
        // The reply is exactly m + 14 bytes; a further frame spoils it.
        if (replyOk_) {
            replyOk_ = false;
            replyError_ = format("command %u (%s) after the sector reply", code, commandName(code));
        }
    } else if (expectSectorReply_ && code != cmdUploadData) {
        replyDone_ = true;
        replyOk_ = false;
        replyError_ = format("command %u (%s) arrived instead of the sector reply", code, commandName(code));
    }
    switch (code) {
        case cmdUploadFirmware:
            beginUpload("firmware", false, FIRMWARE_BYTES);
            lines_.push_back("cmdUploadFirmware: receiving 16384 bytes of 68k firmware");
            state_ = Parse::payload;
            payloadLeft_ = FIRMWARE_BYTES;
            break;
        case cmdUploadPrg:
            lines_.push_back("cmdUploadPrg: a program upload starts; its block count follows");
            state_ = Parse::length;
            break;
        case cmdUploadData:
            if (!expectSectorReply_) {
                lines_.push_back("cmdUploadData: a data upload starts; its length follows");
            }
            state_ = Parse::length;
            break;
        case cmdSetPins:
        case cmdClockPins:
            state_ = Parse::payload;
            payloadLeft_ = 1;
            break;
        case cmdReadPins:
            ++readPinsFrames_;
            reply(static_cast<std::uint8_t>((readTdo() ? PIN_TDO : 0) | (pins_ & (PIN_TDI | PIN_TCK | PIN_TMS))),
                  "cmdReadPins", true);
            break;
        case cmdPollReady: {
            ++polls_;
            if (polls_ <= config_.readyAfter) {
                lines_.push_back(format("cmdPollReady #%u: not ready yet, no answer (ready_after=%u)", polls_,
                                        config_.readyAfter));
            } else {
                reply(config_.readyByte, format("cmdPollReady #%u: ready", polls_).c_str(), false);
            }
            break;
        }
        case cmdPrepareLoad:
            lines_.push_back("cmdPrepareLoad: the cartridge gets ready for a program upload");
            break;
        case cmdGetPower:
            if (config_.powered) {
                reply(config_.powerByte, "cmdGetPower: powered", false);
            } else {
                reply(0, "cmdGetPower: switched off", false);
            }
            break;
        case cmdEndTransfer:
            lines_.push_back("cmdEndTransfer outside a sector reply: ignored");
            break;
        case cmdReadSector:
            lines_.push_back("cmdReadSector from the host: only the cartridge sends it; ignored");
            break;
        default:
            lines_.push_back(format("unknown command %u: ignored, looking for the next frame", code));
            break;
    }
}

void EmulatedCartridge::lengthComplete() {
    const std::uint16_t value = static_cast<std::uint16_t>(lengthBytes_[0] | (lengthBytes_[1] << 8));
    uploadLength_ = value;
    state_ = Parse::payload;
    if (code_ == cmdUploadPrg) {
        const std::uint64_t stream = (static_cast<std::uint64_t>(value) + 1) * PRG_BLOCK;
        std::memset(prgHeader_, 0, sizeof prgHeader_);
        lines_.push_back(format("cmdUploadPrg: block count %u, receiving %llu bytes (64-byte header, %llu bytes "
                                "of program area, 8128 zero bytes)",
                                value, static_cast<unsigned long long>(stream),
                                static_cast<unsigned long long>(static_cast<std::uint64_t>(value) * PRG_BLOCK)));
        beginUpload("prg", true, stream);
        payloadLeft_ = stream;
    } else if (expectSectorReply_) {
        // A sector reply: the data, two cmdEndTransfer headers, three pad bytes.
        replyData_.clear();
        replyData_.reserve(value);
        payloadLeft_ = static_cast<std::uint64_t>(value) + 9;
    } else {
        lines_.push_back(format("cmdUploadData: length %u, receiving %u bytes (the data and one byte behind it)",
                                value, value + 1u));
        beginUpload("data", false, value);
        payloadLeft_ = static_cast<std::uint64_t>(value) + 1;
    }
}

void EmulatedCartridge::payloadBytes(const std::uint8_t* data, std::size_t count) {
    if (count == 0) {
        return;
    }
    switch (code_) {
        case cmdSetPins:
            ++setPinsFrames_;
            pinsSet(data[0]);
            return;
        case cmdClockPins:
            ++clockPinsFrames_;
            pinsClock(data[0]);
            return;
        case cmdUploadData:
            if (expectSectorReply_) {
                for (std::size_t k = 0; k < count; ++k) {
                    replyData_.push_back(data[k]);
                }
                return;
            }
            {
                // The n data bytes are saved; the byte behind them only logged.
                std::size_t keep = count;
                if (payloadLeft_ == count) {
                    dataTrailer_ = data[count - 1];
                    --keep;
                }
                if (uploadFile_ != nullptr && keep != 0) {
                    std::fwrite(data, 1, keep, uploadFile_);
                }
            }
            return;
        case cmdUploadPrg:
            for (std::size_t k = 0; k < count && payloadDone_ + k < sizeof prgHeader_; ++k) {
                prgHeader_[payloadDone_ + k] = data[k];
            }
            break;
        default:
            break;
    }
    for (std::size_t k = count; k > 0; --k) {
        if (data[k - 1] != 0) {
            lastNonZero_ = payloadDone_ + k;
            break;
        }
    }
    if (uploadFile_ != nullptr) {
        std::fwrite(data, 1, count, uploadFile_);
    }
}

void EmulatedCartridge::frameComplete() {
    state_ = Parse::sync1;
    switch (code_) {
        case cmdUploadFirmware:
            lines_.push_back(format("cmdUploadFirmware complete: 16384 bytes saved as %s", uploadName_.c_str()));
            uploads_.back().complete = true;
            endUpload();
            break;
        case cmdUploadPrg: {
            const std::uint64_t area = static_cast<std::uint64_t>(uploadLength_) * PRG_BLOCK;
            std::size_t textLength = 0;
            while (textLength < 64 && prgHeader_[textLength] != 0) {
                ++textLength;
            }
            std::string program;
            if (lastNonZero_ <= 64) {
                program = "the program area is all zero";
            } else if (lastNonZero_ > 64 + area) {
                program = format("nonzero bytes in the 8128-byte tail, up to offset %llu",
                                 static_cast<unsigned long long>(lastNonZero_ - 1));
            } else {
                program = format("program bytes up to the last nonzero one: %llu",
                                 static_cast<unsigned long long>(lastNonZero_ - 64));
            }
            lines_.push_back(format("cmdUploadPrg complete: command string \"%s\", %u blocks of program area, %s; "
                                    "saved as %s (the program starts at offset 64)",
                                    printable(prgHeader_, textLength).c_str(), uploadLength_, program.c_str(),
                                    uploadName_.c_str()));
            uploads_.back().complete = true;
            endUpload();
            break;
        }
        case cmdUploadData:
            if (expectSectorReply_) {
                const std::size_t m = replyData_.size() >= 9 ? replyData_.size() - 9 : 0;
                const std::uint8_t* tail = replyData_.data() + m;
                static const std::uint8_t markers[6] = {SYNC1, SYNC2, cmdEndTransfer, SYNC1, SYNC2, cmdEndTransfer};
                if (replyDone_) {
                    // A second reply: the first one's verdict stands.
                } else if (replyStray_ != 0) {
                    replyDone_ = true;
                    replyOk_ = false;
                    replyError_ = format("%llu stray bytes before the reply",
                                         static_cast<unsigned long long>(replyStray_));
                } else {
                    replyDone_ = true;
                    replyOk_ = std::memcmp(tail, markers, 6) == 0;
                    if (!replyOk_) {
                        replyError_ = "end markers wrong: " + hexBytes(tail, 6) + " instead of 53 59 0b 53 59 0b";
                    }
                }
                lines_.push_back(format("sector reply: %zu data bytes, end markers %s, pad bytes %s (%zu bytes in all)",
                                        m, std::memcmp(tail, markers, 6) == 0 ? "ok" : "WRONG",
                                        hexBytes(tail + 6, 3).c_str(), m + 14));
                replyData_.resize(m);
                break;
            }
            lines_.push_back(format("cmdUploadData complete: %u bytes saved as %s; the byte behind them is 0x%02x",
                                    uploadLength_, uploadName_.c_str(), dataTrailer_));
            uploads_.back().complete = true;
            endUpload();
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- uploads

void EmulatedCartridge::beginUpload(const char* baseName, bool numberAlways, std::uint64_t payload) {
    endUpload();
    std::uint32_t& counter = std::strcmp(baseName, "firmware") == 0 ? firmwareCount_
                             : std::strcmp(baseName, "prg") == 0     ? prgCount_
                                                                     : dataCount_;
    ++counter;
    uploadName_ = (numberAlways || counter > 1) ? format("%s-%u.bin", baseName, counter) : format("%s.bin", baseName);
    lastNonZero_ = 0;
    std::error_code ec;
    std::filesystem::create_directories(config_.outDir, ec);
    const std::string path = (std::filesystem::path(config_.outDir) / uploadName_).string();
    uploadFile_ = std::fopen(path.c_str(), "wb");
    if (uploadFile_ == nullptr) {
        lines_.push_back("cannot create " + path + ": the upload is received but not saved");
    }
    SavedUpload saved;
    saved.command = code_;
    saved.fileName = uploadName_;
    saved.bytes = payload;
    uploads_.push_back(saved);
}

void EmulatedCartridge::endUpload() {
    if (uploadFile_ != nullptr) {
        std::fclose(uploadFile_);
        uploadFile_ = nullptr;
    }
}

// ---------------------------------------------------------------- replies

void EmulatedCartridge::reply(std::uint8_t value, const char* what, bool pinTraffic) {
    const std::uint32_t number = ++replies_;
    if (config_.dropReplies.count(number) != 0) {
        lines_.push_back(format("%s: reply %u (0x%02x) not sent (drop_reply)", what, number, value));
        writeHadOtherTraffic_ = true;
        return;
    }
    toHost_.push_back(value);
    lastReplyWasPins_ = pinTraffic;
    if (!pinTraffic || config_.logEveryCall) {
        lines_.push_back(format("%s: reply %u is 0x%02x", what, number, value));
    }
}

// ---------------------------------------------------------------- JTAG

void EmulatedCartridge::pinsSet(std::uint8_t pins) {
    const bool tck = (pins & PIN_TCK) != 0;
    if (tck && (pins_ & PIN_TCK) == 0) {
        ++risingEdges_;
    }
    pins_ = pins & (PIN_TDI | PIN_TCK | PIN_TMS);
    if (remoteMode_) {
        remote_.setPins(tck, (pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
    } else {
        jtag_->setPins(tck, (pins & PIN_TMS) != 0, (pins & PIN_TDI) != 0);
    }
}

void EmulatedCartridge::pinsClock(std::uint8_t pins) {
    const bool tms = (pins & PIN_TMS) != 0;
    const bool tdi = (pins & PIN_TDI) != 0;
    ++risingEdges_;
    pins_ = static_cast<std::uint8_t>((pins & (PIN_TDI | PIN_TMS)) | PIN_TCK);
    if (remoteMode_) {
        remote_.setPins(false, tms, tdi);
        remote_.setPins(true, tms, tdi);
    } else {
        jtag_->clockCycle(tms, tdi);
    }
}

bool EmulatedCartridge::readTdo() {
    if (remoteMode_) {
        return remote_.connected() && remote_.readTdo();
    }
    return jtag_->tdo();
}

void EmulatedCartridge::collectScans() {
    if (remoteMode_) {
        return;
    }
    const auto& scans = jtag_->scans();
    if (scans.empty()) {
        return;
    }
    const int state = jtag_->state();
    // The model marks a scan updated on the falling edge in Update-xR, so a
    // scan is still open up to and including that state.
    const bool lastOpen = !scans.back().updated &&
                          ((scans.back().ir && state >= JTAG_IRCAPTURE && state <= JTAG_IRUPDATE) ||
                           (!scans.back().ir && state >= JTAG_DRCAPTURE && state <= JTAG_DRUPDATE));
    const std::size_t done = lastOpen ? scans.size() - 1 : scans.size();
    for (std::size_t k = 0; k < done; ++k) {
        const JtagScan& s = scans[k];
        if (s.ir) {
            ++irScans_;
        } else {
            ++drScans_;
        }
        const bool idcode = !s.ir && s.instruction == jtag_->config().idcodeInstruction && s.tdo.size() >= 32;
        if (idcode) {
            ++idcodeReads_;
            std::vector<bool> first(s.tdo.begin(), s.tdo.begin() + 32);
            log_.line("JTAG IDCODE read: 0x%08llx", static_cast<unsigned long long>(jtagBitsToValue(first)));
        }
        {
            log_.line("JTAG %s scan, %zu bits%s: in %s, out %s", s.ir ? "IR" : "DR", s.tdi.size(),
                      s.updated ? "" : " (left without Update)", bitsHex(s.tdi).c_str(), bitsHex(s.tdo).c_str());
        }
    }
    if (done != 0) {
        jtag_->clearHistory();
    }
}

// ---------------------------------------------------------------- summary

void EmulatedCartridge::finishRun() {
    if (finished_) {
        return;
    }
    finished_ = true;
    flushCounts();
    collectScans();
    if (state_ != Parse::sync1) {
        emit(format("at the end a %s frame was still incomplete", commandName(code_)));
    }
    endUpload();
    if (remoteMode_) {
        remote_.quit();
    }
    std::vector<std::string> summary;
    summary.push_back(format("opened %u times, %u writes, %u replies", openCount_, writes_, replies_));
    for (const auto& u : uploads_) {
        summary.push_back(format("%s: %s, %llu bytes%s", commandName(u.command), u.fileName.c_str(),
                                 static_cast<unsigned long long>(u.bytes), u.complete ? "" : " (INCOMPLETE)"));
    }
    if (risingEdges_ != 0) {
        summary.push_back(format("JTAG: %llu TCK cycles, %llu IR scans, %llu DR scans, %llu IDCODE reads, "
                                 "%llu cmdSetPins, %llu cmdClockPins, %llu cmdReadPins",
                                 static_cast<unsigned long long>(risingEdges_),
                                 static_cast<unsigned long long>(irScans_), static_cast<unsigned long long>(drScans_),
                                 static_cast<unsigned long long>(idcodeReads_),
                                 static_cast<unsigned long long>(setPinsFrames_),
                                 static_cast<unsigned long long>(clockPinsFrames_),
                                 static_cast<unsigned long long>(readPinsFrames_)));
    }
    if (requests_ != 0 || config_.atariEnabled) {
        summary.push_back(format("Atari: %u sector requests, script %s", requests_,
                                 !atari_.started() ? "not run" : (atariResult_ ? "succeeded" : "FAILED")));
    }
    log_.line("Summary:");
    for (const auto& s : summary) {
        log_.line("  %s", s.c_str());
    }
    log_.flush();
    if (openCount_ != 0 || !uploads_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(config_.outDir, ec);
        const std::string path = (std::filesystem::path(config_.outDir) / "summary.txt").string();
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            for (const auto& s : summary) {
                std::fprintf(f, "%s\n", s.c_str());
            }
            std::fclose(f);
        }
    }
}
