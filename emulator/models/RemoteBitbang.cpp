#include "RemoteBitbang.h"

#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
using NativeSocket = SOCKET;
constexpr int sendFlags = 0;
namespace {
void closeSocket(std::intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
bool startSockets() {
    static bool started = false;
    if (!started) {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    return started;
}
}  // namespace
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
using SocketLength = socklen_t;
using NativeSocket = int;
// A simulator that went away must not kill the host program with SIGPIPE.
constexpr int sendFlags = MSG_NOSIGNAL;
namespace {
void closeSocket(std::intptr_t s) { ::close(static_cast<int>(s)); }
bool startSockets() { return true; }
}  // namespace
#endif

RemoteBitbang::~RemoteBitbang() { quit(); }

bool RemoteBitbang::connectTo(const std::string& hostPort, std::string& error) {
    const auto colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) {
        error = "expected HOST:PORT, got \"" + hostPort + "\"";
        return false;
    }
    if (!startSockets()) {
        error = "sockets are not available";
        return false;
    }
    const std::string host = hostPort.substr(0, colon);
    const std::string port = hostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        error = "cannot resolve " + hostPort;
        return false;
    }
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const auto s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (static_cast<std::intptr_t>(s) < 0) {
            continue;
        }
        if (connect(s, a->ai_addr, static_cast<SocketLength>(a->ai_addrlen)) == 0) {
            socket_ = static_cast<std::intptr_t>(s);
            break;
        }
        closeSocket(static_cast<std::intptr_t>(s));
    }
    freeaddrinfo(found);
    if (socket_ < 0) {
        error = "cannot connect to " + hostPort;
        return false;
    }
    // Every 'R' waits for an answer: small packets must not be held back.
    int one = 1;
    setsockopt(static_cast<NativeSocket>(socket_), IPPROTO_TCP, TCP_NODELAY,
               reinterpret_cast<const char*>(&one), sizeof one);
    return true;
}

bool RemoteBitbang::flush() {
    std::size_t done = 0;
    while (socket_ >= 0 && done < pending_.size()) {
        const auto n = send(static_cast<NativeSocket>(socket_), pending_.data() + done,
                            static_cast<int>(pending_.size() - done), sendFlags);
        if (n <= 0) {
            fail("connection lost while sending");
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    sent_ += done;
    pending_.clear();
    return socket_ >= 0;
}

bool RemoteBitbang::readTdo() {
    pending_.push_back('R');
    if (!flush()) {
        return false;
    }
    char answer = 0;
    const auto n = recv(static_cast<NativeSocket>(socket_), &answer, 1, 0);
    if (n != 1) {
        fail("connection lost while reading TDO");
        return false;
    }
    return answer == '1';
}

void RemoteBitbang::quit() {
    if (socket_ < 0) {
        return;
    }
    pending_.push_back('Q');
    flush();
    if (socket_ >= 0) {
        closeSocket(socket_);
        socket_ = -1;
    }
}

void RemoteBitbang::fail(const std::string& what) {
    if (error_.empty()) {
        error_ = what;
    }
    if (socket_ >= 0) {
        closeSocket(socket_);
        socket_ = -1;
    }
}
