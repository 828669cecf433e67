#pragma once

// One serial port, driven only through its control lines. Opening applies
// 9600 baud 8N1 and holds RTS released; DTR is raised and lowered on request;
// closing releases DTR before the port is let go. The operating system's
// calls are used directly so that nothing raises DTR behind our back when the
// port closes. A port another program holds by a lock, or has made refuse
// further opens, is found so as it opens: its lines are put back down.

#include "platform/errors.h"

#include <cstdint>
#include <string>
#include <utility>

namespace nocturo {

class SerialError : public RunTimeError {
public:
    enum class Reason {
        NoSuchPort,       // no device for the row, or the device is not there
        NotConnected,     // the row's own device is not there: system_reason is the
                          // account of it, which names what sits in its place
        Busy,             // another program holds the port
        PermissionDenied, // the user may not open the device
        LinesRefused,     // the device will not drive DTR or RTS
        Lost,             // the device went away while in use
        CannotTell,       // whether another program holds the port cannot be told
        LinesPutBack,     // another program holds the port, found only once it was open
        Other,
    };

    SerialError(Reason reason, int row, std::string device, std::string system_reason);

    Reason reason() const { return reason_; }
    int row() const { return row_; }
    const std::string& device() const { return device_; }
    const std::string& system_reason() const { return system_reason_; }

private:
    Reason reason_;
    int row_;
    std::string device_;
    std::string system_reason_;
};

class SerialLine {
public:
    // Whether the DTR line the system raises as the port opens stays up.
    enum class KeepDtr { No, Yes };

    SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    // Releases DTR and closes the port if it is still open.
    ~SerialLine();

    // row is the list row ("Com<row>") the device was chosen by; it only
    // appears in error messages. The lines the system raises as it opens
    // the port are released first thing, DTR only with KeepDtr::No.
    void open(int row, const std::string& device, KeepDtr keep = KeepDtr::No);
    void set_dtr(bool asserted);
    void set_rts(bool asserted);
    // Raises a Lost error when the device has gone away since it was opened
    // (an adapter pulled out), and ExposureCut when the program was stopped
    // while the port was open; does nothing when no port is open. Cheap
    // enough to call at every pass of a wait.
    void check() const;
    // Releases DTR and RTS and closes the port. If the system reports a
    // failure, the port is let go all the same and the failure is raised
    // afterwards.
    void close();
    bool is_open() const;

private:
    void set_line(int line, bool asserted);
#ifdef _WIN32
    // RTS is held released from the open on; DTR is the caller's to set. A
    // port that refuses is closed again.
    void release_rts_after_open();
#else
    // Raises ExposureCut if the program was stopped since the port opened.
    void check_not_stopped() const;
#endif

#ifdef _WIN32
    void* handle_ = nullptr;
    void* claim_ = nullptr; // a named mutex: the port is this program's
#else
    int fd_ = -1;
    std::int64_t opened_ns_ = 0; // when the open raised DTR
#endif
    int row_ = 0;
    std::string device_;
};

// For a handler of a terminating signal: releases DTR and RTS of the open
// port, if any, lets other programs open it again and closes it. Uses only
// async-signal-safe calls.
void release_serial_line_from_signal() noexcept;

#ifdef _WIN32
// At the end of a Windows session, on the window's thread: releases DTR and
// RTS of the open port, if any, and leaves closing it to its SerialLine.
void lower_serial_lines() noexcept;
#else
// For the handler of Ctrl+Z (SIGTSTP), before the program stops: releases
// DTR and RTS of the open port, if any, and notes the moment. The exposure
// under way is cut short: once the program goes on, its SerialLine raises
// ExposureCut rather than the line again. Async-signal-safe.
void stop_serial_line() noexcept;
#endif

} // namespace nocturo
