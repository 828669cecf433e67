#include "platform/os/port_claims.h"

#include "platform/os/serial_line.h"

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#endif

namespace nocturo {

#ifdef _WIN32

// Windows keeps its own claims: a port another program has open cannot be
// opened again, and the serial line asks for it alone.
struct PortClaims::Reading {};

ClaimPlaces ClaimPlaces::system() {
    return {};
}

void PortClaims::check_locks(int, const std::string&) const {}

bool PortClaims::read_holders(const std::string&, std::chrono::microseconds) {
    return true;
}

std::optional<std::string> PortClaims::holder() const {
    return std::nullopt;
}

#else

namespace {

namespace fs = std::filesystem;

// Above the largest process number a 64-bit Linux gives, for where
// pid_max cannot be read.
constexpr long kPidBound = 4'194'304;

// The process number a lock file holds: digits as text, padded with blanks
// and ended by a newline, or a 4-byte int as old programs write it; -1 for
// anything else, and for a number of bound or more, which names no process.
// Four bytes that read wholly as text (" 12\n") are text.
long lock_owner(const char* text, ssize_t size, long bound) {
    ssize_t at = 0;
    while (at < size && text[at] == ' ') {
        ++at;
    }
    const ssize_t digits = at;
    long pid = 0;
    for (; at < size && text[at] >= '0' && text[at] <= '9' && pid < bound; ++at) {
        pid = pid * 10 + (text[at] - '0');
    }
    const bool ends = at == size || (text[at] == '\n' && at + 1 == size);
    if (at > digits && ends) {
        return pid < bound ? pid : -1;
    }
    std::int32_t binary = 0;
    if (size == sizeof binary) {
        std::memcpy(&binary, text, sizeof binary);
        return binary < bound ? binary : -1;
    }
    return -1;
}

long pid_bound(const std::string& proc) {
    long bound = 0;
    std::ifstream(proc + "/sys/kernel/pid_max") >> bound;
    return bound > 1 && bound <= kPidBound ? bound : kPidBound;
}

} // namespace

ClaimPlaces ClaimPlaces::system() {
    return {"/proc/locks", "/proc", "/run/lock"};
}

// A UUCP lock file (LCK..ttyUSB0 in the lock folder) that names a live
// process: the port is that process's. Every user may write into the
// folder, so what lies there is not trusted: only a regular file is read,
// and no more than a few dozen bytes of it; a file that cannot be read or
// holds no process number means that whether the port is taken cannot be
// told. One that names this very process is nobody else's: Nocturo takes
// no lock files, so it was left by an earlier process of that number.
void PortClaims::check_locks(int row, const std::string& device) const {
    const long bound = pid_bound(places_.proc);
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    for (const fs::path& name : {fs::path(device).filename(), real.filename()}) {
        const std::string file =
            (fs::path(places_.lock_folder) / ("LCK.." + name.string())).string();
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
            why = "cannot be read: " + std::string(std::strerror(error));
        } else if (!regular) {
            why = "is not a file";
        }
        const long pid = why.empty() && size < static_cast<ssize_t>(sizeof text)
                             ? lock_owner(text, size, bound)
                             : -1;
        if (why.empty() && pid <= 0) {
            why = "holds no process number";
        }
        if (!why.empty()) {
            throw SerialError(SerialError::Reason::CannotTell, row, device,
                              "the lock file " + file + " " + why);
        }
        if (pid != ::getpid() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
            throw SerialError(SerialError::Reason::Busy, row, device,
                              "it holds the lock file " + file + ", as process " +
                                  std::to_string(pid));
        }
    }
#if defined(__linux__)
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) {
        return; // the open says what is wrong
    }
    std::ifstream locks(places_.locks);
    if (!locks) {
        throw SerialError(SerialError::Reason::CannotTell, row, device,
                          places_.locks + " cannot be read");
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

// A reading of which process has one device open, a process and an open
// file at a time. Only the processes whose open files this user may look at
// are seen: every one as root, the user's own otherwise.
struct PortClaims::Reading {
    using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

    std::string device;
    dev_t number = 0;
    Folder processes{nullptr, ::closedir};
    Folder files{nullptr, ::closedir};
    std::string pid;
    std::optional<std::string> holder;
    bool done = false;

    // One open file, or the next process; false once all are read.
    bool step(const std::string& proc) {
        const dirent* file = files ? ::readdir(files.get()) : nullptr;
        if (file == nullptr) {
            files.reset();
            const dirent* process = processes ? ::readdir(processes.get()) : nullptr;
            if (process == nullptr) {
                return false;
            }
            pid = process->d_name;
            if (pid.find_first_not_of("0123456789") == std::string::npos) {
                files.reset(::opendir((proc + "/" + pid + "/fd").c_str()));
            }
            return true;
        }
        // Only a device is worth a look; the link's start tells.
        const std::string link = proc + "/" + pid + "/fd/" + file->d_name;
        char target[5];
        struct stat node {};
        if (::readlink(link.c_str(), target, sizeof target) == sizeof target &&
            std::memcmp(target, "/dev/", sizeof target) == 0 && ::stat(link.c_str(), &node) == 0 &&
            S_ISCHR(node.st_mode) && node.st_rdev == number) {
            std::string name;
            std::getline(std::ifstream(proc + "/" + pid + "/comm"), name);
            holder = (name.empty() ? "a program" : name) + ", process " + pid + ", has it open";
            return false;
        }
        return true;
    }
};

bool PortClaims::read_holders(const std::string& device, std::chrono::microseconds budget) {
    struct stat node {};
    const dev_t number = ::stat(device.c_str(), &node) == 0 ? node.st_rdev : 0;
    if (!reading_ || reading_->device != device || reading_->number != number) {
        reading_ = std::make_unique<Reading>();
        reading_->device = device;
        reading_->number = number;
        reading_->processes.reset(number != 0 ? ::opendir(places_.proc.c_str()) : nullptr);
    }
    const auto until = std::chrono::steady_clock::now() + budget;
    for (int read = 0; !reading_->done; ++read) {
        // The clock is read every few dozen files, which take microseconds each.
        if (read % 32 == 0 && std::chrono::steady_clock::now() >= until) {
            return false;
        }
        reading_->done = !reading_->step(places_.proc);
    }
    return true;
}

std::optional<std::string> PortClaims::holder() const {
    return reading_ && reading_->done ? reading_->holder : std::nullopt;
}

#endif

PortClaims::PortClaims(ClaimPlaces places) : places_(std::move(places)) {}

PortClaims::~PortClaims() = default;

void PortClaims::renew() {
    reading_.reset();
}

} // namespace nocturo
