#include "platform/os/port_directory.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <tuple>
#include <utility>

namespace nocturo {
namespace {

namespace fs = std::filesystem;

struct SortKey {
    int group;
    std::string stem;
    long number;
    bool operator<(const SortKey& other) const {
        return std::tie(group, stem, number) < std::tie(other.group, other.stem, other.number);
    }
};

std::string trailing_digits(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
        --digits;
    }
    return name.substr(digits);
}

// The number at the end of a port's name; -1 when there is none, and the
// largest number when it has more digits than fit.
long port_number(const std::string& device) {
    const std::string digits = trailing_digits(fs::path(device).filename().string());
    if (digits.empty()) {
        return -1;
    }
    long number = 0;
    for (const char digit : digits) {
        if (number > (LONG_MAX - (digit - '0')) / 10) {
            return LONG_MAX;
        }
        number = number * 10 + (digit - '0');
    }
    return number;
}

SortKey sort_key(const std::string& device) {
    const std::string name = fs::path(device).filename().string();
    const std::string stem = name.substr(0, name.size() - trailing_digits(name).size());
    int group = 2;
    if (stem.find("USB") != std::string::npos || stem.find("usbserial") != std::string::npos) {
        group = 0;
    } else if (stem.find("ACM") != std::string::npos ||
               stem.find("usbmodem") != std::string::npos) {
        group = 1;
    }
    return {group, stem, port_number(device)};
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

std::string row_name(int row) {
    return "Com" + std::to_string(row);
}

// A device as the user may recognise it: by its description where it has one.
std::string label(const PortInfo& port) {
    return port.description.empty() ? port.device : port.description;
}

std::string occupant_text(int row, const PortInfo& occupant) {
    return shown_name(occupant.device) +
           (occupant.description.empty() ? "" : " (" + occupant.description + ")") +
           " sits at its place now, and picking " + row_name(row) + " again takes it";
}

std::optional<PortInfo> at_place(const std::vector<PortInfo>& ports, int row) {
    const auto at = std::find_if(ports.begin(), ports.end(),
                                 [row](const PortInfo& port) { return port.row == row; });
    return row >= 1 && at != ports.end() ? std::optional(*at) : std::nullopt;
}

// Whether port is the device that was, at an earlier look, kept.
bool same_device(const PortInfo& kept, const PortInfo& port) {
    // The same serial in the same socket, or a serial only one adapter
    // plugged in carries now, is the same adapter whichever way it was known.
    return port.identity == kept.identity ||
           (!kept.by_serial.empty() && port.by_serial == kept.by_serial &&
            (port.by_socket == kept.by_socket || port.identity == port.by_serial));
}

} // namespace

SystemPorts::SystemPorts(fs::path sys, fs::path dev, fs::path proc)
    : sys_(std::move(sys)), dev_(std::move(dev)), proc_(std::move(proc)) {}

void PortDirectory::fix(int row) {
    source_.refresh();
    seen_ = source_.list().ports;
    fixed_[row] = at_place(seen_, row);
}

bool PortDirectory::ports_changed(int row, bool idle) {
    source_.refresh();
    const std::vector<PortInfo> before = std::exchange(seen_, source_.list().ports);
    const auto kept = fixed_.find(row);
    std::optional<PortInfo> place = at_place(seen_, row);
    if (!idle || kept == fixed_.end() || kept->second || !place ||
        std::any_of(before.begin(), before.end(),
                    [&place](const PortInfo& was) { return same_device(was, *place); })) {
        return false;
    }
    kept->second = std::move(place);
    return true;
}

RowReach PortDirectory::reach(int row) const {
    PortList now = source_.list();
    RowReach reach;
    reach.left_out = std::move(now.left_out);
    reach.stranded = std::move(now.stranded);
    std::optional<PortInfo> place = at_place(now.ports, row);
    const auto kept = fixed_.find(row);
    if (kept == fixed_.end()) {
        reach.port = std::move(place);
        return reach;
    }
    if (!kept->second) {
        reach.occupant = std::move(place);
        return reach;
    }
    for (PortInfo& port : now.ports) {
        if (same_device(*kept->second, port)) {
            reach.port = std::move(port); // under the name it has now
            return reach;
        }
    }
    reach.missing = kept->second;
    reach.occupant = std::move(place);
    return reach;
}

std::string PortDirectory::describe(int row) const {
    const RowReach now = reach(row);
    if (now.missing) {
        return not_connected_text(row, *now.missing, now.occupant);
    }
    if (!now.port) {
        std::string text = row_name(row) + ": no serial port has that number now";
        if (now.occupant) {
            text = row_name(row) + ": no serial port had that number when it was picked; " +
                   occupant_text(row, *now.occupant);
        }
        if (!now.stranded.empty()) {
            text.append("\n").append(joined(now.stranded, "\n"));
        }
        if (!now.left_out.empty()) {
            text.append("\nLeft out:\n").append(joined(now.left_out, "\n"));
        }
        return text;
    }
    std::string text = row_name(row) + ": " + shown_name(now.port->device);
    if (!now.port->description.empty()) {
        text += ", " + now.port->description;
    }
    if (!now.port->advice.empty()) {
        text += ". " + now.port->advice;
    }
    return text;
}

std::string not_connected_text(int row, const PortInfo& missing,
                               const std::optional<PortInfo>& occupant) {
    std::string text = row_name(row) + " (" + label(missing) + ") is not connected";
    if (occupant) {
        text += ": " + occupant_text(row, *occupant);
    }
    return text;
}

void sort_ports(std::vector<PortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return sort_key(a.device) < sort_key(b.device);
    });
    for (std::size_t k = 0; k < ports.size(); ++k) {
        ports[k].row = static_cast<int>(k + 1);
    }
}

const SerialChip* usb_serial_chip(const std::string& vendor, const std::string& product) {
    static const struct {
        const char* vendor;
        std::initializer_list<const char*> products; // none: every product
        SerialChip chip;
    } chips[] = {{"0403", {}, {"ftdi_sio", "FTDI's VCP driver"}},
                 {"1a86", {"7523", "5523", "55d4"}, {"ch341", "WCH's CH341SER driver"}},
                 {"067b", {"2303"}, {"pl2303", "Prolific's PL2303 driver"}},
                 {"10c4", {"ea60", "ea70"}, {"cp210x", "Silicon Labs' CP210x driver"}}};
    for (const auto& known : chips) {
        if (vendor == known.vendor &&
            (known.products.size() == 0 || std::find(known.products.begin(), known.products.end(),
                                                     product) != known.products.end())) {
            return &known.chip;
        }
    }
    return nullptr;
}

std::string shown_name(const std::string& device) {
    return device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
}

} // namespace nocturo
