#include "platform/os/serial_line.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <unistd.h>

namespace nocturo {
namespace {

// The descriptor of the open port, for the signal handler. One port at most
// is open at a time.
std::atomic<int> g_open_fd{-1};

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

// A program that holds a port with a lock alone (a flock, as pyserial's
// exclusive mode and picocom take) does not keep others from opening it, and
// the kernel raises DTR and RTS at every open: the port is left alone when
// the system lists a lock on it.
bool locked_by_another_program(const std::string& device) {
#if defined(__linux__)
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) {
        return false; // the open says what is wrong
    }
    // Each lock names its file as major:minor:inode of the file system.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long>(node.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string word; locks >> word;) {
        if (word == wanted) {
            return true;
        }
    }
#else
    (void)device;
#endif
    return false;
}

} // namespace

void SerialLine::open(int row, const std::string& device) {
    if (fd_ >= 0) {
        throw SerialError(SerialError::Reason::Busy, row, device, "the port is already open");
    }
    if (locked_by_another_program(device)) {
        throw SerialError(SerialError::Reason::Busy, row, device, "it holds a lock on the port");
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw SerialError(reason_for_open(error), row, device, system_text(error));
    }
    auto fail = [&](SerialError::Reason reason, int error) {
        const int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd, TIOCMBIC, &lines);
        ::close(fd);
        throw SerialError(reason, row, device, system_text(error));
    };
    // Programs that share serial ports take this lock. The kernel itself lets
    // any number of them open the same device unless it is told to refuse
    // further opens: then a terminal program, a second Nocturo or
    // ModemManager probing a new ttyACM cannot take the port and disturb its
    // lines during an exposure.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        fail(reason_for_open(errno), errno);
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        fail(reason_for_use(errno), errno);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    // HUPCL: should the program die without closing, the kernel still drops
    // DTR when it closes the descriptor.
    tio.c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        fail(reason_for_use(errno), errno);
    }

    fd_ = fd;
    row_ = row;
    device_ = device;
    g_open_fd.store(fd);
    // Linux raises DTR and RTS the moment a port opens.
    release_rts_after_open();
}

void SerialLine::set_line(int line, bool asserted) {
    if (fd_ < 0) {
        return;
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

void SerialLine::check() const {
    if (fd_ < 0) {
        return;
    }
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
    const int fd = fd_;
    fd_ = -1;
    g_open_fd.store(-1);

    int error = 0;
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0) {
        error = errno;
    }
    // The port is open to others again once we let go of it.
    ::ioctl(fd, TIOCNXCL);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
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

void release_serial_line_from_signal() noexcept {
    const int fd = g_open_fd.exchange(-1);
    if (fd >= 0) {
        const int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd, TIOCMBIC, &lines);
        ::close(fd);
    }
}

} // namespace nocturo
