#include "platform/os/port_directory.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <tuple>

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
    return occupant.device +
           (occupant.description.empty() ? "" : " (" + occupant.description + ")") +
           " sits at its place now, and picking " + row_name(row) + " again takes it";
}

std::optional<PortInfo> at_place(const std::vector<PortInfo>& ports, int row) {
    if (row >= 1 && static_cast<std::size_t>(row) <= ports.size()) {
        return ports[static_cast<std::size_t>(row) - 1];
    }
    return std::nullopt;
}

} // namespace

SystemPorts::SystemPorts(fs::path sys, fs::path dev, fs::path proc)
    : sys_(std::move(sys)), dev_(std::move(dev)), proc_(std::move(proc)) {}

void PortDirectory::fix(int row) {
    const PortList now = source_.list();
    Fixed fixed{at_place(now.ports, row), {}};
    for (const PortInfo& port : now.ports) {
        fixed.there_then.insert(port.identity);
    }
    fixed_[row] = std::move(fixed);
}

bool PortDirectory::take_arrival(int row) {
    const auto kept = fixed_.find(row);
    if (kept == fixed_.end() || kept->second.device) {
        return false;
    }
    std::optional<PortInfo> arrived = at_place(source_.list().ports, row);
    if (!arrived || kept->second.there_then.count(arrived->identity) != 0) {
        return false;
    }
    kept->second.device = std::move(arrived);
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
    if (!kept->second.device) {
        reach.occupant = std::move(place);
        return reach;
    }
    for (PortInfo& port : now.ports) {
        if (port.identity == kept->second.device->identity) {
            reach.port = std::move(port); // under the name it has now
            return reach;
        }
    }
    reach.missing = kept->second.device;
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
            text += "\n" + joined(now.stranded, "\n");
        }
        if (!now.left_out.empty()) {
            text += "\nLeft out:\n" + joined(now.left_out, "\n");
        }
        return text;
    }
    std::string text = row_name(row) + ": " + now.port->device;
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

void sort_ports(std::vector<PortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return sort_key(a.device) < sort_key(b.device);
    });
}

PortInfo com_port(int row, const std::vector<std::string>& present) {
    const std::string name = "COM" + std::to_string(row);
    PortInfo port{"\\\\.\\" + name, {}, name, {}};
    if (std::find(present.begin(), present.end(), name) != present.end()) {
        port.description = "present now";
        return port;
    }
    if (present.empty()) {
        port.description = "no COM port is present now";
        return port;
    }
    port.description = "not present now; present now: " + joined(present, ", ");
    std::vector<std::string> beyond;
    for (const std::string& other : present) {
        if (port_number(other) > 16) {
            beyond.push_back(other);
        }
    }
    if (!beyond.empty()) {
        port.advice = joined(beyond, ", ") +
                      (beyond.size() == 1 ? " has a number" : " have numbers") +
                      " above 16, which no row reaches: give the adapter a number from 1 to 16 in "
                      "Device Manager (the port's Properties, Port Settings, Advanced, COM Port "
                      "Number), then pick that row and press START again.";
    }
    return port;
}

} // namespace nocturo
