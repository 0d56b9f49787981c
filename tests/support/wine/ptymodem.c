// Preloaded into programs run by Wine in the tests: pseudo-terminal slaves
// have no modem lines, and Wine's serial layer fails (or aborts pending
// event waits) when the modem-line ioctls do. This answers those four with
// fake line states for pty slaves only and passes every other call through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

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

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn next;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    ioctl_fn real = __atomic_load_n(&next, __ATOMIC_ACQUIRE);
    if (real == 0) {
        *(void**)&real = dlsym(RTLD_NEXT, "ioctl"); // the POSIX way round ISO C
        __atomic_store_n(&next, real, __ATOMIC_RELEASE);
    }
    const int modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    const int index = modem ? PtyIndex(fd) : -1;
    if (index < 0)
        return real(fd, request, arg);

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
