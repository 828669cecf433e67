#pragma once

#include "platform/os/comm_control.h"

#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
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
    std::optional<PortInfo> port_with_identity(const std::string& identity) override;
    std::vector<PortInfo> ports() const;

private:
    std::filesystem::path sys_class_tty_;
    std::filesystem::path dev_;
};

// Windows' COM port for a row, described by the COM ports present now
// ("COM3", read from the registry). A port above COM16, which no row
// reaches, is pointed out when the row's own is absent.
PortInfo com_port(int row, const std::vector<std::string>& present);

// Calls changed whenever serial ports may have come or gone: a node
// appearing in or leaving /dev, or Windows' device-change broadcast. Costs
// nothing while nothing changes.
class PortWatch : public QObject {
public:
    PortWatch(QObject* parent, std::function<void()> changed);
    ~PortWatch() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nocturo
