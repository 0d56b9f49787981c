#pragma once
// The Scratch 3 bridge's WebSocket server on 127.0.0.1: handshake checks
// (peer, Host, Origin, number of connections), message framing and the
// refusals that need no one else. It runs on a thread of its own; what the
// owner must decide comes out as events, which the owner hands to its own
// thread, and its answers go back through the calls below, from any thread.
#include "Scratch3Protocol.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace kobito {

struct TScratch3Event {
    enum class Kind {
        Connected,    // text: the page's origin, "" for a client that sent none
        Disconnected, // the connection has ended
        Request,      // text: the frame; request: what it asks. Answer Handled() after it.
        Refused,      // text: a handshake turned down and why, for the log
        AskOrigin     // text: an origin no one has decided on; answer AnswerOrigin()
    };
    Kind kind = Kind::Refused;
    std::uint64_t connection = 0;
    std::string text;
    TScratch3Request request;
};

// The server could not listen (port taken, no loopback interface ...).
class EScratch3ListenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TScratch3Server {
public:
    struct Options {
        // 0 takes any free port (tests); Port() says which.
        std::uint16_t port = kScratch3DefaultPort;
        // Origins the user has answered for (normalised): true allowed, false refused.
        std::map<std::string, bool> origins;
    };
    // Called on the server's thread; must not block and must not call back
    // into the server synchronously in a way that waits.
    using EventSink = std::function<void(TScratch3Event)>;

    // Listens on 127.0.0.1 and starts the thread; throws EScratch3ListenError.
    TScratch3Server(Options options, EventSink sink);
    // Stop().
    ~TScratch3Server();
    TScratch3Server(const TScratch3Server&) = delete;
    TScratch3Server& operator=(const TScratch3Server&) = delete;

    // Closes every connection (close code 1001) and ends the thread. No event
    // comes after it returns. Safe to call twice.
    void Stop();
    std::uint16_t Port() const;

    // Any thread. A connection that has gone is skipped.
    void Send(std::uint64_t connection, std::string text);
    void SendAll(std::string text);
    // A Request event of the connection has been handled. Reading pauses
    // while a few wait, so a client cannot queue work faster than it is done.
    void Handled(std::uint64_t connection);
    void AnswerOrigin(const std::string& origin, bool allowed);

    // Requests an unanswered connection may have waiting at once.
    static constexpr int kMaxWaitingRequests = 4;
    // Bytes queued for a client that does not read, before it is dropped.
    static constexpr std::size_t kMaxQueuedBytes = 1 << 20;
    // Connections before their handshake; more are closed at once.
    static constexpr int kMaxHandshakes = 16;

    struct Impl; // the server's state, touched only on its thread

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace kobito
