#pragma once

// The serial ports of a Windows system, from what its device tree answers.
// Reading the tree (SetupAPI, in ports_windows.cpp) opens no port: an open
// can fire a shutter, and a Bluetooth port blocks for seconds on one. The
// rules here are plain code over the answer, so that they run anywhere.

#include "platform/os/port_directory.h"

#include <string>
#include <vector>

namespace nocturo {

// One device as Windows knows it.
struct WindowsDevice {
    std::string instance_id;  // USB\VID_0403&PID_6001\A50285BI, FTDIBUS\VID_0403+...\0000
    std::string parent_id;    // the instance id of the device it hangs from
    std::string name;         // its friendly name, else its description: "USB Serial Port (COM3)"
    std::string manufacturer; // "FTDI"
    std::string port_name;    // "COM3"; empty for a device that is no port
    std::string location;     // the first of its location paths, where it has one
    unsigned problem = 0;     // Device Manager's problem code; 0 for none
    bool present = true;      // plugged in now
    bool is_port = false;     // of the Ports or Modem class, or a COM port interface
};

struct WindowsAnswer {
    // Ports and modems, present or not, and the USB devices present.
    std::vector<WindowsDevice> devices;
    // The COM names the running drivers list in HARDWARE\DEVICEMAP\SERIALCOMM.
    std::vector<std::string> serialcomm;
};

// Every port present whose name is COM and a number, at the row of its
// number (COM3 at row 3; COM19 at none), named and known as a USB device is
// anywhere: by its ids and serial number, or where it has none by its place
// on the USB. A port that only SERIALCOMM lists counts too, unless its name
// belongs to a device that is gone. A port of any other name (LPT1, a virtual
// pair's CNCA0) is left out, with why. Adapters with no port that works, and
// ports above COM16, are explained among the stranded.
PortList windows_port_list(const WindowsAnswer& answer);

} // namespace nocturo
