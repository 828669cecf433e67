// The serial ports of a Windows system: row k is COMk, whether or not it is
// there now (opening it tells); the registry says which COM ports are there,
// for the tooltip. Nothing is opened.

#include "platform/os/port_directory.h"
#include "settings/setting_lists.h"

#include <algorithm>
#include <windows.h>

namespace nocturo {
namespace {

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
    std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return port_number(a) < port_number(b);
    });
    return ports;
}

} // namespace

// COMk is a fixed name: it cannot slide to another device.
PortList SystemPorts::list() {
    const std::vector<std::string> present = present_com_ports();
    PortList list;
    for (int row = 1; row <= kPortRows.rows; ++row) {
        list.ports.push_back(com_port(row, present));
    }
    return list;
}

// Windows announces its devices coming and going to every window instead.
std::vector<std::string> SystemPorts::watched_folders() const {
    return {};
}

} // namespace nocturo
