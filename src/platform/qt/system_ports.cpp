#include "platform/qt/system_ports.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <tuple>

#if defined(__APPLE__)
#include <QSerialPortInfo>
#elif defined(_WIN32)
#include <windows.h>
#endif

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

SortKey sort_key(const std::string& device) {
    const std::string name = fs::path(device).filename().string();
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
        --digits;
    }
    const std::string stem = name.substr(0, digits);
    const long number = digits < name.size() ? std::stol(name.substr(digits)) : -1;
    int group = 2;
    if (stem.find("USB") != std::string::npos || stem.find("usbserial") != std::string::npos) {
        group = 0;
    } else if (stem.find("ACM") != std::string::npos ||
               stem.find("usbmodem") != std::string::npos) {
        group = 1;
    }
    return {group, stem, number};
}

std::string first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The product name of the USB device a tty hangs off, a few levels up.
std::string usb_product(const fs::path& device_link) {
    std::error_code ec;
    fs::path dir = fs::canonical(device_link, ec);
    if (ec) {
        return {};
    }
    for (int level = 0; level < 4 && !dir.empty(); ++level, dir = dir.parent_path()) {
        if (fs::exists(dir / "product", ec)) {
            return first_line(dir / "product");
        }
    }
    return {};
}

// Sorts device paths into row order.
void sort_ports(std::vector<PortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return sort_key(a.device) < sort_key(b.device);
    });
}

#ifdef _WIN32
// The COM ports Windows knows of now, as "COM3", in number order. Read from
// the registry: nothing is opened.
std::vector<std::string> present_com_ports() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD name_length = 256;
        wchar_t value[64] = {};
        DWORD value_size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &name_length, nullptr, &type,
                          reinterpret_cast<BYTE*>(value), &value_size) != ERROR_SUCCESS) {
            break;
        }
        if (type == REG_SZ) {
            const std::wstring port(value);
            ports.emplace_back(port.begin(), port.end());
        }
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const std::string& a, const std::string& b) { return sort_key(a) < sort_key(b); });
    return ports;
}
#endif

} // namespace

SystemPortDirectory::SystemPortDirectory(fs::path sys_class_tty, fs::path dev)
    : sys_class_tty_(std::move(sys_class_tty)), dev_(std::move(dev)) {}

std::vector<PortInfo> SystemPortDirectory::ports() const {
    std::vector<PortInfo> found;
#if defined(__APPLE__)
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const std::string location = info.systemLocation().toStdString();
        if (location.find("/cu.") != std::string::npos) {
            found.push_back({location, info.description().toStdString()});
        }
    }
#else
    std::error_code ec;
    for (fs::directory_iterator it(sys_class_tty_, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        if (!fs::exists(entry / "device", ec)) {
            continue; // virtual terminals and ptys have no device behind them
        }
        // A UART slot with no chip behind it reports type 0.
        if (fs::exists(entry / "type", ec) && first_line(entry / "type") == "0") {
            continue;
        }
        found.push_back({(dev_ / entry.filename()).string(), usb_product(entry / "device")});
    }
#endif
    sort_ports(found);
    return found;
}

std::optional<PortInfo> SystemPortDirectory::port_for_row(int row) {
#ifdef _WIN32
    // Row k is COMk whether or not it is there now; opening it tells. What
    // is there now is what the tooltip shows.
    if (row < 1) {
        return std::nullopt;
    }
    const std::string name = "COM" + std::to_string(row);
    const std::vector<std::string> present = present_com_ports();
    std::string description;
    if (std::find(present.begin(), present.end(), name) != present.end()) {
        description = "present now";
    } else if (present.empty()) {
        description = "no COM port is present now";
    } else {
        description = "not present now; present now:";
        for (const std::string& port : present) {
            description += (port == present.front() ? " " : ", ") + port;
        }
    }
    return PortInfo{"\\\\.\\" + name, description};
#else
    const std::vector<PortInfo> all = ports();
    if (row < 1 || static_cast<std::size_t>(row) > all.size()) {
        return std::nullopt;
    }
    return all[static_cast<std::size_t>(row) - 1];
#endif
}

} // namespace nocturo
