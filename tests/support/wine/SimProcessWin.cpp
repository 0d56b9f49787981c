// kobito-sim behind Wine: the pty relay starts the Linux program, points
// COM1 at its pty and forwards its standard error and its end.
#include "SimProcess.h"

#include "RemotePty.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <stdexcept>

namespace kobito::test {

namespace {

SOCKET ConnectToRelay() {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    const std::uint16_t port = RemotePty::RelayPort();
    if (started != 0 || port == 0)
        return INVALID_SOCKET;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool SendAll(SOCKET s, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = ::send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One line without its end; false when the connection ended first.
bool ReadLine(SOCKET s, std::string& line) {
    line.clear();
    char c = 0;
    while (::recv(s, &c, 1, 0) == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

} // namespace

// The program is the Linux kobito-sim, which the relay knows; only the
// arguments travel.
SimProcess::SimProcess(const std::string&, const std::vector<std::string>& args)
    : socket_(static_cast<std::uintptr_t>(ConnectToRelay())) {
    const auto s = static_cast<SOCKET>(socket_);
    if (s == INVALID_SOCKET) {
        ended_ = true;
        return;
    }
    std::string command = "SIM ";
    for (std::size_t k = 0; k < args.size(); ++k)
        command += (k ? "\t" : "") + args[k];
    std::string answer;
    if (!SendAll(s, command + "\n") || !ReadLine(s, answer) || answer.rfind("OK ", 0) != 0) {
        ended_ = true;
        return;
    }
    devicePath_ = "COM1";
    stderrReader_ = std::thread([this] { ReadRelay(); });
}

void SimProcess::ReadRelay() {
    const auto s = static_cast<SOCKET>(socket_);
    std::string line;
    int status = -1;
    while (ReadLine(s, line)) {
        std::lock_guard lock(lock_);
        if (line.rfind("E ", 0) == 0) {
            stderr_ += line.substr(2) + "\n";
        } else if (line.rfind("X ", 0) == 0) {
            status = std::atoi(line.c_str() + 2);
            break;
        }
        changed_.notify_all();
    }
    std::lock_guard lock(lock_);
    ended_ = true;
    status_ = status;
    changed_.notify_all();
}

SimProcess::~SimProcess() {
    const auto s = static_cast<SOCKET>(socket_);
    if (s != INVALID_SOCKET) {
        shutdown(s, SD_BOTH); // the relay kills the board
        if (stderrReader_.joinable())
            stderrReader_.join();
        closesocket(s);
    }
}

std::string SimProcess::Stderr() const {
    std::lock_guard lock(lock_);
    return stderr_;
}

bool SimProcess::WaitForStderr(const std::string& text, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
        return stderr_.find(text) != std::string::npos || ended_;
    }) && stderr_.find(text) != std::string::npos;
}

int SimProcess::Stop() {
    const auto s = static_cast<SOCKET>(socket_);
    {
        std::lock_guard lock(lock_);
        if (ended_)
            return status_;
    }
    SendAll(s, "STOP\n");
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ended_; });
    return status_;
}

bool SimProcess::WaitExit(std::chrono::milliseconds timeout, int& status) {
    std::unique_lock lock(lock_);
    if (!changed_.wait_for(lock, timeout, [&] { return ended_; }))
        return false;
    status = status_;
    return true;
}

} // namespace kobito::test
