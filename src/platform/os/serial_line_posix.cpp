#include "platform/os/serial_line.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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

namespace fs = std::filesystem;

// The descriptor of the open port, for the signal handler. One port at most
// is open at a time.
std::atomic<int> g_open_fd{-1};

// Releases DTR and RTS; async-signal-safe.
bool drop_lines(int fd) noexcept {
    const int lines = TIOCM_DTR | TIOCM_RTS;
    return ::ioctl(fd, TIOCMBIC, &lines) == 0;
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

// A UUCP lock file (cu and some minicom builds take one, LCK..ttyUSB0 in the
// lock folder) that names a live process: the port is that process's. The
// number is written as text, or by old programs as a binary int.
std::optional<std::string> uucp_lock(const std::string& folder, const std::string& device) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    for (const fs::path& name : {fs::path(device).filename(), real.filename()}) {
        const std::string file = (fs::path(folder) / ("LCK.." + name.string())).string();
        std::ifstream in(file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (text.empty()) {
            continue;
        }
        long pid = std::strtol(text.c_str(), nullptr, 10);
        if (pid <= 0 && text.size() == sizeof(int)) {
            int binary = 0;
            std::memcpy(&binary, text.data(), sizeof binary);
            pid = binary;
        }
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
            return "it holds the lock file " + file + ", as process " + std::to_string(pid);
        }
    }
    return std::nullopt;
}

// A program that holds a port with a lock alone (a flock, as pyserial's
// exclusive mode and picocom take) does not keep others from opening it, and
// the kernel raises DTR and RTS at the first open: the port is left alone
// when the system lists a lock on it. A list that cannot be read tells
// nothing, and the port is left alone too.
void check_other_programs(int row, const std::string& device, const LockPlaces& places) {
    if (const std::optional<std::string> holder = uucp_lock(places.lock_folder, device)) {
        throw SerialError(SerialError::Reason::Busy, row, device, *holder);
    }
#if defined(__linux__)
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) {
        return; // the open says what is wrong
    }
    std::ifstream locks(places.proc_locks);
    if (!locks) {
        throw SerialError(SerialError::Reason::CannotTell, row, device,
                          places.proc_locks + " cannot be read");
    }
    // Each lock names its file as major:minor:inode of the file system.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long>(node.st_ino));
    for (std::string word; locks >> word;) {
        if (word == wanted) {
            throw SerialError(SerialError::Reason::Busy, row, device,
                              "it holds a lock on the port");
        }
    }
#endif
}

// udev gives a new adapter's node its group a moment after the kernel makes
// it: an open refused meanwhile is tried again, for up to about a second.
int open_when_settled(const std::string& device) {
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
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

} // namespace

void SerialLine::open(int row, const std::string& device, KeepDtr keep) {
    if (fd_ >= 0) {
        throw SerialError(SerialError::Reason::Busy, row, device, "the port is already open");
    }
    check_other_programs(row, device, places_);
    const int fd = open_when_settled(device);
    if (fd < 0) {
        const int error = errno;
        throw SerialError(reason_for_open(error), row, device, system_text(error));
    }
    bool ours = false; // the lines are ours to drive
    bool exclusive = false;
    auto fail = [&](SerialError::Reason reason, int error) {
        if (ours) {
            drop_lines(fd);
        }
        if (exclusive) {
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        throw SerialError(reason, row, device, system_text(error));
    };
    // Programs that share serial ports take this lock. One that holds it, or
    // has made the port refuse further opens (root is let in all the same),
    // has the port open, so the kernel raised nothing at our open: its lines
    // are left as they are.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        fail(reason_for_open(errno), errno);
    }
    int held = 0;
    if (::ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) {
        fail(SerialError::Reason::Busy, EBUSY);
    }
    // The kernel raised DTR and RTS as the port opened; RTS is released at
    // once, before the slower set-up below.
    ours = true;
    const int raised = keep == KeepDtr::Yes ? TIOCM_RTS : TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &raised) != 0) {
        fail(reason_for_use(errno), errno);
    }
    // The kernel lets any number of programs open the same device unless it
    // is told to refuse further opens: then a terminal program, a second
    // Nocturo or ModemManager probing a new ttyACM cannot take the port and
    // disturb its lines during an exposure.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        fail(reason_for_open(errno), errno);
    }
    exclusive = true;

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
    exclusive_ = exclusive;
    row_ = row;
    device_ = device;
    g_open_fd.store(fd);
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
    if (!drop_lines(fd)) {
        error = errno;
    }
    // The port is open to others again once we let go of it.
    if (std::exchange(exclusive_, false)) {
        ::ioctl(fd, TIOCNXCL);
    }
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

void lower_serial_lines() noexcept {
    const int fd = g_open_fd.load();
    if (fd >= 0) {
        drop_lines(fd);
    }
}

void release_serial_line_from_signal() noexcept {
    const int fd = g_open_fd.exchange(-1);
    if (fd >= 0) {
        drop_lines(fd);
        ::close(fd);
    }
}

} // namespace nocturo
