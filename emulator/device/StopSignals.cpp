#include "StopSignals.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Driver calls in progress, or -1 once the watcher has taken over.
std::atomic<int> calls{0};
// The watcher waits for its turn: new calls hold back until it has it.
std::atomic<bool> stopWanted{false};

std::mutex ownerLock;
void* currentOwner = nullptr;
void (*currentWriter)(void*) = nullptr;

void waitMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits until no driver call is in progress, keeps new ones out, and has
// the owner write its summary.
void writeSummaryNow() {
    stopWanted.store(true);
    int expected = 0;
    while (!calls.compare_exchange_weak(expected, -1, std::memory_order_acquire)) {
        expected = 0;
        waitMs(1);
    }
    std::lock_guard<std::mutex> guard(ownerLock);
    if (currentOwner != nullptr) {
        currentWriter(currentOwner);
    }
}

#if defined(_WIN32)

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            writeSummaryNow();
            break;
        default:
            break;
    }
    // The next handler, in the end the system's, ends the process as usual.
    return FALSE;
}

void installHandlers() { SetConsoleCtrlHandler(&onConsoleEvent, TRUE); }

#else

// SIGHUP: the terminal of a server run was closed.
constexpr int watched[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t watchedCount = sizeof watched / sizeof watched[0];
struct sigaction previous[watchedCount];
int wakeFds[2] = {-1, -1};
volatile sig_atomic_t caught = 0;

extern "C" void onStopSignal(int signal) {
    // Only what is safe in a signal handler: note it, wake the watcher.
    const int savedErrno = errno;
    if (caught == 0) {
        caught = signal;
    }
    const char byte = 1;
    const ssize_t ignored = write(wakeFds[1], &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

void watch() {
    char byte = 0;
    for (;;) {
        const ssize_t n = read(wakeFds[0], &byte, 1);
        if (n == 1) {
            break;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return;
    }
    const int signal = caught;
    writeSummaryNow();
    // End as the signal would have: with the handler that was there before
    // ours (normally the default action, which kills the process).
    for (std::size_t k = 0; k < watchedCount; ++k) {
        if (watched[k] == signal) {
            sigaction(signal, &previous[k], nullptr);
        }
    }
    raise(signal);
    // The program's own handler let it live on: so do the driver calls.
    stopWanted.store(false);
    calls.store(0, std::memory_order_release);
}

void installHandlers() {
    if (pipe(wakeFds) != 0) {
        return;
    }
    std::thread(watch).detach();
    for (std::size_t k = 0; k < watchedCount; ++k) {
        struct sigaction now {};
        sigaction(watched[k], nullptr, &now);
        if (now.sa_handler == SIG_IGN) {
            continue;  // e.g. a background job's SIGINT
        }
        struct sigaction ours {};
        ours.sa_handler = &onStopSignal;
        sigemptyset(&ours.sa_mask);
        ours.sa_flags = SA_RESTART;
        sigaction(watched[k], &ours, &previous[k]);
    }
}

#endif

}  // namespace

void watchForStop(void* owner, void (*writeSummary)(void*)) {
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
    std::lock_guard<std::mutex> guard(ownerLock);
    currentOwner = owner;
    currentWriter = writeSummary;
}

void unwatchForStop(void* owner) {
    std::lock_guard<std::mutex> guard(ownerLock);
    if (currentOwner == owner) {
        currentOwner = nullptr;
        currentWriter = nullptr;
    }
}

DriverCallScope::DriverCallScope() {
    for (;;) {
        int now = calls.load(std::memory_order_relaxed);
        if (now < 0 || (now == 0 && stopWanted.load(std::memory_order_relaxed))) {
            // The process is ending; wait for it (or for the program's own
            // handler to let it go on).
            waitMs(1);
            continue;
        }
        if (calls.compare_exchange_weak(now, now + 1, std::memory_order_acquire)) {
            return;
        }
    }
}

DriverCallScope::~DriverCallScope() { calls.fetch_sub(1, std::memory_order_release); }
