#include "platform/qt/system_ports.h"

#include <gtest/gtest.h>

#include <fstream>

namespace nocturo {
namespace {

namespace fs = std::filesystem;

class FakeSysfs : public testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("nocturo-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "class/tty");
        fs::create_directories(root / "devices/usb1/1-1/1-1:1.0");
        write(root / "devices/usb1/1-1/product", "FT232R USB UART");
    }
    void TearDown() override { fs::remove_all(root); }

    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    void tty(const std::string& name, const char* type = nullptr, bool usb = false) {
        const fs::path dir = root / "class/tty" / name;
        fs::create_directories(dir);
        if (usb) {
            fs::create_directory_symlink(root / "devices/usb1/1-1/1-1:1.0", dir / "device");
        } else {
            fs::create_directories(dir / "device");
        }
        if (type != nullptr) {
            write(dir / "type", type);
        }
    }

    fs::path root;
};

TEST_F(FakeSysfs, UsbAdaptersComeFirstThenModemsThenTheRestEachInNumberOrder) {
    tty("ttyS10", "4");
    tty("ttyS2", "4");
    tty("ttyS1", "0"); // an empty UART slot
    tty("ttyUSB1", nullptr, true);
    tty("ttyACM0");
    tty("ttyUSB0", nullptr, true);
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
    EXPECT_EQ(com1->description, "FT232R USB UART");
    EXPECT_FALSE(directory.port_for_row(7));
    EXPECT_FALSE(directory.port_for_row(0));
}

} // namespace
} // namespace nocturo
