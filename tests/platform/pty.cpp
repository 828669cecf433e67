#include "platform/pty.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <time.h>
#include <unistd.h>

namespace nocturo::testing_support {

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slave_ = ptsname(master_);
}

Pty::~Pty() {
    hang_up();
}

void Pty::hang_up() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

ModemLog::ModemLog() {
    char name[] = "/tmp/nocturo-modem-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("no log file");
    }
    ::close(fd);
    path_ = name;
    if (const char* before = std::getenv("NOCTURO_MODEM_LOG")) {
        previous_ = before;
        had_previous_ = true;
    }
    setenv("NOCTURO_MODEM_LOG", path_.c_str(), 1);
}

ModemLog::~ModemLog() {
    if (had_previous_) {
        setenv("NOCTURO_MODEM_LOG", previous_.c_str(), 1);
    } else {
        unsetenv("NOCTURO_MODEM_LOG");
    }
    ::unlink(path_.c_str());
}

std::vector<ModemEvent> ModemLog::events(const std::string& device) const {
    std::vector<ModemEvent> found;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ModemEvent event{};
        std::string dev;
        fields >> event.ns >> dev;
        std::getline(fields >> std::ws, event.what);
        if (dev == device) {
            found.push_back(event);
        }
    }
    return found;
}

std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace nocturo::testing_support
