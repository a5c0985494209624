#include "HandOff.h"

HandOff::~HandOff() {
    // A worker still waiting for its turn cannot be ended safely; it is left
    // to the process's end, with the turns it waits on. Only a finished
    // worker is joined.
    if (thread_.joinable()) {
        if (finished_) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }
}

void HandOff::Turns::pass(Turn to) {
    std::unique_lock<std::mutex> guard(lock);
    turn = to;
    changed.notify_all();
    const Turn mine = to == Turn::host ? Turn::worker : Turn::host;
    changed.wait(guard, [&] { return turn == mine; });
}

void HandOff::Turns::wait(Turn mine) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return turn == mine; });
}

void HandOff::start(void (*body)(void*), void* arg) {
    started_ = true;
    thread_ = std::thread([turns = turns_, body, arg] {
        turns->wait(Turn::worker);
        body(arg);
    });
    turns_->pass(Turn::worker);
}

void HandOff::resume() { turns_->pass(Turn::worker); }

void HandOff::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void HandOff::yield() { turns_->pass(Turn::host); }

void HandOff::finish() {
    std::lock_guard<std::mutex> guard(turns_->lock);
    finished_ = true;
    turns_->turn = Turn::host;
    turns_->changed.notify_all();
}
