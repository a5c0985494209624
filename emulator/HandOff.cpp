#include "HandOff.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace {
enum Turn { hostTurn, workerTurn };
}

#if defined(_WIN32)

struct HandOff::Impl {
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;
    Turn turn = hostTurn;
    HANDLE thread = nullptr;
    void (*body)(void*) = nullptr;
    void* arg = nullptr;

    Impl() {
        InitializeCriticalSection(&lock);
        InitializeConditionVariable(&changed);
    }
    ~Impl() { DeleteCriticalSection(&lock); }
    void pass(Turn to) {
        EnterCriticalSection(&lock);
        turn = to;
        WakeAllConditionVariable(&changed);
        const Turn mine = to == hostTurn ? workerTurn : hostTurn;
        while (turn != mine) {
            SleepConditionVariableCS(&changed, &lock, INFINITE);
        }
        LeaveCriticalSection(&lock);
    }
    void passForGood() {
        EnterCriticalSection(&lock);
        turn = hostTurn;
        WakeAllConditionVariable(&changed);
        LeaveCriticalSection(&lock);
    }
    static DWORD WINAPI run(LPVOID self) {
        Impl* impl = static_cast<Impl*>(self);
        impl->wait(workerTurn);
        impl->body(impl->arg);
        return 0;
    }
    void wait(Turn mine) {
        EnterCriticalSection(&lock);
        while (turn != mine) {
            SleepConditionVariableCS(&changed, &lock, INFINITE);
        }
        LeaveCriticalSection(&lock);
    }
    void launch() { thread = CreateThread(nullptr, 0, &Impl::run, this, 0, nullptr); }
    void joinThread() {
        if (thread != nullptr) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = nullptr;
        }
    }
};

void emulatorSleepMs(unsigned ms) { Sleep(ms); }

#else

struct HandOff::Impl {
    std::mutex lock;
    std::condition_variable changed;
    Turn turn = hostTurn;
    std::thread thread;
    void (*body)(void*) = nullptr;
    void* arg = nullptr;

    void pass(Turn to) {
        std::unique_lock<std::mutex> guard(lock);
        turn = to;
        changed.notify_all();
        const Turn mine = to == hostTurn ? workerTurn : hostTurn;
        changed.wait(guard, [&] { return turn == mine; });
    }
    void passForGood() {
        std::lock_guard<std::mutex> guard(lock);
        turn = hostTurn;
        changed.notify_all();
    }
    void wait(Turn mine) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return turn == mine; });
    }
    void launch() {
        thread = std::thread([this] {
            wait(workerTurn);
            body(arg);
        });
    }
    void joinThread() {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

void emulatorSleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#endif

HandOff::HandOff() : impl_(new Impl) {}

HandOff::~HandOff() {
    // A worker still waiting for its turn cannot be ended safely; it is
    // detached by the process ending. Only a finished worker is joined.
    if (finished_ || !started_) {
        impl_->joinThread();
        delete impl_;
    }
}

void HandOff::start(void (*body)(void*), void* arg) {
    impl_->body = body;
    impl_->arg = arg;
    started_ = true;
    impl_->launch();
    impl_->pass(workerTurn);
}

void HandOff::resume() { impl_->pass(workerTurn); }

void HandOff::join() { impl_->joinThread(); }

void HandOff::yield() { impl_->pass(hostTurn); }

void HandOff::finish() {
    finished_ = true;
    impl_->passForGood();
}
