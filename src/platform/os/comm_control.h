#pragma once

#include "platform/controls.h"
#include "platform/os/port_claims.h"
#include "platform/os/port_directory.h"
#include "platform/os/serial_line.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace nocturo {

// Runs an action at a clock reading, even while the window's thread is held
// by something other than a wait (a window being dragged, its menu open).
class Alarm {
public:
    virtual ~Alarm() = default;
    // at is a clock reading, unfolded: it may pass 86400.
    virtual void set(double at, std::function<void()> action) = 0;
    virtual void cancel() = 0;
};

// The serial-line control on a real port: CommPort chooses the row,
// PortOpen opens the device the directory says that row reaches.
//
// PortOpen=True opens the port for an exposure: the DTR line the system
// raises as a port opens (Linux does, and Wine on Linux) is kept for the
// DTREnable=True that follows, rather than dropped and raised again a
// moment later, a pulse a camera may take for a press. Should anything else
// follow the open, the line is released first.
class CommControl : public SerialControl {
public:
    CommControl(PortDirectory& directory, Alarm& alarm, ClaimPlaces claims = ClaimPlaces::system())
        : directory_(directory), alarm_(alarm), claims_(std::move(claims)) {}

    void set_comm_port(std::int16_t port) override;
    void set_settings(const std::string& settings) override;
    bool port_open() const override { return line_.is_open(); }
    void set_port_open(bool open) override;
    void set_dtr_enable(bool enable) override;
    void release_dtr_at(double at) override;
    // Raises a run-time error if the open port's device has gone away, or
    // if another program turns out to have it open: then its lines are put
    // back down first.
    void check_line();
    // A run begins: a device missing from now on was not yet lost by this
    // run, and which programs have a port open is read afresh.
    void begin_run();
    // The device the row reaches now; raises the error that says why it
    // reaches none.
    PortInfo device_at(std::int16_t row) const;
    // Reads ahead, for about budget, which program has open the device the
    // next exposure opens (the row's), or the open one where that was not
    // finished as it opened. True when nothing is left to read.
    bool read_ahead(std::int16_t row, std::chrono::microseconds budget);
    // The ports changed, or a row was picked: read again.
    void renew_claims();

private:
    void release_early() noexcept;
    // Releases the DTR line the open raised, if no DTREnable=True has
    // asked for it since.
    void release_unasked_dtr();

    PortDirectory& directory_;
    Alarm& alarm_;
    PortClaims claims_;
    SerialLine line_;
    std::int16_t comm_port_ = 1;
    bool dtr_enable_ = false;
    bool dtr_unasked_ = false;
    // The identity of the device this run opened last: when it goes
    // missing, it is reported as unplugged rather than as not connected.
    std::string opened_;
    // The device whose holders are being read; empty for none.
    std::optional<std::string> reading_for_;
    bool unread_ = false; // the open port's holders were not all read as it opened
};

} // namespace nocturo
