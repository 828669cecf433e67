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
PortInfo CommControl::device_at(std::int16_t row) const {
    const RowReach reach = directory_.reach(row);
    if (reach.port) {
        return *reach.port;
    }
    if (reach.missing && !reach.alike && reach.missing->identity == opened_) {
        throw SerialError(SerialError::Reason::Lost, row, reach.missing->device,
                          reach.missing->description);
    }
    SerialError error = reach.missing
                            ? SerialError(SerialError::Reason::NotConnected, row,
                                          reach.missing->device, not_connected_text(reach, row))
                            : SerialError(SerialError::Reason::NoSuchPort, row, "", "");
    // An adapter that is plugged in but got no port is the likely one.
    std::string advice;
    for (const std::string& stranded : reach.stranded) {
        advice += (advice.empty() ? "" : "\n") + stranded + ".";
    }
    if (reach.alike) {
        advice = "Put the adapter back in the USB socket it was in, or pick the row that reaches "
                 "the one plugged in now, then press START again.";
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
        unread_ = false;
        claims_.renew(); // for the next exposure, read in the pause
        reading_for_.reset();
        line_.close();
        return;
    }
    if (line_.is_open()) {
        release_unasked_dtr();
        return;
    }
    const PortInfo port = device_at(comm_port_);
    // What claims the port was read ahead. Where the reading of open files
    // is not finished (a short start delay, a device that changed at the
    // last moment), the port is opened on the word of the checks made as it
    // opens, and the reading goes on: a holder it finds has its lines put
    // back down at once.
    unread_ = !claims_.check(comm_port_, port.device);
    reading_for_ = port.device;
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

void CommControl::check_line() {
    line_.check();
    if (unread_ && claims_.read(*reading_for_, {})) {
        unread_ = false;
        try {
            claims_.check(comm_port_, *reading_for_);
        } catch (const SerialError& held) {
            line_.close();
            throw SerialError(SerialError::Reason::LinesPutBack, comm_port_, *reading_for_,
                              held.system_reason());
        }
    }
}

void CommControl::begin_run() {
    opened_.clear();
    renew_claims();
}

bool CommControl::read_ahead(std::int16_t row, std::chrono::microseconds budget) {
    if (!reading_for_) {
        const RowReach reach = directory_.reach(row);
        reading_for_ = reach.port ? reach.port->device : std::string();
    }
    return reading_for_->empty() || claims_.read(*reading_for_, budget);
}

void CommControl::renew_claims() {
    claims_.renew();
    if (!line_.is_open()) {
        reading_for_.reset();
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
