#pragma once

#include "platform/os/comm_control.h"

#include <filesystem>
#include <vector>

namespace nocturo {

// The ports of this computer as the rows reach them. On Windows row k is
// COMk. Elsewhere row k is the k-th serial port the system reports: USB
// adapters (ttyUSB, usbserial) first, then ACM modems (ttyACM, usbmodem),
// each group in device-number order, then every other port. Listing never
// opens a port: on Linux it reads sysfs, since probing a UART by opening it
// would raise its DTR line.
class SystemPortDirectory : public PortDirectory {
public:
    explicit SystemPortDirectory(std::filesystem::path sys_class_tty = "/sys/class/tty",
                                 std::filesystem::path dev = "/dev");

    std::optional<PortInfo> port_for_row(int row) override;
    std::vector<PortInfo> ports() const;

private:
    std::filesystem::path sys_class_tty_;
    std::filesystem::path dev_;
};

} // namespace nocturo
