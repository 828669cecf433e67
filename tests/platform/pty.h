#pragma once

// A pseudo-terminal to stand in for a serial port, and the log the modem-line
// recorder keeps of it.

#include <cstdint>
#include <string>
#include <vector>

namespace nocturo::testing_support {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    const std::string& slave() const { return slave_; }
    // Closes the master side: the slave is hung up, as a serial port is
    // when its USB adapter is pulled out.
    void hang_up();

private:
    int master_ = -1;
    std::string slave_;
};

struct ModemEvent {
    std::int64_t ns;
    std::string what; // "open", "close", "DTR 1", "RTS 0", ...
};

// A fresh log file that the recorder writes to while it lives.
class ModemLog {
public:
    ModemLog();
    ~ModemLog();
    const std::string& path() const { return path_; }
    // The events of one device, in order.
    std::vector<ModemEvent> events(const std::string& device) const;

private:
    std::string path_;
    std::string previous_;
    bool had_previous_ = false;
};

std::int64_t monotonic_ns();

} // namespace nocturo::testing_support
