#pragma once

#include "platform/controls.h"
#include "platform/os/serial_line.h"

#include <optional>
#include <string>

namespace nocturo {

struct PortInfo {
    std::string device;      // what the system opens
    std::string description; // what the user may recognise it by; may be empty
};

// Which device each port row reaches.
class PortDirectory {
public:
    virtual ~PortDirectory() = default;
    // row is 1 for "Com1"; nothing when no port has that number now.
    virtual std::optional<PortInfo> port_for_row(int row) = 0;
};

// The serial-line control on a real port: CommPort chooses the row,
// PortOpen opens the device that row reaches now.
class CommControl : public SerialControl {
public:
    explicit CommControl(PortDirectory& directory) : directory_(directory) {}

    void set_comm_port(std::int16_t port) override { comm_port_ = port; }
    void set_settings(const std::string& settings) override;
    bool port_open() const override { return line_.is_open(); }
    void set_port_open(bool open) override;
    void set_dtr_enable(bool enable) override;
    // Raises a run-time error if the open port's device has gone away.
    void check_line() const { line_.check(); }

private:
    PortDirectory& directory_;
    SerialLine line_;
    std::int16_t comm_port_ = 1;
    bool dtr_enable_ = false;
};

} // namespace nocturo
