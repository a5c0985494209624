#include "PinDriver.h"

#include <cstdlib>
#include <cstring>

#include "CartridgeCommands.h"
#include "Console.h"
#include "platform/Platform.h"

std::uint8_t pinShadow = 0;
CartridgeLink* linkPtr = nullptr;
void* (*blockBufferAllocate)(std::size_t bytes) = std::malloc;

namespace {

constexpr int WAIT_RECORDS = 32;

// Batched mode's state: the queued commands, and the TDO replies that the
// queued cmdReadPins will bring. Static: nothing is allocated per bit.
bool batching = false;
bool linkLost = false;
std::uint8_t batch[BATCH_BUFFER_BYTES];
std::size_t batchUsed = 0;
// Replies of the present capture shift, one byte per bit, in bit order.
std::uint8_t replies[8 * MAX_LEN];
std::size_t repliesStored = 0;
std::size_t repliesQueued = 0;

// A failed or short write leaves the cartridge in a state nobody knows:
// say so and send nothing more.
bool checkBatchWrite(CallResult result, DWORD written, DWORD count) {
    if (result.ok() && written == count) {
        return true;
    }
    linkLost = true;
    batchUsed = 0;
    repliesQueued = 0;
    consoleFprintf(stderr,
                   "VexloFPGAUpdate: a batched write to the cartridge failed (%s, %lu of %lu bytes taken); the "
                   "update stopped and the cartridge's JTAG state is unknown. Run it again.\n",
                   !result.called ? "FT_Write not bound" : result.status != FT_OK ? "driver error" : "short write",
                   static_cast<unsigned long>(written), static_cast<unsigned long>(count));
    return false;
}

// One write of everything queued, then one read of the replies it asks for.
void sendQueued() {
    if (batchUsed == 0 || linkLost) {
        return;
    }
    DWORD written = 0;
    const CallResult result = linkPtr->Write(batch, static_cast<DWORD>(batchUsed), &written);
    if (!checkBatchWrite(result, written, static_cast<DWORD>(batchUsed))) {
        return;
    }
    batchUsed = 0;
    if (repliesQueued == 0) {
        return;
    }
    // A reply that does not come reads as 0, as in single transfers.
    std::uint8_t* into = replies + repliesStored;
    std::memset(into, 0, repliesQueued);
    DWORD got = 0;
    linkPtr->Read(into, static_cast<DWORD>(repliesQueued), &got);
    repliesStored += repliesQueued;
    repliesQueued = 0;
}

inline void queueBytes(const std::uint8_t* bytes, std::size_t count) {
    if (linkLost) {
        return;
    }
    if (batchUsed + count > BATCH_BUFFER_BYTES) {
        sendQueued();
        if (linkLost) {
            return;
        }
    }
    std::memcpy(batch + batchUsed, bytes, count);
    batchUsed += count;
}

inline void queueRecord(std::uint8_t code, std::uint8_t pins) {
    const std::uint8_t record[4] = {SYNC1, SYNC2, code, pins};
    queueBytes(record, sizeof record);
}

// Queues a cmdReadPins whose reply sendQueued reads with the others.
inline void queueReadPins() {
    const std::uint8_t header[3] = {SYNC1, SYNC2, cmdReadPins};
    queueBytes(header, sizeof header);
    if (!linkLost) {
        ++repliesQueued;
    }
}

inline std::uint8_t withPin(std::uint8_t pins, std::uint8_t pin, bool high) {
    return high ? static_cast<std::uint8_t>(pins | pin) : static_cast<std::uint8_t>(pins & ~pin);
}

inline std::uint8_t* appendRecord(std::uint8_t* out, std::uint8_t code, std::uint8_t pins) {
    out[0] = SYNC1;
    out[1] = SYNC2;
    out[2] = code;
    out[3] = pins;
    return out + 4;
}

// The whole shift as clock records in one write. The cartridge gives the
// clocks itself, so no TDO can be read back in this mode.
void shiftBlock(const ShiftValue& tdi, bool exitOnLast) {
    if (batching) {
        sendQueued();
        if (linkLost) {
            return;
        }
    }
    auto* buffer = static_cast<std::uint8_t*>(blockBufferAllocate(BLOCK_BUFFER_BYTES));
    if (buffer == nullptr) {
        consolePrintf("Out of memory: JTAG block of %ld bits not sent.\n", static_cast<long>(BLOCK_SHIFT_BITS));
        return;
    }
    std::uint8_t* out = buffer;
    std::uint8_t pins = pinShadow;
    std::int32_t k = 0;
    for (int i = tdi.length - 1; i >= 0 && k < BLOCK_SHIFT_BITS; --i) {
        const std::uint8_t tdiByte = tdi.bytes[i];
        for (int j = 0; j < 8 && k < BLOCK_SHIFT_BITS; ++j, ++k) {
            if (k == BLOCK_SHIFT_BITS - 1 && exitOnLast) {
                pins = withPin(pins, PIN_TMS, true);
                out = appendRecord(out, cmdSetPins, pins);
            }
            pins = withPin(pins, PIN_TDI, (tdiByte >> j) & 1);
            pinShadow = pins;
            out = appendRecord(out, cmdClockPins, pins);
        }
    }
    DWORD written = 0;
    const auto count = static_cast<DWORD>(out - buffer);
    const CallResult result = linkPtr->Write(buffer, count, &written);
    if (batching) {
        checkBatchWrite(result, written, count);
    }
    std::free(buffer);
}

// Bit k of the shift's TDO is replies[k]; the bytes the shift reached get
// their bits, as single transfers store them.
void storeReplies(std::int32_t bitCount, std::int16_t length, ShiftValue& captured) {
    std::int32_t k = 0;
    for (int i = length - 1; i >= 0 && k < bitCount; --i) {
        std::uint8_t tdoByte = 0;
        for (int j = 0; j < 8 && k < bitCount; ++j, ++k) {
            if ((replies[k] & PIN_TDO) != 0) {
                tdoByte = static_cast<std::uint8_t>(tdoByte | (1u << j));
            }
        }
        captured.bytes[i] = tdoByte;
    }
}

}  // namespace

void setPinBatching(bool on) {
    batching = on;
    linkLost = false;
    batchUsed = 0;
    repliesStored = 0;
    repliesQueued = 0;
}

bool pinBatching() { return batching; }

void flushPins() { sendQueued(); }

bool pinLinkLost() { return linkLost; }

void writePins(std::uint8_t pins) {
    pinShadow = pins;
    if (batching) {
        queueRecord(cmdSetPins, pins);
        return;
    }
    if (!linkPtr->WriteHeader(cmdSetPins)) {
        consolePrintf("no write !!!!!!!!!!!!!!!!!!!\n");
        return;
    }
    DWORD written = 0;
    linkPtr->Write(&pins, 1, &written);
}

std::uint8_t readPins() {
    if (batching) {
        queueReadPins();
        repliesStored = 0;
        sendQueued();
        return repliesStored == 1 ? replies[0] : 0;
    }
    std::uint8_t answer = 0;
    if (!linkPtr->WriteHeader(cmdReadPins)) {
        return 0;
    }
    DWORD got = 0;
    linkPtr->Read(&answer, 1, &got);
    return answer;
}

void clockTms(std::int16_t tms) {
    writePins(withPin(pinShadow, PIN_TMS, tms != 0));
    writePins(withPin(pinShadow, PIN_TCK, false));
    writePins(withPin(pinShadow, PIN_TCK, true));
}

void shiftBits(std::int32_t bitCount, const ShiftValue& tdi, ShiftValue* captured, bool exitOnLast) {
    if (captured != nullptr) {
        captured->length = tdi.length;
    }
    // A count the vector cannot hold would read past its bytes.
    if (bitCount <= 0 || bitCount > 8 * static_cast<std::int32_t>(tdi.length)) {
        return;
    }
    if (bitCount == BLOCK_SHIFT_BITS) {
        shiftBlock(tdi, exitOnLast);
        return;
    }
    // Batched, the replies are read together once the shift is queued.
    const bool queueReplies = batching && captured != nullptr;
    if (queueReplies) {
        repliesStored = 0;
    }
    std::int32_t k = 0;
    for (int i = tdi.length - 1; i >= 0 && k < bitCount; --i) {
        const std::uint8_t tdiByte = tdi.bytes[i];
        std::uint8_t tdoByte = 0;
        for (int j = 0; j < 8 && k < bitCount; ++j, ++k) {
            if (k == bitCount - 1 && exitOnLast) {
                writePins(withPin(pinShadow, PIN_TMS, true));
            }
            writePins(withPin(pinShadow, PIN_TDI, (tdiByte >> j) & 1));
            writePins(withPin(pinShadow, PIN_TCK, false));
            if (queueReplies) {
                queueReadPins();
            } else if (captured != nullptr && (readPins() & PIN_TDO) != 0) {
                tdoByte = static_cast<std::uint8_t>(tdoByte | (1u << j));
            }
            writePins(withPin(pinShadow, PIN_TCK, true));
        }
        if (captured != nullptr && !queueReplies) {
            captured->bytes[i] = tdoByte;
        }
    }
    if (queueReplies) {
        sendQueued();
        if (repliesStored < static_cast<std::size_t>(bitCount)) {
            // The link was lost on the way: what did not come reads as 0.
            std::memset(replies + repliesStored, 0, static_cast<std::size_t>(bitCount) - repliesStored);
        }
        storeReplies(bitCount, tdi.length, *captured);
    }
}

void waitMicroseconds(std::int32_t microseconds) {
    if (batching) {
        // The deadline counts from when the queued commands have gone out.
        sendQueued();
        if (linkLost) {
            return;
        }
    }
    const bool longWait = microseconds >= LONG_WAIT_US;
    // 64-bit: three times a very negative time does not fit 32 bits.
    const std::int64_t scaled = longWait ? std::int64_t{microseconds} : 3 * std::int64_t{microseconds};
    std::int64_t nextDot = platform::clockMs() + 1000;
    const std::int64_t deadline = platform::clockMs() + 16 + scaled / 1000;

    PinRecord records[WAIT_RECORDS];
    for (PinRecord& record : records) {
        record = PinRecord{SYNC1, SYNC2, cmdClockPins, pinShadow};
    }
    do {
        DWORD written = 0;
        linkPtr->Write(records, sizeof records, &written);
        if (longWait && platform::clockMs() > nextDot) {
            consolePrintf(".");
            consoleFlush();
            nextDot = platform::clockMs() + 1000;
        }
    } while (deadline > platform::clockMs());
    if (longWait) {
        consolePrintf("\rDone.                      \n");
    }
}
