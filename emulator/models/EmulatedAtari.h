// The Atari that uses the served drive: it runs its script (AtariDisk) on a
// second thread in strict turns with the host program's thread (HandOff),
// puts its cmdReadSector requests in the host's queue and checks each
// sector reply's framing as the cartridge's parser finds it. A request is
// queued for the host to read, then the Atari waits until the host, polling
// again with nothing left to read, has had its chance to answer.
// Everything is decided by the host's calls, so runs are repeatable.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "AtariDisk.h"
#include "EmulatorConfig.h"
#include "HandOff.h"

// Where the Atari's account of its run goes; the reporting decides how it
// is written.
struct AtariReports {
    // A step of the run: a request sent, a reply refused, the script started.
    std::function<void(const std::string&)> event;
    // A line the script writes as it reads the disk.
    std::function<void(const std::string&)> scriptLine;
};

class EmulatedAtari {
public:
    // `toHost` is the device's queue of bytes for the host; `abandonPartialFrame`
    // drops a frame the host left unfinished and says whether there was one.
    EmulatedAtari(const EmulatorConfig& config, AtariReports reports, std::deque<std::uint8_t>& toHost,
                  std::function<bool(const char* why)> abandonPartialFrame);

    // The host polls with nothing left to read: the Atari starts, or takes
    // its next turn. Returns the run's exit status once the script has
    // ended (0: every task succeeded), else -1.
    int poll();

    // Sector reply checks, fed by the cartridge while a reply is expected.
    bool expectingReply() const { return expectReply_; }
    void frameStarted(std::uint8_t code);
    // The reply's length word m arrived: the payload that follows (the data,
    // two cmdEndTransfer headers, three pad bytes).
    std::uint64_t replyPayload(std::uint16_t m);
    void replyBytes(const std::uint8_t* data, std::size_t count);
    // The reply is complete; the line for the log.
    std::string replyComplete();
    void strayBytes(std::uint64_t count) { replyStray_ += count; }

    std::uint32_t requests() const { return requests_; }
    bool started() const { return thread_.started(); }
    bool finished() const { return thread_.finished(); }
    bool succeeded() const { return result_; }
    // Why the script failed: its first failing step.
    const std::string& failure() const { return failure_; }

private:
    static void body(void* self);
    bool request(std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data, std::string& error);

    const EmulatorConfig& config_;
    AtariReports reports_;
    std::deque<std::uint8_t>& toHost_;
    std::function<bool(const char*)> abandonPartialFrame_;
    HandOff thread_;
    std::vector<AtariTask> tasks_;
    std::string dir_;
    bool expectReply_ = false;
    bool replyDone_ = false;
    bool replyOk_ = false;
    std::string replyError_;
    std::vector<std::uint8_t> replyData_;
    std::uint64_t replyStray_ = 0;
    std::uint32_t requests_ = 0;
    bool firstRequestSent_ = false;
    bool result_ = false;
    std::string failure_;
};
