#include "ScratchPeer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kobito::test {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kInvalid = INVALID_SOCKET;
constexpr int kSendFlags = 0;
constexpr int kShutWrite = SD_SEND;
int LastError() {
    return WSAGetLastError();
}
void CloseSocket(Socket s) {
    closesocket(s);
}
void StartSockets() {
    static const int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0)
        throw std::runtime_error("WSAStartup failed: " + std::to_string(result));
}
#else
using Socket = int;
constexpr Socket kInvalid = -1;
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif
constexpr int kShutWrite = SHUT_WR;
int LastError() {
    return errno;
}
void CloseSocket(Socket s) {
    ::close(s);
}
void StartSockets() {}
#endif

Socket Handle(std::uintptr_t stored) {
    return static_cast<Socket>(stored);
}
std::uintptr_t Stored(Socket s) {
    return static_cast<std::uintptr_t>(s);
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " failed (error " + std::to_string(LastError()) + ")");
}

// A TCP socket bound to 127.0.0.1 on a port the system picks.
Socket BindLoopback(std::uint16_t& port) {
    StartSockets();
    Socket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kInvalid)
        Fail("socket");
#ifndef _WIN32
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        const int error = LastError();
        CloseSocket(s);
        throw std::runtime_error("binding 127.0.0.1 failed (error " + std::to_string(error) + ")");
    }
    port = ntohs(address.sin_port);
    return s;
}

std::int32_t DecodeLength(const char* p) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(p[i]);
    return static_cast<std::int32_t>(value);
}

} // namespace

struct ScratchPeer::Client {
    std::mutex sendLock; // guards socket against the close
    std::uintptr_t socket;
    std::string received;
    std::size_t parsed = 0;
    std::vector<std::string> frames;
    bool closedByClient = false;
    bool closeRequested = false;
    bool closedHere = false;

    explicit Client(std::uintptr_t s) : socket(s) {}

    // Complete frames from the received bytes; a length of 0 or less is an
    // empty text, as the program reads it.
    void Parse() {
        while (received.size() - parsed >= 4) {
            const std::int32_t length = DecodeLength(received.data() + parsed);
            const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
            if (received.size() - parsed - 4 < size)
                return;
            frames.push_back(received.substr(parsed + 4, size));
            parsed += 4 + size;
        }
    }
};

ScratchPeer::ScratchPeer() {
    Socket s = BindLoopback(port_);
    if (::listen(s, 16) != 0) {
        CloseSocket(s);
        Fail("listen");
    }
    listener_ = Stored(s);
    io_ = std::thread([this] { Run(); });
}

ScratchPeer::~ScratchPeer() {
    WaitSent();
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    io_.join();
    for (auto& client : clients_)
        if (Handle(client->socket) != kInvalid)
            CloseSocket(Handle(client->socket));
    CloseSocket(Handle(listener_));
}

void ScratchPeer::Run() {
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        Socket highest = Handle(listener_);
        FD_SET(Handle(listener_), &readable);
        std::vector<Client*> watched;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stop_)
                return;
            for (auto& client : clients_) {
                if (client->closeRequested && !client->closedHere) {
                    std::lock_guard<std::mutex> sendGuard(client->sendLock);
                    ::shutdown(Handle(client->socket), kShutWrite);
                    CloseSocket(Handle(client->socket));
                    client->socket = Stored(kInvalid);
                    client->closedHere = true;
                    changed_.notify_all();
                }
                if (!client->closedHere && !client->closedByClient) {
                    FD_SET(Handle(client->socket), &readable);
                    highest = std::max(highest, Handle(client->socket));
                    watched.push_back(client.get());
                }
            }
        }
        timeval wait{0, 10 * 1000};
        const int ready =
            ::select(static_cast<int>(highest) + 1, &readable, nullptr, nullptr, &wait);
        if (ready <= 0)
            continue;

        if (FD_ISSET(Handle(listener_), &readable)) {
            Socket accepted = ::accept(Handle(listener_), nullptr, nullptr);
            if (accepted != kInvalid) {
#ifndef _WIN32
                ::fcntl(accepted, F_SETFD, FD_CLOEXEC);
#endif
                std::lock_guard<std::mutex> guard(lock_);
                clients_.push_back(std::make_unique<Client>(Stored(accepted)));
                changed_.notify_all();
            }
        }
        // Only this thread closes sockets, so the watched ones are still open.
        for (Client* client : watched) {
            if (!FD_ISSET(Handle(client->socket), &readable))
                continue;
            const int n = static_cast<int>(
                ::recv(Handle(client->socket), chunk.data(), static_cast<int>(chunk.size()), 0));
            std::lock_guard<std::mutex> guard(lock_);
            if (n > 0) {
                client->received.append(chunk.data(), static_cast<std::size_t>(n));
                client->Parse();
            } else {
                client->closedByClient = true;
            }
            changed_.notify_all();
        }
    }
}

ScratchPeer::Client& ScratchPeer::At(int client) const {
    if (clients_.empty())
        throw std::runtime_error("no client has connected");
    if (client == kLatest)
        return *clients_.back();
    if (client < 0 || static_cast<std::size_t>(client) >= clients_.size())
        throw std::runtime_error("no client " + std::to_string(client));
    return *clients_[static_cast<std::size_t>(client)];
}

std::string ScratchPeer::Length(std::int32_t length) {
    const auto value = static_cast<std::uint32_t>(length);
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
    return out;
}

std::string ScratchPeer::Frame(std::string_view text) {
    return Length(static_cast<std::int32_t>(text.size())) + std::string(text);
}

std::size_t ScratchPeer::ClientCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return clients_.size();
}

bool ScratchPeer::WaitForClients(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return clients_.size() >= count; });
}

void ScratchPeer::SendFrame(std::string_view text, int client) {
    SendRaw(Frame(text), client);
}

void ScratchPeer::SendRaw(std::string_view bytes, int client) {
    Client* target;
    {
        std::lock_guard<std::mutex> guard(lock_);
        target = &At(client);
    }
    std::lock_guard<std::mutex> sendGuard(target->sendLock);
    if (Handle(target->socket) == kInvalid)
        throw std::runtime_error("the connection was closed here");
    while (!bytes.empty()) {
        const int n = static_cast<int>(
            ::send(Handle(target->socket), bytes.data(),
                   static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)), kSendFlags));
        if (n <= 0)
            Fail("send");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ScratchPeer::SendInPieces(std::string bytes, std::size_t pieceSize,
                               std::chrono::milliseconds pause, int client) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (client == kLatest) {
            At(client); // throws when there is none
            client = static_cast<int>(clients_.size()) - 1;
        }
    }
    pieceSize = std::max<std::size_t>(pieceSize, 1);
    std::lock_guard<std::mutex> guard(sendersLock_);
    senders_.emplace_back([this, bytes = std::move(bytes), pieceSize, pause, client] {
        try {
            for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
                if (at > 0)
                    std::this_thread::sleep_for(pause);
                SendRaw(std::string_view(bytes).substr(at, pieceSize), client);
            }
        } catch (const std::exception&) {
            std::lock_guard<std::mutex> failed(sendersLock_);
            sendFailed_ = true;
        }
    });
}

bool ScratchPeer::WaitSent() {
    std::vector<std::thread> running;
    {
        std::lock_guard<std::mutex> guard(sendersLock_);
        running.swap(senders_);
    }
    for (auto& sender : running)
        sender.join();
    std::lock_guard<std::mutex> guard(sendersLock_);
    const bool ok = !sendFailed_;
    sendFailed_ = false;
    return ok;
}

void ScratchPeer::CloseClient(int client) {
    std::unique_lock<std::mutex> guard(lock_);
    Client& target = At(client);
    target.closeRequested = true;
    // The I/O thread closes it, between two waits on its sockets.
    changed_.wait(guard, [&] { return target.closedHere; });
}

std::string ScratchPeer::Received(int client) const {
    std::lock_guard<std::mutex> guard(lock_);
    return At(client).received;
}

std::vector<std::string> ScratchPeer::Frames(int client) const {
    std::lock_guard<std::mutex> guard(lock_);
    return At(client).frames;
}

bool ScratchPeer::WaitForBytes(std::size_t count, std::chrono::milliseconds timeout,
                               int client) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(
        guard, timeout, [&] { return !clients_.empty() && At(client).received.size() >= count; });
}

bool ScratchPeer::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout,
                                int client) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(
        guard, timeout, [&] { return !clients_.empty() && At(client).frames.size() >= count; });
}

bool ScratchPeer::ClientClosed(int client) const {
    std::lock_guard<std::mutex> guard(lock_);
    return At(client).closedByClient;
}

bool ScratchPeer::WaitForClientClosed(std::chrono::milliseconds timeout, int client) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout,
                             [&] { return !clients_.empty() && At(client).closedByClient; });
}

UnusedPort::UnusedPort() {
    socket_ = Stored(BindLoopback(port_));
}

UnusedPort::~UnusedPort() {
    CloseSocket(Handle(socket_));
}

} // namespace kobito::test
