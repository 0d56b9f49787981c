// GCC 12 in C++20: Boost 1.74's asio/awaitable.hpp uses std::exchange without <utility>.
#include <utility>

#include "Scratch3Client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <deque>
#include <functional>

namespace kobito::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;

struct Scratch3Client::Impl {
    net::io_context ioc;
    std::optional<websocket::stream<beast::tcp_stream>> ws;
    beast::flat_buffer buffer;
    std::deque<std::string> received;
    bool reading = false;
    bool ended = false;
    beast::error_code endError;

    // Runs handlers until ready() or the wait has passed.
    template <class Ready> bool RunUntil(Ready ready, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        ioc.restart();
        ioc.poll(); // what is ready already, also with no time to wait
        while (!ready()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                return false;
            ioc.run_one_for(deadline - now);
        }
        return true;
    }

    // One read is always outstanding once connected, so that waiting for a
    // frame never has to cancel anything.
    void StartRead() {
        reading = true;
        ws->async_read(buffer, [this](beast::error_code ec, std::size_t) {
            reading = false;
            if (ec) {
                ended = true;
                endError = ec;
                return;
            }
            received.push_back(beast::buffers_to_string(buffer.data()));
            buffer.consume(buffer.size());
            StartRead();
        });
    }
};

Scratch3Client::Scratch3Client() : impl_(std::make_unique<Impl>()) {}

Scratch3Client::~Scratch3Client() {
    if (impl_->ws) {
        beast::error_code ignored;
        beast::get_lowest_layer(*impl_->ws).socket().close(ignored);
    }
}

bool Scratch3Client::Connect(std::uint16_t port, const Options& options) {
    Impl& d = *impl_;
    d.ws.emplace(d.ioc);
    tcp::socket& socket = beast::get_lowest_layer(*d.ws).socket();
    beast::error_code ec;
    socket.open(tcp::v4(), ec);
    if (!ec && !options.localAddress.empty())
        socket.bind(tcp::endpoint(net::ip::make_address(options.localAddress), 0), ec);
    if (ec)
        return false;
    bool connected = false;
    beast::error_code connectError;
    socket.async_connect(tcp::endpoint(net::ip::address_v4::loopback(), port),
                         [&](beast::error_code e) {
                             connectError = e;
                             connected = true;
                         });
    if (!d.RunUntil([&] { return connected; }, std::chrono::seconds(5)) || connectError)
        return false;

    const std::string origin = options.origin;
    d.ws->set_option(websocket::stream_base::decorator([origin](websocket::request_type& req) {
        if (!origin.empty())
            req.set(http::field::origin, origin);
    }));
    const std::string host =
        options.host.empty() ? "127.0.0.1:" + std::to_string(port) : options.host;
    websocket::response_type response;
    bool done = false;
    beast::error_code handshakeError;
    d.ws->async_handshake(response, host, "/", [&](beast::error_code e) {
        handshakeError = e;
        done = true;
    });
    if (!d.RunUntil([&] { return done; }, std::chrono::seconds(5))) {
        socket.close(ec);
        d.RunUntil([&] { return done; }, std::chrono::seconds(5));
        return false;
    }
    status_ = int(response.result_int());
    body_ = response.body();
    if (handshakeError) {
        if (handshakeError != websocket::error::upgrade_declined) {
            status_ = 0;
            body_.clear();
        }
        return false;
    }
    d.StartRead();
    return true;
}

bool Scratch3Client::Send(const std::string& text) {
    Impl& d = *impl_;
    if (!d.ws || d.ended)
        return false;
    bool done = false;
    beast::error_code error;
    d.ws->text(true);
    d.ws->async_write(net::buffer(text), [&](beast::error_code e, std::size_t) {
        error = e;
        done = true;
    });
    return d.RunUntil([&] { return done; }, std::chrono::seconds(10)) && !error;
}

bool Scratch3Client::SendBinary(const std::string& bytes) {
    Impl& d = *impl_;
    if (!d.ws || d.ended)
        return false;
    bool done = false;
    beast::error_code error;
    d.ws->binary(true);
    d.ws->async_write(net::buffer(bytes), [&](beast::error_code e, std::size_t) {
        error = e;
        done = true;
    });
    const bool ok = d.RunUntil([&] { return done; }, std::chrono::seconds(10)) && !error;
    d.ws->text(true);
    return ok;
}

std::optional<std::string> Scratch3Client::Receive(std::chrono::milliseconds wait) {
    Impl& d = *impl_;
    if (!d.ws)
        return std::nullopt;
    d.RunUntil([&] { return !d.received.empty() || d.ended; }, wait);
    if (!d.received.empty()) {
        std::string text = std::move(d.received.front());
        d.received.pop_front();
        return text;
    }
    if (d.ended && !closed_) {
        closed_ = true;
        // A close frame that came before the connection ended counts, even
        // when the reply to it could no longer be sent.
        if (d.endError == websocket::error::closed ||
            d.ws->reason().code != websocket::close_code::none) {
            closeCode_ = int(d.ws->reason().code);
            closeReason_ = std::string(d.ws->reason().reason.data(), d.ws->reason().reason.size());
        } else {
            closeCode_ = -1; // cut off without a close frame
        }
    }
    return std::nullopt;
}

std::optional<std::string> Scratch3Client::ReceiveUntil(const std::string& needle,
                                                        std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return std::nullopt;
        std::optional<std::string> text =
            Receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
        if (!text)
            return std::nullopt;
        if (text->find(needle) != std::string::npos)
            return text;
    }
}

void Scratch3Client::Close() {
    Impl& d = *impl_;
    if (!d.ws || d.ended)
        return;
    bool done = false;
    d.ws->async_close(websocket::close_code::normal, [&](beast::error_code) { done = true; });
    d.RunUntil([&] { return done && !d.reading; }, std::chrono::seconds(5));
}

std::string Scratch3Client::RawExchange(std::uint16_t port, const std::string& bytes,
                                        std::chrono::milliseconds wait) {
    Impl d;
    tcp::socket socket(d.ioc);
    bool connected = false;
    beast::error_code error;
    socket.async_connect(tcp::endpoint(net::ip::address_v4::loopback(), port),
                         [&](beast::error_code e) {
                             error = e;
                             connected = true;
                         });
    if (!d.RunUntil([&] { return connected; }, wait) || error)
        return {};
    bool written = false;
    net::async_write(socket, net::buffer(bytes),
                     [&](beast::error_code, std::size_t) { written = true; });
    d.RunUntil([&] { return written; }, wait);
    std::string answer;
    char chunk[4096];
    bool ended = false;
    std::function<void()> readMore = [&] {
        socket.async_read_some(net::buffer(chunk), [&](beast::error_code e, std::size_t n) {
            answer.append(chunk, n);
            if (e)
                ended = true;
            else
                readMore();
        });
    };
    readMore();
    if (!d.RunUntil([&] { return ended; }, wait)) {
        socket.close(error);
        d.RunUntil([&] { return ended; }, wait);
    }
    return answer;
}

struct IdleConnection::Impl {
    Scratch3Client::Impl run;
    tcp::socket socket{run.ioc};
    char byte = 0;
    bool ended = false;
};

IdleConnection::IdleConnection(std::uint16_t port) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    bool connected = false;
    beast::error_code error;
    d.socket.async_connect(tcp::endpoint(net::ip::address_v4::loopback(), port),
                           [&](beast::error_code e) {
                               error = e;
                               connected = true;
                           });
    if (!d.run.RunUntil([&] { return connected; }, std::chrono::seconds(5)) || error) {
        d.ended = true;
        return;
    }
    d.socket.async_read_some(net::buffer(&d.byte, 1),
                             [&d](beast::error_code, std::size_t) { d.ended = true; });
}

IdleConnection::~IdleConnection() {
    beast::error_code ignored;
    impl_->socket.close(ignored);
    impl_->run.RunUntil([&] { return impl_->ended; }, std::chrono::seconds(5));
}

bool IdleConnection::ClosedByServer(std::chrono::milliseconds wait) {
    return impl_->run.RunUntil([&] { return impl_->ended; }, wait);
}

} // namespace kobito::test
