#include "RemotePty.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace kobito::test {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("pty relay: " + what + " (error " + std::to_string(WSAGetLastError()) +
                             ")");
}

SOCKET Connect() {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0)
        throw std::runtime_error("WSAStartup failed");
    const std::uint16_t port = RemotePty::RelayPort();
    if (port == 0)
        throw std::runtime_error("KOBITO_PTY_RELAY_PORT is not set");
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        Fail("connect");
    }
    // Small writes go out at once.
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

void SendAll(SOCKET s, std::string_view bytes) {
    while (!bytes.empty()) {
        const int n = ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
        if (n <= 0)
            Fail("send");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Waits at most timeout for bytes; false when none came.
bool Readable(SOCKET s, std::chrono::milliseconds timeout) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    const long ms = static_cast<long>(std::max<std::int64_t>(timeout.count(), 0));
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &wait) > 0;
}

// One line of an answer, without its end.
std::string ReadLine(SOCKET s) {
    std::string line;
    char c = 0;
    while (Readable(s, std::chrono::seconds(5)) && ::recv(s, &c, 1, 0) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    Fail("no answer");
}

// A command on a connection of its own; its answer line.
std::string Ask(const char* command) {
    const SOCKET s = Connect();
    try {
        SendAll(s, std::string(command) + "\n");
        std::string answer = ReadLine(s);
        closesocket(s);
        return answer;
    } catch (...) {
        closesocket(s);
        throw;
    }
}

} // namespace

std::uint16_t RemotePty::RelayPort() {
    const char* text = std::getenv("KOBITO_PTY_RELAY_PORT");
    return text == nullptr ? 0 : static_cast<std::uint16_t>(std::atoi(text));
}

RemotePty::RemotePty() : socket_(static_cast<std::uintptr_t>(Connect())) {
    const auto s = static_cast<SOCKET>(socket_);
    try {
        SendAll(s, "OPEN\n");
        const std::string answer = ReadLine(s);
        if (answer.rfind("OK ", 0) != 0)
            throw std::runtime_error("pty relay: " + answer);
        slavePath_ = answer.substr(3);
    } catch (...) {
        closesocket(s);
        throw;
    }
}

RemotePty::~RemotePty() {
    closesocket(static_cast<SOCKET>(socket_));
}

void RemotePty::Write(std::string_view bytes) {
    SendAll(static_cast<SOCKET>(socket_), bytes);
}

std::string RemotePty::ReadCount(std::size_t count, std::chrono::milliseconds timeout) {
    const auto s = static_cast<SOCKET>(socket_);
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0 || !Readable(s, left))
            break;
        char buffer[4096];
        const int n =
            ::recv(s, buffer, static_cast<int>(std::min(sizeof buffer, count - out.size())), 0);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::string RemotePty::ReadUntilQuiet(std::chrono::milliseconds quiet) {
    const auto s = static_cast<SOCKET>(socket_);
    std::string out;
    while (Readable(s, quiet)) {
        char buffer[4096];
        const int n = ::recv(s, buffer, static_cast<int>(sizeof buffer), 0);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::string RemotePty::LineSettings() {
    return Ask("ATTR");
}

void RemotePty::HangUp() {
    if (Ask("HANGUP") != "OK")
        throw std::runtime_error("pty relay: no pty to hang up");
}

void RemotePty::Fault(const std::string& words) {
    const std::string command = "FAULT " + words;
    if (Ask(command.c_str()) != "OK")
        throw std::runtime_error("pty relay: cannot set faults (no FAULTFILE?)");
}

} // namespace kobito::test
