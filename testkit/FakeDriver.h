// The driver fake set up to record every call, a fake clock and a console
// capture: the seam through which unit tests watch every byte on the link.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CartridgeLink.h"
#include "FakeD2xx.h"

// "FT_Write", "FT_Read", ..., "sleep" (args[0] = ms) or "pause".
using FakeCall = fake_d2xx::Call;

struct FakeDriver {
    std::vector<FakeCall> calls;
    // Bytes the cartridge sends; FT_Read takes from the front, FT_GetStatus counts them.
    std::deque<std::uint8_t> rx;

    // Optional overrides. When set they decide the result and the count;
    // the call is recorded either way (a write records the bytes it was given).
    std::function<FT_STATUS(const std::uint8_t* data, DWORD count, DWORD* written)> onWrite;
    std::function<FT_STATUS(std::uint8_t* data, DWORD count, DWORD* got)> onRead;
    std::function<FT_STATUS(DWORD* rxBytes)> onGetStatus;

    FT_STATUS openStatus = FT_OK;
    int opens = 0;  // FT_OpenEx hands out handle (opens + 1) each time

    // Fake clock: every reading advances it by clockStepMs; sleeps add their length.
    std::int64_t nowMs = 0;
    std::int64_t clockStepMs = 1;

    // Fresh state, and the shared fake recording into `calls` with this
    // record's hooks.
    void reset();
    // Every byte that FT_Write was given, in order.
    std::vector<std::uint8_t> written() const;
    // The names of the calls, in order.
    std::vector<std::string> sequence() const;
    // The calls of one function only.
    std::vector<FakeCall> callsOf(const std::string& fn) const;
    void queueRx(const std::vector<std::uint8_t>& bytes);
};

FakeDriver& fakeDriver();

// Fills all 18 entry points of `link` with the fakes and gives it an open
// handle. Tests null out single fields to exercise the missing-entry paths.
void installFakes(CartridgeLink& link);
// Points platform::clockMs / platform::sleepMs / platform::idlePause at the
// fake clock (sleeps are recorded as "sleep" calls with args[0] = ms, idle
// pauses as "pause" calls of 1 ms). Restored by restoreClock().
void installFakeClock();
void restoreClock();

// Fixture base: fresh fakes, the fake clock, and a zero-filled `link` whose
// entry points are the fakes.
class FakeLinkTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:  // case tables arrange it too
    CartridgeLink link{};
};

// Redirects consoleOut and consoleErr into temporary files for its lifetime.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    std::string out();
    std::string err();

private:
    FILE* savedOut_;
    FILE* savedErr_;
    FILE* out_;
    FILE* err_;
};

// Bytes from a string literal that may hold NULs: bytes("SY\x0c", 3).
std::vector<std::uint8_t> bytes(const char* text, std::size_t length);
std::vector<std::uint8_t> bytes(std::initializer_list<int> values);

// What OpenCartridge prints when every configuration entry point is missing.
inline const char* const kOpenUnconfigured =
    "Error: FT_ResetDevice is not valid!\n"
    "Error: FT_SetTimeouts is not valid!\n"
    "Error: FT_Purge is not valid!\n"
    "Error: FT_SetUSBParameters is not valid!\n"
    "Error: FT_SetLatencyTimer is not valid!\n"
    "Error: FT_SetBitMode is not valid!\n"
    "Error: FT_SetBitMode is not valid!\n";

// Clears `first` and every entry point BindDriver resolves after it: what a
// binding that stopped at `first` leaves.
void unbindFrom(CartridgeLink& link, D2xxEntry first);

// A table case's own `name`, as its parameterised test's name.
template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}
