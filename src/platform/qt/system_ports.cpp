#include "platform/qt/system_ports.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <tuple>

#if defined(_WIN32)
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <windows.h>
#else
#include <QFileSystemWatcher>
#endif
#if defined(__APPLE__)
#include <QSerialPortInfo>
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

// A port as the user may recognise it, and what makes it this one device.
// A USB adapter is known by the folder of its USB device a few levels up:
// its ids, its serial number where it has one, and the USB port and
// interface it sits on, which are in the name of the folder below (1-1.2:1.0).
// Two adapters alike in every id still sit on different ports. Any other
// port is known by its name and device number.
PortInfo describe(const fs::path& entry, const fs::path& dev) {
    PortInfo port{(dev / entry.filename()).string(), {}, {}, {}};
    std::error_code ec;
    fs::path dir = fs::canonical(entry / "device", ec);
    fs::path below;
    for (int level = 0; !ec && level < 4 && !dir.empty(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            const std::string serial = first_line(dir / "serial");
            port.description = first_line(dir / "product");
            if (!serial.empty()) {
                port.description += (port.description.empty() ? "serial " : ", serial ") + serial;
            }
            port.identity = "usb " + first_line(dir / "idVendor") + ":" +
                            first_line(dir / "idProduct") + " serial " + serial + " at " +
                            below.filename().string();
            return port;
        }
        below = dir;
        dir = dir.parent_path();
    }
    port.identity = entry.filename().string() + " " + first_line(entry / "dev");
    return port;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
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
        const LONG read = RegEnumValueW(key, i, name, &name_length, nullptr, &type,
                                        reinterpret_cast<BYTE*>(value), &value_size);
        if (read == ERROR_NO_MORE_ITEMS) {
            break;
        }
        // A value too long for a port name, or one that cannot be read, is
        // not a port; the ones after it still are.
        if (read == ERROR_SUCCESS && type == REG_SZ) {
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
            // A /dev/cu.* name is fixed to its device: it is its identity.
            found.push_back({location, info.description().toStdString(), location});
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
        found.push_back(describe(entry, dev_));
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
    return com_port(row, present_com_ports());
#else
    const std::vector<PortInfo> all = ports();
    if (row < 1 || static_cast<std::size_t>(row) > all.size()) {
        return std::nullopt;
    }
    return all[static_cast<std::size_t>(row) - 1];
#endif
}

std::optional<PortInfo> SystemPortDirectory::port_with_identity(const std::string& identity) {
#ifdef _WIN32
    // COMk is a fixed name: it cannot slide to another device.
    return port_for_row(std::atoi(identity.c_str() + std::min<std::size_t>(3, identity.size())));
#else
    for (PortInfo& port : ports()) {
        if (port.identity == identity) {
            return std::move(port);
        }
    }
    return std::nullopt;
#endif
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
    port.description = "not present now; present now: " + joined(present);
    std::vector<std::string> beyond;
    for (const std::string& other : present) {
        if (sort_key(other).number > 16) {
            beyond.push_back(other);
        }
    }
    if (!beyond.empty()) {
        port.advice = joined(beyond) + (beyond.size() == 1 ? " has a number" : " have numbers") +
                      " above 16, which no row reaches: give the adapter a number from 1 to 16 in "
                      "Device Manager (the port's Properties, Port Settings, Advanced, COM Port "
                      "Number), then pick that row and press START again.";
    }
    return port;
}

#ifdef _WIN32

struct PortWatch::Impl : QAbstractNativeEventFilter {
    explicit Impl(std::function<void()> on_change) : changed(std::move(on_change)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Impl() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type == "windows_generic_MSG" &&
            static_cast<const MSG*>(message)->message == WM_DEVICECHANGE) {
            changed();
        }
        return false;
    }
    std::function<void()> changed;
};

PortWatch::PortWatch(QObject* parent, std::function<void()> changed)
    : QObject(parent), impl_(std::make_unique<Impl>(std::move(changed))) {}

#else

struct PortWatch::Impl {
    QFileSystemWatcher dev;
};

PortWatch::PortWatch(QObject* parent, std::function<void()> changed)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
    impl_->dev.addPath(QStringLiteral("/dev"));
    connect(&impl_->dev, &QFileSystemWatcher::directoryChanged, this,
            [changed = std::move(changed)] { changed(); });
}

#endif

PortWatch::~PortWatch() = default;

} // namespace nocturo
