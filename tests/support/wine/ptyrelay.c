// The far end of a serial line for test programs under Wine, which cannot
// open a pseudo-terminal's master side themselves. Listens on 127.0.0.1 and
// writes its port to PORTFILE; each connection begins with one command line:
//   OPEN    makes a new pty, points LINK at its slave, answers "OK <slave>\n"
//           and then relays raw bytes both ways until either side closes.
//   ATTR    answers with the newest pty's line settings, for example
//           "57600 8N1 crtscts=0 ixon=0 ixoff=0\n", and closes.
//   HANGUP  closes the newest pty as if its cable were pulled; answers "OK\n".
//   FAULT [WORDS]  writes WORDS to FAULTFILE, which ptymodem.c reads, so
//           that the device fails as named there; answers "OK\n". Each OPEN
//           clears it.
//   SIM ARG<TAB>ARG...  starts SIMPROGRAM (the simulated board) with the
//           arguments, Windows paths among them turned into Linux paths,
//           points LINK at its pty and answers "OK <slave>\n". Then each line
//           the board writes to its standard error comes as "E <line>\n",
//           and its end as "X <wait status>\n". "STOP\n" from the client
//           ends it with SIGTERM; closing the connection kills it.
// Usage: ptyrelay LINK PORTFILE [FAULTFILE [SIMPROGRAM]]. Ends on SIGTERM or
// when its parent ends.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { kMaxConns = 32 };

struct Conn {
    int sock;
    int master; // -1 until OPEN
    int slave;  // held open, so the master never sees a hang-up between opens
    int session;
    char line[4096];
    size_t got;
    pid_t sim;            // the simulated board of a SIM session, else 0
    char errLine[4096];   // its standard error's unfinished line
    size_t errGot;
};

static struct Conn conns[kMaxConns];
static int conn_count;
static int newest = -1; // index of the newest session's pty
static const char* link_path;
static const char* fault_path;
static const char* sim_program;

static int SetFaults(const char* words) {
    if (fault_path == NULL)
        return -1;
    char temp[4096];
    snprintf(temp, sizeof temp, "%s.new", fault_path);
    FILE* f = fopen(temp, "w");
    if (f == NULL || fputs(words, f) < 0 || fclose(f) != 0)
        return -1;
    return rename(temp, fault_path);
}

static void Die(const char* what) {
    perror(what);
    exit(1);
}

static int SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

// The master is non-blocking: a reader that stalls for seconds is broken.
static int WriteMaster(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= (size_t)n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            struct pollfd p = {fd, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0)
                return -1;
        } else {
            return -1;
        }
    }
    return 0;
}

static void ClosePty(struct Conn* c) {
    if (c->master >= 0)
        close(c->master);
    if (c->slave >= 0)
        close(c->slave);
    c->master = c->slave = -1;
}

static void EndSim(struct Conn* c, int sig) {
    if (c->sim > 0) {
        kill(c->sim, sig);
        waitpid(c->sim, NULL, 0);
        c->sim = 0;
    }
}

static void Drop(int i) {
    EndSim(&conns[i], SIGKILL);
    ClosePty(&conns[i]);
    close(conns[i].sock);
    if (newest == i)
        newest = -1;
    else if (newest == conn_count - 1)
        newest = i;
    conns[i] = conns[--conn_count];
}

static int OpenPty(struct Conn* c) {
    c->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (c->master < 0 || grantpt(c->master) != 0 || unlockpt(c->master) != 0)
        return -1;
    const char* slave = ptsname(c->master);
    if (slave == NULL)
        return -1;
    c->slave = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (c->slave < 0)
        return -1;
    struct termios t;
    tcgetattr(c->slave, &t);
    cfmakeraw(&t);
    tcsetattr(c->slave, TCSANOW, &t);
    fcntl(c->master, F_SETFL, fcntl(c->master, F_GETFL) | O_NONBLOCK);

    char temp[4096];
    snprintf(temp, sizeof temp, "%s.new", link_path);
    unlink(temp);
    if (symlink(slave, temp) != 0 || rename(temp, link_path) != 0)
        return -1;
    char answer[128];
    snprintf(answer, sizeof answer, "OK %s\n", slave);
    return SendAll(c->sock, answer, strlen(answer));
}

static unsigned SpeedValue(speed_t s) {
    static const struct {
        speed_t code;
        unsigned value;
    } table[] = {{B110, 110},       {B300, 300},      {B600, 600},       {B1200, 1200},
                 {B2400, 2400},     {B4800, 4800},    {B9600, 9600},     {B19200, 19200},
                 {B38400, 38400},   {B57600, 57600},  {B115200, 115200}, {B230400, 230400},
                 {B460800, 460800}, {B921600, 921600}};
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i)
        if (table[i].code == s)
            return table[i].value;
    return 0;
}

static void Attributes(struct Conn* c) {
    char answer[128] = "none\n";
    struct termios t;
    if (newest >= 0 && tcgetattr(conns[newest].slave, &t) == 0) {
        static const int sizes[] = {5, 6, 7, 8};
        const int bits = sizes[(t.c_cflag & CSIZE) == CS5   ? 0
                               : (t.c_cflag & CSIZE) == CS6 ? 1
                               : (t.c_cflag & CSIZE) == CS7 ? 2
                                                            : 3];
        char parity = 'N';
        if (t.c_cflag & PARENB) {
            if (t.c_cflag & CMSPAR)
                parity = (t.c_cflag & PARODD) ? 'M' : 'S';
            else
                parity = (t.c_cflag & PARODD) ? 'O' : 'E';
        }
        snprintf(answer, sizeof answer, "%u %d%c%d crtscts=%d ixon=%d ixoff=%d\n",
                 SpeedValue(cfgetospeed(&t)), bits, parity, (t.c_cflag & CSTOPB) ? 2 : 1,
                 (t.c_cflag & CRTSCTS) != 0, (t.c_iflag & IXON) != 0, (t.c_iflag & IXOFF) != 0);
    }
    SendAll(c->sock, answer, strlen(answer));
}

// "C:\\x\\y" and "C:/x/y" are reached through the prefix's drive links.
static void LinuxPath(const char* arg, char* out, size_t size) {
    const char* prefix = getenv("WINEPREFIX");
    if (prefix != NULL && ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z')) &&
        arg[1] == ':' && (arg[2] == '\\' || arg[2] == '/')) {
        snprintf(out, size, "%s/dosdevices/%c:%s", prefix, arg[0] | 0x20, arg + 2);
        for (char* p = out + strlen(prefix); *p; ++p)
            if (*p == '\\')
                *p = '/';
        return;
    }
    snprintf(out, size, "%s", arg);
}

// Reads the board's first line, its device path, within ten seconds.
static int ReadFirstLine(int fd, char* out, size_t size) {
    size_t got = 0;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (got + 1 < size) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long left = 10000 - ((now.tv_sec - start.tv_sec) * 1000 +
                                   (now.tv_nsec - start.tv_nsec) / 1000000);
        struct pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, (int)left) <= 0)
            return -1;
        const ssize_t n = read(fd, out + got, 1);
        if (n <= 0)
            return -1;
        if (out[got] == '\n') {
            out[got] = '\0';
            return 0;
        }
        ++got;
    }
    return -1;
}

static int StartSim(struct Conn* c, char* args) {
    if (sim_program == NULL)
        return -1;
    enum { kMaxArgs = 64 };
    static char paths[kMaxArgs][4096];
    char* argv[kMaxArgs + 4];
    int argc = 0;
    argv[argc++] = (char*)sim_program;
    for (char* arg = strtok(args, "\t"); arg != NULL && argc < kMaxArgs; arg = strtok(NULL, "\t")) {
        LinuxPath(arg, paths[argc], sizeof paths[argc]);
        argv[argc] = paths[argc];
        ++argc;
    }
    argv[argc++] = "--link";
    argv[argc++] = (char*)link_path;
    argv[argc] = NULL;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(sim_program, argv);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    c->sim = pid;
    c->master = err[0];
    char device[4096];
    const int ok = ReadFirstLine(out[0], device, sizeof device);
    close(out[0]); // the board writes only its device path there
    if (ok != 0)
        return -1;
    char answer[4200];
    snprintf(answer, sizeof answer, "OK %s\n", device);
    return SendAll(c->sock, answer, strlen(answer));
}

// Forwards the board's standard error line by line; at its end, its status.
static int ServeSim(struct Conn* c, short sockEvents, short errEvents) {
    char buffer[4096];
    if (sockEvents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = recv(c->sock, buffer, sizeof buffer, 0);
        if (n <= 0)
            return -1;
        kill(c->sim, SIGTERM); // STOP: its status follows when its pipe closes
    }
    if (errEvents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = read(c->master, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
        for (ssize_t k = 0; k < n; ++k) {
            if (buffer[k] == '\n' || c->errGot + 1 >= sizeof c->errLine) {
                char framed[4200];
                snprintf(framed, sizeof framed, "E %.*s\n", (int)c->errGot, c->errLine);
                if (SendAll(c->sock, framed, strlen(framed)) != 0)
                    return -1;
                c->errGot = 0;
                if (buffer[k] == '\n')
                    continue;
            }
            c->errLine[c->errGot++] = buffer[k];
        }
        if (n <= 0) {
            int status = 0;
            waitpid(c->sim, &status, 0);
            c->sim = 0;
            char framed[64];
            snprintf(framed, sizeof framed, "X %d\n", status);
            SendAll(c->sock, framed, strlen(framed));
            return -1;
        }
    }
    return 0;
}

// Returns 0 to keep the connection.
static int Command(int i) {
    struct Conn* c = &conns[i];
    if (strcmp(c->line, "OPEN") == 0) {
        if (fault_path != NULL && SetFaults("") != 0)
            return -1;
        if (OpenPty(c) != 0)
            return -1;
        c->session = 1;
        newest = i;
        return 0;
    }
    if (strncmp(c->line, "SIM ", 4) == 0) {
        if (StartSim(c, c->line + 4) != 0)
            return -1;
        c->session = 2;
        return 0;
    }
    if (strcmp(c->line, "ATTR") == 0) {
        Attributes(c);
    } else if (strncmp(c->line, "FAULT", 5) == 0 && (c->line[5] == ' ' || c->line[5] == '\0')) {
        if (SetFaults(c->line + 5) == 0)
            SendAll(c->sock, "OK\n", 3);
    } else if (strcmp(c->line, "HANGUP") == 0 && newest >= 0) {
        const int victim = newest;
        SendAll(c->sock, "OK\n", 3);
        close(conns[victim].sock);
        conns[victim].sock = -1;
        ClosePty(&conns[victim]);
        newest = -1;
    }
    return -1;
}

// Returns 0 to keep the connection.
static int Serve(int i, short sockEvents, short masterEvents) {
    struct Conn* c = &conns[i];
    char buffer[8192];
    if (c->sock < 0)
        return -1; // hung up
    if (!c->session && (sockEvents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = recv(c->sock, c->line + c->got, 1, 0);
        if (n <= 0)
            return -1;
        if (c->line[c->got] == '\n') {
            c->line[c->got] = '\0';
            return Command(i);
        }
        return ++c->got < sizeof c->line - 1 ? 0 : -1;
    }
    if (c->session == 2)
        return ServeSim(c, sockEvents, masterEvents);
    if (c->session && (sockEvents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = recv(c->sock, buffer, sizeof buffer, 0);
        if (n <= 0 || WriteMaster(c->master, buffer, (size_t)n) != 0)
            return -1;
    }
    if (c->session && (masterEvents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = read(c->master, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return 0;
        if (n <= 0 || SendAll(c->sock, buffer, (size_t)n) != 0)
            return -1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: %s LINK PORTFILE [FAULTFILE [SIMPROGRAM]]\n", argv[0]);
        return 2;
    }
    link_path = argv[1];
    fault_path = argc >= 4 ? argv[3] : NULL;
    sim_program = argc == 5 ? argv[4] : NULL;
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
        listen(listener, 8) != 0 || getsockname(listener, (struct sockaddr*)&address, &size) != 0)
        Die("ptyrelay: listen");

    char temp[4096];
    snprintf(temp, sizeof temp, "%s.new", argv[2]);
    FILE* f = fopen(temp, "w");
    if (f == NULL || fprintf(f, "%u\n", ntohs(address.sin_port)) < 0 || fclose(f) != 0 ||
        rename(temp, argv[2]) != 0)
        Die("ptyrelay: port file");

    for (;;) {
        struct pollfd fds[1 + 2 * kMaxConns];
        fds[0] = (struct pollfd){listener, conn_count < kMaxConns ? POLLIN : 0, 0};
        for (int i = 0; i < conn_count; ++i) {
            fds[1 + 2 * i] = (struct pollfd){conns[i].sock, POLLIN, 0};
            fds[2 + 2 * i] = (struct pollfd){conns[i].master, POLLIN, 0};
        }
        if (poll(fds, (nfds_t)(1 + 2 * conn_count), -1) < 0) {
            if (errno == EINTR)
                continue;
            Die("ptyrelay: poll");
        }
        // Back to front, so that dropping one moves only served ones.
        for (int i = conn_count - 1; i >= 0; --i)
            if (Serve(i, fds[1 + 2 * i].revents, fds[2 + 2 * i].revents) != 0)
                Drop(i);
        if (fds[0].revents & POLLIN) {
            const int s = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
            if (s >= 0)
                conns[conn_count++] = (struct Conn){s, -1, -1, 0, {0}, 0, 0, {0}, 0};
        }
    }
}
