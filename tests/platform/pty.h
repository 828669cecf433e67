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
// Whether the tests run under an emulator, which runs the program many times
// slower than the machine it stands for.
bool emulated();

// Starts a program built with the tests, through the emulator the tests run
// under if they run under one; its process id, or -1.
int start_program(const std::vector<std::string>& args);
// start_program in a process group of its own, as a shell starts a job: the
// kernel drops stop signals to a group with no parent in its session.
int start_job(const std::vector<std::string>& args);
// Starts a program of this machine's own, never through the emulator.
int start_system_program(const std::vector<std::string>& args);
// start_program, waiting for the program to end: what it wrote to its standard output, or
// "failed" if it did not end with status 0.
std::string run_program(const std::vector<std::string>& args);

} // namespace nocturo::testing_support
