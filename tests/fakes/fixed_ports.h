#pragma once

#include "platform/os/comm_control.h"

#include <chrono>
#include <fstream>
#include <map>
#include <vector>

namespace nocturo::fakes {

// Row k reaches the k-th device given, and nothing else; a device without an
// identity is known by its name.
// With a folder, a port taken away is announced there, as a device leaving
// /dev is; and as on a real kernel, where the node goes before the port's
// entry in sysfs (which announces nothing), the port stays on the list a
// little longer.
class FixedPorts : public PortSource {
public:
    explicit FixedPorts(std::vector<PortInfo> ports, std::string folder = {})
        : ports_(std::move(ports)), folder_(std::move(folder)) {
        for (PortInfo& port : ports_) {
            if (port.identity.empty()) {
                port.identity = port.device;
            }
            if (port.make.empty()) {
                port.make = port.identity;
            }
        }
    }
    PortList list() override {
        const auto now = std::chrono::steady_clock::now();
        std::erase_if(ports_, [&](const PortInfo& port) {
            const auto leaving = leaving_.find(port.identity);
            return leaving != leaving_.end() && leaving->second <= now;
        });
        for (std::size_t k = 0; k < ports_.size(); ++k) {
            ports_[k].row = static_cast<int>(k + 1);
        }
        return {ports_, {}, {}};
    }
    std::vector<std::string> watched_folders() const override {
        return folder_.empty() ? std::vector<std::string>{} : std::vector{folder_};
    }
    void unplug(std::size_t k) {
        std::ofstream(folder_ + "/unplugged." + std::to_string(leaving_.size()));
        leaving_[ports_.at(k).identity] =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    }

private:
    std::vector<PortInfo> ports_;
    std::string folder_;
    std::map<std::string, std::chrono::steady_clock::time_point> leaving_;
};

// An alarm that never goes off: the waits release the line on time.
class NoAlarm : public Alarm {
public:
    void set(double, std::function<void()>) override {}
    void cancel() override {}
};

} // namespace nocturo::fakes
