#include "FakeDriver.h"

#include <cstdio>

#include "Console.h"
#include "platform/Platform.h"

namespace {

FakeDriver g_fake;

FakeCall& record(const char* fn, FT_HANDLE handle, std::uint32_t a0 = 0, std::uint32_t a1 = 0,
                 std::uint32_t a2 = 0) {
    FakeCall call;
    call.fn = fn;
    call.handle = handle;
    call.args[0] = a0;
    call.args[1] = a1;
    call.args[2] = a2;
    g_fake.calls.push_back(std::move(call));
    return g_fake.calls.back();
}

FT_STATUS FT_API fakeOpen(int, FT_HANDLE* handle) {
    record("FT_Open", nullptr);
    *handle = nullptr;
    return FT_DEVICE_NOT_FOUND;
}

FT_STATUS FT_API fakeOpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    FakeCall& call = record("FT_OpenEx", nullptr, flags);
    const char* text = static_cast<const char*>(arg);
    call.data.assign(text, text + std::char_traits<char>::length(text));
    if (g_fake.openStatus != FT_OK) {
        return g_fake.openStatus;
    }
    g_fake.opens++;
    *handle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(g_fake.opens));
    return FT_OK;
}

FT_STATUS FT_API fakeListDevices(void*, void*, DWORD) { return FT_OK; }

FT_STATUS FT_API fakeClose(FT_HANDLE h) {
    record("FT_Close", h);
    return FT_OK;
}

FT_STATUS FT_API fakeRead(FT_HANDLE h, void* buffer, DWORD count, DWORD* got) {
    FakeCall& call = record("FT_Read", h, count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    FT_STATUS status = FT_OK;
    if (g_fake.onRead) {
        status = g_fake.onRead(out, count, got);
        call.data.assign(out, out + (status == FT_OK ? *got : 0));
        return status;
    }
    DWORD n = 0;
    while (n < count && !g_fake.rx.empty()) {
        out[n++] = g_fake.rx.front();
        g_fake.rx.pop_front();
    }
    *got = n;
    call.data.assign(out, out + n);
    return status;
}

FT_STATUS FT_API fakeWrite(FT_HANDLE h, void* buffer, DWORD count, DWORD* written) {
    FakeCall& call = record("FT_Write", h, count);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    call.data.assign(in, in + count);
    if (g_fake.onWrite) {
        return g_fake.onWrite(in, count, written);
    }
    *written = count;
    return FT_OK;
}

FT_STATUS FT_API fakeResetDevice(FT_HANDLE h) {
    record("FT_ResetDevice", h);
    return FT_OK;
}

FT_STATUS FT_API fakePurge(FT_HANDLE h, ULONG mask) {
    record("FT_Purge", h, mask);
    return FT_OK;
}

FT_STATUS FT_API fakeSetTimeouts(FT_HANDLE h, ULONG r, ULONG w) {
    record("FT_SetTimeouts", h, r, w);
    return FT_OK;
}

FT_STATUS FT_API fakeGetQueueStatus(FT_HANDLE h, DWORD* rx) {
    record("FT_GetQueueStatus", h);
    *rx = static_cast<DWORD>(g_fake.rx.size());
    return FT_OK;
}

FT_STATUS FT_API fakeSetBaudRate(FT_HANDLE h, ULONG rate) {
    record("FT_SetBaudRate", h, rate);
    return FT_OK;
}

FT_STATUS FT_API fakeSetDataCharacteristics(FT_HANDLE h, UCHAR a, UCHAR b, UCHAR c) {
    record("FT_SetDataCharacteristics", h, a, b, c);
    return FT_OK;
}

FT_STATUS FT_API fakeSetFlowControl(FT_HANDLE h, USHORT a, UCHAR b, UCHAR c) {
    record("FT_SetFlowControl", h, a, b, c);
    return FT_OK;
}

FT_STATUS FT_API fakeGetStatus(FT_HANDLE h, DWORD* rx, DWORD* tx, DWORD* events) {
    record("FT_GetStatus", h);
    *tx = 0;
    *events = 0;
    if (g_fake.onGetStatus) {
        return g_fake.onGetStatus(rx);
    }
    *rx = static_cast<DWORD>(g_fake.rx.size());
    return FT_OK;
}

FT_STATUS FT_API fakeSetUSBParameters(FT_HANDLE h, ULONG in, ULONG out) {
    record("FT_SetUSBParameters", h, in, out);
    return FT_OK;
}

FT_STATUS FT_API fakeSetLatencyTimer(FT_HANDLE h, UCHAR ms) {
    record("FT_SetLatencyTimer", h, ms);
    return FT_OK;
}

FT_STATUS FT_API fakeSetBitMode(FT_HANDLE h, UCHAR mask, UCHAR mode) {
    record("FT_SetBitMode", h, mask, mode);
    return FT_OK;
}

FT_STATUS FT_API fakeReload(WORD, WORD) { return FT_OK; }

std::int64_t fakeClock() {
    g_fake.nowMs += g_fake.clockStepMs;
    return g_fake.nowMs;
}

void fakeSleep(std::uint32_t ms) {
    record("sleep", nullptr, ms);
    g_fake.nowMs += ms;
}

std::string readAll(FILE* f) {
    std::fflush(f);
    std::string text;
    std::rewind(f);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fseek(f, 0, SEEK_END);
    return text;
}

}  // namespace

FakeDriver& fakeDriver() { return g_fake; }

void FakeDriver::reset() { *this = FakeDriver{}; }

std::vector<std::uint8_t> FakeDriver::written() const {
    std::vector<std::uint8_t> all;
    for (const FakeCall& call : calls) {
        if (call.fn == "FT_Write") {
            all.insert(all.end(), call.data.begin(), call.data.end());
        }
    }
    return all;
}

std::vector<std::string> FakeDriver::sequence() const {
    std::vector<std::string> names;
    for (const FakeCall& call : calls) {
        names.push_back(call.fn);
    }
    return names;
}

std::vector<FakeCall> FakeDriver::callsOf(const std::string& fn) const {
    std::vector<FakeCall> found;
    for (const FakeCall& call : calls) {
        if (call.fn == fn) {
            found.push_back(call);
        }
    }
    return found;
}

void FakeDriver::queueRx(const std::vector<std::uint8_t>& data) { rx.insert(rx.end(), data.begin(), data.end()); }

void installFakes(CartridgeLink& link) {
    link.FT_Open = fakeOpen;
    link.FT_OpenEx = fakeOpenEx;
    link.FT_ListDevices = fakeListDevices;
    link.FT_Close = fakeClose;
    link.FT_Read = fakeRead;
    link.FT_Write = fakeWrite;
    link.FT_ResetDevice = fakeResetDevice;
    link.FT_Purge = fakePurge;
    link.FT_SetTimeouts = fakeSetTimeouts;
    link.FT_GetQueueStatus = fakeGetQueueStatus;
    link.FT_SetBaudRate = fakeSetBaudRate;
    link.FT_SetDataCharacteristics = fakeSetDataCharacteristics;
    link.FT_SetFlowControl = fakeSetFlowControl;
    link.FT_GetStatus = fakeGetStatus;
    link.FT_SetUSBParameters = fakeSetUSBParameters;
    link.FT_SetLatencyTimer = fakeSetLatencyTimer;
    link.FT_SetBitMode = fakeSetBitMode;
    link.FT_Reload = fakeReload;
    link.deviceHandle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(1));
}

void installFakeClock() {
    platform::clockMs = fakeClock;
    platform::sleepMs = fakeSleep;
}

void restoreClock() {
    platform::clockMs = platform::monotonicMs;
    platform::sleepMs = platform::sleepFor;
}

void FakeLinkTest::SetUp() {
    fakeDriver().reset();
    installFakeClock();
    link = CartridgeLink{};
    installFakes(link);
}

void FakeLinkTest::TearDown() { restoreClock(); }

ConsoleCapture::ConsoleCapture()
    : savedOut_(consoleOut), savedErr_(consoleErr), out_(std::tmpfile()), err_(std::tmpfile()) {
    consoleOut = out_;
    consoleErr = err_;
}

ConsoleCapture::~ConsoleCapture() {
    consoleOut = savedOut_;
    consoleErr = savedErr_;
    std::fclose(out_);
    std::fclose(err_);
}

std::string ConsoleCapture::out() { return readAll(out_); }
std::string ConsoleCapture::err() { return readAll(err_); }

std::vector<std::uint8_t> bytes(const char* text, std::size_t length) {
    return std::vector<std::uint8_t>(text, text + length);
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}
