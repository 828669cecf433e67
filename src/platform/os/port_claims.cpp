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

bool PortClaims::check(int, const std::string&) {
    return true;
}

bool PortClaims::read(const std::string&, std::chrono::microseconds) {
    return true;
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

// A reading of what claims one device: first the kernel's list of locks,
// then every process's open files, a process and an open file at a time.
// Only the processes whose open files this user may look at are seen: every
// one as root, the user's own otherwise.
struct PortClaims::Reading {
    using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

    std::string device;
    struct stat node {};
    Folder processes{nullptr, ::closedir};
    Folder files{nullptr, ::closedir};
    std::string pid;
    const std::string self = std::to_string(::getpid());
    bool locks_read = false;
    // What claims the device, and how the message tells it.
    std::optional<std::pair<SerialError::Reason, std::string>> claim;
    bool done = false;

    // The list of locks, one open file or the next process; sets done once
    // all are read, or once a claim is found.
    void step(const ClaimPlaces& places) {
        if (!locks_read) {
            locks_read = true;
            read_locks(places);
            processes.reset(claim ? nullptr : ::opendir(places.proc.c_str()));
        }
        const dirent* file = files ? ::readdir(files.get()) : nullptr;
        if (file == nullptr) {
            files.reset();
            const dirent* process = processes ? ::readdir(processes.get()) : nullptr;
            done = process == nullptr;
            pid = done ? std::string() : process->d_name;
            // This process's own descriptor is the one the reading may go on
            // beside, once the port is open.
            if (!done && pid.find_first_not_of("0123456789") == std::string::npos && pid != self) {
                files.reset(::opendir((places.proc + "/" + pid + "/fd").c_str()));
            }
            return;
        }
        // Only a device is worth a look; the link's start tells.
        const std::string link = places.proc + "/" + pid + "/fd/" + file->d_name;
        char target[5];
        struct stat open {};
        if (::readlink(link.c_str(), target, sizeof target) == sizeof target &&
            std::memcmp(target, "/dev/", sizeof target) == 0 && ::stat(link.c_str(), &open) == 0 &&
            S_ISCHR(open.st_mode) && open.st_rdev == node.st_rdev) {
            std::string name;
            std::getline(std::ifstream(places.proc + "/" + pid + "/comm"), name);
            claim = {SerialError::Reason::Busy,
                     (name.empty() ? "a program" : name) + ", process " + pid + ", has it open"};
            done = true;
        }
    }

    // A list of locks that cannot be read tells nothing: the port is left
    // alone. Each lock names its file as major:minor:inode of the file system.
    void read_locks(const ClaimPlaces& places) {
#if defined(__linux__)
        std::ifstream locks(places.locks);
        if (!locks) {
            claim = {SerialError::Reason::CannotTell, places.locks + " cannot be read"};
            return;
        }
        char wanted[64];
        std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", major(node.st_dev),
                      minor(node.st_dev), static_cast<unsigned long>(node.st_ino));
        for (std::string word; locks >> word && !claim;) {
            if (word == wanted) {
                claim = {SerialError::Reason::Busy, "it holds a lock on the port"};
            }
        }
#endif
    }
};

PortClaims::Reading& PortClaims::reading_of(const std::string& device) {
    struct stat node {};
    const bool there = ::stat(device.c_str(), &node) == 0;
    if (!reading_ || reading_->device != device || reading_->node.st_rdev != node.st_rdev) {
        reading_ = std::make_unique<Reading>();
        reading_->device = device;
        reading_->node = node;
        // A device that is not there has nothing to read: the open says what is wrong.
        reading_->locks_read = reading_->done = !there;
    }
    return *reading_;
}

// A UUCP lock file (LCK..ttyUSB0 in the lock folder) that names a live
// process: the port is that process's. Every user may write into the
// folder, so what lies there is not trusted: only a regular file is read,
// and no more than a few dozen bytes of it; a file that cannot be read or
// holds no process number means that whether the port is taken cannot be
// told. One that names this very process is nobody else's: Nocturo takes
// no lock files, so it was left by an earlier process of that number.
bool PortClaims::check(int row, const std::string& device) {
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
    Reading& reading = reading_of(device);
    if (!reading.locks_read) {
        reading.step(places_); // the kernel's list of locks, as the reading has not come to it
    }
    if (reading.claim) {
        throw SerialError(reading.claim->first, row, device, reading.claim->second);
    }
    return reading.done;
}

bool PortClaims::read(const std::string& device, std::chrono::microseconds budget) {
    Reading& reading = reading_of(device);
    const auto until = std::chrono::steady_clock::now() + budget;
    for (int files = 0; !reading.done; ++files) {
        // The clock is read every few dozen files, which take microseconds each.
        if (files % 32 == 0 && std::chrono::steady_clock::now() >= until) {
            return false;
        }
        reading.step(places_);
    }
    return true;
}

#endif

PortClaims::PortClaims(ClaimPlaces places) : places_(std::move(places)) {}

PortClaims::~PortClaims() = default;

void PortClaims::renew() {
    reading_.reset();
}

} // namespace nocturo
