// A second thread that runs strictly in turns with the caller's thread, like
// a coroutine: only one of the two runs at a time, and each hand-over is a
// full memory barrier, so the state they share needs no further locking.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class HandOff {
public:
    HandOff() = default;
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
    enum class Turn { host, worker };
    // Shared with the worker, which may outlive this object while it waits
    // for a turn that never comes.
    struct Turns {
        std::mutex lock;
        std::condition_variable changed;
        Turn turn = Turn::host;
        void pass(Turn to);
        void wait(Turn mine);
    };

    std::shared_ptr<Turns> turns_ = std::make_shared<Turns>();
    std::thread thread_;
    bool started_ = false;
    bool finished_ = false;
};
