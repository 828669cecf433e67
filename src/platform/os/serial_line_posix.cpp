#include "platform/os/serial_line.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace nocturo {
namespace {

// The open port, for the signal handlers. One port at most is open at a time.
std::atomic<int> g_open_fd{-1};
std::atomic<bool> g_exclusive{false}; // we made it refuse further opens
// When the program was stopped (Ctrl+Z) with the port open; 0 if it was not.
std::atomic<std::int64_t> g_stopped_ns{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "read in a signal handler");

std::int64_t monotonic_ns() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Releases DTR and RTS; async-signal-safe.
bool drop_lines(int fd) noexcept {
    const int lines = TIOCM_DTR | TIOCM_RTS;
    return ::ioctl(fd, TIOCMBIC, &lines) == 0;
}

// Releases the lines, lets other programs open the port again if we made it
// refuse them, and closes it: 0, or the first error. Async-signal-safe.
int let_go(int fd, bool exclusive) noexcept {
    int error = drop_lines(fd) ? 0 : errno;
    if (exclusive) {
        ::ioctl(fd, TIOCNXCL);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

std::string system_text(int error) {
    return std::strerror(error);
}

SerialError::Reason reason_for_open(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return SerialError::Reason::NoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
        return SerialError::Reason::Busy;
    case EACCES:
    case EPERM:
        return SerialError::Reason::PermissionDenied;
    default:
        return SerialError::Reason::Other;
    }
}

SerialError::Reason reason_for_use(int error) {
    switch (error) {
    case ENOTTY:
    case EINVAL:
        return SerialError::Reason::LinesRefused;
    case EIO:
    case ENODEV:
    case ENXIO:
    case EBADF:
        return SerialError::Reason::Lost;
    default:
        return SerialError::Reason::Other;
    }
}

// Opens the device once and gives the port to the signal handlers. The
// kernel raises DTR and RTS as the port opens (unless it was left at B0):
// a stop or an end from then on must find the port to release them. Signals
// from outside wait meanwhile; the handlers send on to this thread any that
// another thread takes.
int open_for_handlers(const std::string& device) {
    sigset_t held;
    sigset_t before;
    sigfillset(&held);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigdelset(&held, fault);
    }
    pthread_sigmask(SIG_BLOCK, &held, &before);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int error = errno;
    if (fd >= 0) {
        g_open_fd.store(fd);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return fd;
}

// udev gives a new adapter's node its group a moment after the kernel makes
// it: an open refused meanwhile is tried again, for up to about a second.
int open_when_settled(const std::string& device) {
    for (int attempt = 0;; ++attempt) {
        const int fd = open_for_handlers(device);
        if (fd >= 0 || (errno != EACCES && errno != EPERM) || attempt == 20) {
            return fd;
        }
        const int refused = errno;
        struct stat node {};
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        if (::stat(device.c_str(), &node) != 0 || now.tv_sec - node.st_ctim.tv_sec > 1) {
            errno = refused;
            return fd;
        }
        const timespec pause{0, 50'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// Takes the port back from the signal handlers: false when one of them has
// let go of it already (the program is ending).
bool take_back(int fd) noexcept {
    return g_open_fd.compare_exchange_strong(fd, -1);
}

} // namespace

void SerialLine::open(int row, const std::string& device, KeepDtr keep) {
    if (fd_ >= 0) {
        throw SerialError(SerialError::Reason::Busy, row, device, "the port is already open");
    }
    g_stopped_ns.store(0);
    const int fd = open_when_settled(device);
    if (fd < 0) {
        const int error = errno;
        throw SerialError(reason_for_open(error), row, device, system_text(error));
    }
    opened_ns_ = monotonic_ns();
    bool exclusive = false;
    auto fail = [&](SerialError::Reason reason, const std::string& why) {
        g_exclusive.store(false);
        if (take_back(fd)) {
            let_go(fd, exclusive);
        }
        throw SerialError(reason, row, device, why);
    };
    auto failed = [&](SerialError::Reason (*reason)(int)) {
        const int error = errno;
        fail(reason(error), system_text(error));
    };
    // A program that holds a lock the list of locks did not show (it runs in
    // another PID namespace), or has made the port refuse further opens
    // (root is let in all the same), has it: the lines our open raised are
    // put back down.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        errno == EWOULDBLOCK
            ? fail(SerialError::Reason::LinesPutBack, "it holds a lock on the port")
            : failed(reason_for_open);
    }
    int held = 0;
    if (::ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) {
        fail(SerialError::Reason::LinesPutBack, "it has made the port refuse other programs");
    }
    // RTS is released at once, before the slower set-up below.
    const int raised = keep == KeepDtr::Yes ? TIOCM_RTS : TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &raised) != 0) {
        failed(reason_for_use);
    }
    // The kernel lets any number of programs open the same device unless it
    // is told to refuse further opens: then a terminal program, a second
    // Nocturo or ModemManager probing a new ttyACM cannot take the port and
    // disturb its lines during an exposure. It is noted first: a signal that
    // ends the program right after must not leave the port refusing others.
    exclusive = true;
    g_exclusive.store(true);
    if (::ioctl(fd, TIOCEXCL) != 0) {
        failed(reason_for_open);
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        failed(reason_for_use);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    // HUPCL: should the program die without closing, the kernel still drops
    // DTR when it closes the descriptor.
    tio.c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        failed(reason_for_use);
    }
    // A port left at B0 raised nothing as it opened: the driver raises DTR
    // and RTS as its speed leaves B0, here. What is not wanted goes down
    // again: RTS always, DTR unless the exposure wants it and was not cut
    // short by a stop meanwhile.
    const int unwanted =
        TIOCM_RTS | (keep == KeepDtr::Yes && g_stopped_ns.load() == 0 ? 0 : TIOCM_DTR);
    if (::ioctl(fd, TIOCMBIC, &unwanted) != 0) {
        failed(reason_for_use);
    }

    fd_ = fd;
    row_ = row;
    device_ = device;
}

void SerialLine::set_line(int line, bool asserted) {
    if (fd_ < 0) {
        return;
    }
    if (asserted) {
        check_not_stopped();
    }
    if (::ioctl(fd_, asserted ? TIOCMBIS : TIOCMBIC, &line) != 0) {
        const int error = errno;
        throw SerialError(reason_for_use(error), row_, device_, system_text(error));
    }
}

void SerialLine::set_dtr(bool asserted) {
    set_line(TIOCM_DTR, asserted);
}

void SerialLine::set_rts(bool asserted) {
    set_line(TIOCM_RTS, asserted);
}

bool SerialLine::is_open() const {
    return fd_ >= 0;
}

void SerialLine::check_not_stopped() const {
    if (const std::int64_t stopped = g_stopped_ns.load(); stopped != 0) {
        throw ExposureCut("The exposure",
                          std::max<std::int64_t>(0, stopped - opened_ns_) / 1'000'000'000);
    }
}

void SerialLine::check() const {
    if (fd_ < 0) {
        return;
    }
    check_not_stopped();
    // A device that goes away hangs up the terminal: poll reports it and
    // every further ioctl fails. Both are asked, so that a driver which
    // merely reports an error condition is not taken for a pulled adapter.
    pollfd watch{fd_, 0, 0};
    if (::poll(&watch, 1, 0) != 1 || (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        return;
    }
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
        const int error = errno;
        throw SerialError(SerialError::Reason::Lost, row_, device_, system_text(error));
    }
}

void SerialLine::close() {
    if (fd_ < 0) {
        return;
    }
    const int fd = std::exchange(fd_, -1);
    g_stopped_ns.store(0);
    const bool exclusive = g_exclusive.exchange(false);
    // The port is open to others again once we let go of it.
    if (const int error = take_back(fd) ? let_go(fd, exclusive) : 0; error != 0) {
        throw SerialError(reason_for_use(error), row_, device_, system_text(error));
    }
}

SerialLine::~SerialLine() {
    try {
        close();
    } catch (const SerialError&) {
        // The descriptor is closed whatever the system said; HUPCL drops DTR.
    }
}

void stop_serial_line() noexcept {
    const int fd = g_open_fd.load();
    if (fd >= 0) {
        drop_lines(fd);
        std::int64_t none = 0;
        g_stopped_ns.compare_exchange_strong(none, monotonic_ns());
    }
}

void release_serial_line_from_signal() noexcept {
    const int fd = g_open_fd.exchange(-1);
    if (fd >= 0) {
        let_go(fd, g_exclusive.load());
    }
}

} // namespace nocturo
