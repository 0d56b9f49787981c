// Rates without a B constant (14400, 56000, ...) through termios2. Kept apart:
// the kernel's termios headers clash with the C library's.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace kobito {

bool SetCustomBaudrate(int fd, uint32_t rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace kobito
