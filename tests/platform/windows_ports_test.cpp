// Windows' ports as its device tree answers, on every system.

#include "platform/os/windows_ports.h"

#include <gtest/gtest.h>

#include <vector>

namespace nocturo {
namespace {

WindowsDevice device(std::string id, std::string parent, std::string name, std::string maker,
                     std::string com, std::string location = "", unsigned problem = 0) {
    const bool port = !com.empty();
    return {id, parent, name, maker, com, location, problem, true, port};
}

WindowsDevice ftdi(const std::string& com, bool present = true) {
    WindowsDevice ftdi =
        device("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI",
               "USB Serial Port (" + com + ")", "FTDI", com);
    ftdi.present = present;
    return ftdi;
}

// A CH340 has no serial number: Windows knows it by the socket it sits in.
// With no COM number it is no port (problem 28: no driver).
WindowsDevice ch340(const std::string& com, const std::string& socket, unsigned problem = 0) {
    return device("USB\\VID_1A86&PID_7523\\5&2B3A1C9&0&" + socket, "USB\\ROOT_HUB30\\4&1A2B&0&0",
                  com.empty() ? "USB2.0-Serial" : "USB-SERIAL CH340 (" + com + ")", "wch.cn", com,
                  "PCIROOT(0)#PCI(1400)#USB(" + socket + ")", problem);
}

// A printer port and a virtual pair beside COM1, all in the Ports class.
const std::vector<WindowsDevice> kNotCom = {
    device("ACPI\\PNP0401\\1", "", "ECP Printer Port (LPT1)", "", "LPT1"), ftdi("COM1"),
    device("COM0COM\\PORT\\CNCA0", "", "com0com - serial port emulator (CNCA0)", "", "CNCA0")};

class Tree : public PortSource {
public:
    PortList list() override { return windows_port_list(answer); }
    WindowsAnswer answer;
};

struct TreeCase {
    const char* name;
    int row;
    WindowsAnswer before; // when the row is picked
    WindowsAnswer after;  // when it is asked again: no devices, those before
    std::string tooltip;  // how it begins
    bool whole;           // and ends
};

TreeCase row(const char* name, int row, std::vector<WindowsDevice> before,
             std::vector<WindowsDevice> after, std::vector<std::string> serialcomm,
             std::string tooltip, bool whole = false) {
    return {name,    row,  {before, serialcomm}, {after.empty() ? before : after, serialcomm},
            tooltip, whole};
}

const std::string kNoPort = "no serial port has that number now\n";

// A PL2303 its driver refuses, named by the driver's text, and how the row
// says which one it is.
TreeCase refused(const char* name, int at, const std::string& text, const std::string& which) {
    return row(name, at,
               {device("USB\\VID_067B&PID_2303\\6&1F2E&0&3", "", text, "Prolific", "COM5", "", 10)},
               {}, {},
               "Com" + std::to_string(at) + ": " + kNoPort + text +
                   " (067b:2303) is plugged in but has no serial port: Prolific's driver refuses "
                   "this chip (Device Manager code 10)" +
                   which);
}

// A row prints as its name in the tests' output, not as a dump of its bytes.
void PrintTo(const TreeCase& row, std::ostream* out) {
    *out << row.name;
}

class WindowsRows : public testing::TestWithParam<TreeCase> {};

TEST_P(WindowsRows, ReachTheDeviceThatHeldTheirComNumberWhenPicked) {
    Tree tree;
    tree.answer = GetParam().before;
    PortDirectory directory(tree);
    directory.fix(GetParam().row);
    tree.answer = GetParam().after;
    const std::string tooltip = directory.describe(GetParam().row);
    const std::string& expected = GetParam().tooltip;
    EXPECT_EQ(GetParam().whole ? tooltip : tooltip.substr(0, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceTree, WindowsRows,
    testing::Values(
        row("ftdi_moved_to_com7", 3, {ftdi("COM3")}, {ftdi("COM7")}, {},
            "Com3: COM7, USB Serial Port, FTDI, serial A50285BI"),
        row("ch340_in_another_socket", 4, {ch340("COM4", "1")}, {ch340("COM5", "2")}, {},
            "Com4 (USB-SERIAL CH340, wch.cn) cannot be told from a look-alike: COM5 reports the "
            "same, and Nocturo cannot tell whether it is the same adapter; picking Com5 takes it",
            true),
        row("com3_renumbered", 3, {ftdi("COM3")}, {ch340("COM3", "1")}, {},
            "Com3 (USB Serial Port, FTDI, serial A50285BI) is not connected: COM3 (USB-SERIAL "
            "CH340, wch.cn) sits at its place now"),
        // The driver leaves the name behind in SERIALCOMM.
        row("lost_in_a_pause", 3, {ftdi("COM3")}, {ftdi("COM3", false)}, {"COM3"},
            "Com3 (USB Serial Port, FTDI, serial A50285BI) is not connected", true),
        row("virtual_port", 8, {}, {}, {"COM8"}, "Com8: COM8", true),
        refused("refused_pl2303", 5, "THIS IS NOT PROLIFIC PL2303. PLEASE CONTACT YOUR SUPPLIER.",
                ""),
        // The driver's texts that do not name its maker, known by the vendor id.
        refused("phased_out_pl2303", 1,
                "PL2303HXA PHASED OUT SINCE 2012. PLEASE CONTACT YOUR SUPPLIER.",
                ", a PL2303 it has phased out"),
        refused("pl2303_not_for_windows_11", 1, "PL2303TA DO NOT SUPPORT WINDOWS 11 OR LATER",
                ", a PL2303 it does not support"),
        // A clone whose product id a driver rewrote, working with a patched driver.
        row("ftdi_0000_that_works", 4,
            {device("FTDIBUS\\VID_0403+PID_0000+B1\\0000", "USB\\VID_0403&PID_0000\\B1",
                    "USB Serial Port (COM4)", "FTDI", "COM4"),
             device("USB\\VID_0403&PID_0000\\B1", "", "USB Serial Converter", "FTDI", "")},
            {}, {}, "Com4: COM4, USB Serial Port, FTDI, serial B1", true),
        // Only COMk stands at a row: not LPT1, nor CNCA0 at the first row.
        row("com1_beside_lpt1_and_cnca0", 1, kNotCom, {}, {"COM1", "CNCA0", "CNCB0"},
            "Com1: COM1, USB Serial Port, FTDI, serial A50285BI", true),
        row("left_out_with_why", 2, kNotCom, {}, {"COM1", "CNCA0", "CNCB0"},
            "Com2: " + kNoPort +
                "Left out:\nLPT1 (ECP Printer Port): a printer port, not a serial port\nCNCA0 "
                "(com0com - serial port emulator): a virtual port whose name is no COM number; "
                "name it COMk in its setup to use it here\nCNCB0: a virtual port",
            false),
        row("com3_in_lower_case", 3, {ftdi("com3")}, {}, {}, "Com3: com3, USB Serial Port"),
        row("com03_is_no_com3", 3, {ftdi("COM03")}, {}, {},
            "Com3: " + kNoPort +
                "Left out:\nCOM03 (USB Serial Port): a port whose name is no COM "
                "number; give it a number from 1 to 16 in Device Manager"),
        row("ch340_without_driver", 1, {ch340("", "4", 28)}, {}, {},
            "Com1: " + kNoPort +
                "USB2.0-Serial (1a86:7523) is plugged in but has no serial port: Windows has no "
                "driver for it (Device Manager code 28): install WCH's CH341SER driver"),
        // Windows keeps every adapter's number; one above 16 is reached by no row.
        row("com3_beside_com17", 3, {ftdi("COM3"), ch340("COM17", "1")}, {}, {},
            "Com3: COM3, USB Serial Port, FTDI, serial A50285BI", true),
        row("com17_where_com3_was", 3, {ch340("COM17", "1")}, {}, {"COM17"},
            "Com3: " + kNoPort +
                "COM17, USB-SERIAL CH340, wch.cn, has a number above 16, which no row reaches: "
                "give the adapter a number from 1 to 16 in Device Manager")),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace nocturo
