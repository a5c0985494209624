// A second thread that runs strictly in turns with the caller's thread, like
// a coroutine: only one of the two runs at a time, and each hand-over is a
// full memory barrier, so the state they share needs no further locking.
// Written against the operating system directly because MinGW's default
// (win32) thread model has no std::thread.
#pragma once

class HandOff {
public:
    HandOff();
    ~HandOff();
    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;

    // Host side. start() runs `body(arg)` on a new thread and returns when
    // the body first yields or finishes; resume() lets it run again until it
    // next does. Neither may be called after the body has finished.
    void start(void (*body)(void*), void* arg);
    void resume();
    bool started() const { return started_; }
    bool finished() const { return finished_; }
    // Waits for the finished body's thread to end.
    void join();

    // Worker side: give the turn back and wait for the next resume().
    void yield();
    // Worker side: the body's last act.
    void finish();

private:
    struct Impl;
    Impl* impl_;
    bool started_ = false;
    bool finished_ = false;
};

// Sleeps the calling thread (the simulated read time-out).
void emulatorSleepMs(unsigned ms);
