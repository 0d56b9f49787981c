// Preloaded into programs run by Wine in the tests: pseudo-terminal slaves
// have no modem lines, and Wine's serial layer fails (or aborts pending
// event waits) when the modem-line ioctls do. This answers those four with
// fake line states for pty slaves only and passes every other call through.
//
// It also plays faults of a serial device on pty slaves, as named by the
// words in the file that KOBITO_PTY_FAULTS names (ptyrelay writes it):
//   write     writes fail with EIO (the device refuses them)
//   gone      every ioctl and write fails with EIO (a pulled USB cable)
//   nomodem   the modem-line ioctls fail as on a bare pty (Wine then
//             cancels pending event waits)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef ssize_t (*write_fn)(int, const void*, size_t);

// The outputs (DTR, RTS) as last set, per pty as a real port has them (so
// that every handle on it sees the same); the inputs always on, as with a
// device that is plugged in and ready.
enum {
    kPtys = 8 * 256, // majors 136..143, 256 minors each
    kOutputs = TIOCM_DTR | TIOCM_RTS,
    kInputs = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR
};
static int outputs[kPtys];

// The slave's number, or -1 for anything else.
static int PtyIndex(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return -1;
    const unsigned int m = major(st.st_rdev);
    if (m < 136 || m > 143)
        return -1;
    return (int)((m - 136) * 256 + minor(st.st_rdev) % 256);
}

static void* Next(void** cache, const char* name) {
    void* f = __atomic_load_n(cache, __ATOMIC_ACQUIRE);
    if (f == 0) {
        f = dlsym(RTLD_NEXT, name);
        __atomic_store_n(cache, f, __ATOMIC_RELEASE);
    }
    return f;
}

enum { kWrite = 1, kGone = 2, kNoModem = 4 };

// The faults in force now; read at each call, so that a test can switch
// them while the port is open.
static int Faults(void) {
    const char* path = getenv("KOBITO_PTY_FAULTS");
    if (path == 0)
        return 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[128];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    int faults = 0;
    if (strstr(text, "write") != 0)
        faults |= kWrite;
    if (strstr(text, "gone") != 0)
        faults |= kGone | kWrite;
    if (strstr(text, "nomodem") != 0)
        faults |= kNoModem;
    return faults;
}

ssize_t write(int fd, const void* data, size_t size) {
    static void* next;
    write_fn real;
    *(void**)&real = Next(&next, "write"); // the POSIX way round ISO C
    if (PtyIndex(fd) >= 0 && (Faults() & kWrite) != 0) {
        errno = EIO;
        return -1;
    }
    return real(fd, data, size);
}

int ioctl(int fd, unsigned long request, ...) {
    static void* next;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    ioctl_fn real;
    *(void**)&real = Next(&next, "ioctl");
    const int index = PtyIndex(fd);
    if (index < 0)
        return real(fd, request, arg);
    const int modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    const int faults = Faults();
    if ((faults & kGone) != 0) {
        errno = EIO;
        return -1;
    }
    if (!modem)
        return real(fd, request, arg);
    if ((faults & kNoModem) != 0) {
        errno = ENOTTY;
        return -1;
    }

    int* slot = &outputs[index];
    const int* value = (const int*)arg;
    switch (request) {
    case TIOCMGET:
        *(int*)arg = (__atomic_load_n(slot, __ATOMIC_RELAXED) & kOutputs) | kInputs;
        break;
    case TIOCMSET:
        __atomic_store_n(slot, *value & kOutputs, __ATOMIC_RELAXED);
        break;
    case TIOCMBIS:
        __atomic_fetch_or(slot, *value & kOutputs, __ATOMIC_RELAXED);
        break;
    default: // TIOCMBIC
        __atomic_fetch_and(slot, ~(*value & kOutputs), __ATOMIC_RELAXED);
        break;
    }
    return 0;
}
