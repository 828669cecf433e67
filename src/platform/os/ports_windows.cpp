// The serial ports of a Windows system, read from its device tree with
// SetupAPI and from the registry's SERIALCOMM. Nothing is opened.

#include "platform/os/windows_ports.h"

// The GUIDs and property keys are defined here, once.
#include <initguid.h>
#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <map>

namespace nocturo {
namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// A text property of the device; for a list of texts, the first.
std::string registry_property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
    wchar_t buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &data, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr)) {
        return {};
    }
    return narrow(buffer);
}

std::string parent_id(HDEVINFO set, SP_DEVINFO_DATA& data) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    DEVPROPTYPE type = 0;
    if (SetupDiGetDevicePropertyW(set, &data, &DEVPKEY_Device_Parent, &type,
                                  reinterpret_cast<BYTE*>(id), sizeof id - sizeof(wchar_t), nullptr,
                                  0) &&
        type == DEVPROP_TYPE_STRING) {
        return narrow(id);
    }
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, data.DevInst, 0) != CR_SUCCESS || parent == 0 ||
        CM_Get_Device_IDW(parent, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return {};
    }
    return narrow(id);
}

unsigned problem_code(HDEVINFO set, SP_DEVINFO_DATA& data) {
    DEVPROPTYPE type = 0;
    UINT32 code = 0;
    if (SetupDiGetDevicePropertyW(set, &data, &DEVPKEY_Device_ProblemCode, &type,
                                  reinterpret_cast<BYTE*>(&code), sizeof code, nullptr, 0) &&
        type == DEVPROP_TYPE_UINT32) {
        return code;
    }
    return 0;
}

std::string port_name(HDEVINFO set, SP_DEVINFO_DATA& data) {
    HKEY key = SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? narrow(name) : std::string();
}

// Every device of one listing, into devices by instance id.
void read_devices(HDEVINFO set, bool present, bool ports,
                  std::map<std::string, WindowsDevice>& devices) {
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        wchar_t own[MAX_DEVICE_ID_LEN + 1] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &data, own, MAX_DEVICE_ID_LEN, nullptr)) {
            continue;
        }
        const std::string key = narrow(own);
        WindowsDevice& device = devices[key];
        if (device.instance_id.empty()) {
            device.instance_id = key;
            device.parent_id = parent_id(set, data);
            device.name = registry_property(set, data, SPDRP_FRIENDLYNAME);
            if (device.name.empty()) {
                device.name = registry_property(set, data, SPDRP_DEVICEDESC);
            }
            device.manufacturer = registry_property(set, data, SPDRP_MFG);
            device.location = registry_property(set, data, SPDRP_LOCATION_PATHS);
            device.problem = problem_code(set, data);
            device.present = present;
        }
        device.present = device.present || present;
        if (ports) {
            device.is_port = true;
            if (device.port_name.empty()) {
                device.port_name = port_name(set, data);
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

// The COM names the running drivers list.
std::vector<std::string> serialcomm() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    // However the registry answers, the list ends: no system has this many.
    for (DWORD i = 0; i < 4096; ++i) {
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
            names.push_back(narrow(value));
        }
    }
    RegCloseKey(key);
    return names;
}

WindowsAnswer read_device_tree() {
    std::map<std::string, WindowsDevice> devices;
    for (const GUID* kind : {&GUID_DEVCLASS_PORTS, &GUID_DEVCLASS_MODEM}) {
        // Those present first: a device listed only by the second is gone.
        read_devices(SetupDiGetClassDevsW(kind, nullptr, nullptr, DIGCF_PRESENT), true, true,
                     devices);
        read_devices(SetupDiGetClassDevsW(kind, nullptr, nullptr, 0), false, true, devices);
    }
    read_devices(SetupDiGetClassDevsW(&GUID_DEVINTERFACE_COMPORT, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                 true, true, devices);
    // An adapter Windows has no driver for is among the USB devices only.
    read_devices(SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT),
                 true, false, devices);
    WindowsAnswer answer;
    for (auto& [id, device] : devices) {
        answer.devices.push_back(std::move(device));
    }
    answer.serialcomm = serialcomm();
    return answer;
}

} // namespace

// Reading the device tree takes tens of milliseconds (under Wine every call
// is a round trip to its server): the last reading stands until Windows
// announces a change or the user looks, so that no exposure's open
// lengthens the pause before it.
PortList SystemPorts::list() {
    if (!last_) {
        last_ = windows_port_list(read_device_tree());
    }
    return *last_;
}

void SystemPorts::refresh() {
    last_.reset();
}

// Windows announces its devices coming and going to every window instead.
std::vector<std::string> SystemPorts::watched_folders() const {
    return {};
}

} // namespace nocturo
