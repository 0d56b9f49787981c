#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kobito {

// The connection failed or is gone: connect, send or receive, or a message
// that cannot complete because the peer closed.
class EScratchSocketError : public std::runtime_error {
public:
    explicit EScratchSocketError(const std::string& message, int code = 0)
        : std::runtime_error(message), code_(code) {}
    // The operating system's error number (errno or WSA error), 0 if none.
    int Code() const { return code_; }

private:
    int code_;
};

// The peer sent a length field no message can have.
class EScratchProtocolError : public EScratchSocketError {
public:
    using EScratchSocketError::EScratchSocketError;
};

// Blocking IPv4 TCP client for Scratch's remote-sensor connection, used from
// one thread (the GUI thread). Received bytes collect in an input buffer;
// the blocking reads wait without a time limit, everything else never waits.
class TScratchClient {
public:
    TScratchClient() = default;
    // Closes an open connection without OnDisconnected: the owner is going away.
    ~TScratchClient();
    TScratchClient(const TScratchClient&) = delete;
    TScratchClient& operator=(const TScratchClient&) = delete;

    std::string Host = "127.0.0.1";
    std::uint16_t Port = 42001;
    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected;

    // Blocks until connected (then OnConnected, then returns) or failed
    // (EScratchSocketError, nothing left open). Fails while a connection is open.
    void Connect();
    // Closes an open connection and raises OnDisconnected; with none open it
    // only drops bytes left over from a connection the peer closed.
    void Disconnect();
    // Moves bytes that have already arrived into the input buffer without
    // waiting, and notices a close by the peer (closes this side, no
    // OnDisconnected). True while open or while buffered bytes remain.
    bool Connected();
    // The connection itself is open: false once either side has closed it,
    // even while bytes received before wait in the buffer. Never reads from
    // the socket.
    bool IsOpen() const { return socket_ != kNoSocket; }
    // Never reads from the socket.
    bool InputBufferIsEmpty() const { return BufferedBytes() == 0; }
    std::size_t BufferedBytes() const { return buffer_.size() - head_; }

    // Waits until 4 bytes are buffered; big-endian signed. Throws
    // EScratchSocketError if the connection closes first.
    std::int32_t ReadLongInt();
    // UTF-8 bytes, not validated. byteCount <= 0 reads nothing and gives "";
    // more than kScratchMaxTextLength throws EScratchProtocolError.
    std::string ReadString(std::int32_t byteCount);

    // Non-blocking: takes one complete frame's text from the input buffer
    // (after moving what has arrived) and returns true, or returns false and
    // leaves a partial frame for later. Throws EScratchProtocolError for a
    // length above kScratchMaxTextLength and EScratchSocketError when the
    // peer has closed in the middle of a frame.
    bool TryReadFrame(std::string& text);

    // Each Write goes to the socket at once; throws EScratchSocketError when
    // not connected or when sending fails (the connection stays as it is).
    void Write(std::int32_t value);
    // The bytes as given (UTF-8); an empty text sends nothing.
    void Write(std::string_view utf8);

private:
    void CloseSocket();
    // One recv; false when the connection ended (socket closed then).
    bool ReceiveSome();
    void Pull();
    void Fill(std::size_t count);
    std::string Take(std::size_t count);
    void Send(std::string_view bytes);
    [[noreturn]] void ThrowClosed() const;

    using SocketHandle = std::uintptr_t; // int on POSIX, SOCKET on Windows
    static constexpr SocketHandle kNoSocket = ~SocketHandle{0};
    SocketHandle socket_ = kNoSocket;
    int lastError_ = 0; // why the connection ended; 0 for an orderly close
    std::string buffer_;
    std::size_t head_ = 0; // consumed bytes at the front of buffer_
};

} // namespace kobito
