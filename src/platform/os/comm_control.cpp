#include "platform/os/comm_control.h"

namespace nocturo {

void CommControl::set_settings(const std::string& settings) {
    // The line is always opened at 9600 baud, 8 data bits, no parity, one
    // stop bit; nothing else is ever asked for.
    if (settings != "9600,N,8,1") {
        throw RunTimeError(ErrorKind::Control,
                           "The serial port was asked for line settings it does not support (" +
                               settings + ").");
    }
}

// On Linux a row is the k-th port the system has now, so when a device
// leaves, the next one slides into its row. A row therefore keeps, for the
// rest of the run, the device it reached at its first exposure: it follows
// that device to a new name, and never opens another in its place (a
// focuser resets when its DTR rises).
PortInfo CommControl::device_for_row() {
    const auto pinned = pinned_.find(comm_port_);
    if (pinned == pinned_.end()) {
        std::optional<PortInfo> port = directory_.port_for_row(comm_port_);
        if (!port) {
            throw SerialError(SerialError::Reason::NoSuchPort, comm_port_, "", "");
        }
        return *port;
    }
    std::optional<PortInfo> port = directory_.port_with_identity(pinned->second.identity);
    if (!port) {
        throw SerialError(SerialError::Reason::Lost, comm_port_, pinned->second.device,
                          pinned->second.description);
    }
    return *port;
}

void CommControl::set_port_open(bool open) {
    if (!open) {
        alarm_.cancel();
        line_.close();
        return;
    }
    if (line_.is_open()) {
        return;
    }
    const PortInfo port = device_for_row();
    try {
        line_.open(comm_port_, port.device);
    } catch (SerialError& error) {
        if (error.reason() == SerialError::Reason::NoSuchPort && !port.advice.empty()) {
            error.set_advice(port.advice);
        }
        throw;
    }
    pinned_.insert_or_assign(comm_port_, port);
    if (dtr_enable_) {
        line_.set_dtr(true);
    }
}

void CommControl::set_dtr_enable(bool enable) {
    alarm_.cancel();
    dtr_enable_ = enable;
    line_.set_dtr(enable);
}

void CommControl::release_dtr_at(double at) {
    alarm_.set(at, [this] { release_early(); });
}

void CommControl::release_early() noexcept {
    try {
        line_.set_dtr(false);
    } catch (const SerialError&) {
        // The device is gone, and with it the line; the wait that is under
        // way reports the loss when it next looks at the port.
    }
}

} // namespace nocturo
