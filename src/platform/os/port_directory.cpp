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

// One plug-in of a device: the kernel numbers each anew.
std::string plug_in(const PortInfo& port) {
    return port.identity + " plug " + port.plug;
}

// The ports of from that are not in to, plug-in by plug-in.
std::vector<const PortInfo*> not_in(const std::vector<PortInfo>& from,
                                    const std::vector<PortInfo>& to) {
    std::vector<const PortInfo*> out;
    for (const PortInfo& port : from) {
        if (std::none_of(to.begin(), to.end(), [&port](const PortInfo& other) {
                return plug_in(other) == plug_in(port);
            })) {
            out.push_back(&port);
        }
    }
    return out;
}

} // namespace

SystemPorts::SystemPorts(fs::path sys, fs::path dev, fs::path proc)
    : sys_(std::move(sys)), dev_(std::move(dev)), proc_(std::move(proc)) {}

PortDirectory::Kept PortDirectory::keep(const PortInfo& port) const {
    Kept kept{port};
    // Whatever was ever listed beside a look-alike may have been listed
    // beside this very adapter, under an earlier plug-in of it.
    if (const auto listed = beside_.find(port.make); listed != beside_.end()) {
        for (const auto& [plug, beside] : listed->second) {
            if (plug != plug_in(port)) {
                kept.others.insert(plug);
            }
        }
    }
    return kept;
}

const std::set<std::string>& PortDirectory::listed_beside(const PortInfo& port,
                                                          const std::string& plug) const {
    static const std::set<std::string> none;
    const auto listed = beside_.find(port.make);
    if (listed == beside_.end()) {
        return none;
    }
    const auto beside = listed->second.find(plug);
    return beside == listed->second.end() ? none : beside->second;
}

PortList PortDirectory::look() {
    PortList now = source_.list();
    for (const PortInfo& port : now.ports) {
        for (const PortInfo& other : now.ports) {
            if (other.make == port.make && other.identity != port.identity) {
                beside_[port.make][plug_in(port)].insert(plug_in(other));
            }
        }
    }
    for (auto& [row, kept] : fixed_) {
        if (!kept) {
            continue;
        }
        const Found found = locate(*kept, now.ports);
        for (const PortInfo& port : now.ports) {
            const std::string plug = plug_in(port);
            if (port.make != kept->port.make || &port == found.port ||
                plug == plug_in(kept->port) || kept->others.count(plug) != 0) {
                continue;
            }
            if (found.port != nullptr) { // a look-alike has come beside it
                kept->doubt = kept->doubt || kept->guessed;
                kept->others.insert(plug);
            } else {
                kept->away.insert(plug);
            }
        }
        if (found.port != nullptr && plug_in(*found.port) != plug_in(kept->port)) {
            // Taken back on its return. Whatever was listed beside what may
            // have been it meanwhile is not it.
            for (const std::string& plug : kept->away) {
                const std::set<std::string>& beside = listed_beside(kept->port, plug);
                kept->others.insert(beside.begin(), beside.end());
            }
            kept->others.erase(plug_in(*found.port));
            kept->away.clear();
            kept->guessed = true;
        }
        if (found.port != nullptr) {
            kept->port = *found.port; // under the name it has now
        }
    }
    return now;
}

// The row's device is its own plug-in while that is there. Once it was
// plugged in again, perhaps elsewhere, a look-alike the row has not seen
// beside it is taken for it only where none of the adapters listed beside
// it, or beside what may have been it meanwhile, can be that one: each of
// them is still there as it was. An adapter without a serial number is
// taken back only in the socket it left.
PortDirectory::Found PortDirectory::locate(const Kept& kept,
                                           const std::vector<PortInfo>& ports) const {
    const PortInfo* self = nullptr;
    std::vector<const PortInfo*> strangers;
    std::set<std::string> present;
    for (const PortInfo& port : ports) {
        if (port.make != kept.port.make) {
            continue;
        }
        const std::string plug = plug_in(port);
        present.insert(plug);
        if (plug == plug_in(kept.port)) {
            self = &port;
        } else if (kept.others.count(plug) == 0) {
            strangers.push_back(&port);
        }
    }
    if (kept.doubt) {
        return {nullptr, self != nullptr ? self : strangers.empty() ? nullptr : strangers.front()};
    }
    if (self != nullptr) {
        return {self};
    }
    const auto accounted = [&present](const std::set<std::string>& plugs,
                                      const std::string& candidate) {
        return std::all_of(plugs.begin(), plugs.end(), [&](const std::string& plug) {
            return plug != candidate && present.count(plug) != 0;
        });
    };
    for (const PortInfo* candidate : strangers) {
        const std::string plug = plug_in(*candidate);
        bool alone = (kept.port.serial || candidate->socket == kept.port.socket) &&
                     accounted(kept.others, plug);
        for (const std::string& maybe : kept.away) {
            alone = alone && accounted(listed_beside(kept.port, maybe), plug);
        }
        for (const PortInfo* maybe : strangers) {
            alone = alone && (maybe == candidate ||
                              accounted(listed_beside(kept.port, plug_in(*maybe)), plug));
        }
        if (alone) {
            return {candidate};
        }
    }
    return {nullptr, strangers.empty() ? nullptr : strangers.front()};
}

bool PortDirectory::crowded(const std::string& make) const {
    return beside_.count(make) != 0;
}

void PortDirectory::fix(int row) {
    source_.refresh();
    seen_ = look().ports;
    const std::optional<PortInfo> place = at_place(seen_, row);
    fixed_[row] = place ? std::optional(keep(*place)) : std::nullopt;
}

bool PortDirectory::ports_changed(int row, bool idle) {
    source_.refresh();
    const std::vector<PortInfo> before = std::exchange(seen_, look().ports);
    const auto kept = fixed_.find(row);
    const std::optional<PortInfo> place = at_place(seen_, row);
    if (!idle || kept == fixed_.end() || kept->second || !place) {
        return false;
    }
    // Taken only when one adapter's arrival, all its ports, is all that
    // changed: of a hub's adapters arriving at once, which came to the row's
    // place by its own arrival cannot be told.
    const std::vector<const PortInfo*> came = not_in(seen_, before);
    const auto is_place = [&place](const PortInfo* port) {
        return plug_in(*port) == plug_in(*place);
    };
    const bool alone =
        not_in(before, seen_).empty() && std::any_of(came.begin(), came.end(), is_place) &&
        std::all_of(came.begin(), came.end(), [&](const PortInfo* port) {
            return is_place(port) || (!place->socket.empty() && port->socket == place->socket);
        });
    if (alone) {
        kept->second = keep(*place);
    }
    return alone;
}

RowReach PortDirectory::reach(int row) {
    PortList now = look();
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
    const Found found = locate(*kept->second, now.ports);
    if (found.port != nullptr) {
        reach.port = *found.port;
        return reach;
    }
    reach.missing = kept->second->port;
    reach.occupant = std::move(place);
    if (found.alike != nullptr) {
        reach.alike = *found.alike;
    }
    return reach;
}

std::string PortDirectory::describe(int row) {
    const RowReach now = reach(row);
    if (now.missing) {
        return not_connected_text(now, row);
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
    if (now.port->serial && crowded(now.port->make)) {
        text += ". Another adapter with the same serial number has been plugged in beside it, so "
                "Nocturo knows this one by its USB socket: keep it in that socket";
    }
    if (!now.port->advice.empty()) {
        text += ". " + now.port->advice;
    }
    return text;
}

std::string not_connected_text(const RowReach& reach, int row) {
    const std::string row_and_label = row_name(row) + " (" + label(*reach.missing) + ")";
    if (reach.alike) {
        const int place = reach.alike->row;
        return row_and_label +
               " cannot be told from a look-alike: " + shown_name(reach.alike->device) +
               " reports the same, and Nocturo cannot tell whether it is the same adapter" +
               (place < 1 ? ""
                          : "; picking " + row_name(place) + (place == row ? " again" : "") +
                                " takes it");
    }
    return row_and_label + " is not connected" +
           (reach.occupant ? ": " + occupant_text(row, *reach.occupant) : std::string());
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
