#include "EmulatedAtari.h"

#include <cstring>
#include <filesystem>

#include "CartridgeCommands.h"
#include "EmulatorText.h"

EmulatedAtari::EmulatedAtari(const EmulatorConfig& config, AtariReports reports, std::deque<std::uint8_t>& toHost,
                             std::function<bool(const char* why)> abandonPartialFrame)
    : config_(config),
      reports_(std::move(reports)),
      toHost_(toHost),
      abandonPartialFrame_(std::move(abandonPartialFrame)),
      dir_((std::filesystem::path(config.outDir) / "atari").string()) {}

int EmulatedAtari::poll() {
    if (!thread_.started()) {
        if (!config_.powered) {
            reports_.event(
                "the drive image server polls, but the cartridge is switched off: the Atari makes no requests");
            return 0;
        }
        std::string error;
        if (!parseAtariTasks(config_.atariTasks, tasks_, error)) {
            reports_.event("Atari script: " + error);
            failure_ = error;
            return 1;
        }
        reports_.event("the drive image server polls: the Atari starts its script \"" + config_.atariTasks + "\"");
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        thread_.start(&EmulatedAtari::body, this);
    } else if (!thread_.finished()) {
        // The host has read everything queued and polls again: the reply to
        // the last request has been written by now, or it never will be.
        thread_.resume();
    }
    if (thread_.finished()) {
        thread_.join();
        return result_ ? 0 : 1;
    }
    return -1;
}

void EmulatedAtari::body(void* arg) {
    EmulatedAtari& self = *static_cast<EmulatedAtari*>(arg);
    const RequestSectors request = [&self](std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data,
                                           std::string& error) { return self.request(first, count, data, error); };
    const AtariLog log = [&self](const std::string& text) {
        // The first failing step is what the user is told.
        if (self.failure_.empty() &&
            (text.rfind("disk unreadable: ", 0) == 0 || text.find(" failed: ") != std::string::npos)) {
            self.failure_ = text;
        }
        self.reports_.scriptLine(text);
    };
    self.result_ = runAtariTasks(self.tasks_, request, self.dir_, log);
    if (!self.result_ && self.failure_.empty()) {
        self.failure_ = "a task failed (see the log)";
    }
    self.thread_.finish();
}

bool EmulatedAtari::request(std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data,
                            std::string& error) {
    for (std::uint32_t attempt = 0; attempt <= config_.requestRetries; ++attempt) {
        std::vector<std::uint8_t> out;
        const bool firstOfRun = !firstRequestSent_;
        firstRequestSent_ = true;
        if (attempt == 0 && (firstOfRun || config_.garbageEveryRequest)) {
            out = config_.garbage;
        }
        if (attempt == 0 && firstOfRun && config_.unknownCommand >= 0) {
            out.push_back(SYNC1);
            out.push_back(SYNC2);
            out.push_back(static_cast<std::uint8_t>(config_.unknownCommand));
        }
        const std::size_t extra = out.size();
        const std::uint8_t req[6] = {SYNC1, SYNC2, cmdReadSector, static_cast<std::uint8_t>(first & 0xFF),
                                     static_cast<std::uint8_t>(first >> 8), count};
        out.insert(out.end(), req, req + 6);
        ++requests_;
        toHost_.insert(toHost_.end(), out.begin(), out.end());
        reports_.event(std::string("cmdReadSector request ") + std::to_string(requests_) + ": sector " +
                    std::to_string(first) + ", count " + std::to_string(count) +
                    (attempt != 0 ? " (sent again)" : "") + ", queued " + hexBytes(out.data(), out.size(), 24) +
                    (extra != 0 ? " (" + std::to_string(extra) + " injected bytes first)" : ""));

        expectReply_ = true;
        replyDone_ = false;
        replyOk_ = false;
        replyError_.clear();
        replyData_.clear();
        replyStray_ = 0;
        thread_.yield();  // the host reads the request and (perhaps) answers
        expectReply_ = false;

        if (replyDone_ && replyOk_ && replyStray_ != 0) {
            // Stray bytes before the reply fail it at once; these came after.
            replyOk_ = false;
            replyError_ = std::to_string(replyStray_) + " stray bytes after the reply";
        }
        if (replyDone_ && replyOk_) {
            data = replyData_;
            return true;
        }
        if (replyDone_) {
            error = "bad sector reply: " + replyError_;
            reports_.event("[atari] " + error);
            return false;
        }
        if (abandonPartialFrame_("the host polls again without finishing the sector reply")) {
            error = "incomplete sector reply";
            reports_.event("[atari] " + error);
            return false;
        }
        error = "no reply to the sector request";
        reports_.event("[atari] " + error + (attempt < config_.requestRetries ? ": asking again" : ""));
    }
    return false;
}

void EmulatedAtari::frameStarted(std::uint8_t code) {
    if (replyDone_) {
        // The reply is exactly m + 14 bytes; a further frame spoils it.
        if (replyOk_) {
            replyOk_ = false;
            replyError_ = formatText("command %u (%s) after the sector reply", code, commandName(code));
        }
    } else if (code != cmdUploadData) {
        replyDone_ = true;
        replyOk_ = false;
        replyError_ = formatText("command %u (%s) arrived instead of the sector reply", code, commandName(code));
    }
}

std::uint64_t EmulatedAtari::replyPayload(std::uint16_t m) {
    replyData_.clear();
    replyData_.reserve(m);
    return static_cast<std::uint64_t>(m) + 9;
}

void EmulatedAtari::replyBytes(const std::uint8_t* data, std::size_t count) {
    replyData_.insert(replyData_.end(), data, data + count);
}

std::string EmulatedAtari::replyComplete() {
    const std::size_t m = replyData_.size() >= 9 ? replyData_.size() - 9 : 0;
    const std::uint8_t* tail = replyData_.data() + m;
    static const std::uint8_t markers[6] = {SYNC1, SYNC2, cmdEndTransfer, SYNC1, SYNC2, cmdEndTransfer};
    if (replyDone_) {
        // A second reply: the first one's verdict stands.
    } else if (replyStray_ != 0) {
        replyDone_ = true;
        replyOk_ = false;
        replyError_ = formatText("%llu stray bytes before the reply", static_cast<unsigned long long>(replyStray_));
    } else {
        replyDone_ = true;
        replyOk_ = std::memcmp(tail, markers, 6) == 0;
        if (!replyOk_) {
            replyError_ = "end markers wrong: " + hexBytes(tail, 6) + " instead of 53 59 0b 53 59 0b";
        }
    }
    std::string line = formatText("sector reply: %zu data bytes, end markers %s, pad bytes %s (%zu bytes in all)", m,
                                  std::memcmp(tail, markers, 6) == 0 ? "ok" : "WRONG",
                                  hexBytes(tail + 6, 3).c_str(), m + 14);
    replyData_.resize(m);
    return line;
}
