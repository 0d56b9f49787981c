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
// Usage: ptyrelay LINK PORTFILE [FAULTFILE]. Ends on SIGTERM or when its
// parent ends.
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
#include <termios.h>
#include <unistd.h>

enum { kMaxConns = 32 };

struct Conn {
    int sock;
    int master; // -1 until OPEN
    int slave;  // held open, so the master never sees a hang-up between opens
    int session;
    char line[64];
    size_t got;
};

static struct Conn conns[kMaxConns];
static int conn_count;
static int newest = -1; // index of the newest session's pty
static const char* link_path;
static const char* fault_path;

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

static void Drop(int i) {
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
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s LINK PORTFILE [FAULTFILE]\n", argv[0]);
        return 2;
    }
    link_path = argv[1];
    fault_path = argc == 4 ? argv[3] : NULL;
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
                conns[conn_count++] = (struct Conn){s, -1, -1, 0, {0}, 0};
        }
    }
}
