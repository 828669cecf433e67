// Windows' ports as its device tree answers, on every system: the same rules
// run under Wine and on Windows over the real SetupAPI.

#include "platform/os/windows_ports.h"

#include <gtest/gtest.h>

#include <optional>

namespace nocturo {
namespace {

WindowsDevice ftdi(const std::string& com, bool present = true) {
    return {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
            "USB\\VID_0403&PID_6001\\A50285BI",
            "USB Serial Port (" + com + ")",
            "FTDI",
            com,
            "",
            0,
            present,
            true};
}

// A CH340 has no serial number: Windows knows it by the socket it sits in.
WindowsDevice ch340(const std::string& com, const std::string& socket) {
    return {"USB\\VID_1A86&PID_7523\\5&2B3A1C9&0&" + socket,
            "USB\\ROOT_HUB30\\4&1A2B&0&0",
            "USB-SERIAL CH340 (" + com + ")",
            "wch.cn",
            com,
            "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + socket + ")",
            0,
            true,
            true};
}

const WindowsDevice kRefusedPl2303{"USB\\VID_067B&PID_2303\\6&1F2E&0&3",
                                   "USB\\ROOT_HUB30\\4&1A2B&0&0",
                                   "THIS IS NOT PROLIFIC PL2303. PLEASE CONTACT YOUR SUPPLIER.",
                                   "Prolific",
                                   "COM5",
                                   "",
                                   10,
                                   true,
                                   true};
const WindowsDevice kCh340WithoutDriver{"USB\\VID_1A86&PID_7523\\5&2B3A1C9&0&4",
                                        "USB\\ROOT_HUB30\\4&1A2B&0&0",
                                        "USB2.0-Serial",
                                        "",
                                        "",
                                        "",
                                        28,
                                        true,
                                        false};

class Tree : public PortSource {
public:
    PortList list() override { return windows_port_list(answer); }
    WindowsAnswer answer;
};

struct TreeCase {
    const char* name;
    WindowsAnswer before; // when the row is picked
    int row;
    std::optional<WindowsAnswer> after; // when it is asked again
    std::string tooltip;
};

class WindowsRows : public testing::TestWithParam<TreeCase> {};

TEST_P(WindowsRows, ReachTheDeviceThatHeldTheirComNumberWhenPicked) {
    Tree tree;
    tree.answer = GetParam().before;
    PortDirectory directory(tree);
    directory.fix(GetParam().row);
    tree.answer = GetParam().after.value_or(GetParam().before);
    EXPECT_EQ(directory.describe(GetParam().row), GetParam().tooltip);
}

const char* const kAbove16 =
    " has a number above 16, which no row reaches: give the adapter a number from 1 to 16 in "
    "Device Manager (the port's Properties, Port Settings, Advanced, COM Port Number), then pick "
    "that row and press START again";

INSTANTIATE_TEST_SUITE_P(
    DeviceTree, WindowsRows,
    testing::Values(
        TreeCase{"ftdi_moved_to_com7",
                 {{ftdi("COM3")}, {}},
                 3,
                 WindowsAnswer{{ftdi("COM7")}, {}},
                 "Com3: COM7, USB Serial Port, FTDI, serial A50285BI"},
        TreeCase{"ch340_in_another_socket",
                 {{ch340("COM4", "1")}, {}},
                 4,
                 WindowsAnswer{{ch340("COM5", "2")}, {}},
                 "Com4 (USB-SERIAL CH340, wch.cn) is not connected"},
        TreeCase{"com3_renumbered",
                 {{ftdi("COM3")}, {}},
                 3,
                 WindowsAnswer{{ch340("COM3", "1")}, {}},
                 "Com3 (USB Serial Port, FTDI, serial A50285BI) is not connected: COM3 "
                 "(USB-SERIAL CH340, wch.cn) sits at its place now, and picking Com3 again "
                 "takes it"},
        TreeCase{"lost_in_a_pause",
                 {{ftdi("COM3")}, {}},
                 3,
                 WindowsAnswer{{ftdi("COM3", false)}, {"COM3"}},
                 "Com3 (USB Serial Port, FTDI, serial A50285BI) is not connected"},
        TreeCase{"name_left_by_a_device_gone",
                 {{ftdi("COM3", false)}, {"COM3"}},
                 3,
                 std::nullopt,
                 "Com3: no serial port has that number now"},
        TreeCase{"virtual_port", {{}, {"COM8"}}, 8, std::nullopt, "Com8: COM8"},
        TreeCase{"refused_pl2303",
                 {{kRefusedPl2303}, {}},
                 5,
                 std::nullopt,
                 "Com5: no serial port has that number now\nTHIS IS NOT PROLIFIC PL2303. PLEASE "
                 "CONTACT YOUR SUPPLIER. (067b:2303) is plugged in but has no serial port: "
                 "Prolific's driver refuses this chip (Device Manager code 10), a clone or a "
                 "discontinued PL2303: install an older Prolific driver, or use another adapter"},
        TreeCase{"ch340_without_driver",
                 {{kCh340WithoutDriver}, {}},
                 1,
                 std::nullopt,
                 "Com1: no serial port has that number now\nUSB2.0-Serial (1a86:7523) is plugged "
                 "in but has no serial port: Windows has no driver for it (Device Manager code "
                 "28): install WCH's CH341SER driver, then plug the adapter in again"},
        // Windows keeps every adapter's number; one above 16 is reached by no row.
        TreeCase{"com3_beside_com17",
                 {{ftdi("COM3"), ch340("COM17", "1")}, {}},
                 3,
                 std::nullopt,
                 "Com3: COM3, USB Serial Port, FTDI, serial A50285BI"},
        TreeCase{"com17_where_com3_was",
                 {{ch340("COM17", "1")}, {}},
                 3,
                 std::nullopt,
                 std::string("Com3: no serial port has that number now\nCOM17, USB-SERIAL "
                             "CH340, wch.cn,") +
                     kAbove16}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace nocturo
