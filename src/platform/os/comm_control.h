#pragma once

#include "platform/controls.h"
#include "platform/os/serial_line.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace nocturo {

struct PortInfo {
    std::string device;      // what the system opens
    std::string description; // what the user may recognise it by; may be empty
    // What stays the same for this one device while it is unplugged and
    // plugged in again: for a USB adapter its ids, its serial number and the
    // USB port it sits in; for any other port its name and device number.
    std::string identity = {};
    // What to do when the device is not there, where more can be said than
    // that it is missing; may be empty.
    std::string advice = {};
};

// Which device each port row reaches.
class PortDirectory {
public:
    virtual ~PortDirectory() = default;
    // row is 1 for "Com1"; nothing when no port has that number now.
    virtual std::optional<PortInfo> port_for_row(int row) = 0;
    // The device with this identity, under whatever name it has now; nothing
    // when it is not there.
    virtual std::optional<PortInfo> port_with_identity(const std::string& identity) = 0;
};

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
// PortOpen opens the device that row reached when the run first opened it.
class CommControl : public SerialControl {
public:
    CommControl(PortDirectory& directory, Alarm& alarm) : directory_(directory), alarm_(alarm) {}

    void set_comm_port(std::int16_t port) override { comm_port_ = port; }
    void set_settings(const std::string& settings) override;
    bool port_open() const override { return line_.is_open(); }
    void set_port_open(bool open) override;
    void set_dtr_enable(bool enable) override;
    void release_dtr_at(double at) override;
    // Raises a run-time error if the open port's device has gone away.
    void check_line() const { line_.check(); }
    // A run begins: each row is looked up afresh at its first exposure and
    // then keeps the device it reached.
    void begin_run() { pinned_.clear(); }

private:
    PortInfo device_for_row();
    void release_early() noexcept;

    PortDirectory& directory_;
    Alarm& alarm_;
    SerialLine line_;
    std::int16_t comm_port_ = 1;
    bool dtr_enable_ = false;
    // What each row reached when this run first opened it.
    std::map<int, PortInfo> pinned_;
};

} // namespace nocturo
