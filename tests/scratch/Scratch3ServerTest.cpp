// The Scratch 3 bridge's server with real sockets on 127.0.0.1: who may
// connect, what is refused and why, and that a refused or hostile client
// reaches nothing of the owner.
#include "Scratch3Server.h"
#include "Scratch3Client.h"
#include "Scratch3Json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#endif

using kobito::test::IdleConnection;
using kobito::test::Scratch3Client;
using namespace std::chrono_literals;
using Kind = kobito::TScratch3Event::Kind;

namespace kobito {
namespace {

// The owner's side: events as the server hands them over.
class Events {
public:
    void Push(TScratch3Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    // The next event of that kind (others stay queued), or nothing in time.
    std::optional<TScratch3Event> Next(Kind kind, std::chrono::milliseconds wait = 5s) {
        std::unique_lock lock(mutex_);
        std::optional<TScratch3Event> found;
        changed_.wait_for(lock, wait, [&] {
            for (auto it = events_.begin(); it != events_.end(); ++it)
                if (it->kind == kind) {
                    found = std::move(*it);
                    events_.erase(it);
                    return true;
                }
            return false;
        });
        return found;
    }
    int Count(Kind kind) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& e : events_)
            n += e.kind == kind;
        return n;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TScratch3Event> events_;
};

class Scratch3Server : public testing::Test {
protected:
    void Start(std::map<std::string, bool> origins = {}) {
        TScratch3Server::Options options;
        options.port = 0;
        options.origins = std::move(origins);
        server = std::make_unique<TScratch3Server>(
            std::move(options), [this](TScratch3Event e) { events.Push(std::move(e)); });
        port = server->Port();
    }
    // A client from TurboWarp's web editor, connected and announced.
    std::unique_ptr<Scratch3Client> Client(std::uint64_t* id = nullptr) {
        auto client = std::make_unique<Scratch3Client>();
        EXPECT_TRUE(client->Connect(port, {{}, "https://turbowarp.org", {}}))
            << client->Status() << " " << client->Body();
        const auto connected = events.Next(Kind::Connected);
        EXPECT_TRUE(connected);
        if (id && connected)
            *id = connected->connection;
        return client;
    }

    Events events;
    std::unique_ptr<TScratch3Server> server;
    std::uint16_t port = 0;
};

struct HandshakeCase {
    const char* name;
    std::string host; // "@" stands for the server's port
    std::string origin;
    int status; // 101 upgraded
};

void PrintTo(const HandshakeCase& c, std::ostream* os) {
    *os << c.name;
}

std::string WithPort(std::string text, std::uint16_t port) {
    const auto at = text.find('@');
    if (at != std::string::npos)
        text.replace(at, 1, std::to_string(port));
    return text;
}

class Handshake : public Scratch3Server, public testing::WithParamInterface<HandshakeCase> {};

TEST_P(Handshake, IsUpgradedOrRefusedWithAReason) {
    Start();
    const HandshakeCase& c = GetParam();
    Scratch3Client client;
    const bool upgraded =
        client.Connect(port, {WithPort(c.host, port), WithPort(c.origin, port), {}});
    if (c.status == 101) {
        EXPECT_TRUE(upgraded) << client.Status() << " " << client.Body();
        ASSERT_TRUE(events.Next(Kind::Connected));
        return;
    }
    EXPECT_FALSE(upgraded);
    EXPECT_EQ(client.Status(), c.status) << client.Body();
    EXPECT_FALSE(client.Body().empty());
    const auto refused = events.Next(Kind::Refused);
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->text.find(std::to_string(c.status)), std::string::npos) << refused->text;
    EXPECT_EQ(events.Count(Kind::Connected), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Handshake,
    testing::Values(
        HandshakeCase{"TurboWarpWeb", "", "https://turbowarp.org", 101},
        HandshakeCase{"TurboWarpDesktop", "", "tw-editor://.", 101},
        HandshakeCase{"LocalPage", "localhost:@", "http://localhost:8601", 101},
        HandshakeCase{"NoOriginNativeClient", "", "", 101},
        HandshakeCase{"HostOfAnotherName", "evil.example:@", "https://turbowarp.org", 403},
        HandshakeCase{"HostWithoutPort", "127.0.0.1", "https://turbowarp.org", 403},
        HandshakeCase{"HostWithAnotherPort", "127.0.0.1:1", "https://turbowarp.org", 403},
        HandshakeCase{"MalformedOrigin", "", "https://turbowarp.org/editor", 403},
        HandshakeCase{"OriginWithLineBreak", "", "https://x\r\nX-A: b", 403},
        HandshakeCase{"UnknownOrigin", "", "https://example.org", 403},
        HandshakeCase{"NullOrigin", "", "null", 403}));

TEST_F(Scratch3Server, PlainHttpAndDoubledHeadersAreRefusedWithAnAnswer) {
    Start();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    const std::string upgrade = "Connection: Upgrade\r\nUpgrade: websocket\r\n"
                                "Sec-WebSocket-Version: 13\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
    // An editor's page asks this way whether the program listens.
    EXPECT_EQ(Scratch3Client::RawExchange(port, "GET / HTTP/1.1\r\n" + host + "\r\n").substr(0, 12),
              "HTTP/1.1 426");
    EXPECT_EQ(
        Scratch3Client::RawExchange(port, "GET / HTTP/1.1\r\n" + host + host + upgrade + "\r\n")
            .substr(0, 12),
        "HTTP/1.1 403");
    EXPECT_EQ(Scratch3Client::RawExchange(port, "GET / HTTP/1.1\r\n" + host + upgrade +
                                                    "Origin: https://turbowarp.org\r\n"
                                                    "Origin: https://evil.example\r\n\r\n")
                  .substr(0, 12),
              "HTTP/1.1 403");
    // Not HTTP, a body, a header beyond any browser's: closed, nothing else.
    EXPECT_EQ(Scratch3Client::RawExchange(port, std::string("\x16\x03\x01\x02\x00", 5)), "");
    EXPECT_EQ(Scratch3Client::RawExchange(port, "POST / HTTP/1.1\r\n" + host +
                                                    "Content-Length: 5\r\n\r\nhello"),
              "");
    EXPECT_EQ(Scratch3Client::RawExchange(port, "GET / HTTP/1.1\r\n" + host +
                                                    "X: " + std::string(20000, 'a') + "\r\n\r\n"),
              "");
    EXPECT_EQ(events.Count(Kind::Connected), 0);
    // Still serving.
    Client();
}

TEST_F(Scratch3Server, AnUnknownOriginIsAskedAboutOnceAndTheAnswerHolds) {
    Start({{"https://refused.example", false}, {"https://allowed.example", true}});
    Scratch3Client first;
    EXPECT_FALSE(first.Connect(port, {{}, "https://Example.ORG", {}}));
    EXPECT_EQ(first.Status(), 403);
    const auto asked = events.Next(Kind::AskOrigin);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->text, "https://example.org");

    // While the question is open: the same origin and others are refused, unasked.
    Scratch3Client again, other;
    EXPECT_FALSE(again.Connect(port, {{}, "https://example.org", {}}));
    EXPECT_EQ(again.Status(), 403);
    EXPECT_FALSE(other.Connect(port, {{}, "null", {}}));
    EXPECT_EQ(other.Status(), 403);
    EXPECT_NE(other.Body().find("question"), std::string::npos) << other.Body();

    // Remembered answers need no question.
    Scratch3Client refused, allowed;
    EXPECT_FALSE(refused.Connect(port, {{}, "https://refused.example", {}}));
    EXPECT_EQ(refused.Status(), 403);
    EXPECT_TRUE(allowed.Connect(port, {{}, "https://allowed.example", {}}));

    server->AnswerOrigin("https://example.org", true);
    Scratch3Client later;
    EXPECT_TRUE(later.Connect(port, {{}, "https://example.org", {}})) << later.Body();

    // The next unknown origin may be asked about now; a No holds too.
    Scratch3Client sandboxed;
    EXPECT_FALSE(sandboxed.Connect(port, {{}, "null", {}}));
    const auto askedNull = events.Next(Kind::AskOrigin);
    ASSERT_TRUE(askedNull);
    EXPECT_EQ(askedNull->text, "null");
    server->AnswerOrigin("null", false);
    Scratch3Client sandboxedAgain;
    EXPECT_FALSE(sandboxedAgain.Connect(port, {{}, "null", {}}));
    EXPECT_EQ(sandboxedAgain.Status(), 403);
    EXPECT_EQ(events.Count(Kind::AskOrigin), 0);
}

TEST_F(Scratch3Server, ANinthConnectionIsRefusedUntilOneCloses) {
    Start();
    std::vector<std::unique_ptr<Scratch3Client>> clients;
    for (int i = 0; i < kScratch3MaxClients; ++i)
        clients.push_back(Client());
    Scratch3Client ninth;
    EXPECT_FALSE(ninth.Connect(port, {{}, "https://turbowarp.org", {}}));
    EXPECT_EQ(ninth.Status(), 503);
    clients.front()->Close();
    ASSERT_TRUE(events.Next(Kind::Disconnected));
    Client();
}

TEST_F(Scratch3Server, AFloodOfConnectionsIsTurnedAwayAndServingGoesOn) {
    Start();
    // Sockets that never send a request hold at most kMaxHandshakes places;
    // the others are closed at once.
    std::vector<std::unique_ptr<IdleConnection>> idle;
    for (int i = 0; i < 3 * TScratch3Server::kMaxHandshakes; ++i)
        idle.push_back(std::make_unique<IdleConnection>(port));
    for (int i = TScratch3Server::kMaxHandshakes; i < int(idle.size()); ++i)
        EXPECT_TRUE(idle[std::size_t(i)]->ClosedByServer(5s)) << i;
    for (int i = 0; i < TScratch3Server::kMaxHandshakes; ++i)
        EXPECT_FALSE(idle[std::size_t(i)]->ClosedByServer(10ms)) << i;
    idle.clear();
    // Their places come free as the server sees them close.
    std::unique_ptr<Scratch3Client> next;
    for (int attempt = 0; attempt < 100; ++attempt) {
        next = std::make_unique<Scratch3Client>();
        if (next->Connect(port, {{}, "https://turbowarp.org", {}}))
            break;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(events.Next(Kind::Connected));
    next.reset();
    ASSERT_TRUE(events.Next(Kind::Disconnected));

    // Many handshakes at once: eight get in, the others are refused.
    std::vector<std::unique_ptr<Scratch3Client>> crowd;
    int upgraded = 0, unavailable = 0;
    for (int i = 0; i < 40; ++i) {
        crowd.push_back(std::make_unique<Scratch3Client>());
        if (crowd.back()->Connect(port, {{}, "https://turbowarp.org", {}}))
            ++upgraded;
        else
            unavailable += crowd.back()->Status() == 503;
    }
    EXPECT_EQ(upgraded, kScratch3MaxClients);
    EXPECT_EQ(unavailable, 40 - kScratch3MaxClients);
    crowd.clear();
    for (int i = 0; i < kScratch3MaxClients; ++i)
        ASSERT_TRUE(events.Next(Kind::Disconnected));
    Client();
}

TEST_F(Scratch3Server, RefusedFramesAreAnsweredAndReachNothing) {
    Start();
    auto client = Client();
    struct Case {
        std::string frame;
        std::string reason;
    };
    const std::vector<Case> cases = {{"not json", "invalid-json"},
                                     {"{\"type\":\"play\",\"id\":1,\"slot\":\"a\"", "invalid-json"},
                                     {std::string(40, '[') + std::string(40, ']'), "invalid-json"},
                                     {R"({"type":"dance"})", "unknown-type"},
                                     {R"({"type":"play","slot":"Walk"})", "bad-request"},
                                     {R"([])", "bad-request"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(client->Send(c.frame));
        const auto reply = client->Receive();
        ASSERT_TRUE(reply) << c.frame;
        const auto json = ParseJson(*reply);
        ASSERT_TRUE(json) << *reply;
        EXPECT_EQ(json->Member("type")->text, "error") << *reply;
        EXPECT_EQ(json->Member("reason")->text, c.reason) << *reply;
    }
    ASSERT_TRUE(client->SendBinary(R"({"type":"hello"})"));
    EXPECT_NE(client->Receive().value_or("").find("\"bad-request\""), std::string::npos);
    // A play whose id was readable is answered under that id.
    ASSERT_TRUE(client->Send(R"({"type":"play","id":5,"slot":7})"));
    EXPECT_EQ(client->Receive().value_or(""),
              R"({"type":"result","id":5,"result":"error","reason":"bad-request",)"
              R"("message":"\"slot\" must be a string"})");
    EXPECT_EQ(events.Count(Kind::Request), 0);
    // The connection still works.
    ASSERT_TRUE(client->Send(R"({"type":"hello"})"));
    EXPECT_TRUE(events.Next(Kind::Request));
}

TEST_F(Scratch3Server, AMessageOver64KBClosesTheConnectionWithItsReason) {
    Start();
    auto client = Client();
    // Exactly 64 KB is a message like any other.
    std::string frame = R"({"type":"hello","pad":""})";
    frame.insert(frame.size() - 2, kScratch3MaxMessage - frame.size(), 'x');
    ASSERT_EQ(frame.size(), kScratch3MaxMessage);
    ASSERT_TRUE(client->Send(frame));
    const auto request = events.Next(Kind::Request);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->text, frame);
    server->Handled(request->connection);

    frame.insert(frame.size() - 2, "x");
    client->Send(frame);
    const auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find("\"too-large\""), std::string::npos) << *reply;
    EXPECT_FALSE(client->Receive());
    EXPECT_TRUE(client->Closed());
    EXPECT_EQ(client->CloseCode(), 1009);
    EXPECT_TRUE(events.Next(Kind::Disconnected));
    EXPECT_EQ(events.Count(Kind::Request), 0);

    // Much larger: the same, without reading it all first.
    auto big = Client();
    big->Send(std::string(8 << 20, ' '));
    EXPECT_NE(big->Receive().value_or("").find("\"too-large\""), std::string::npos);
    EXPECT_FALSE(big->Receive());
    EXPECT_EQ(big->CloseCode(), 1009);
}

TEST_F(Scratch3Server, AClientWaitsForItsRequestsToBeHandledBeforeMoreAreRead) {
    Start();
    std::uint64_t id = 0;
    auto client = Client(&id);
    constexpr int kSent = 3 * TScratch3Server::kMaxWaitingRequests;
    for (int i = 0; i < kSent; ++i)
        ASSERT_TRUE(
            client->Send(R"({"type":"play","id":)" + std::to_string(i) + R"(,"slot":"Walk"})"));
    std::vector<std::int64_t> ids;
    for (int i = 0; i < TScratch3Server::kMaxWaitingRequests; ++i) {
        const auto request = events.Next(Kind::Request);
        ASSERT_TRUE(request);
        ids.push_back(request->request.id);
    }
    EXPECT_FALSE(events.Next(Kind::Request, 300ms)) << "read while four wait";
    for (int i = TScratch3Server::kMaxWaitingRequests; i < kSent; ++i) {
        server->Handled(id);
        const auto request = events.Next(Kind::Request);
        ASSERT_TRUE(request);
        ids.push_back(request->request.id);
    }
    for (int i = 0; i < kSent; ++i)
        EXPECT_EQ(ids[std::size_t(i)], i) << "in order";
}

TEST_F(Scratch3Server, SendsReachTheirClientsAndStoppingClosesEveryOne) {
    Start();
    std::uint64_t a = 0, b = 0;
    auto first = Client(&a);
    auto second = Client(&b);
    server->Send(a, "one");
    server->SendAll("all");
    server->Send(b, "two");
    server->Send(12345, "nobody");
    EXPECT_EQ(first->Receive().value_or(""), "one");
    EXPECT_EQ(first->Receive().value_or(""), "all");
    EXPECT_EQ(second->Receive().value_or(""), "all");
    EXPECT_EQ(second->Receive().value_or(""), "two");

    server->Stop();
    for (auto* client : {first.get(), second.get()}) {
        EXPECT_FALSE(client->Receive());
        EXPECT_EQ(client->CloseCode(), 1001);
    }
    server->Send(a, "after");
    server->Stop();
    Scratch3Client late;
    EXPECT_FALSE(late.Connect(port));
}

TEST_F(Scratch3Server, AClientThatDoesNotReadIsDropped) {
    Start();
    std::uint64_t id = 0;
    auto client = Client(&id);
    // The client's side reads nothing while this goes out.
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 400; ++i)
        server->Send(id, chunk);
    EXPECT_TRUE(events.Next(Kind::Disconnected, 20s));
}

TEST_F(Scratch3Server, APortInUseIsReportedAndTheServerNeverStarts) {
    Start();
    TScratch3Server::Options options;
    options.port = port;
    try {
        TScratch3Server second(options, [](TScratch3Event) {});
        FAIL() << "a second server listened on the same port";
    } catch (const EScratch3ListenError& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(port)), std::string::npos);
    }
    Client();
}

#ifndef _WIN32
// The machine's first IPv4 address that is not loopback, if it has one.
std::optional<std::string> OtherAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<std::string> found;
    for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) == 127)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        found = text;
    }
    freeifaddrs(list);
    return found;
}

TEST_F(Scratch3Server, APeerThatIsNotLoopbackIsClosedUnanswered) {
    Start();
    const std::optional<std::string> address = OtherAddress();
    if (!address)
        GTEST_SKIP() << "no network interface besides loopback";
    Scratch3Client outsider;
    EXPECT_FALSE(outsider.Connect(port, {{}, "https://turbowarp.org", *address}));
    EXPECT_EQ(outsider.Status(), 0);
    EXPECT_EQ(events.Count(Kind::Connected), 0);
    EXPECT_EQ(events.Count(Kind::Refused), 0);
    Client();
}
#endif

} // namespace
} // namespace kobito
