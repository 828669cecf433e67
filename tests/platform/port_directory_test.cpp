#include "fakes/fixed_ports.h"
#include "platform/pty.h"
#include "platform/qt/system_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace nocturo {
namespace {

namespace fs = std::filesystem;
using testing_support::ModemLog;
using testing_support::Pty;

class FakeSysfs : public testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("nocturo-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "class/tty");
        fs::create_directories(root / "dev");
        adapter("1-1", "FT232R USB UART", "A1");
    }
    void TearDown() override { fs::remove_all(root); }

    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    // A USB serial adapter in the USB port given ("1-2").
    void adapter(const std::string& port, const char* product, const char* serial) {
        const fs::path dir = root / "devices/usb1" / port;
        fs::create_directories(dir / (port + ":1.0"));
        write(dir / "idVendor", "0403");
        write(dir / "idProduct", "6001");
        write(dir / "product", product);
        if (*serial != '\0') {
            write(dir / "serial", serial);
        }
    }
    // A tty; usb_port names the adapter behind it, if any.
    void tty(const std::string& name, const char* type = nullptr,
             const std::string& usb_port = "") {
        const fs::path dir = root / "class/tty" / name;
        fs::create_directories(dir);
        if (usb_port.empty()) {
            fs::create_directories(dir / "device");
            write(dir / "dev", "4:" + std::to_string(name.size()));
        } else {
            const fs::path device = root / "devices/usb1" / usb_port / (usb_port + ":1.0") / name;
            fs::create_directories(device);
            fs::create_directory_symlink(device, dir / "device");
        }
        if (type != nullptr) {
            write(dir / "type", type);
        }
    }
    void unplug(const std::string& name) { fs::remove_all(root / "class/tty" / name); }
    // The node name stands for the device behind it.
    void node(const std::string& name, const std::string& device) {
        fs::remove(root / "dev" / name);
        fs::create_symlink(device, root / "dev" / name);
    }

    fs::path root;
};

TEST_F(FakeSysfs, UsbAdaptersComeFirstThenModemsThenTheRestEachInNumberOrder) {
    tty("ttyS10", "4");
    tty("ttyS2", "4");
    tty("ttyS1", "0"); // an empty UART slot
    tty("ttyUSB1", nullptr, "1-1");
    tty("ttyACM0");
    tty("ttyUSB0", nullptr, "1-1");
    tty("ttyAMA0");
    fs::create_directories(root / "class/tty/tty0"); // a console: no device behind it

    // Device paths are only named, never opened; a made-up folder keeps it so.
    SystemPortDirectory directory(root / "class/tty", "/fake-dev");
    std::vector<std::string> devices;
    for (const PortInfo& port : directory.ports()) {
        devices.push_back(port.device);
    }
    EXPECT_EQ(devices, (std::vector<std::string>{"/fake-dev/ttyUSB0", "/fake-dev/ttyUSB1",
                                                 "/fake-dev/ttyACM0", "/fake-dev/ttyAMA0",
                                                 "/fake-dev/ttyS2", "/fake-dev/ttyS10"}));

    const std::optional<PortInfo> com1 = directory.port_for_row(1);
    ASSERT_TRUE(com1);
    EXPECT_EQ(com1->description, "FT232R USB UART, serial A1");
    EXPECT_FALSE(directory.port_for_row(7));
    EXPECT_FALSE(directory.port_for_row(0));
}

enum class Between { Nothing, Replugged, Unplugged };
enum class Opened { Camera, Focuser, Nothing };

struct PinCase {
    const char* name;
    Between between; // what happens to the camera's adapter after the first exposure
    bool new_run;    // START pressed again before the next exposure
    Opened next;     // which device the next exposure opens
};

class RowKeepsItsDevice : public FakeSysfs, public testing::WithParamInterface<PinCase> {};

// The camera's adapter is Com1 and a focuser's Com2. Whatever happens to the
// camera's adapter, the focuser's DTR line rises only when a new run finds
// it at the row.
TEST_P(RowKeepsItsDevice, ThroughoutARun) {
    ModemLog log;
    Pty camera, focuser;
    adapter("1-2", "USB Serial", "");
    tty("ttyUSB0", nullptr, "1-1");
    tty("ttyUSB1", nullptr, "1-2");
    node("ttyUSB0", camera.slave());
    node("ttyUSB1", focuser.slave());
    SystemPortDirectory directory(root / "class/tty", root / "dev");
    fakes::NoAlarm alarm;
    CommControl comm(directory, alarm);
    comm.begin_run();
    comm.set_comm_port(1);
    comm.set_port_open(true);
    comm.set_port_open(false);

    switch (GetParam().between) {
    case Between::Nothing:
        break;
    case Between::Replugged:
        unplug("ttyUSB0");
        tty("ttyUSB2", nullptr, "1-1");
        node("ttyUSB2", camera.slave());
        break;
    case Between::Unplugged:
        unplug("ttyUSB0");
        break;
    }
    if (GetParam().new_run) {
        comm.begin_run();
    }
    std::string error;
    try {
        comm.set_port_open(true);
        comm.set_port_open(false);
    } catch (const SerialError& e) {
        EXPECT_EQ(e.reason(), SerialError::Reason::Lost);
        error = e.what();
    }

    const auto opens = [&log](const Pty& pty) {
        const auto events = log.events(pty.slave());
        return std::count_if(events.begin(), events.end(),
                             [](const auto& e) { return e.what == "open"; });
    };
    EXPECT_EQ(opens(camera), GetParam().next == Opened::Camera ? 2 : 1);
    EXPECT_EQ(opens(focuser), GetParam().next == Opened::Focuser ? 1 : 0);
    // The message names the row and the device it was.
    EXPECT_EQ(error.rfind("Com1 (" + (root / "dev/ttyUSB0").string() +
                              ") is no longer there: the adapter was unplugged",
                          0),
              GetParam().next == Opened::Nothing ? 0 : std::string::npos)
        << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rig, RowKeepsItsDevice,
    testing::Values(PinCase{"still_there", Between::Nothing, false, Opened::Camera},
                    PinCase{"back_under_a_new_name", Between::Replugged, false, Opened::Camera},
                    PinCase{"gone_and_another_in_its_row", Between::Unplugged, false,
                            Opened::Nothing},
                    PinCase{"gone_then_a_new_run", Between::Unplugged, true, Opened::Focuser}),
    [](const auto& p) { return std::string(p.param.name); });

// Windows keeps every adapter's number; one above 16 is reached by no row.
TEST(ComPorts, APortAboveSixteenIsPointedOutWhenTheRowsOwnIsAbsent) {
    EXPECT_EQ(com_port(3, {"COM3", "COM17"}).advice, "");
    const std::string advice = com_port(3, {"COM1", "COM17"}).advice;
    EXPECT_EQ(advice.rfind("COM17 has a number above 16, which no row reaches: give the adapter a "
                           "number from 1 to 16 in Device Manager",
                           0),
              0u)
        << advice;
}

} // namespace
} // namespace nocturo
