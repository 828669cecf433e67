#include "platform/os/comm_control.h"

namespace nocturo {

void CommControl::set_comm_port(std::int16_t port) {
    release_unasked_dtr();
    comm_port_ = port;
}

void CommControl::set_settings(const std::string& settings) {
    release_unasked_dtr();
    // The line is always opened at 9600 baud, 8 data bits, no parity, one
    // stop bit; nothing else is ever asked for.
    if (settings != "9600,N,8,1") {
        throw RunTimeError(ErrorKind::Control,
                           "The serial port was asked for line settings it does not support (" +
                               settings + ").");
    }
}

// The directory never hands out a device other than the one the row was
// fixed to, so nothing is opened when that device is missing.
PortInfo CommControl::device_for_row() const {
    const RowReach reach = directory_.reach(comm_port_);
    if (reach.port) {
        return *reach.port;
    }
    if (reach.missing && reach.missing->identity == opened_) {
        throw SerialError(SerialError::Reason::Lost, comm_port_, reach.missing->device,
                          reach.missing->description);
    }
    SerialError error =
        reach.missing
            ? SerialError(SerialError::Reason::NotConnected, comm_port_, reach.missing->device,
                          not_connected_text(comm_port_, *reach.missing, reach.occupant))
            : SerialError(SerialError::Reason::NoSuchPort, comm_port_, "", "");
    // An adapter that is plugged in but got no port is the likely one.
    std::string advice;
    for (const std::string& stranded : reach.stranded) {
        advice += (advice.empty() ? "" : "\n") + stranded + ".";
    }
    if (!advice.empty()) {
        error.set_advice(advice);
    }
    throw error;
}

void CommControl::set_port_open(bool open) {
    if (!open) {
        alarm_.cancel();
        dtr_unasked_ = false;
        line_.close();
        return;
    }
    if (line_.is_open()) {
        release_unasked_dtr();
        return;
    }
    const PortInfo port = device_for_row();
    try {
        line_.open(comm_port_, port.device, SerialLine::KeepDtr::Yes);
    } catch (SerialError& error) {
        if (error.reason() == SerialError::Reason::NoSuchPort && !port.advice.empty()) {
            error.set_advice(port.advice);
        }
        throw;
    }
    opened_ = port.identity;
    if (dtr_enable_) {
        line_.set_dtr(true);
    } else {
        dtr_unasked_ = true;
    }
}

void CommControl::set_dtr_enable(bool enable) {
    alarm_.cancel();
    dtr_unasked_ = false;
    dtr_enable_ = enable;
    line_.set_dtr(enable);
}

void CommControl::release_dtr_at(double at) {
    release_unasked_dtr();
    alarm_.set(at, [this] { release_early(); });
}

void CommControl::release_unasked_dtr() {
    if (dtr_unasked_) {
        dtr_unasked_ = false;
        line_.set_dtr(false);
    }
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
