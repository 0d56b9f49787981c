#pragma once
// A WebSocket client for tests of the Scratch 3 bridge, on Boost.Beast: it
// connects to 127.0.0.1 with the Host and Origin a test chooses, sends and
// receives text frames, and reports a refused handshake's HTTP status and
// text and a close's code. Every wait has a limit, so a test never hangs.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kobito::test {

class Scratch3Client {
public:
    struct Options {
        // Empty: "127.0.0.1:<port>".
        std::string host;
        // Empty: no Origin header.
        std::string origin;
        // Connect from this local address (for a peer that is not loopback).
        std::string localAddress;
    };

    Scratch3Client();
    ~Scratch3Client();
    Scratch3Client(const Scratch3Client&) = delete;
    Scratch3Client& operator=(const Scratch3Client&) = delete;

    // True when the upgrade succeeded. Otherwise Status() and Body() say
    // what the server answered (0 and "" for a connection closed unanswered).
    bool Connect(std::uint16_t port, const Options& options = {});
    int Status() const { return status_; }
    const std::string& Body() const { return body_; }

    bool Send(const std::string& text);
    bool SendBinary(const std::string& bytes);
    // The next text frame, or nothing when none came in time or the
    // connection closed (then Closed() is true and CloseCode() set).
    std::optional<std::string> Receive(std::chrono::milliseconds wait = std::chrono::seconds(5));
    // Frames until one containing needle; nothing if none came in time.
    std::optional<std::string>
    ReceiveUntil(const std::string& needle,
                 std::chrono::milliseconds wait = std::chrono::seconds(5));
    bool Closed() const { return closed_; }
    int CloseCode() const { return closeCode_; }
    std::string CloseReason() const { return closeReason_; }
    // Sends a close frame and waits for the server's.
    void Close();

    // Sends raw bytes over a plain TCP connection and returns what the
    // server sent back until it closed (or wait ran out).
    static std::string RawExchange(std::uint16_t port, const std::string& bytes,
                                   std::chrono::milliseconds wait = std::chrono::seconds(5));

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    int status_ = 0;
    std::string body_;
    bool closed_ = false;
    int closeCode_ = 0;
    std::string closeReason_;
};

// A plain TCP connection to 127.0.0.1 that sends nothing: what a flood is made of.
class IdleConnection {
public:
    explicit IdleConnection(std::uint16_t port);
    ~IdleConnection();
    IdleConnection(const IdleConnection&) = delete;
    IdleConnection& operator=(const IdleConnection&) = delete;
    // Whether the server closed it within the wait.
    bool ClosedByServer(std::chrono::milliseconds wait);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kobito::test
