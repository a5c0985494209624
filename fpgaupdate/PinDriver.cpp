#include "PinDriver.h"

#include <cstdlib>

#include "CartridgeCommands.h"
#include "Console.h"
#include "platform/Platform.h"

std::uint8_t pinShadow = 0;
CartridgeLink* linkPtr = nullptr;
void* (*blockBufferAllocate)(std::size_t bytes) = std::malloc;

namespace {

constexpr int WAIT_RECORDS = 32;

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
    linkPtr->Write(buffer, static_cast<DWORD>(out - buffer), &written);
    std::free(buffer);
}

}  // namespace

void writePins(std::uint8_t pins) {
    pinShadow = pins;
    if (!linkPtr->WriteHeader(cmdSetPins)) {
        consolePrintf("no write !!!!!!!!!!!!!!!!!!!\n");
        return;
    }
    DWORD written = 0;
    linkPtr->Write(&pins, 1, &written);
}

std::uint8_t readPins() {
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
            if (captured != nullptr && (readPins() & PIN_TDO) != 0) {
                tdoByte = static_cast<std::uint8_t>(tdoByte | (1u << j));
            }
            writePins(withPin(pinShadow, PIN_TCK, true));
        }
        if (captured != nullptr) {
            captured->bytes[i] = tdoByte;
        }
    }
}

void waitMicroseconds(std::int32_t microseconds) {
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
