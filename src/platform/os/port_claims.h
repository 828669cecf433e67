#pragma once

// What other programs claim of the serial ports. Our open would raise a
// port's DTR and RTS, as the kernel raises them at every open, so another
// program's port is left alone: one it holds by a lock file (cu, some minicom
// builds), by a lock the kernel lists (a flock, as pyserial's exclusive mode
// and picocom take), or merely by having it open, as many programs do. A
// port whose claims cannot be read is left alone too.
//
// The kernel's list of locks takes milliseconds to read, and which program
// has a port open is read from every process's open files, which takes long
// where thousands of processes run: both are read ahead, in slices, while the
// program waits anyway (the start delay, a pause), and the open asks what the
// reading found. A flock or exclusive mode taken since is found as the port
// opens.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace nocturo {

// Where the system shows the claims: the kernel's list of locks, the
// processes with their open files, and the lock files. Tests give their own.
struct ClaimPlaces {
    std::string locks;
    std::string proc;
    std::string lock_folder;
    static ClaimPlaces system();
};

class PortClaims {
public:
    explicit PortClaims(ClaimPlaces places = ClaimPlaces::system());
    ~PortClaims();
    PortClaims(const PortClaims&) = delete;
    PortClaims& operator=(const PortClaims&) = delete;

    // Raises SerialError (Busy, or CannotTell) when another program holds
    // the device by a lock file or a lock the kernel lists, or has it open as
    // far as the reading of open files has come, or when that cannot be told.
    // The kernel's list of locks is read here if the reading has not yet come
    // to it. True when the reading is finished; otherwise the open files
    // still unread may yet show a holder. row is the list row ("Com<row>").
    bool check(int row, const std::string& device);
    // Reads on, for about budget: the kernel's list of locks, then which
    // program has the device open; from the start when the last reading was
    // of another device, or of the same name under another device number, or
    // when renew() came since. True once that reading is finished.
    bool read(const std::string& device, std::chrono::microseconds budget);
    // The next reading starts afresh: what was read before is out of date.
    void renew();

private:
    struct Reading;
    Reading& reading_of(const std::string& device);

    ClaimPlaces places_;
    std::unique_ptr<Reading> reading_;
};

} // namespace nocturo
