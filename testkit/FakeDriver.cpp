#include "FakeDriver.h"

#include <cstdio>

#include "Console.h"
#include "TempFolder.h"
#include "platform/Platform.h"

namespace {

FakeDriver g_fake;

// The hooks: what the tests arrange through FakeDriver.
FT_STATUS hookOpenEx(void* state, void*, DWORD, FT_HANDLE* handle) {
    auto& fake = *static_cast<FakeDriver*>(state);
    if (fake.openStatus != FT_OK) {
        return fake.openStatus;
    }
    fake.opens++;
    *handle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(fake.opens));
    return FT_OK;
}

FT_STATUS hookRead(void* state, FT_HANDLE, void* buffer, DWORD count, DWORD* got) {
    auto& fake = *static_cast<FakeDriver*>(state);
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (fake.onRead) {
        return fake.onRead(out, count, got);
    }
    DWORD n = 0;
    while (n < count && !fake.rx.empty()) {
        out[n++] = fake.rx.front();
        fake.rx.pop_front();
    }
    *got = n;
    return FT_OK;
}

FT_STATUS hookWrite(void* state, FT_HANDLE, void* buffer, DWORD count, DWORD* written) {
    auto& fake = *static_cast<FakeDriver*>(state);
    if (fake.onWrite) {
        return fake.onWrite(static_cast<const std::uint8_t*>(buffer), count, written);
    }
    *written = count;
    return FT_OK;
}

FT_STATUS hookGetQueueStatus(void* state, FT_HANDLE, DWORD* rx) {
    *rx = static_cast<DWORD>(static_cast<FakeDriver*>(state)->rx.size());
    return FT_OK;
}

FT_STATUS hookGetStatus(void* state, FT_HANDLE, DWORD* rx, DWORD* tx, DWORD* events) {
    auto& fake = *static_cast<FakeDriver*>(state);
    *tx = 0;
    *events = 0;
    if (fake.onGetStatus) {
        return fake.onGetStatus(rx);
    }
    *rx = static_cast<DWORD>(fake.rx.size());
    return FT_OK;
}

void record(const char* fn, std::uint32_t a0) {
    FakeCall call;
    call.fn = fn;
    call.args[0] = a0;
    g_fake.calls.push_back(std::move(call));
}

std::int64_t fakeClock() {
    g_fake.nowMs += g_fake.clockStepMs;
    return g_fake.nowMs;
}

void fakeSleep(std::uint32_t ms) {
    record("sleep", ms);
    g_fake.nowMs += ms;
}

void fakePause() {
    record("pause", 0);
    g_fake.nowMs += 1;
}

}  // namespace

FakeDriver& fakeDriver() { return g_fake; }

// The shared fake records into g_fake and asks it through the hooks.
static void configureSharedFake() {
    fake_d2xx::Driver& d = fake_d2xx::driver();
    d = fake_d2xx::Driver{};
    d.state = &g_fake;
    d.record = &g_fake.calls;
    d.hooks.FT_OpenEx = hookOpenEx;
    d.hooks.FT_Read = hookRead;
    d.hooks.FT_Write = hookWrite;
    d.hooks.FT_GetQueueStatus = hookGetQueueStatus;
    d.hooks.FT_GetStatus = hookGetStatus;
}

void FakeDriver::reset() {
    *this = FakeDriver{};
    configureSharedFake();
}

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
    configureSharedFake();
    fake_d2xx::install(link);
}

void installFakeClock() {
    platform::clockMs = fakeClock;
    platform::sleepMs = fakeSleep;
    platform::idlePause = fakePause;
}

void restoreClock() {
    platform::clockMs = platform::monotonicMs;
    platform::sleepMs = platform::sleepFor;
    platform::idlePause = platform::pauseBriefly;
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

std::string ConsoleCapture::out() { return writtenSoFar(out_); }
std::string ConsoleCapture::err() { return writtenSoFar(err_); }

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

void unbindFrom(CartridgeLink& link, D2xxEntry first) {
    const int stop = d2xxEntry(first).resolveStep;
#define VEXLO_UNBIND_LATER(name, step, missing, params, args, method) \
    if (step >= stop) {                                       \
        link.name = nullptr;                                  \
    }
    VEXLO_D2XX_ENTRY_POINTS(VEXLO_UNBIND_LATER)
#undef VEXLO_UNBIND_LATER
}
