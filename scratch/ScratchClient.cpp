#include "ScratchClient.h"

#include "ScratchFrame.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kobito {

namespace {

// Received bytes are moved in only while fewer than this wait: a peer that
// floods meets TCP's flow control instead of growing the buffer. It holds a
// frame of the largest accepted length with room to spare.
constexpr std::size_t kBufferLimit = 4 * static_cast<std::size_t>(kScratchMaxTextLength);
constexpr std::size_t kChunk = 64 * 1024;

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kInvalid = INVALID_SOCKET;
constexpr int kSendFlags = 0;

int LastError() {
    return WSAGetLastError();
}
bool Interrupted(int error) {
    return error == WSAEINTR;
}
void CloseSocketHandle(Socket s) {
    closesocket(s);
}

void StartWinsock() {
    static const int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0)
        throw EScratchSocketError(
            "Winsock 2.2 is not available (error " + std::to_string(result) + ")", result);
}

std::string ErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (length > 0) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
        out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                                nullptr);
    }
    LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.empty())
        out = "unknown error";
    return out + " (" + std::to_string(code) + ")";
}

bool Readable(Socket s) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval zero{0, 0};
    return select(0, &set, nullptr, nullptr, &zero) > 0;
}

int ReceiveInto(Socket s, char* data, std::size_t size) {
    return recv(s, data, static_cast<int>(size), 0);
}

int SendFrom(Socket s, const char* data, std::size_t size) {
    return send(s, data, static_cast<int>(std::min<std::size_t>(size, INT32_MAX)), kSendFlags);
}

// A blocking connect interrupted by a signal is a POSIX matter.
bool FinishInterruptedConnect(Socket, int&) {
    return false;
}

void ConfigureSocket(Socket) {}
#else
using Socket = int;
constexpr Socket kInvalid = -1;
// A peer that has gone must give an error, not a SIGPIPE that ends the program.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

int LastError() {
    return errno;
}
bool Interrupted(int error) {
    return error == EINTR;
}
void CloseSocketHandle(Socket s) {
    ::close(s);
}
void StartWinsock() {}

std::string ErrorText(int code) {
    return std::string(std::strerror(code)) + " (" + std::to_string(code) + ")";
}

bool Readable(Socket s) {
    pollfd p{s, POLLIN, 0};
    int n;
    do
        n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n > 0;
}

int ReceiveInto(Socket s, char* data, std::size_t size) {
    return static_cast<int>(::recv(s, data, size, 0));
}

int SendFrom(Socket s, const char* data, std::size_t size) {
    return static_cast<int>(::send(s, data, std::min<std::size_t>(size, INT32_MAX), kSendFlags));
}

// The connection goes on in the background; wait for its outcome.
bool FinishInterruptedConnect(Socket s, int& error) {
    pollfd p{s, POLLOUT, 0};
    int n;
    do
        n = ::poll(&p, 1, -1);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = errno;
        return false;
    }
    socklen_t size = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return error == 0;
}

void ConfigureSocket(Socket s) {
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
#ifdef SO_NOSIGPIPE
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}
#endif

Socket Handle(std::uintptr_t stored) {
    return static_cast<Socket>(stored);
}

} // namespace

TScratchClient::~TScratchClient() {
    CloseSocket();
}

void TScratchClient::CloseSocket() {
    if (IsOpen()) {
        CloseSocketHandle(Handle(socket_));
        socket_ = kNoSocket;
    }
}

void TScratchClient::Connect() {
    const std::string where = Host + ":" + std::to_string(Port);
    if (IsOpen())
        throw EScratchSocketError("already connected to " + where);
    StartWinsock();

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &hints, &found);
    if (lookup != 0 || found == nullptr) {
#ifdef _WIN32
        const std::string reason = ErrorText(lookup);
#else
        const std::string reason = ::gai_strerror(lookup);
#endif
        throw EScratchSocketError("cannot resolve " + Host + ": " + reason, lookup);
    }

    int error = 0;
    Socket s = kInvalid;
    for (addrinfo* a = found; a != nullptr && s == kInvalid; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kInvalid) {
            error = LastError();
            continue;
        }
        ConfigureSocket(s);
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0)
            break;
        error = LastError();
        if (Interrupted(error) && FinishInterruptedConnect(s, error))
            break;
        CloseSocketHandle(s);
        s = kInvalid;
    }
    ::freeaddrinfo(found);
    if (s == kInvalid)
        throw EScratchSocketError("cannot connect to " + where + ": " + ErrorText(error), error);

    // Scratch waits for whole messages; the length field and the text are
    // written separately and must not sit in Nagle's queue.
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);

    socket_ = static_cast<SocketHandle>(s);
    lastError_ = 0;
    buffer_.clear();
    head_ = 0;
    if (OnConnected)
        OnConnected();
}

void TScratchClient::Disconnect() {
    buffer_.clear();
    head_ = 0;
    if (!IsOpen())
        return;
    CloseSocket();
    lastError_ = 0;
    if (OnDisconnected)
        OnDisconnected();
}

bool TScratchClient::ReceiveSome() {
    if (head_ > 0 && head_ >= buffer_.size() / 2) {
        buffer_.erase(0, head_);
        head_ = 0;
    }
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kChunk);
    int n;
    int error = 0;
    do {
        n = ReceiveInto(Handle(socket_), buffer_.data() + old, kChunk);
        error = n < 0 ? LastError() : 0;
    } while (n < 0 && Interrupted(error));
    buffer_.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0)
        return true;
    CloseSocket();
    lastError_ = error;
    return false;
}

void TScratchClient::Pull() {
    while (IsOpen() && BufferedBytes() < kBufferLimit && Readable(Handle(socket_)))
        if (!ReceiveSome())
            return;
}

void TScratchClient::ThrowClosed() const {
    if (lastError_ != 0)
        throw EScratchSocketError("connection lost: " + ErrorText(lastError_), lastError_);
    throw EScratchSocketError("connection closed before the message was complete");
}

void TScratchClient::Fill(std::size_t count) {
    while (BufferedBytes() < count) {
        if (!IsOpen())
            ThrowClosed();
        ReceiveSome();
    }
}

std::string TScratchClient::Take(std::size_t count) {
    std::string out = buffer_.substr(head_, count);
    head_ += count;
    if (head_ == buffer_.size()) {
        buffer_.clear();
        head_ = 0;
    }
    return out;
}

bool TScratchClient::Connected() {
    Pull();
    return IsOpen() || BufferedBytes() > 0;
}

std::int32_t TScratchClient::ReadLongInt() {
    Fill(kScratchHeaderSize);
    return DecodeScratchLength(Take(kScratchHeaderSize));
}

std::string TScratchClient::ReadString(std::int32_t byteCount) {
    if (byteCount <= 0)
        return {};
    if (byteCount > kScratchMaxTextLength)
        throw EScratchProtocolError("message length " + std::to_string(byteCount) +
                                    " exceeds the limit of " +
                                    std::to_string(kScratchMaxTextLength) + " bytes");
    Fill(static_cast<std::size_t>(byteCount));
    return Take(static_cast<std::size_t>(byteCount));
}

bool TScratchClient::TryReadFrame(std::string& text) {
    auto buffered = [this] { return std::string_view(buffer_).substr(head_); };
    TScratchFrameCheck check = CheckScratchFrame(buffered());
    if (check.State == TScratchFrameState::Incomplete) {
        Pull();
        check = CheckScratchFrame(buffered());
    }
    switch (check.State) {
    case TScratchFrameState::TooLong:
        throw EScratchProtocolError("message length " + std::to_string(check.Length) +
                                    " exceeds the limit of " +
                                    std::to_string(kScratchMaxTextLength) + " bytes");
    case TScratchFrameState::Incomplete:
        // What is missing can no longer come.
        if (!IsOpen() && BufferedBytes() > 0)
            ThrowClosed();
        return false;
    case TScratchFrameState::Complete:
        break;
    }
    head_ += kScratchHeaderSize;
    text = Take(static_cast<std::size_t>(check.Length));
    return true;
}

void TScratchClient::Send(std::string_view bytes) {
    if (!IsOpen())
        throw EScratchSocketError("not connected");
    while (!bytes.empty()) {
        const int n = SendFrom(Handle(socket_), bytes.data(), bytes.size());
        if (n < 0) {
            const int error = LastError();
            if (Interrupted(error))
                continue;
            throw EScratchSocketError("sending failed: " + ErrorText(error), error);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void TScratchClient::Write(std::int32_t value) {
    Send(EncodeScratchLength(value));
}

void TScratchClient::Write(std::string_view utf8) {
    Send(utf8);
}

} // namespace kobito
