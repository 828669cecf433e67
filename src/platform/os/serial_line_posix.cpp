#include "platform/os/serial_line.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

// The process number a lock file holds: up to ten digits as text, padded
// with blanks and ended by a newline, or a 4-byte int as old programs write
// it; -1 for anything else. Four bytes that read wholly as text (" 12\n")
// are text: as an int they would be far above any process number.
long lock_owner(const char* text, ssize_t size) {
    long pid = 0;
    ssize_t at = 0;
    while (at < size && text[at] == ' ') {
        ++at;
    }
    const ssize_t digits = at;
    for (; at < size && at - digits < 10 && text[at] >= '0' && text[at] <= '9'; ++at) {
        pid = pid * 10 + (text[at] - '0');
    }
    const bool ends = at == size || (text[at] == '\n' && at + 1 == size);
    if (at > digits && ends) {
        return pid;
    }
    if (size == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary;
    }
    return -1;
}

// A UUCP lock file (cu and some minicom builds take one, LCK..ttyUSB0 in the
// lock folder) that names a live process: the port is that process's. Every
// user may write into the folder, so what lies there is not trusted: only a
// regular file is read, and no more than a few dozen bytes of it; a file
// that cannot be read or holds no process number means that whether the
// port is taken cannot be told.
void check_lock_files(int row, const std::string& device, const std::string& folder) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    for (const fs::path& name : {fs::path(device).filename(), real.filename()}) {
        const std::string file = (fs::path(folder) / ("LCK.." + name.string())).string();
        const int fd =
            ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            continue;
        }
        const int opened = errno;
        struct stat node {};
        char text[64];
        const bool regular = fd >= 0 && ::fstat(fd, &node) == 0 && S_ISREG(node.st_mode);
        const ssize_t size = regular ? ::read(fd, text, sizeof text) : -1;
        const int error = fd < 0 ? opened : errno;
        if (fd >= 0) {
            ::close(fd);
        }
        std::string why;
        if (fd < 0 || (regular && size < 0)) {
            why = "cannot be read: " + system_text(error);
        } else if (!regular) {
            why = "is not a file";
        }
        const long pid =
            why.empty() && size < static_cast<ssize_t>(sizeof text) ? lock_owner(text, size) : -1;
        if (why.empty() && pid <= 0) {
            why = "holds no process number";
        }
        if (!why.empty()) {
            throw SerialError(SerialError::Reason::CannotTell, row, device,
                              "the lock file " + file + " " + why);
        }
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
            throw SerialError(SerialError::Reason::Busy, row, device,
                              "it holds the lock file " + file + ", as process " +
                                  std::to_string(pid));
        }
    }
}

// A process that has the device open, as "minicom, process 812, has it
// open". Only the processes whose open files this user may look at are
// seen: every one as root, the user's own otherwise.
std::optional<std::string> holder_of(const std::string& proc, dev_t device) {
    std::optional<std::string> found;
    DIR* processes = ::opendir(proc.c_str());
    for (const dirent* process = processes ? ::readdir(processes) : nullptr;
         process != nullptr && !found; process = ::readdir(processes)) {
        const std::string pid = process->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string folder = proc + "/" + pid + "/fd";
        DIR* files = ::opendir(folder.c_str());
        for (const dirent* file = files ? ::readdir(files) : nullptr; file != nullptr && !found;
             file = ::readdir(files)) {
            // Only a device is worth a look; the link's start tells.
            const std::string link = folder + "/" + file->d_name;
            char target[5];
            struct stat node {};
            if (::readlink(link.c_str(), target, sizeof target) == sizeof target &&
                std::memcmp(target, "/dev/", sizeof target) == 0 &&
                ::stat(link.c_str(), &node) == 0 && S_ISCHR(node.st_mode) &&
                node.st_rdev == device) {
                std::ifstream comm(proc + "/" + pid + "/comm");
                std::string name;
                std::getline(comm, name);
                found = (name.empty() ? "a program" : name) + ", process " + pid + ", has it open";
            }
        }
        if (files != nullptr) {
            ::closedir(files);
        }
    }
    if (processes != nullptr) {
        ::closedir(processes);
    }
    return found;
}

// Another program's port is left alone. Most programs that share serial
// ports take a lock (a lock file, or a flock as pyserial's exclusive mode and
// picocom take); many take none and only have it open. Our open would raise
// its DTR and RTS, as the kernel raises them at every open. A list of locks
// that cannot be read tells nothing, and the port is left alone too.
void check_other_programs(int row, const std::string& device, const LockPlaces& places) {
    check_lock_files(row, device, places.lock_folder);
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
    if (const std::optional<std::string> holder = holder_of(places.proc, node.st_rdev)) {
        throw SerialError(SerialError::Reason::Busy, row, device, *holder);
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
    g_stopped_ns.store(0);
    const int fd = open_when_settled(device);
    if (fd < 0) {
        const int error = errno;
        throw SerialError(reason_for_open(error), row, device, system_text(error));
    }
    // The kernel raised DTR and RTS as the port opened (unless it was left at
    // B0). The port is given to the signal handlers at once, so that a stop
    // or an end from here on finds it and releases them.
    opened_ns_ = monotonic_ns();
    g_open_fd.store(fd);
    bool exclusive = false;
    auto fail = [&](SerialError::Reason reason, const std::string& why) {
        g_open_fd.store(-1);
        g_exclusive.store(false);
        let_go(fd, exclusive);
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
    // disturb its lines during an exposure.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        failed(reason_for_open);
    }
    exclusive = true;
    g_exclusive.store(true);

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
    g_open_fd.store(-1);
    g_stopped_ns.store(0);
    // The port is open to others again once we let go of it.
    if (const int error = let_go(fd, g_exclusive.exchange(false)); error != 0) {
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
