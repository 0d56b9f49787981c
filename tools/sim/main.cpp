// kobito-sim: the KOBITO controller board on a pseudo-terminal.
#include "ReplyPieces.h"
#include "SimRobot.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace kobito::sim;
using namespace std::chrono;

namespace {

constexpr char kUsage[] = "Usage: kobito-sim [OPTION]...\n";

constexpr char kHelp[] =
    R"(Plays the KOBITO robot's controller board on a pseudo-terminal, for tests and
for using KOBITO Motion without a robot.

The first line written to standard output is the device path of the terminal
(for example /dev/pts/5); type it into the port box of KOBITO Motion, or give
--link and use the link's path. The simulator then reads the command stream.
Commands have no terminator: one ends where the next '#' begins, or when no
byte has come for the idle gap.

  "#P..."  a pose command: "#P", then S00A<v> ... S11A<v>, R<v>, G<v>, B<v>,
           T<v>, each <v> at least three digits ("005", "-005", "1000").
           Malformed ones are reported on standard error. T is the move
           time in time units.
  "#Q"     the poll: answered "#QPT000" once the move time of the last pose
           has passed, else "#QPT" and the units still to go ("#QPT004").
  "#M0".."#M9", "#C"  taken without an answer.
Anything else is reported on standard error as an unknown command.

Options:
  --link PATH         make PATH a symbolic link to the terminal while running
                      (an existing symbolic link there is replaced)
  --time-unit-ms N    milliseconds per unit of move time (default 10)
  --idle-ms N         idle gap that ends a command (default 20)
  --split-ms N        send each reply in pieces, N ms apart (default: whole)
  --split-size N      bytes per piece when split; 0 (default) sends two
                      halves, the first the larger: "#QPT" then "000"
  --noise N           send N '~' bytes before each reply (as a piece of its
                      own when split)
  --hangup-after N    after N commands (and their replies), close the
                      terminal, as if the cable were pulled, and exit
  --silent            never answer
  --record FILE       append every command and every write to FILE, one a
                      line, flushed at once: "<ns> RX <command>" and
                      "<ns> TX <bytes>", <ns> from the monotonic clock
                      (CLOCK_MONOTONIC): for a command, when its last byte
                      came; bytes outside printable ASCII and the backslash
                      appear as \xHH
  --verbose           also log every command and reply on standard error
  -h, --help          show this text and exit
  --version           show the version and exit

Ends cleanly on SIGINT and SIGTERM (the link is removed).
)";

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    [[maybe_unused]] const auto n = write(signalPipe[1], &b, 1);
}

struct Options {
    std::string link;
    int timeUnitMs = 10;
    int idleMs = 20;
    int splitMs = -1;
    int splitSize = 0;
    int noise = 0;
    int hangupAfter = 0;
    bool silent = false;
    bool verbose = false;
    std::string record;
};

bool ParseInt(const char* text, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 1000000000)
        return false;
    out = static_cast<int>(v);
    return true;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "kobito-sim: %s\n%sTry 'kobito-sim --help' for more information.\n",
                 message.c_str(), kUsage);
    return 2;
}

int64_t Nanoseconds(Clock::time_point t) {
    return duration_cast<nanoseconds>(t.time_since_epoch()).count();
}

class Recorder {
public:
    bool Open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "a");
        return file_ != nullptr;
    }
    ~Recorder() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    void Line(Clock::time_point t, const char* kind, std::string_view bytes) {
        if (file_ == nullptr)
            return;
        std::fprintf(file_, "%lld %s %s\n", static_cast<long long>(Nanoseconds(t)), kind,
                     Escape(bytes).c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = nullptr;
};

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](int& out) {
            if (i + 1 >= argc || !ParseInt(argv[i + 1], out))
                return false;
            ++i;
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--version") {
            std::fputs("kobito-sim (KOBITO Motion) " KOBITO_VERSION "\n", stdout);
            return 0;
        } else if (a == "--link" || a == "--record") {
            if (i + 1 >= argc)
                return Usage(a + " needs a path");
            (a == "--link" ? o.link : o.record) = argv[++i];
        } else if (a == "--time-unit-ms") {
            if (!value(o.timeUnitMs))
                return Usage(a + " needs a number");
        } else if (a == "--idle-ms") {
            if (!value(o.idleMs) || o.idleMs == 0)
                return Usage(a + " needs a number above 0");
        } else if (a == "--split-ms") {
            if (!value(o.splitMs))
                return Usage(a + " needs a number");
        } else if (a == "--split-size") {
            if (!value(o.splitSize))
                return Usage(a + " needs a number");
        } else if (a == "--noise") {
            if (!value(o.noise))
                return Usage(a + " needs a number");
        } else if (a == "--hangup-after") {
            if (!value(o.hangupAfter) || o.hangupAfter == 0)
                return Usage(a + " needs a number above 0");
        } else if (a == "--silent") {
            o.silent = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else {
            return Usage("unknown option " + a);
        }
    }

    Recorder recorder;
    if (!o.record.empty() && !recorder.Open(o.record)) {
        std::fprintf(stderr, "kobito-sim: cannot open %s: %s\n", o.record.c_str(),
                     std::strerror(errno));
        return 1;
    }

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "kobito-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slavePath = ptsname(master);
    // Held open so that the program closing its port is no hang-up for us;
    // raw, as the program sets it anyway, so nothing echoes meanwhile.
    const int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!o.link.empty()) {
        struct stat st {};
        if (lstat(o.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(o.link.c_str());
        if (symlink(slavePath.c_str(), o.link.c_str()) != 0) {
            std::fprintf(stderr, "kobito-sim: cannot make link %s: %s\n", o.link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    if (pipe(signalPipe) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    CommandSplitter splitter{milliseconds(o.idleMs)};
    SimRobot robot{milliseconds(o.timeUnitMs)};
    struct Piece {
        Clock::time_point due;
        std::string bytes;
    };
    std::deque<Piece> outgoing;
    int commands = 0;
    bool hangup = false;
    int exitCode = 0;

    // A command counts from its arrival: the record's time and the start of a move.
    auto handle = [&](const Command& received) {
        const std::string& command = received.text;
        const Clock::time_point now = received.arrived;
        recorder.Line(now, "RX", command);
        ++commands;
        if (o.verbose)
            std::fprintf(stderr, "kobito-sim: RX %s\n", Escape(command).c_str());
        const auto result = robot.Handle(command, now);
        if (!result.diagnostic.empty())
            std::fprintf(stderr, "kobito-sim: %s\n", result.diagnostic.c_str());
        if (result.reply && !o.silent) {
            // Not before it is known that the command has ended.
            const Clock::time_point known = Clock::now();
            Clock::time_point due = outgoing.empty() ? known : std::max(known, outgoing.back().due);
            for (auto& piece : ReplyPieces(*result.reply, o.noise, o.splitMs >= 0, o.splitSize)) {
                outgoing.push_back({due, std::move(piece)});
                due += milliseconds(o.splitMs > 0 ? o.splitMs : 0);
            }
        }
        if (o.hangupAfter > 0 && commands >= o.hangupAfter)
            hangup = true;
    };

    for (;;) {
        auto now = Clock::now();
        while (!outgoing.empty() && outgoing.front().due <= now) {
            const std::string bytes = std::move(outgoing.front().bytes);
            outgoing.pop_front();
            if (!WriteAll(master, bytes)) {
                std::fprintf(stderr, "kobito-sim: write failed: %s\n", std::strerror(errno));
                exitCode = 1;
                break;
            }
            recorder.Line(Clock::now(), "TX", bytes);
            if (o.verbose)
                std::fprintf(stderr, "kobito-sim: TX %s\n", Escape(bytes).c_str());
        }
        if (exitCode != 0 || (hangup && outgoing.empty()))
            break;

        std::optional<Clock::time_point> wake = splitter.Deadline();
        if (!outgoing.empty() && (!wake || outgoing.front().due < *wake))
            wake = outgoing.front().due;
        int timeout = -1;
        if (wake) {
            const auto left = duration_cast<milliseconds>(*wake - now).count() + 1;
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
        }
        pollfd fds[2] = {{master, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            exitCode = 1;
            break;
        }
        if (fds[1].revents != 0)
            break;
        now = Clock::now();
        if ((fds[0].revents & POLLIN) != 0) {
            char buf[4096];
            const ssize_t r = read(master, buf, sizeof buf);
            if (r > 0) {
                for (const Command& command :
                     splitter.Feed(std::string_view(buf, static_cast<std::size_t>(r)), now))
                    handle(command);
            }
        } else if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            // Every slave closed, ours included: nothing more can come.
            break;
        }
        if (auto command = splitter.Poll(Clock::now()))
            handle(*command);
    }

    close(master);
    if (slave >= 0)
        close(slave);
    if (!o.link.empty())
        unlink(o.link.c_str());
    return exitCode;
}
