#pragma once

// Which device each port row reaches, by one rule. A row reaches the device
// it showed when the user last picked it (picking the selected row again
// counts) or when the program started, under whatever name the system gives
// it, and never the one that slides into its place when that device is
// unplugged or another is plugged in before it (a focuser resets when its
// DTR rises). A row that showed nothing takes a device only when that one
// device's arrival (all its ports) was the only change the system announced
// and put it at the row's place, while no run is under way; its tooltip then
// shows it. During a run no row takes anything.
//
// Two adapters alike in everything the system reports (clones that all
// carry one serial number, two adapters without one) are told apart by what
// the program has seen of them while it ran. An adapter with a serial number
// that no other adapter carried beside it is the same adapter in any USB
// socket. Otherwise, once it was plugged in again, it is taken back (one
// without a serial only in its socket) only while every look-alike ever
// listed beside it is still where it was, plugged in as it was, and none has
// come meanwhile; else the row reaches nothing and says that it cannot tell
// which adapter this is. Runs and idle ask the same directory; asking never
// changes what a row was fixed to: only fix() (a pick) and ports_changed()
// (the system's own news) do.
//
// What each system reads of its ports (sysfs, the registry, /dev/cu.*) is a
// PortSource, one file per system; what they share is here.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nocturo {

struct PortInfo {
    std::string device;      // what the system opens
    std::string description; // what the user may recognise it by; may be empty
    // What stays the same for this one device while it is unplugged and
    // plugged in again, and is never the same for two ports: for a USB
    // adapter with a serial number of its own, its ids, its serial, the
    // interface it is on and its own place there, in whatever USB socket it
    // is plugged; for one without, the same with the socket in place of the
    // serial; for any other port its name and device number.
    std::string identity = {};
    // What to do when the device is not there, where more can be said than
    // that it is missing; may be empty.
    std::string advice = {};
    // The row whose place the port holds, as its system places it: 1 for
    // Com1. Windows numbers its ports itself (COM3 is row 3, COM19 is none);
    // elsewhere the k-th port of the list in sort_ports' order is row k.
    int row = 0;
    // What the system reports of the device that a look-alike may report too:
    // for a USB adapter its ids, its serial number if any, the interface it is
    // on and its own place there; for any other port its identity.
    std::string make = {};
    // The USB device the port belongs to, by the socket it sits in ("1-1.2"):
    // the ports of one adapter share it. Empty for any other port.
    std::string socket = {};
    // What tells this plug-in of the adapter from its earlier ones (the
    // kernel numbers each anew); empty where the system tells nothing.
    std::string plug = {};
    // The make names a USB serial number.
    bool serial = false;
};

struct PortList {
    std::vector<PortInfo> ports;       // in row order
    std::vector<std::string> left_out; // ports no row reaches, each with why
    // USB-serial adapters plugged in that the system gave no port, each with
    // why and what to do.
    std::vector<std::string> stranded;
};

// The ports of one system as they are now. Reading them never opens a port.
class PortSource {
public:
    virtual ~PortSource() = default;
    virtual PortList list() = 0;
    // The next list() reads the system afresh: it announced a change, or the
    // user acts. A source that is slow to read answers from its last reading
    // until then.
    virtual void refresh() {}
    // Folders whose entries come and go with the ports, for a watch.
    virtual std::vector<std::string> watched_folders() const { return {}; }
};

// What a row reaches now.
struct RowReach {
    std::optional<PortInfo> port;     // the row's device, when it is there
    std::optional<PortInfo> missing;  // the row's device, when it is not there
    std::optional<PortInfo> occupant; // what sits at the row's place instead
    // With missing: a port just like the row's device, which may be it or a
    // look-alike; which one cannot be told.
    std::optional<PortInfo> alike;
    std::vector<std::string> left_out; // ports no row reaches, and why
    std::vector<std::string> stranded; // adapters with no port, and why
};

class PortDirectory {
public:
    explicit PortDirectory(PortSource& source) : source_(source) {}

    // The row reaches, from now on, the device at its place now, or nothing.
    void fix(int row);
    // The system's ports changed. When idle, a row that was fixed to
    // nothing takes a device whose arrival alone put it at its place. True
    // when it took one.
    bool ports_changed(int row, bool idle);
    // row is 1 for "Com1". A row never fixed reaches what is at its place.
    RowReach reach(int row);
    // What the row reaches, in a line for the tooltip.
    std::string describe(int row);
    // The next question reads the system's ports afresh (the user looks).
    void refresh() { source_.refresh(); }
    std::vector<std::string> watched_folders() const { return source_.watched_folders(); }

private:
    // What a row keeps of the device it was fixed to. Plug-ins are named as
    // plug_in() names them.
    struct Kept {
        PortInfo port; // its plug-in as last found, under the name it had then
        // Look-alikes listed beside it, or beside one another before the
        // pick: none of them is it.
        std::set<std::string> others = {};
        // Look-alikes first listed while it was not found: any may be it.
        std::set<std::string> away = {};
        bool guessed = false; // taken back on a return, where a look-alike may have come
        bool doubt = false;   // since then a look-alike has come beside it
    };
    struct Found {
        const PortInfo* port = nullptr;  // the row's device
        const PortInfo* alike = nullptr; // or one that may be it
    };
    Kept keep(const PortInfo& port) const;
    // The ports now, and what this listing shows of the look-alikes beside
    // one another and of each row's device.
    PortList look();
    Found locate(const Kept& kept, const std::vector<PortInfo>& ports) const;
    bool crowded(const std::string& make) const;
    const std::set<std::string>& listed_beside(const PortInfo& port, const std::string& plug) const;

    PortSource& source_;
    std::map<int, std::optional<Kept>> fixed_;
    std::vector<PortInfo> seen_; // the ports at the last pick or news
    // By make, for each plug-in of a device ever listed, the plug-ins of the
    // look-alikes listed beside it.
    std::map<std::string, std::map<std::string, std::set<std::string>>> beside_;
};

// "Com1 (FT232R USB UART, serial A50285BI) is not connected", and what sits
// at its place instead, if anything; or, with a look-alike, why it is not
// taken for the row's device.
std::string not_connected_text(const RowReach& reach, int row);

// Sorts ports into row order, USB adapters (ttyUSB, usbserial) first, then
// ACM modems (ttyACM, usbmodem), each group in device-number order, then
// every other port by name and number; the k-th is row k.
void sort_ports(std::vector<PortInfo>& ports);

// A USB-serial chip that a system should make a port of, known by its USB
// ids (lower-case hex): the Linux module that drives it and the maker's
// driver for Windows; nullptr for any other device.
struct SerialChip {
    const char* module;
    const char* driver;
};
const SerialChip* usb_serial_chip(const std::string& vendor, const std::string& product);

// The name a port is shown by: its device, without Windows' \\.\ prefix.
std::string shown_name(const std::string& device);

// The serial ports of this computer: sysfs on Linux, the registry on
// Windows, /dev/cu.* on macOS. The folders are where this system keeps
// them; tests give folders of their own.
class SystemPorts : public PortSource {
public:
    explicit SystemPorts(std::filesystem::path sys = "/sys", std::filesystem::path dev = "/dev",
                         std::filesystem::path proc = "/proc");
    PortList list() override;
    void refresh() override;
    std::vector<std::string> watched_folders() const override;

private:
    // Not every system keeps its ports in folders.
    [[maybe_unused]] std::filesystem::path sys_;
    [[maybe_unused]] std::filesystem::path dev_;
    [[maybe_unused]] std::filesystem::path proc_;
    // The ports the system console runs on, read at the first listing only:
    // reading them takes the kernel's console lock, which a console that
    // is printing holds.
    std::optional<std::set<std::string>> consoles_;
    // The ports seen with a node. The kernel removes a departing port's node
    // first and its entry in sysfs a moment later, announcing only the
    // first: a port whose node went is gone.
    [[maybe_unused]] std::set<std::string> had_node_;
    // The last reading, where reading takes long (Windows' device tree).
    [[maybe_unused]] std::optional<PortList> last_;
};

} // namespace nocturo
