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

void CommControl::set_port_open(bool open) {
    if (!open) {
        line_.close();
        return;
    }
    if (line_.is_open()) {
        return;
    }
    const std::optional<PortInfo> port = directory_.port_for_row(comm_port_);
    if (!port) {
        throw SerialError(SerialError::Reason::NoSuchPort, comm_port_, "", "");
    }
    line_.open(comm_port_, port->device);
    if (dtr_enable_) {
        line_.set_dtr(true);
    }
}

void CommControl::set_dtr_enable(bool enable) {
    dtr_enable_ = enable;
    line_.set_dtr(enable);
}

} // namespace nocturo
