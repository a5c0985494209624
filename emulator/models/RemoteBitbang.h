// Client of the remote_bitbang protocol that JTAG simulators speak over TCP:
// '0'-'7' set TCK<<2 | TMS<<1 | TDI, 'R' asks for TDO ('0' or '1'), 'Q' ends
// the session. Writes are gathered and sent when TDO is asked for, so a long
// shift costs few system calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RemoteBitbang {
public:
    RemoteBitbang() = default;
    ~RemoteBitbang();
    RemoteBitbang(const RemoteBitbang&) = delete;
    RemoteBitbang& operator=(const RemoteBitbang&) = delete;

    // "HOST:PORT". False with a reason when the simulator cannot be reached.
    bool connectTo(const std::string& hostPort, std::string& error);
    bool connected() const { return socket_ >= 0; }

    void setPins(bool tck, bool tms, bool tdi) {
        pending_.push_back(static_cast<char>('0' + ((tck ? 4 : 0) | (tms ? 2 : 0) | (tdi ? 1 : 0))));
        if (pending_.size() >= 4096) {
            flush();
        }
    }
    // TDO as the simulator reports it; false when the connection is lost.
    bool readTdo();
    // Sends 'Q' and closes.
    void quit();

    std::uint64_t bytesSent() const { return sent_; }
    const std::string& lastError() const { return error_; }

private:
    bool flush();
    void fail(const std::string& what);

    std::intptr_t socket_ = -1;
    std::string pending_;
    std::uint64_t sent_ = 0;
    std::string error_;
};
