// The cartridge's one-byte replies, numbered from the library's load on, as
// drop_reply names them; a reply the settings drop is never queued.
#pragma once

#include <cstdint>
#include <set>

#include "EmulatorTrace.h"
#include "HostQueue.h"

class ReplySender {
public:
    ReplySender(const std::set<std::uint32_t>& dropped, bool everyCall, EmulatorTrace& trace, HostQueue& host)
        : dropped_(dropped), everyCall_(everyCall), trace_(trace), host_(host) {}

    // `what` opens the reply's note; pin replies are counted, not noted.
    void send(std::uint8_t value, const char* what, bool pinTraffic);
    std::uint32_t count() const { return replies_; }

private:
    const std::set<std::uint32_t>& dropped_;
    bool everyCall_;
    EmulatorTrace& trace_;
    HostQueue& host_;
    std::uint32_t replies_ = 0;
};
