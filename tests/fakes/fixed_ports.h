#pragma once

#include "platform/os/comm_control.h"

#include <fstream>
#include <vector>

namespace nocturo::fakes {

// Row k reaches the k-th device given, and nothing else; a device without an
// identity is known by its name.
// With a folder, a port taken away is announced there, as a device leaving
// /dev is.
class FixedPorts : public PortSource {
public:
    explicit FixedPorts(std::vector<PortInfo> ports, std::string folder = {})
        : ports_(std::move(ports)), folder_(std::move(folder)) {
        for (PortInfo& port : ports_) {
            if (port.identity.empty()) {
                port.identity = port.device;
            }
        }
    }
    PortList list() override { return {ports_, {}, {}}; }
    std::vector<std::string> watched_folders() const override {
        return folder_.empty() ? std::vector<std::string>{} : std::vector{folder_};
    }
    void unplug(std::size_t k) {
        ports_.erase(ports_.begin() + static_cast<std::ptrdiff_t>(k));
        std::ofstream(folder_ + "/unplugged." + std::to_string(ports_.size()));
    }

private:
    std::vector<PortInfo> ports_;
    std::string folder_;
};

// An alarm that never goes off: the waits release the line on time.
class NoAlarm : public Alarm {
public:
    void set(double, std::function<void()>) override {}
    void cancel() override {}
};

} // namespace nocturo::fakes
