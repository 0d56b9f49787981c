#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kobito::test {

// Scratch's side of a remote-sensor connection for tests: listens on
// 127.0.0.1 at a free port, accepts any number of clients, sends them
// framed messages or raw bytes, and records what each client sends.
// Clients are numbered 0, 1, ... in the order they were accepted; kLatest
// means the one accepted last. Send functions throw std::runtime_error.
class ScratchPeer {
public:
    static constexpr int kLatest = -1;

    ScratchPeer();
    ~ScratchPeer();
    ScratchPeer(const ScratchPeer&) = delete;
    ScratchPeer& operator=(const ScratchPeer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Four bytes, most significant first.
    static std::string Length(std::int32_t length);
    // Length field and text.
    static std::string Frame(std::string_view text);

    std::size_t ClientCount() const;
    bool WaitForClients(std::size_t count, std::chrono::milliseconds timeout) const;

    void SendFrame(std::string_view text, int client = kLatest);
    void SendRaw(std::string_view bytes, int client = kLatest);
    // On a thread of its own: pieces of pieceSize bytes with a pause after
    // each but the last, so that the test can block in a read meanwhile.
    void SendInPieces(std::string bytes, std::size_t pieceSize, std::chrono::milliseconds pause,
                      int client = kLatest);
    // Waits until every SendInPieces has finished; false if one failed.
    bool WaitSent();
    // Closes this side of the connection (an orderly close), e.g. mid-frame.
    void CloseClient(int client = kLatest);

    // Everything the client has sent, and the complete frames in it.
    std::string Received(int client = kLatest) const;
    std::vector<std::string> Frames(int client = kLatest) const;
    bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout,
                      int client = kLatest) const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout,
                       int client = kLatest) const;
    // The client has closed its side (or the connection broke).
    bool ClientClosed(int client = kLatest) const;
    bool WaitForClientClosed(std::chrono::milliseconds timeout, int client = kLatest) const;

private:
    struct Client;
    Client& At(int client) const; // under lock_
    void Run();

    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::unique_ptr<Client>> clients_;
    bool stop_ = false;
    std::thread io_;
    std::mutex sendersLock_;
    std::vector<std::thread> senders_;
    bool sendFailed_ = false;
};

// A port on 127.0.0.1 that is bound but never listens, so a connection to
// it is refused, for as long as the object lives.
class UnusedPort {
public:
    UnusedPort();
    ~UnusedPort();
    UnusedPort(const UnusedPort&) = delete;
    UnusedPort& operator=(const UnusedPort&) = delete;
    std::uint16_t Port() const { return port_; }

private:
    std::uintptr_t socket_;
    std::uint16_t port_ = 0;
};

} // namespace kobito::test
