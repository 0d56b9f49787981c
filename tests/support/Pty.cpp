#include "Pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace kobito::test {

using Clock = std::chrono::steady_clock;

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    fcntl(master_, F_SETFD, FD_CLOEXEC); // a child holding it would hide a hang-up
    slavePath_ = ptsname(master_);
    heldSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (heldSlave_ < 0)
        throw std::runtime_error("cannot open " + slavePath_);
    termios t{};
    tcgetattr(heldSlave_, &t);
    cfmakeraw(&t);
    tcsetattr(heldSlave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    HangUp();
}

void PtyPair::Write(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
        }
    }
}

std::string PtyPair::ReadCount(std::size_t count, std::chrono::milliseconds timeout) {
    std::string out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        char buf[4096];
        const ssize_t r = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (r > 0)
            out.append(buf, static_cast<std::size_t>(r));
        else if (r == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

std::string PtyPair::ReadUntilQuiet(std::chrono::milliseconds quiet) {
    std::string out;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0)
            return out;
        char buf[4096];
        const ssize_t r = ::read(master_, buf, sizeof buf);
        if (r > 0)
            out.append(buf, static_cast<std::size_t>(r));
        else if (r == 0 || (errno != EAGAIN && errno != EINTR))
            return out;
    }
}

void PtyPair::Attributes(termios& t) const {
    tcgetattr(heldSlave_, &t);
}

void PtyPair::HangUp() {
    if (master_ >= 0)
        close(master_);
    if (heldSlave_ >= 0)
        close(heldSlave_);
    master_ = heldSlave_ = -1;
}

} // namespace kobito::test
