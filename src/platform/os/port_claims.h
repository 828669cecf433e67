#pragma once

// What other programs claim of the serial ports. Our open would raise a
// port's DTR and RTS, as the kernel raises them at every open, so another
// program's port is left alone: one it holds by a lock file (cu, some minicom
// builds), by a lock the kernel lists (a flock, as pyserial's exclusive mode
// and picocom take), or merely by having it open, as many programs do. A
// port whose claims cannot be read is left alone too.
//
// Which program has a port open is read from every process's open files,
// which takes long where thousands of processes run: it is read ahead, in
// slices, while the program waits anyway (the start delay, a pause), and the
// open asks what the last reading found.

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
    // the device by a lock file or a lock the kernel lists, or when that
    // cannot be told. row is the list row ("Com<row>"), for the message.
    void check_locks(int row, const std::string& device) const;
    // Reads on, for about budget, which program has the device open: from
    // the start when the last reading was of another device, or of the same
    // name under another device number, or when renew() came since. True
    // once that reading is finished.
    bool read_holders(const std::string& device, std::chrono::microseconds budget);
    // What the finished reading found: "minicom, process 812, has it open".
    std::optional<std::string> holder() const;
    // The next reading starts afresh: what was read before is out of date.
    void renew();

private:
    struct Reading;
    ClaimPlaces places_;
    std::unique_ptr<Reading> reading_;
};

} // namespace nocturo
