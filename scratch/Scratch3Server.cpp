// GCC 12 in C++20: Boost 1.74's asio/awaitable.hpp uses std::exchange without <utility>.
#include <utility>

#include "Scratch3Server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <deque>
#include <optional>
#include <set>
#include <thread>

namespace kobito {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

namespace {
// A client has this long to send its handshake request and finish the upgrade.
constexpr std::chrono::seconds kHandshakeTime{10};
// A connection with nothing from the client (not even the answer to a ping) for this long has gone.
constexpr std::chrono::seconds kIdleTime{30};
// Bytes of the handshake request's header, far above what a browser sends.
constexpr std::uint32_t kMaxHeader = 8 * 1024;
// How long switching off waits for clients to answer the close.
constexpr std::chrono::milliseconds kCloseGrace{500};
// Refused handshakes logged one by one; more within this time are counted.
constexpr std::chrono::seconds kRefusalQuiet{1};
// One read takes at most this much of a message.
constexpr std::size_t kReadChunk = 16 * 1024;

std::string_view View(beast::string_view s) {
    return {s.data(), s.size()};
}
} // namespace

class Session;

struct TScratch3Server::Impl {
    Impl(Options options, EventSink eventSink)
        : sink(std::move(eventSink)), origins(std::move(options.origins)), refusalTimer(ioc),
          graceTimer(ioc) {
        beast::error_code ec;
        const tcp::endpoint where(net::ip::address_v4::loopback(), options.port);
        acceptor.open(where.protocol(), ec);
#ifdef _WIN32
        // No other program may bind the port over ours. Best effort: a
        // system without the option still refuses a plain second bind.
        if (!ec) {
            beast::error_code ignored;
            acceptor.set_option(
                net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true),
                ignored);
        }
#else
        // Switching off and on again must not wait for old connections' TIME_WAIT.
        // (On Windows this option would let another program take the port.)
        if (!ec)
            acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
        if (!ec)
            acceptor.bind(where, ec);
        if (!ec)
            acceptor.listen(16, ec);
        if (ec) {
            if (ec == net::error::address_in_use || ec == net::error::access_denied)
                throw EScratch3ListenError("port " + std::to_string(options.port) +
                                           " is in use by another program");
            throw EScratch3ListenError(
                "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + ec.message());
        }
        port = acceptor.local_endpoint().port();
    }

    void Emit(TScratch3Event event) {
        if (!stopping)
            sink(std::move(event));
    }
    void Accept();
    void Refused(const std::string& why);
    void Shutdown();
    void Left(); // a session has gone
    std::shared_ptr<Session> Find(std::uint64_t id);

    // Declared first, destroyed last: everything below uses it.
    net::io_context ioc{1};
    tcp::acceptor acceptor{ioc};
    EventSink sink;
    std::uint16_t port = 0;
    std::map<std::string, bool> origins;
    std::optional<std::string> asking;                          // the origin whose question is open
    std::map<std::uint64_t, std::shared_ptr<Session>> sessions; // every open one
    int handshakes = 0;                                         // sessions before their upgrade
    int clients = 0; // upgraded, or upgrading after passing the checks
    std::uint64_t nextId = 1;
    bool stopping = false;
    // Refusals held back while the log is being spared.
    net::steady_timer refusalTimer;
    bool refusalQuiet = false;
    int refusalsHeld = 0;
    std::string lastRefusal;
    net::steady_timer graceTimer;
    std::thread thread;
    bool stopped = false; // owner's thread only
};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(TScratch3Server::Impl& server, std::uint64_t id, tcp::socket socket)
        : server_(server), id_(id), ws_(std::move(socket)) {}

    std::uint64_t Id() const { return id_; }

    void Start() {
        ++server_.handshakes;
        handshaking_ = true;
        parser_.emplace();
        parser_->header_limit(kMaxHeader);
        parser_->body_limit(0);
        beast::get_lowest_layer(ws_).expires_after(kHandshakeTime);
        http::async_read(ws_.next_layer(), buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             self->OnRequest(ec);
                         });
    }

    void Send(std::string text) {
        if (!upgraded_ || closing_)
            return;
        queued_ += text.size();
        // A client that reads nothing could not take a close frame either.
        if (queued_ > TScratch3Server::kMaxQueuedBytes)
            return Abort();
        outbox_.push_back(std::move(text));
        if (!writing_)
            WriteNext();
    }

    void Handled() {
        if (waiting_ > 0)
            --waiting_;
        if (readPaused_ && waiting_ < TScratch3Server::kMaxWaitingRequests) {
            readPaused_ = false;
            ReadMore();
        }
    }

    // Sends a close frame once what is queued has gone out.
    void Close(websocket::close_code code, std::string reason) {
        if (!upgraded_)
            return Abort(); // nothing to close politely before the upgrade
        if (closing_)
            return;
        closing_ = true;
        closeReason_ = websocket::close_reason(code, reason);
        if (!writing_)
            SendClose();
    }

    // Stops at once: the socket closes, pending operations end.
    void Abort() {
        beast::error_code ec;
        beast::get_lowest_layer(ws_).socket().close(ec);
        Gone();
    }

private:
    void OnRequest(beast::error_code ec) {
        if (ec || server_.stopping)
            return Gone();
        const http::request<http::empty_body>& req = parser_->get();

        // The Host names this computer with the bridge's port: a page that got
        // here through a name of its own (DNS rebinding) is turned away.
        if (req.count(http::field::host) != 1 ||
            !IsScratch3HostAllowed(View(req[http::field::host]), server_.port))
            return Refuse(http::status::forbidden,
                          "Host must be 127.0.0.1:" + std::to_string(server_.port) +
                              " or localhost:" + std::to_string(server_.port));
        if (!websocket::is_upgrade(req))
            return Refuse(http::status::upgrade_required,
                          "KOBITO Motion's Scratch 3 bridge: WebSocket only");

        // No Origin: a program on this computer, not a page (browsers always send one).
        if (req.count(http::field::origin) > 1)
            return Refuse(http::status::forbidden, "more than one Origin");
        if (req.count(http::field::origin) == 1) {
            const std::string_view header = View(req[http::field::origin]);
            const std::optional<std::string> origin = NormaliseScratch3Origin(header);
            if (!origin)
                return Refuse(http::status::forbidden, "malformed Origin");
            origin_ = *origin;
            if (!IsKnownScratch3Origin(origin_)) {
                const auto answered = server_.origins.find(origin_);
                if (answered != server_.origins.end() && !answered->second)
                    return Refuse(http::status::forbidden,
                                  "origin " + origin_ + " was refused in KOBITO Motion");
                if (answered == server_.origins.end()) {
                    // One question at a time; others are asked when they come back.
                    if (!server_.asking) {
                        server_.asking = origin_;
                        server_.Emit({TScratch3Event::Kind::AskOrigin, 0, origin_, {}});
                    }
                    return Refuse(
                        http::status::forbidden,
                        server_.asking == origin_
                            ? "origin " + origin_ + " awaits the answer in KOBITO Motion"
                            : "origin " + origin_ +
                                  " waits until KOBITO Motion's open question is answered");
                }
            }
        }
        if (server_.clients >= kScratch3MaxClients)
            return Refuse(http::status::service_unavailable,
                          "more than " + std::to_string(kScratch3MaxClients) + " connections");

        ++server_.clients;
        counted_ = true;
        beast::get_lowest_layer(ws_).expires_never();
        // A client that stops answering pings (gone, or reading nothing while
        // a write waits) is closed.
        ws_.set_option(websocket::stream_base::timeout{kHandshakeTime, kIdleTime, true});
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& res) { res.set(http::field::server, "KOBITO Motion"); }));
        // The limit is checked here, so that the client hears why before the close.
        ws_.read_message_max(kScratch3MaxMessage + 2 * kReadChunk);
        ws_.async_accept(req,
                         [self = shared_from_this()](beast::error_code e) { self->OnAccepted(e); });
    }

    void Refuse(http::status status, std::string why) {
        server_.Refused(why + " (" + std::to_string(int(status)) + ")" +
                        (origin_.empty() ? std::string() : ", origin " + origin_));
        auto res = std::make_shared<http::response<http::string_body>>(status, 11);
        res->set(http::field::server, "KOBITO Motion");
        res->set(http::field::content_type, "text/plain; charset=utf-8");
        res->set(http::field::connection, "close");
        res->body() = why + "\n";
        res->prepare_payload();
        http::async_write(ws_.next_layer(), *res,
                          [self = shared_from_this(), res](beast::error_code, std::size_t) {
                              beast::error_code ignored;
                              beast::get_lowest_layer(self->ws_).socket().shutdown(
                                  tcp::socket::shutdown_send, ignored);
                              self->Gone();
                          });
    }

    void OnAccepted(beast::error_code ec) {
        if (ec || server_.stopping)
            return Gone();
        EndHandshake();
        upgraded_ = true;
        server_.Emit({TScratch3Event::Kind::Connected, id_, origin_, {}});
        ReadMore();
    }

    void EndHandshake() {
        if (handshaking_) {
            handshaking_ = false;
            --server_.handshakes;
        }
    }

    void ReadMore() {
        if (closing_ || reading_)
            return;
        if (waiting_ >= TScratch3Server::kMaxWaitingRequests) {
            readPaused_ = true;
            return;
        }
        reading_ = true;
        ws_.async_read_some(
            message_, kReadChunk,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    void OnRead(beast::error_code ec) {
        reading_ = false;
        if (ec)
            return Gone();
        if (closing_)
            return;
        if (message_.size() > kScratch3MaxMessage) {
            message_.clear();
            Send(Scratch3Error("too-large", "a message may have at most " +
                                                std::to_string(kScratch3MaxMessage) + " bytes"));
            return Close(websocket::close_code::too_big, "message over 64 KB");
        }
        if (!ws_.is_message_done())
            return ReadMore();
        const bool text = ws_.got_text();
        std::string frame = beast::buffers_to_string(message_.data());
        message_.clear();
        if (!text) {
            Send(Scratch3Error("bad-request", "messages are JSON text frames"));
            return ReadMore();
        }
        TScratch3Parsed parsed = ParseScratch3Request(frame);
        if (!parsed.request) {
            Send(Scratch3RefusalReply(parsed.refusal));
            return ReadMore();
        }
        ++waiting_;
        server_.Emit({TScratch3Event::Kind::Request, id_, std::move(frame), *parsed.request});
        ReadMore();
    }

    void WriteNext() {
        writing_ = true;
        ws_.text(true);
        ws_.async_write(
            net::buffer(outbox_.front()),
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWrite(ec); });
    }

    void OnWrite(beast::error_code ec) {
        writing_ = false;
        if (ec)
            return Gone();
        if (!outbox_.empty()) {
            queued_ -= std::min(queued_, outbox_.front().size());
            outbox_.pop_front();
        }
        if (!outbox_.empty())
            return WriteNext();
        if (closing_)
            SendClose();
    }

    void SendClose() {
        if (closeSent_)
            return;
        closeSent_ = true;
        // A client that never answers the close is cut off.
        beast::get_lowest_layer(ws_).expires_after(kHandshakeTime);
        ws_.async_close(closeReason_,
                        [self = shared_from_this()](beast::error_code) { self->Gone(); });
    }

    void Gone() {
        EndHandshake();
        if (gone_)
            return;
        gone_ = true;
        if (counted_)
            --server_.clients;
        server_.sessions.erase(id_);
        if (upgraded_)
            server_.Emit({TScratch3Event::Kind::Disconnected, id_, {}, {}});
        server_.Left();
    }

    TScratch3Server::Impl& server_;
    const std::uint64_t id_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    std::string origin_;
    beast::flat_buffer message_;
    std::deque<std::string> outbox_;
    std::size_t queued_ = 0;
    websocket::close_reason closeReason_;
    int waiting_ = 0;
    bool handshaking_ = false;
    bool counted_ = false;
    bool upgraded_ = false;
    bool reading_ = false;
    bool readPaused_ = false;
    bool writing_ = false;
    bool closing_ = false;
    bool closeSent_ = false;
    bool gone_ = false;
};

void TScratch3Server::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (stopping || !acceptor.is_open())
            return;
        if (!ec) {
            beast::error_code peerError;
            const tcp::endpoint peer = socket.remote_endpoint(peerError);
            if (peerError || !peer.address().is_loopback()) {
                socket.close(peerError); // never answered
            } else if (handshakes >= kMaxHandshakes) {
                Refused("too many connections opening at once");
                socket.close(peerError);
            } else {
                const std::uint64_t id = nextId++;
                auto session = std::make_shared<Session>(*this, id, std::move(socket));
                sessions.emplace(id, session);
                session->Start();
            }
        }
        Accept();
    });
}

void TScratch3Server::Impl::Refused(const std::string& why) {
    if (!refusalQuiet) {
        Emit({TScratch3Event::Kind::Refused, 0, why, {}});
        refusalQuiet = true;
        refusalTimer.expires_after(kRefusalQuiet);
        refusalTimer.async_wait([this](beast::error_code ec) {
            if (ec)
                return;
            refusalQuiet = false;
            if (refusalsHeld > 0) {
                Emit({TScratch3Event::Kind::Refused,
                      0,
                      std::to_string(refusalsHeld) + " more refused, the last: " + lastRefusal,
                      {}});
                refusalsHeld = 0;
            }
        });
        return;
    }
    ++refusalsHeld;
    lastRefusal = why;
}

std::shared_ptr<Session> TScratch3Server::Impl::Find(std::uint64_t id) {
    const auto it = sessions.find(id);
    return it == sessions.end() ? nullptr : it->second;
}

void TScratch3Server::Impl::Shutdown() {
    stopping = true;
    beast::error_code ec;
    acceptor.close(ec);
    refusalTimer.cancel();
    // Copies: closing removes sessions from the map.
    std::vector<std::shared_ptr<Session>> all;
    for (const auto& [id, session] : sessions)
        all.push_back(session);
    for (const auto& session : all)
        session->Close(websocket::close_code::going_away, "bridge switched off");
    if (sessions.empty())
        return; // nothing left to wait for: run() returns
    // Whoever has not answered by then is cut off; the last to go ends the wait.
    graceTimer.expires_after(kCloseGrace);
    graceTimer.async_wait([this](beast::error_code) {
        std::vector<std::shared_ptr<Session>> left;
        for (const auto& [id, session] : sessions)
            left.push_back(session);
        for (const auto& session : left)
            session->Abort();
        ioc.stop();
    });
}

void TScratch3Server::Impl::Left() {
    if (stopping && sessions.empty())
        graceTimer.cancel();
}

TScratch3Server::TScratch3Server(Options options, EventSink sink)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(sink))) {
    impl_->Accept();
    impl_->thread = std::thread([impl = impl_.get()] { impl->ioc.run(); });
}

TScratch3Server::~TScratch3Server() {
    Stop();
}

void TScratch3Server::Stop() {
    if (impl_->stopped)
        return;
    impl_->stopped = true;
    net::post(impl_->ioc, [impl = impl_.get()] { impl->Shutdown(); });
    impl_->thread.join();
    impl_->sessions.clear();
}

std::uint16_t TScratch3Server::Port() const {
    return impl_->port;
}

void TScratch3Server::Send(std::uint64_t connection, std::string text) {
    net::post(impl_->ioc, [impl = impl_.get(), connection, text = std::move(text)]() mutable {
        if (auto session = impl->Find(connection))
            session->Send(std::move(text));
    });
}

void TScratch3Server::SendAll(std::string text) {
    net::post(impl_->ioc, [impl = impl_.get(), text = std::move(text)] {
        std::vector<std::shared_ptr<Session>> all;
        for (const auto& [id, session] : impl->sessions)
            all.push_back(session);
        for (const auto& session : all)
            session->Send(text);
    });
}

void TScratch3Server::Handled(std::uint64_t connection) {
    net::post(impl_->ioc, [impl = impl_.get(), connection] {
        if (auto session = impl->Find(connection))
            session->Handled();
    });
}

void TScratch3Server::AnswerOrigin(const std::string& origin, bool allowed) {
    net::post(impl_->ioc, [impl = impl_.get(), origin, allowed] {
        impl->origins[origin] = allowed;
        if (impl->asking == origin)
            impl->asking.reset();
    });
}

} // namespace kobito
