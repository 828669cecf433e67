#pragma once

#include "platform/os/comm_control.h"

#include <vector>

namespace nocturo::fakes {

// Row k reaches the k-th device given, and nothing else; a device without an
// identity is known by its name.
class FixedPorts : public PortSource {
public:
    explicit FixedPorts(std::vector<PortInfo> ports) : ports_(std::move(ports)) {
        for (PortInfo& port : ports_) {
            if (port.identity.empty()) {
                port.identity = port.device;
            }
        }
    }
    PortList list() override { return {ports_, {}}; }

private:
    std::vector<PortInfo> ports_;
};

// An alarm that never goes off: the waits release the line on time.
class NoAlarm : public Alarm {
public:
    void set(double, std::function<void()>) override {}
    void cancel() override {}
};

} // namespace nocturo::fakes
