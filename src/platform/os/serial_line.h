#pragma once

// One serial port, driven only through its control lines. Opening applies
// 9600 baud 8N1 and holds RTS released; DTR is raised and lowered on request;
// closing releases DTR before the port is let go. The operating system's
// calls are used directly so that nothing raises DTR behind our back when the
// port closes.

#include "platform/errors.h"

#include <string>

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
    SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    // Releases DTR and closes the port if it is still open.
    ~SerialLine();

    // row is the list row ("Com<row>") the device was chosen by; it only
    // appears in error messages.
    void open(int row, const std::string& device);
    void set_dtr(bool asserted);
    void set_rts(bool asserted);
    // Raises a Lost error when the device has gone away since it was opened
    // (an adapter pulled out); does nothing when no port is open. Cheap
    // enough to call at every pass of a wait.
    void check() const;
    // Releases DTR and RTS and closes the port. If the system reports a
    // failure, the port is let go all the same and the failure is raised
    // afterwards.
    void close();
    bool is_open() const;

private:
    void set_line(int line, bool asserted);
    // RTS is held released from the open on; DTR is the caller's to set. A
    // port that refuses is closed again.
    void release_rts_after_open();

#ifdef _WIN32
    void* handle_ = nullptr;
    void* claim_ = nullptr; // a named mutex: the port is this program's
#else
    int fd_ = -1;
#endif
    int row_ = 0;
    std::string device_;
};

// For a handler of a terminating signal: releases DTR and RTS of the open
// port, if any, and closes it. Uses only async-signal-safe calls.
void release_serial_line_from_signal() noexcept;

#ifdef _WIN32
// For the end of a Windows session, on the window's thread: releases DTR and
// RTS of the open port, if any, and leaves closing it to its SerialLine.
void lower_serial_lines() noexcept;
#endif

} // namespace nocturo
