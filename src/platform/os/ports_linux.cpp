// The serial ports of a Linux system, read from sysfs. Nothing is opened:
// probing a UART by opening it would raise its DTR line.

#include "platform/os/port_directory.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace nocturo {
namespace {

namespace fs = std::filesystem;

std::string first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string whole_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A port as the user may recognise it, and what makes it this one device.
// A USB adapter is known by the folder of its USB device a few levels up:
// its ids, its serial number where it has one, the interface it is on (the
// end of the folder below it, 1-1.2:1.0) and, for a cable with several ports
// on one interface, the port's own number there: what a look-alike reports
// too. The folder's own name is the socket it sits in (1-1.2), and the
// kernel's number for the USB device tells one plug-in from the next. Any
// other port is known by its name and device number.
PortInfo describe(const fs::path& entry, const fs::path& dev) {
    PortInfo port{(dev / entry.filename()).string(), {}, {}, {}};
    std::error_code ec;
    fs::path dir = fs::canonical(entry / "device", ec);
    const std::string place = ec ? std::string() : first_line(dir / "port_number");
    fs::path below;
    for (int level = 0; !ec && level < 4 && !dir.empty(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            const std::string serial = first_line(dir / "serial");
            port.description = first_line(dir / "product");
            if (!serial.empty()) {
                port.description += (port.description.empty() ? "serial " : ", serial ") + serial;
            }
            const std::string interface = below.filename().string();
            port.make = "usb " + first_line(dir / "idVendor") + ":" +
                        first_line(dir / "idProduct") + " serial " + serial + " interface " +
                        interface.substr(interface.find(':') + 1) +
                        (place.empty() ? "" : " port " + place);
            port.socket = dir.filename().string();
            port.plug = first_line(dir / "devnum");
            port.serial = !serial.empty();
            port.identity = port.make + " at " + port.socket;
            return port;
        }
        below = dir;
        dir = dir.parent_path();
    }
    port.identity = entry.filename().string() + " " + first_line(entry / "dev");
    port.make = port.identity;
    return port;
}

// Ports a driver gives no place of their own under their interface share an
// identity: each is then told apart by its name as well.
void make_identities_unique(std::vector<PortInfo>& ports) {
    std::map<std::string, int> count;
    for (const PortInfo& port : ports) {
        ++count[port.identity];
    }
    for (PortInfo& port : ports) {
        if (count[port.identity] > 1) {
            const std::string name = " tty " + fs::path(port.device).filename().string();
            port.identity += name;
            port.make += name;
        }
    }
}

// The ports the kernel writes its console to, or that the command line gives
// it: a console port is no camera's.
std::set<std::string> console_ports(const fs::path& sys, const fs::path& dev,
                                    const fs::path& proc) {
    std::set<std::string> names;
    std::istringstream active(whole_file(sys / "class/tty/console/active"));
    for (std::string name; active >> name;) {
        names.insert(name);
    }
    std::istringstream cmdline(whole_file(proc / "cmdline"));
    for (std::string word; cmdline >> word;) {
        if (word.rfind("console=", 0) != 0) {
            continue;
        }
        const std::string name = fs::path(word.substr(8, word.find(',') - 8)).filename().string();
        // A Raspberry Pi names its console by the alias serial0, a link to the UART.
        std::error_code ec;
        const fs::path alias =
            name.rfind("serial", 0) == 0 ? fs::read_symlink(dev / name, ec) : fs::path(name);
        names.insert(ec ? name : alias.filename().string());
    }
    return names;
}

bool names_any(const std::string& text, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(),
                       [&text](const char* word) { return text.find(word) != std::string::npos; });
}

// The Raspberry Pi's own UARTs: the PL011 (ttyAMA*) and the mini UART of its
// BCM283x, BCM2711 or BCM2712. Neither brings a DTR pin out to the header.
bool raspberry_pi_uart(const fs::path& sys, const fs::path& entry) {
    if (!names_any(whole_file(sys / "firmware/devicetree/base/compatible"),
                   {"raspberrypi,", "brcm,bcm2835", "brcm,bcm2836", "brcm,bcm2837", "brcm,bcm2711",
                    "brcm,bcm2712"})) {
        return false;
    }
    std::error_code ec;
    const std::string driver = fs::read_symlink(entry / "device/driver", ec).filename().string();
    return names_any(driver + " " + whole_file(entry / "device/of_node/compatible"),
                     {"uart-pl011", "arm,pl011", "bcm2835-aux-uart"});
}

bool brltty_running(const fs::path& proc) {
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
        if (first_line(it->path() / "comm") == "brltty") {
            return true;
        }
    }
    return false;
}

// The kernel module that drives a USB device as a serial port, when it is a
// known USB-serial chip or has a modem's ACM interface; empty otherwise.
std::string serial_module(const fs::path& usb, const std::vector<fs::path>& interfaces) {
    if (const SerialChip* chip =
            usb_serial_chip(first_line(usb / "idVendor"), first_line(usb / "idProduct"))) {
        return chip->module;
    }
    for (const fs::path& interface : interfaces) {
        if (first_line(interface / "bInterfaceClass") == "02" &&
            first_line(interface / "bInterfaceSubClass") == "02") {
            return "cdc_acm";
        }
    }
    return {};
}

// USB-serial adapters plugged in that have no tty: taken by brltty (which
// claims CH340 adapters as braille displays) or by another program through
// usbfs, or bound to no driver at all.
std::vector<std::string> stranded_adapters(const fs::path& sys, const fs::path& proc) {
    std::vector<std::string> notes;
    std::error_code ec;
    for (fs::directory_iterator it(sys / "bus/usb/devices", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code unreadable;
        const fs::path usb = fs::canonical(it->path(), unreadable);
        if (unreadable || !fs::exists(usb / "idVendor", unreadable)) {
            continue; // an interface, not a device
        }
        std::vector<fs::path> interfaces;
        bool has_port = false;
        for (const auto& below : fs::directory_iterator(usb, unreadable)) {
            if (below.path().filename().string().rfind(usb.filename().string() + ":", 0) != 0) {
                continue;
            }
            interfaces.push_back(below.path());
            for (fs::recursive_directory_iterator tty(below.path(), unreadable), last;
                 !unreadable && tty != last; tty.increment(unreadable)) {
                has_port = has_port || tty->path().filename().string().rfind("tty", 0) == 0;
                if (tty.depth() >= 1) {
                    tty.disable_recursion_pending();
                }
            }
        }
        const std::string module = serial_module(usb, interfaces);
        if (module.empty() || has_port) {
            continue;
        }
        bool claimed = false;
        bool bound = false;
        for (const fs::path& interface : interfaces) {
            const std::string driver =
                fs::read_symlink(interface / "driver", unreadable).filename().string();
            claimed = claimed || driver == "usbfs";
            bound = bound || !driver.empty();
        }
        std::string why;
        if (claimed && brltty_running(proc)) {
            why = "brltty has taken the adapter: remove brltty (sudo apt remove brltty) or mask "
                  "its udev rule, then plug the adapter in again";
        } else if (claimed) {
            why = "a program has claimed it (usbfs): close that program, then plug the adapter "
                  "in again";
        } else if (!bound) {
            why = "no driver took it: load its kernel module (sudo modprobe " + module +
                  "), then plug the adapter in again";
        } else {
            continue; // its driver is still making the port
        }
        const std::string product = first_line(usb / "product");
        notes.push_back((product.empty() ? "A USB device" : product) + " (" +
                        first_line(usb / "idVendor") + ":" + first_line(usb / "idProduct") +
                        ") is plugged in but has no serial port: " + why);
    }
    return notes;
}

} // namespace

PortList SystemPorts::list() {
    PortList list;
    if (!consoles_) {
        consoles_ = console_ports(sys_, dev_, proc_);
    }
    const std::set<std::string>& consoles = *consoles_;
    std::error_code ec;
    for (fs::directory_iterator it(sys_ / "class/tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        std::error_code unreadable;
        if (!fs::exists(entry / "device", unreadable)) {
            continue; // virtual terminals and ptys have no device behind them
        }
        // A UART slot with no chip behind it reports type 0.
        if (first_line(entry / "type") == "0") {
            continue;
        }
        if (consoles.count(name) != 0) {
            list.left_out.push_back(name + ": the system console runs on it");
        } else if (raspberry_pi_uart(sys_, entry)) {
            list.left_out.push_back(
                name + ": the Raspberry Pi's own UART has no DTR pin; use a USB-serial adapter");
        } else if (fs::exists(dev_ / name, unreadable)) {
            had_node_.insert(name);
            list.ports.push_back(describe(entry, dev_));
        } else if (had_node_.count(name) == 0) {
            list.ports.push_back(describe(entry, dev_)); // its node may come later
        }
    }
    sort_ports(list.ports);
    make_identities_unique(list.ports);
    std::sort(list.left_out.begin(), list.left_out.end());
    list.stranded = stranded_adapters(sys_, proc_);
    return list;
}

// sysfs is quick to read: every list() reads it afresh.
void SystemPorts::refresh() {}

std::vector<std::string> SystemPorts::watched_folders() const {
    return {dev_.string()};
}

} // namespace nocturo
