#include "platform/os/windows_ports.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

namespace nocturo {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// What a USB instance id says: USB\VID_0403&PID_6001\A50285BI. A serial
// number Windows made up for a device that has none holds '&'.
struct UsbIds {
    std::string vendor;
    std::string product;
    std::string serial; // empty when the device has none
};

std::optional<UsbIds> usb_ids(const std::string& instance_id) {
    const std::string id = upper(instance_id);
    const std::size_t vid = id.find("VID_");
    const std::size_t pid = id.find("PID_");
    if (id.rfind("USB\\", 0) != 0 || vid == std::string::npos || pid == std::string::npos) {
        return std::nullopt;
    }
    UsbIds ids{lower(id.substr(vid + 4, 4)), lower(id.substr(pid + 4, 4)), {}};
    const std::size_t last = instance_id.rfind('\\');
    if (last > 4 && instance_id.find('&', last) == std::string::npos) {
        ids.serial = instance_id.substr(last + 1);
    }
    return ids;
}

// The middle part of an instance id: for a port of a cable with several,
// its own place on it (VID_0403+PID_6010+FT1234A, VID_2341&PID_0043&MI_00).
std::string device_part(const std::string& instance_id) {
    const std::size_t first = instance_id.find('\\');
    const std::size_t last = instance_id.rfind('\\');
    return first == last ? std::string() : instance_id.substr(first + 1, last - first - 1);
}

// "USB Serial Port (COM3)" without its COM number.
std::string plain_name(const WindowsDevice& device) {
    const std::string suffix = " (" + device.port_name + ")";
    const std::string& name = device.name;
    if (!device.port_name.empty() && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return name.substr(0, name.size() - suffix.size());
    }
    return name;
}

// The USB device a port is: itself, or for a port its driver makes on a USB
// device (FTDIBUS\..., or an interface of a composite device, &MI_00) the
// device it hangs from, where the serial number is.
struct UsbDevice {
    UsbIds ids;
    bool parent;
};

std::optional<UsbDevice> usb_device(const WindowsDevice& device) {
    const std::optional<UsbIds> own = usb_ids(device.instance_id);
    const std::optional<UsbIds> parent = usb_ids(device.parent_id);
    if (parent && (!own || (own->serial.empty() && own->vendor == parent->vendor &&
                            own->product == parent->product))) {
        return UsbDevice{*parent, true};
    }
    return own ? std::optional<UsbDevice>(UsbDevice{*own, false}) : std::nullopt;
}

// The row a port stands at: k for COMk, k from 1 (Windows takes the name in
// any case); 0 for any other name, which stands at no row.
int com_row(const std::string& name) {
    const std::string number = name.size() > 3 ? name.substr(3) : std::string();
    if (upper(name.substr(0, 3)) != "COM" || number.empty() || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return number.size() > 6 ? 1'000'000 : std::stoi(number);
}

PortInfo port_of(const WindowsDevice& device) {
    PortInfo port{
        "\\\\.\\" + device.port_name, plain_name(device), {}, {}, com_row(device.port_name)};
    if (!device.manufacturer.empty()) {
        port.description += (port.description.empty() ? "" : ", ") + device.manufacturer;
    }
    const std::optional<UsbDevice> usb = usb_device(device);
    if (!usb) {
        port.identity = port.make = device.port_name;
        return port;
    }
    const UsbIds& ids = usb->ids;
    port.make = "usb " + ids.vendor + ":" + ids.product + " serial " + ids.serial;
    if (!ids.serial.empty()) {
        port.description += (port.description.empty() ? "serial " : ", serial ") + ids.serial;
    }
    if (usb->parent) { // one of the device's ports: which one
        port.make += " port " + device_part(device.instance_id);
    }
    // Windows gives an adapter without a serial number an instance of its
    // own in each socket.
    port.socket = device.location.empty() ? device.instance_id : device.location;
    port.serial = !ids.serial.empty();
    port.identity = port.make + " at " + port.socket;
    return port;
}

// Which PL2303 Prolific's driver refuses, as its text names it.
std::string refused_pl2303(const std::string& name) {
    const std::string text = upper(name);
    if (text.find("PHASED OUT") != std::string::npos) {
        return "a PL2303 it has phased out";
    }
    if (text.find("NOT SUPPORT WINDOWS") != std::string::npos) {
        return "a PL2303 it does not support on this version of Windows";
    }
    return "a clone or a discontinued PL2303";
}

// A port whose name is no COM number, which no row reaches, and why.
std::string why_left_out(const WindowsDevice& device) {
    const std::string name = plain_name(device);
    const std::string named = device.port_name + (name.empty() ? "" : " (" + name + ")");
    if (upper(device.port_name).rfind("LPT", 0) == 0) {
        return named + ": a printer port, not a serial port";
    }
    return named + (usb_device(device) ? ": a port whose name is no COM number; give it a "
                                         "number from 1 to 16 in Device Manager to use it here"
                                       : ": a virtual port whose name is no COM number; name it "
                                         "COMk in its setup to use it here");
}

// A port that works: Windows gave it a name and reports no problem.
bool works(const WindowsDevice& device) {
    return device.is_port && device.present && device.problem == 0 && !device.port_name.empty();
}

// Why a USB-serial adapter that is plugged in has no port, and what to do;
// empty for a device that is no such adapter or is fine.
std::string trouble(const WindowsDevice& device) {
    const std::optional<UsbDevice> usb = usb_device(device);
    const SerialChip* chip = usb ? usb_serial_chip(usb->ids.vendor, usb->ids.product) : nullptr;
    if (chip == nullptr || (device.problem == 0 && usb->ids.product != "0000")) {
        return {};
    }
    const UsbIds& ids = usb->ids;
    std::string why;
    if (ids.vendor == "0403" && ids.product == "0000") {
        why =
            "it reports product id 0000, a clone FTDI chip whose id a driver rewrote: use another "
            "adapter";
    } else if (device.problem == 28) {
        why = std::string("Windows has no driver for it (Device Manager code 28): install ") +
              chip->driver + ", then plug the adapter in again";
    } else if (device.problem == 10 && ids.vendor == "067b") {
        why = "Prolific's driver refuses this chip (Device Manager code 10), " +
              refused_pl2303(device.name) +
              ": install an older Prolific driver, or use another adapter";
    } else if (device.problem == 22) {
        why = "it is disabled in Device Manager (code 22): enable it there, then press START again";
    } else {
        why = "Device Manager reports a problem with it (code " + std::to_string(device.problem) +
              "): see the device's status there";
    }
    const std::string name = device.name.empty() ? "A USB device" : device.name;
    return name + " (" + ids.vendor + ":" + ids.product +
           ") is plugged in but has no serial port: " + why;
}

} // namespace

PortList windows_port_list(const WindowsAnswer& answer) {
    PortList list;
    // A device with a port that works, or whose port works, has no trouble
    // to tell.
    std::set<std::string> working;
    for (const WindowsDevice& device : answer.devices) {
        if (works(device)) {
            working.insert({device.instance_id, device.parent_id});
        }
    }
    std::set<std::string> named; // COM names present, or belonging to a device that is gone
    std::vector<WindowsDevice> ports;
    for (const WindowsDevice& device : answer.devices) {
        if (!device.port_name.empty()) {
            named.insert(upper(device.port_name));
        }
        if (works(device)) {
            ports.push_back(device);
        } else if (device.present && working.count(device.instance_id) == 0) {
            if (const std::string note = trouble(device); !note.empty()) {
                list.stranded.push_back(note);
            }
        }
    }
    for (const std::string& name : answer.serialcomm) {
        if (named.insert(upper(name)).second) { // a virtual port only the drivers list
            WindowsDevice only_listed;
            only_listed.port_name = name;
            ports.push_back(only_listed);
        }
    }
    for (const WindowsDevice& device : ports) {
        PortInfo port = port_of(device);
        if (port.row == 0) {
            list.left_out.push_back(why_left_out(device));
        } else {
            list.ports.push_back(std::move(port));
        }
    }
    std::stable_sort(list.ports.begin(), list.ports.end(),
                     [](const PortInfo& a, const PortInfo& b) { return a.row < b.row; });
    for (const PortInfo& port : list.ports) {
        if (port.row > 16) {
            const std::string name = shown_name(port.device);
            list.stranded.push_back(
                name + (port.description.empty() ? "" : ", " + port.description + ",") +
                " has a number above 16, which no row reaches: give the adapter a number from 1 "
                "to 16 in Device Manager (the port's Properties, Port Settings, Advanced, COM "
                "Port Number), then pick that row and press START again");
        }
    }
    return list;
}

} // namespace nocturo
