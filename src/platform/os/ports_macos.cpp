// The serial ports of a macOS system: its /dev/cu.* devices. A cu name is
// fixed to its device (cu.usbserial-A50285BI), so it is its identity and make too.
// Nothing is opened.

#include "platform/os/port_directory.h"

namespace nocturo {

PortList SystemPorts::list() {
    PortList list;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dev_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string device = it->path().string();
        if (it->path().filename().string().rfind("cu.", 0) == 0) {
            PortInfo port{device, {}, device};
            port.make = device;
            list.ports.push_back(port);
        }
    }
    sort_ports(list.ports);
    return list;
}

void SystemPorts::refresh() {}

std::vector<std::string> SystemPorts::watched_folders() const {
    return {dev_.string()};
}

} // namespace nocturo
