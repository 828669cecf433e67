#include "platform/os/serial_line.h"

#include <utility>

namespace nocturo {
namespace {

std::string port_name(int row, const std::string& device) {
    std::string name = "Com" + std::to_string(row);
    if (!device.empty()) {
        name += " (" + device + ")";
    }
    return name;
}

std::string because(const std::string& system_reason) {
    return system_reason.empty() ? std::string() : " (" + system_reason + ")";
}

std::string message(SerialError::Reason reason, int row, const std::string& device,
                    const std::string& system_reason) {
    const std::string port = port_name(row, device);
    const std::string why = because(system_reason);
    switch (reason) {
    case SerialError::Reason::NoSuchPort:
        if (device.empty()) {
            return "Com" + std::to_string(row) +
                   " is not connected: no serial port has that number now.\n\n"
                   "Plug in the serial or USB adapter, or pick another Com port, then press "
                   "START again.";
        }
        return port + " could not be opened: the device is not there" + why +
               ".\n\nCheck that the adapter is plugged in, or pick another Com port, then "
               "press START again.";
    case SerialError::Reason::NotConnected:
        return system_reason +
               ".\n\nPlug the adapter in, or pick another Com port, then press START again.";
    case SerialError::Reason::Busy:
        return port + " is in use by another program" + why +
               ".\n\nClose that program, or pick another Com port, then press START again.";
    case SerialError::Reason::PermissionDenied:
        return port + " could not be opened: permission denied" + why +
               ".\n\nOn Linux, add your user to the dialout group (sudo adduser $USER dialout), "
               "then log out and log in again.";
    case SerialError::Reason::LinesRefused:
        return port + " refused to switch its DTR line" + why +
               ", so it cannot fire the camera.\n\nPick another Com port, then press START "
               "again.";
    case SerialError::Reason::Lost:
        return port + " is no longer there: the adapter was unplugged or the device went away" +
               why +
               ".\n\nPlug the adapter back in, hover over the Com port list to see which row "
               "reaches it now, then press START again.";
    case SerialError::Reason::LinesPutBack:
        return port + " is in use by another program" + why +
               ". Opening it raised its DTR and RTS lines; Nocturo lowered them again at "
               "once.\n\nClose that program, or pick another Com port, then press START again.";
    case SerialError::Reason::CannotTell:
        return port + " was not opened: Nocturo cannot tell whether another program is using it" +
               why +
               ", and opening it would disturb that program's lines.\n\nRun Nocturo where it "
               "can read the system's list of locks (outside a sandbox that hides /proc); "
               "remove a lock file that no program holds; or pick another Com port, then press "
               "START again.";
    case SerialError::Reason::Other:
        break;
    }
    return port + " could not be used" + why +
           ".\n\nPick another Com port, then press START again.";
}

} // namespace

SerialError::SerialError(Reason reason, int row, std::string device, std::string system_reason)
    : RunTimeError(ErrorKind::Port, message(reason, row, device, system_reason)), reason_(reason),
      row_(row), device_(std::move(device)), system_reason_(std::move(system_reason)) {}

} // namespace nocturo
