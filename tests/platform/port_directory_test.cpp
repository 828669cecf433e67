#include "fakes/fixed_ports.h"
#include "fakes/sysfs_tree.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace nocturo {
namespace {

namespace fs = std::filesystem;
using testing_support::ModemLog;
using testing_support::Pty;

// A sysfs tree with the camera's FTDI adapter in USB port 1-1.
class FakeSysfs : public testing::Test, protected fakes::SysfsTree {
protected:
    FakeSysfs() : SysfsTree("nocturo-sysfs") { adapter("1-1", "FT232R USB UART", "A1"); }
};

TEST_F(FakeSysfs, UsbAdaptersComeFirstThenModemsThenTheRestEachInNumberOrder) {
    tty("ttyS10", "4");
    tty("ttyS2", "4");
    tty("ttyS1", "0"); // an empty UART slot
    tty("ttyUSB1", nullptr, "1-1");
    tty("ttyACM0");
    tty("ttyUSB0", nullptr, "1-1");
    tty("ttyUSB99999999999999999999", nullptr, "1-1"); // more digits than a number holds
    tty("ttyAMA0");
    fs::create_directories(root / "class/tty/tty0"); // a console: no device behind it

    // Device paths are only named, never opened; a made-up folder keeps it so.
    SystemPorts source(root, "/fake-dev", root / "proc");
    std::vector<std::string> devices;
    for (const PortInfo& port : source.list().ports) {
        devices.push_back(port.device);
    }
    EXPECT_EQ(devices, (std::vector<std::string>{"/fake-dev/ttyUSB0", "/fake-dev/ttyUSB1",
                                                 "/fake-dev/ttyUSB99999999999999999999",
                                                 "/fake-dev/ttyACM0", "/fake-dev/ttyAMA0",
                                                 "/fake-dev/ttyS2", "/fake-dev/ttyS10"}));

    PortDirectory directory(source);
    const std::optional<PortInfo> com1 = directory.reach(1).port;
    ASSERT_TRUE(com1);
    EXPECT_EQ(com1->description, "FT232R USB UART, serial A1");
    EXPECT_FALSE(directory.reach(8).port);
    EXPECT_FALSE(directory.reach(0).port);
}

enum class Rig { TwoAdapters, FourPortCable };
enum class Between { Nothing, Replugged, Unplugged };
enum class Then { SameRun, NewRun, PickedAgain };
enum class Opened { Camera, Other, Nothing };

struct PinCase {
    const char* name;
    Rig rig;
    Between between;          // what happens to the camera's port after the first exposure
    Then then;                // before the next exposure
    Opened next;              // which device the next exposure opens
    const char* message = ""; // how its error begins; {dev} is the device folder
};

class RowKeepsItsDevice : public FakeSysfs, public testing::WithParamInterface<PinCase> {};

// Two adapters, the camera's at Com1 and a focuser's at Com2; or a cable of
// four ports on one USB interface, the mount on its first port (Com1) and the
// camera on its second (Com2). Whatever happens to the camera's port, the
// other device's DTR line rises only when the camera's row is picked again.
TEST_P(RowKeepsItsDevice, FromStartUpOn) {
    ModemLog log;
    Pty camera, other;
    const bool cable = GetParam().rig == Rig::FourPortCable;
    const std::string usb = cable ? "1-3" : "1-1";
    const int row = cable ? 2 : 1;
    const std::string name = "ttyUSB" + std::to_string(row - 1);
    const char* place = cable ? "1" : nullptr;
    if (cable) {
        adapter("1-3", "Quad RS232", "Q1");
        for (const char* port : {"0", "1", "2", "3"}) {
            tty(std::string("ttyUSB") + port, nullptr, "1-3", port);
        }
    } else {
        adapter("1-2", "USB Serial", "");
        tty("ttyUSB0", nullptr, "1-1");
        tty("ttyUSB1", nullptr, "1-2");
    }
    node(name, camera.slave());
    node(cable ? "ttyUSB0" : "ttyUSB1", other.slave());
    SystemPorts source = system();
    PortDirectory directory(source);
    directory.fix(row); // the window starts with this row picked
    fakes::NoAlarm alarm;
    CommControl comm(directory, alarm);
    comm.begin_run();
    comm.set_comm_port(static_cast<std::int16_t>(row));
    comm.set_port_open(true);
    comm.set_port_open(false);

    if (GetParam().between != Between::Nothing) {
        unplug(name);
    }
    if (GetParam().between == Between::Replugged) {
        tty("ttyUSB7", nullptr, usb, place);
        node("ttyUSB7", camera.slave());
    }
    if (GetParam().then != Then::SameRun) {
        comm.begin_run();
    }
    if (GetParam().then == Then::PickedAgain) {
        directory.fix(row);
    }
    std::string error;
    try {
        comm.set_port_open(true);
        comm.set_port_open(false);
    } catch (const SerialError& e) {
        error = e.what();
    }

    const auto opens = [&log](const Pty& pty) {
        const auto events = log.events(pty.slave());
        return std::count_if(events.begin(), events.end(),
                             [](const auto& e) { return e.what == "open"; });
    };
    EXPECT_EQ(opens(camera), GetParam().next == Opened::Camera ? 2 : 1);
    EXPECT_EQ(opens(other), GetParam().next == Opened::Other ? 1 : 0);
    std::string message = GetParam().message;
    if (const auto at = message.find("{dev}"); at != std::string::npos) {
        message.replace(at, 5, (root / "dev").string());
    }
    EXPECT_EQ(error.substr(0, std::max(message.size(), std::size_t{1})), message) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rig, RowKeepsItsDevice,
    testing::Values(
        PinCase{"still_there", Rig::TwoAdapters, Between::Nothing, Then::SameRun, Opened::Camera},
        PinCase{"back_under_a_new_name", Rig::TwoAdapters, Between::Replugged, Then::SameRun,
                Opened::Camera},
        PinCase{"gone_and_another_in_its_row", Rig::TwoAdapters, Between::Unplugged, Then::SameRun,
                Opened::Nothing,
                "Com1 ({dev}/ttyUSB0) is no longer there: the adapter was unplugged"},
        PinCase{"loose_cable_at_start", Rig::TwoAdapters, Between::Unplugged, Then::NewRun,
                Opened::Nothing,
                "Com1 (FT232R USB UART, serial A1) is not connected: {dev}/ttyUSB1 (USB Serial) "
                "sits at its place now, and picking Com1 again takes it.\n\n"},
        PinCase{"picked_again_takes_the_new_occupant", Rig::TwoAdapters, Between::Unplugged,
                Then::PickedAgain, Opened::Other},
        PinCase{"second_port_of_a_cable", Rig::FourPortCable, Between::Nothing, Then::SameRun,
                Opened::Camera},
        PinCase{"second_port_of_a_cable_replugged", Rig::FourPortCable, Between::Replugged,
                Then::SameRun, Opened::Camera}),
    [](const auto& p) { return std::string(p.param.name); });

struct EmptyRowCase {
    const char* name;
    bool focuser_first;                // a focuser (ttyACM0) is there when Com2 is picked
    std::vector<const char*> arrivals; // plugged in one by one after the pick
    bool idle;                         // the window is idle as they arrive
    const char* reached;               // what Com2 reaches in the end
};

class EmptyRow : public FakeSysfs, public testing::WithParamInterface<EmptyRowCase> {};

// The camera's ttyUSB0 comes before a focuser's ttyACM0 and pushes it into
// Com2's place; a ttyACM1 comes to that place itself.
TEST_P(EmptyRow, TakesOnlyADeviceWhoseArrivalPutItAtItsPlaceWhileIdle) {
    adapter("1-2", "Camera cable", "C1");
    if (GetParam().focuser_first) {
        tty("ttyACM0");
    }
    SystemPorts source = system();
    PortDirectory directory(source);
    directory.fix(2);
    for (const char* arrival : GetParam().arrivals) {
        tty(arrival, nullptr, arrival[3] == 'U' ? "1-2" : "");
        directory.ports_changed(2, GetParam().idle);
    }
    directory.ports_changed(2, true); // nothing more: a run's arrival stays untaken
    const std::optional<PortInfo> reached = directory.reach(2).port;
    EXPECT_EQ(reached ? fs::path(reached->device).filename().string() : "nothing",
              GetParam().reached);
}

INSTANTIATE_TEST_SUITE_P(
    Rig, EmptyRow,
    testing::Values(
        EmptyRowCase{"focuser_then_camera", false, {"ttyACM0", "ttyUSB0"}, true, "nothing"},
        EmptyRowCase{"focuser_slides_in", true, {"ttyUSB0"}, true, "nothing"},
        EmptyRowCase{"arrives_while_idle", true, {"ttyACM1"}, true, "ttyACM1"},
        EmptyRowCase{"arrives_in_a_run", true, {"ttyACM1"}, false, "nothing"}),
    [](const auto& p) { return std::string(p.param.name); });

enum class Machine { PcWithSerialConsole, RaspberryPi, Brltty, NoDriver };

struct LeftOutCase {
    const char* name;
    Machine machine;
    const char* rows;    // the ports that remain, by name
    const char* tooltip; // of the first row that reaches nothing
};

class PortsLeftOut : public FakeSysfs, public testing::WithParamInterface<LeftOutCase> {};

TEST_P(PortsLeftOut, AreReachedByNoRowAndTheTooltipSaysWhy) {
    if (GetParam().machine == Machine::PcWithSerialConsole) {
        tty("ttyS0", "4");
        tty("ttyS1", "4"); // a real 16550 with no console stays a row
        write(root / "proc/cmdline", "BOOT_IMAGE=/vmlinuz console=tty1 console=ttyS0,115200n8");
    } else if (GetParam().machine != Machine::RaspberryPi) { // a CH340 that got no port
        adapter("1-4", "USB Serial", "", "1a86", "7523");
        fs::create_directories(root / "bus/usb/devices");
        fs::create_directory_symlink(root / "devices/usb1/1-4", root / "bus/usb/devices/1-4");
        if (GetParam().machine == Machine::Brltty) {
            driver(root / "devices/usb1/1-4/1-4:1.0", "usbfs");
            fs::create_directories(root / "proc/812");
            write(root / "proc/812/comm", "brltty");
        }
    } else {
        fs::create_directories(root / "firmware/devicetree/base");
        std::ofstream(root / "firmware/devicetree/base/compatible")
            << std::string("raspberrypi,4-model-b\0brcm,bcm2711\0", 34);
        for (const auto& [uart, name] :
             {std::pair{"ttyAMA0", "uart-pl011"}, std::pair{"ttyS0", "bcm2835-aux-uart"}}) {
            tty(uart);
            this->driver(root / "class/tty" / uart / "device", name);
        }
    }
    SystemPorts source = system();
    std::string rows;
    for (const PortInfo& port : source.list().ports) {
        rows += fs::path(port.device).filename().string();
    }
    EXPECT_EQ(rows, GetParam().rows);
    PortDirectory directory(source);
    EXPECT_EQ(directory.describe(rows.empty() ? 1 : 2), GetParam().tooltip);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, PortsLeftOut,
    testing::Values(LeftOutCase{"console", Machine::PcWithSerialConsole, "ttyS1",
                                "Com2: no serial port has that number now\nLeft out:\n"
                                "ttyS0: the system console runs on it"},
                    LeftOutCase{"raspberry_pi", Machine::RaspberryPi, "",
                                "Com1: no serial port has that number now\nLeft out:\n"
                                "ttyAMA0: the Raspberry Pi's own UART has no DTR pin; use a "
                                "USB-serial adapter\nttyS0: the Raspberry Pi's own UART has no "
                                "DTR pin; use a USB-serial adapter"},
                    LeftOutCase{"adapter_taken_by_brltty", Machine::Brltty, "",
                                "Com1: no serial port has that number now\nUSB Serial (1a86:7523) "
                                "is plugged in but has no serial port: brltty has taken the "
                                "adapter: remove brltty (sudo apt remove brltty) or mask its udev "
                                "rule, then plug the adapter in again"},
                    LeftOutCase{"adapter_with_no_driver", Machine::NoDriver, "",
                                "Com1: no serial port has that number now\nUSB Serial (1a86:7523) "
                                "is plugged in but has no serial port: no driver took it: load "
                                "its kernel module (sudo modprobe ch341), then plug the adapter "
                                "in again"}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace nocturo
