// The Atari that uses the served drive. Its disk reader runs on a second
// thread in strict turns with the host program's thread (HandOff): a sector
// request is queued for the host to read, then the Atari waits until the
// host, polling again with nothing left to read, has had its chance to
// answer. Everything is decided by the host's calls, so runs are repeatable.
#include <filesystem>

#include "AtariDisk.h"
#include "CartridgeCommands.h"
#include "EmulatedCartridge.h"

void EmulatedCartridge::endRun(int status) {
    runEnded_ = true;
    emit(status == 0 ? "the Atari's script is done: ending the run with status 0"
                     : "the Atari's script failed: ending the run with status 1");
    finishRun();
    exitProcess(status);
}

void EmulatedCartridge::atariStep() {
    if (!atari_.started()) {
        if (!config_.powered) {
            emit("the drive image server polls, but the cartridge is switched off: the Atari makes no requests");
            endRun(0);
            return;
        }
        std::string error;
        if (!parseAtariTasks(config_.atariTasks, atariTasks_, error)) {
            emit("Atari script: " + error);
            endRun(1);
            return;
        }
        emit("the drive image server polls: the Atari starts its script \"" + config_.atariTasks + "\"");
        std::error_code ec;
        std::filesystem::create_directories(atariDir_, ec);
        atari_.start(&EmulatedCartridge::atariBody, this);
    } else if (!atari_.finished()) {
        // The host has read everything queued and polls again: the reply to
        // the last request has been written by now, or it never will be.
        atari_.resume();
    }
    if (atari_.finished()) {
        atari_.join();
        endRun(atariResult_ ? 0 : 1);
    }
}

void EmulatedCartridge::atariBody(void* arg) {
    EmulatedCartridge& self = *static_cast<EmulatedCartridge*>(arg);
    const RequestSectors request = [&self](std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data,
                                           std::string& error) {
        return self.atariRequest(first, count, data, error);
    };
    const AtariLog log = [&self](const std::string& text) { self.log_.line("[atari] %s", text.c_str()); };
    self.atariResult_ = runAtariTasks(self.atariTasks_, request, self.atariDir_, log);
    self.atari_.finish();
}

bool EmulatedCartridge::atariRequest(std::uint16_t first, std::uint8_t count, std::vector<std::uint8_t>& data,
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
        emit(std::string("cmdReadSector request ") + std::to_string(requests_) + ": sector " + std::to_string(first) +
             ", count " + std::to_string(count) + (attempt != 0 ? " (sent again)" : "") + ", queued " +
             hexBytes(out.data(), out.size(), 24) +
             (extra != 0 ? " (" + std::to_string(extra) + " injected bytes first)" : ""));

        expectSectorReply_ = true;
        replyDone_ = false;
        replyOk_ = false;
        replyError_.clear();
        replyData_.clear();
        replyStray_ = 0;
        atari_.yield();  // the host reads the request and (perhaps) answers
        expectSectorReply_ = false;

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
            emit("[atari] " + error);
            return false;
        }
        if (state_ != Parse::sync1) {
            error = "incomplete sector reply";
            resetParser("the host polls again without finishing the sector reply");
            emit("[atari] " + error);
            return false;
        }
        error = "no reply to the sector request";
        emit("[atari] " + error + (attempt < config_.requestRetries ? ": asking again" : ""));
    }
    return false;
}
