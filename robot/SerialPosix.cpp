// Serial back end over termios. A byte received is reported once, when it
// arrives, as on Windows: the event thread moves the bytes into a receive
// buffer of its own and reports only what it added, so a handler that leaves
// bytes unread does not wake it again and again.
#include "SerialBackend.h"
#include "VaComm.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#endif

namespace kobito {

#if defined(__linux__)
bool SetCustomBaudrate(int fd, uint32_t rate); // SerialLinuxRate.cpp
#endif

namespace {

std::string ErrorText(int code) {
    return std::system_category().message(code);
}

[[noreturn]] void Fail(const char* what, int code) {
    throw EVaCommError(std::string(what) + " (" + std::to_string(code) + "), " + ErrorText(code),
                       code);
}

speed_t SpeedConstant(uint32_t rate) {
    switch (rate) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// A pipe that wakes a poll; stays readable once signalled.
class WakePipe {
public:
    WakePipe() {
        if (pipe(fds_) != 0)
            throw std::system_error(errno, std::system_category(), "pipe");
        SetNonBlocking(fds_[0]);
        SetNonBlocking(fds_[1]);
    }
    ~WakePipe() {
        close(fds_[0]);
        close(fds_[1]);
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    int ReadEnd() const { return fds_[0]; }
    void Signal() {
        const char b = 1;
        [[maybe_unused]] const auto n = write(fds_[1], &b, 1); // full pipe: already signalled
    }
    void Drain() {
        char buf[64];
        while (read(fds_[0], buf, sizeof buf) > 0) {
        }
    }

private:
    int fds_[2] = {-1, -1};
};

class SerialPosix final : public SerialBackend {
public:
    ~SerialPosix() override { Close(); }

    void Open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            if (e == ENOENT)
                throw EVaCommError("Specified device not found (" + path + ").", e);
            OpenFailed(path, e);
        }
        // Exclusive: TIOCEXCL keeps out others (not root), the lock keeps out
        // every program that takes it, this one included.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            OpenFailed(path, e);
        }
#if defined(TIOCEXCL)
        ioctl(fd, TIOCEXCL);
#endif
        fd_ = fd;
#if defined(__linux__) && defined(TIOCGICOUNT)
        serial_icounter_struct c{};
        haveCounters_ = ioctl(fd_, TIOCGICOUNT, &c) == 0;
        if (haveCounters_)
            counters_ = c;
#endif
    }

    void Close() override {
        if (fd_ < 0)
            return;
#if defined(TIOCNXCL)
        ioctl(fd_, TIOCNXCL);
#endif
        ::close(fd_);
        fd_ = -1;
        std::lock_guard g(rxLock_);
        rx_.clear();
        errors_ = 0;
        errorSignal_ = false;
        hungUp_ = false;
    }

    bool IsOpen() const override {
        return fd_ >= 0;
    }

    void ApplySettings(const LineSettings& s) override {
        constexpr const char* what = "Error writing dcb";
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            Fail(what, errno);
        t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | HUPCL);
        t.c_cflag |= CLOCAL | CREAD;
        switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        case 8:
            t.c_cflag |= CS8;
            break;
        default:
            Fail(what, EINVAL);
        }
#if defined(CMSPAR)
        t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
        switch (s.parity) {
        case paNone:
            break;
        case paOdd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case paEven:
            t.c_cflag |= PARENB;
            break;
#if defined(CMSPAR)
        case paMark:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case paSpace:
            t.c_cflag |= PARENB | CMSPAR;
            break;
#endif
        default:
            Fail(what, EINVAL);
        }
        if (s.parityCheck)
            t.c_iflag |= INPCK;
        // One and a half stop bits exist only with five data bits.
        if (s.stopBits == sb2 || (s.stopBits == sb15 && s.dataBits == 5))
            t.c_cflag |= CSTOPB;
        else if (s.stopBits == sb15)
            Fail(what, EINVAL);
#if defined(CRTSCTS)
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        if (s.outCtsFlow || s.controlRts == rtsHandshake)
            t.c_cflag |= CRTSCTS;
#endif
        if (s.xonXoffOut)
            t.c_iflag |= IXON;
        if (s.xonXoffIn)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;

        const speed_t speed = SpeedConstant(s.baudrate);
        bool custom = false;
        if (speed != B0) {
            cfsetispeed(&t, speed);
            cfsetospeed(&t, speed);
        } else {
#if defined(__linux__)
            custom = true;
#else
            Fail(what, EINVAL);
#endif
        }
        if (tcsetattr(fd_, TCSANOW, &t) != 0)
            Fail(what, errno);
#if defined(__linux__)
        if (custom && !SetCustomBaudrate(fd_, s.baudrate))
            Fail(what, errno);
#endif

        // DTR and RTS, where the device has modem lines (a pty has none).
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) == 0) {
            int set = 0;
            int clear = 0;
            if (s.controlDtr == dtrEnabled)
                set |= TIOCM_DTR;
            else if (s.controlDtr == dtrDisabled)
                clear |= TIOCM_DTR;
            if (s.controlRts == rtsEnabled)
                set |= TIOCM_RTS;
            else if (s.controlRts == rtsDisabled)
                clear |= TIOCM_RTS;
            if ((set != 0 && ioctl(fd_, TIOCMBIS, &set) != 0) ||
                (clear != 0 && ioctl(fd_, TIOCMBIC, &clear) != 0))
                Fail(what, errno);
        } else if (errno != ENOTTY && errno != EINVAL) {
            Fail(what, errno);
        }
    }

    void SetupQueues(uint32_t readSize, uint32_t) override {
        std::lock_guard g(rxLock_);
        rxCapacity_ = readSize > 0 ? readSize : 1;
    }

    void SetTimeouts() override {} // reads never block here

    void SetEventMask(uint32_t mask) override {
        mask_ = mask;
    }

    uint32_t WaitEvent() override {
        for (;;) {
            if (stopWait_)
                return 0;
            pollfd fds[2] = {{wake_.ReadEnd(), POLLIN, 0}, {fd_, 0, 0}};
            nfds_t n = 1;
            {
                std::lock_guard g(rxLock_);
                if (!hungUp_) {
                    // A full buffer leaves the rest in the driver; only a
                    // hang-up is watched for then.
                    if ((mask_ & comm_event::RxChar) != 0 && rx_.size() < rxCapacity_)
                        fds[1].events = POLLIN;
                    n = 2;
                }
            }
            if (poll(fds, n, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return 0;
            }
            if (fds[0].revents != 0)
                wake_.Drain();
            if (stopWait_)
                return 0;
            uint32_t events = 0;
            {
                std::lock_guard g(rxLock_);
                if (n == 2 && fds[1].revents != 0) {
                    if (DrainLocked() > 0)
                        events |= comm_event::RxChar;
                    if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                        HangUpLocked();
                }
                CheckCountersLocked();
                if (errorSignal_) {
                    errorSignal_ = false;
                    events |= comm_event::Err;
                }
            }
            events &= mask_;
            if (events != 0)
                return events;
        }
    }

    void StopWait() override {
        stopWait_ = true;
        wake_.Signal();
    }

    std::size_t BytesWaiting() override {
        std::lock_guard g(rxLock_);
        const bool hadError = errorSignal_;
        DrainLocked();
        if (!hadError && errorSignal_)
            wake_.Signal(); // let the event thread report what was found here
        return rx_.size();
    }

    uint32_t TakeErrors() override {
        std::lock_guard g(rxLock_);
        const uint32_t e = errors_;
        errors_ = 0;
        return e;
    }

    std::string Read(std::size_t count, int) override {
        std::lock_guard g(rxLock_);
        const bool wasFull = rx_.size() >= rxCapacity_;
        if (count > rx_.size())
            count = rx_.size();
        std::string out = rx_.substr(0, count);
        rx_.erase(0, count);
        if (wasFull)
            wake_.Signal(); // room again: resume watching the device
        return out;
    }

    WriteResult Write(const char* data, std::size_t size, std::size_t& written) override {
        written = 0;
        for (;;) {
            if (cancelWrite_)
                return WriteResult::Cancelled;
            const ssize_t w = ::write(fd_, data, size);
            if (w >= 0) {
                written = static_cast<std::size_t>(w);
                if (w > 0 || size == 0)
                    return WriteResult::Done;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // A terminal whose device went away answers EIO (or ENXIO).
                if (errno == EIO || errno == ENXIO)
                    gone_ = true;
                return WriteResult::Refused;
            }
            pollfd fds[2] = {{writeWake_.ReadEnd(), POLLIN, 0}, {fd_, POLLOUT, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                return WriteResult::Refused;
            if (cancelWrite_)
                return WriteResult::Cancelled;
            if ((fds[1].revents & POLLOUT) == 0 &&
                (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                if ((fds[1].revents & POLLHUP) != 0)
                    gone_ = true;
                return WriteResult::Refused;
            }
        }
    }

    void CancelWrite() override {
        cancelWrite_ = true;
        writeWake_.Signal();
    }

    bool Gone() const override {
        return gone_;
    }

private:
    [[noreturn]] static void OpenFailed(const std::string& path, int e) {
        throw EVaCommError("Can't open specified device " + path + " (Error " + std::to_string(e) +
                               ", " + ErrorText(e) + ")",
                           e);
    }

    // Moves what the driver holds into rx_; returns the count added.
    std::size_t DrainLocked() {
        if (hungUp_)
            return 0;
        std::size_t added = 0;
        char buf[1024];
        while (rx_.size() < rxCapacity_) {
            const std::size_t room = std::min(sizeof buf, rxCapacity_ - rx_.size());
            const ssize_t r = ::read(fd_, buf, room);
            if (r > 0) {
                rx_.append(buf, static_cast<std::size_t>(r));
                added += static_cast<std::size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            HangUpLocked(); // end of file or an I/O error: the device is gone
            break;
        }
        return added;
    }

    // Reported once; the device is not watched any more.
    void HangUpLocked() {
        if (hungUp_)
            return;
        hungUp_ = true;
        gone_ = true;
        errors_ |= line_error::IoError;
        errorSignal_ = true;
    }

    void CheckCountersLocked() {
#if defined(__linux__) && defined(TIOCGICOUNT)
        if (!haveCounters_ || hungUp_)
            return;
        serial_icounter_struct c{};
        if (ioctl(fd_, TIOCGICOUNT, &c) != 0)
            return;
        uint32_t e = 0;
        if (c.frame != counters_.frame)
            e |= line_error::Frame;
        if (c.overrun != counters_.overrun)
            e |= line_error::Overrun;
        if (c.parity != counters_.parity)
            e |= line_error::RxParity;
        if (c.brk != counters_.brk)
            e |= line_error::Break;
        if (c.buf_overrun != counters_.buf_overrun)
            e |= line_error::RxOver;
        counters_ = c;
        if (e != 0) {
            errors_ |= e;
            errorSignal_ = true;
        }
#endif
    }

    int fd_ = -1;
    uint32_t mask_ = 0;
    std::atomic<bool> stopWait_{false};
    std::atomic<bool> cancelWrite_{false};
    std::atomic<bool> gone_{false}; // hung up, or a write found the device gone
    WakePipe wake_;
    WakePipe writeWake_;

    std::mutex rxLock_; // rx_ and the reads from the device
    std::string rx_;
    std::size_t rxCapacity_ = 4096;
    uint32_t errors_ = 0;
    bool errorSignal_ = false;
    bool hungUp_ = false;
#if defined(__linux__) && defined(TIOCGICOUNT)
    bool haveCounters_ = false;
    serial_icounter_struct counters_{};
#endif
};

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create() {
    return std::make_unique<SerialPosix>();
}

std::string PlatformDevicePath(const std::string& name) {
    return name;
}

void SetCurrentThreadPriority(int priority) {
#if defined(__linux__)
    // Nice values per thread; raising needs privileges and may fail quietly.
    static constexpr int nice[] = {19, 10, 5, 0, -5, -10, -20};
    if (priority < 0 || priority >= static_cast<int>(std::size(nice)))
        return;
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, tid, nice[priority]);
#else
    (void)priority;
#endif
}

} // namespace kobito
