#pragma once

#include "platform/os/port_directory.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace nocturo::fakes {

namespace fs = std::filesystem;

// Serial ports as Linux shows them in sysfs and /dev, in a folder of its own
// that lasts as long as the tree: USB adapters, the ttys behind them and
// other ports.
class SysfsTree {
public:
    explicit SysfsTree(const std::string& name)
        : root(fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(root);
        for (const char* folder : {"class/tty", "dev", "proc"}) {
            fs::create_directories(root / folder);
        }
    }
    ~SysfsTree() { fs::remove_all(root); }
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    // A USB serial adapter plugged into the USB port given ("1-2"): the
    // kernel numbers every plug-in anew.
    void adapter(const std::string& port, const char* product, const char* serial,
                 const char* vendor = "0403", const char* id = "6001") {
        const fs::path dir = root / "devices/usb1" / port;
        fs::create_directories(dir / (port + ":1.0"));
        write(dir / "devnum", std::to_string(++plugs_));
        write(dir / "idVendor", vendor);
        write(dir / "idProduct", id);
        write(dir / "product", product);
        if (*serial != '\0') {
            write(dir / "serial", serial);
        }
    }
    // A tty; usb_port names the adapter behind it, if any, and place the
    // port's number on a cable with several.
    void tty(const std::string& name, const char* type = nullptr, const std::string& usb_port = "",
             const char* place = nullptr) {
        const fs::path dir = root / "class/tty" / name;
        fs::create_directories(dir);
        if (usb_port.empty()) {
            fs::create_directories(dir / "device");
            write(dir / "dev", "4:" + std::to_string(name.size()));
        } else {
            const fs::path device = root / "devices/usb1" / usb_port / (usb_port + ":1.0") / name;
            fs::create_directories(device);
            fs::create_directory_symlink(device, dir / "device");
            if (place != nullptr) {
                write(device / "port_number", place);
            }
        }
        if (type != nullptr) {
            write(dir / "type", type);
        }
    }
    void unplug(const std::string& name) { fs::remove_all(root / "class/tty" / name); }
    void driver(const fs::path& device, const std::string& name) {
        fs::create_directories(root / "bus/drivers" / name);
        fs::create_directory_symlink(root / "bus/drivers" / name, device / "driver");
    }
    // The node name stands for the device behind it.
    void node(const std::string& name, const std::string& device) {
        fs::remove(root / "dev" / name);
        fs::create_symlink(device, root / "dev" / name);
    }

    SystemPorts system() const { return SystemPorts(root, root / "dev", root / "proc"); }

    const fs::path root;

private:
    int plugs_ = 0;
};

} // namespace nocturo::fakes
