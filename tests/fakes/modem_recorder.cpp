// A preload library that gives pseudo-terminals the modem lines a real
// serial port has. A pty refuses the modem-line ioctls; this library answers
// them for any /dev/pts/N slave instead, keeps the DTR and RTS state of each,
// and appends every change, with the CLOCK_MONOTONIC time in nanoseconds, to
// the file named by NOCTURO_MODEM_LOG:
//
//   <ns> <device> open
//   <ns> <device> DTR 1
//   <ns> <device> RTS 0
//   <ns> <device> close
//
// As the kernel does for a real port, every open of a device raises both
// lines unless its speed is B0, and so does a tcsetattr that takes its speed
// from B0 to another; one that sets B0 drops them, and so does the last close
// (in a process: HUPCL). The lines
// are kept in the pty itself, in its window size's pixel fields, so every
// process sees them: Wine's server opens a COM port, the program drives it.
// With NOCTURO_MODEM_REFUSE=1 in the environment the ioctls fail as they do
// on a bare pty, for testing a device that will not drive its lines; with
// NOCTURO_MODEM_SIGNAL=N@open or N@tcsetattr, signal N is sent to the
// process once the lines have risen in each open of a device, or in the
// middle of each tcsetattr.
//
// Everything here may run inside a signal handler, so it uses only
// async-signal-safe calls: no stdio, no allocation.

// The calls are taken under their own names: on a 32-bit system whose
// programs are built for 64-bit times (Debian 13's armhf) the headers would
// rename them. Such programs call __ioctl_time64, taken below as well.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

template <typename Fn> Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int real_ioctl(int fd, unsigned long request, void* argument) {
    static auto next = real<int (*)(int, unsigned long, void*)>("ioctl");
    return next(fd, request, argument);
}

bool is_pts(int fd, dev_t* rdev) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned major_number = major(st.st_rdev);
    if (major_number < 136 || major_number > 143) {
        return false;
    }
    *rdev = st.st_rdev;
    return true;
}

// The device's lines; -1 once it is hung up.
int lines_of(int fd) {
    winsize size{};
    return real_ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_xpixel : -1;
}

void keep_lines(int fd, int bits) {
    winsize size{};
    if (real_ioctl(fd, TIOCGWINSZ, &size) == 0) {
        size.ws_xpixel = static_cast<unsigned short>(bits);
        real_ioctl(fd, TIOCSWINSZ, &size);
    }
}

struct Line {
    char text[256];
    std::size_t length = 0;
    void add(const char* s) {
        while (*s != '\0' && length + 1 < sizeof text) {
            text[length++] = *s++;
        }
    }
    void add(unsigned long long n) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        while (count > 0 && length + 1 < sizeof text) {
            text[length++] = digits[--count];
        }
    }
};

void log_event(int fd, const char* what) {
    const int saved = errno;
    const char* path = getenv("NOCTURO_MODEM_LOG");
    if (path == nullptr) {
        errno = saved;
        return;
    }
    Line line;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    line.add(static_cast<unsigned long long>(now.tv_sec) * 1000000000ull +
             static_cast<unsigned long long>(now.tv_nsec));
    line.add(" ");
    char proc[64] = "/proc/self/fd/";
    Line number;
    number.add(static_cast<unsigned long long>(fd));
    std::memcpy(proc + 14, number.text, number.length);
    proc[14 + number.length] = '\0';
    char target[128];
    ssize_t n = readlink(proc, target, sizeof target - 1);
    // A pty whose other side has gone is named as deleted: it is the same device.
    const char deleted[] = " (deleted)";
    if (n >= static_cast<ssize_t>(sizeof deleted - 1) &&
        std::memcmp(target + n - (sizeof deleted - 1), deleted, sizeof deleted - 1) == 0) {
        n -= sizeof deleted - 1;
    }
    target[n > 0 ? n : 0] = '\0';
    line.add(target);
    line.add(" ");
    line.add(what);
    line.add("\n");
    const int out = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (out >= 0) {
        (void)!write(out, line.text, line.length);
        syscall(SYS_close, out);
    }
    errno = saved;
}

void change(int fd, int new_bits) {
    const int before = lines_of(fd);
    if (before < 0) {
        return;
    }
    keep_lines(fd, new_bits);
    const int changed = before ^ new_bits;
    if (changed & TIOCM_DTR) {
        log_event(fd, (new_bits & TIOCM_DTR) ? "DTR 1" : "DTR 0");
    }
    if (changed & TIOCM_RTS) {
        log_event(fd, (new_bits & TIOCM_RTS) ? "RTS 1" : "RTS 0");
    }
}

// Other descriptors of this process open on the same device.
int other_descriptors(int fd, dev_t rdev) {
    const int dir = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, "/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir < 0) {
        return 0;
    }
    int others = 0;
    char buffer[4096];
    for (;;) {
        const long got = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (long offset = 0; offset < got;) {
            struct Entry {
                unsigned long long ino;
                long long off;
                unsigned short reclen;
                unsigned char type;
                char name[1];
            };
            const auto* entry = reinterpret_cast<const Entry*>(buffer + offset);
            offset += entry->reclen;
            int other = 0;
            bool digits = entry->name[0] != '\0';
            for (const char* c = entry->name; *c != '\0'; ++c) {
                digits = digits && *c >= '0' && *c <= '9';
                other = other * 10 + (*c - '0');
            }
            dev_t other_rdev = 0;
            if (digits && other != fd && other != dir && is_pts(other, &other_rdev) &&
                other_rdev == rdev) {
                ++others;
            }
        }
    }
    syscall(SYS_close, dir);
    return others;
}

bool refused() {
    const char* refuse = getenv("NOCTURO_MODEM_REFUSE");
    return refuse != nullptr && refuse[0] == '1';
}

// Whether the device's speed is B0, which holds its lines down.
bool at_b0(int fd) {
    termios now{};
    return tcgetattr(fd, &now) == 0 && cfgetospeed(&now) == B0;
}

void raise_both(int fd, bool raised) {
    const int before = lines_of(fd);
    const int both = TIOCM_DTR | TIOCM_RTS;
    change(fd, raised ? before | both : before & ~both);
}

// The signal NOCTURO_MODEM_SIGNAL asks for at this call, if any: to the
// process, through the kernel, as from another program.
void signal_at(const char* call) {
    const char* asked = getenv("NOCTURO_MODEM_SIGNAL");
    const char* at = asked != nullptr ? strchr(asked, '@') : nullptr;
    if (at != nullptr && strcmp(at + 1, call) == 0) {
        kill(getpid(), atoi(asked));
    }
}

void opened(int fd) {
    dev_t rdev = 0;
    if (fd < 0 || !is_pts(fd, &rdev)) {
        return;
    }
    log_event(fd, "open");
    if (!refused() && !at_b0(fd)) {
        raise_both(fd, true);
    }
    signal_at("open");
}

// The ioctl under one of its names, answering for a pty what it refuses.
int answer_ioctl(int result, int fd, unsigned long request, void* argument) {
    const bool modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    dev_t rdev = 0;
    if (result == 0 || !modem || (errno != ENOTTY && errno != EINVAL) || refused() ||
        !is_pts(fd, &rdev)) {
        return result;
    }
    const int before = lines_of(fd);
    if (before < 0) {
        return result;
    }
    int* bits = static_cast<int*>(argument);
    const int wanted = *bits & (TIOCM_DTR | TIOCM_RTS);
    switch (request) {
    case TIOCMGET:
        *bits = before;
        break;
    case TIOCMSET:
        change(fd, wanted);
        break;
    case TIOCMBIS:
        change(fd, before | wanted);
        break;
    case TIOCMBIC:
        change(fd, before & ~wanted);
        break;
    default:
        break;
    }
    errno = 0;
    return 0;
}

} // namespace

extern "C" {

#define NOCTURO_FORWARD_IOCTL(name)                                                                \
    int name(int fd, unsigned long request, ...) {                                                 \
        va_list args;                                                                              \
        va_start(args, request);                                                                   \
        void* argument = va_arg(args, void*);                                                      \
        va_end(args);                                                                              \
        static auto next = real<int (*)(int, unsigned long, void*)>(#name);                        \
        return answer_ioctl(next(fd, request, argument), fd, request, argument);                   \
    }

NOCTURO_FORWARD_IOCTL(ioctl)
NOCTURO_FORWARD_IOCTL(__ioctl_time64)

// The open calls take a mode only when they may create a file.
#define NOCTURO_OPEN_MODE(mode)                                                                    \
    mode_t mode = 0;                                                                               \
    if (flags & (O_CREAT | O_TMPFILE)) {                                                           \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = static_cast<mode_t>(va_arg(args, int));                                             \
        va_end(args);                                                                              \
    }

#define NOCTURO_FORWARD_OPEN(name)                                                                 \
    int name(const char* path, int flags, ...) {                                                   \
        NOCTURO_OPEN_MODE(mode)                                                                    \
        static auto next = real<int (*)(const char*, int, mode_t)>(#name);                         \
        const int fd = next(path, flags, mode);                                                    \
        opened(fd);                                                                                \
        return fd;                                                                                 \
    }

// Wine's server opens a COM port's device with openat and hands the
// descriptor to the program, which then drives the lines on a descriptor it
// never opened itself: the ioctls above find the device by the descriptor.
#define NOCTURO_FORWARD_OPENAT(name)                                                               \
    int name(int dir, const char* path, int flags, ...) {                                          \
        NOCTURO_OPEN_MODE(mode)                                                                    \
        static auto next = real<int (*)(int, const char*, int, mode_t)>(#name);                    \
        const int fd = next(dir, path, flags, mode);                                               \
        opened(fd);                                                                                \
        return fd;                                                                                 \
    }

NOCTURO_FORWARD_OPEN(open)
NOCTURO_FORWARD_OPEN(open64)
NOCTURO_FORWARD_OPENAT(openat)
NOCTURO_FORWARD_OPENAT(openat64)

int tcsetattr(int fd, int action, const termios* wanted) {
    static auto next = real<int (*)(int, int, const termios*)>("tcsetattr");
    dev_t rdev = 0;
    const bool modem = is_pts(fd, &rdev) && !refused();
    const bool was_b0 = modem && at_b0(fd);
    const int result = next(fd, action, wanted);
    const bool b0 = cfgetospeed(wanted) == B0;
    if (result == 0 && modem && was_b0 != b0) {
        raise_both(fd, !b0);
    }
    signal_at("tcsetattr");
    return result;
}

int close(int fd) {
    static auto next = real<int (*)(int)>("close");
    dev_t rdev = 0;
    if (is_pts(fd, &rdev)) {
        if (other_descriptors(fd, rdev) == 0) {
            change(fd, 0);
        }
        log_event(fd, "close");
    }
    return next(fd);
}

} // extern "C"
