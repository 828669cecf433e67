#pragma once

#include "platform/os/comm_control.h"

#include <map>

namespace nocturo::fakes {

// Rows reach the devices given, and nothing else; a device without an
// identity is known by its name.
class FixedPortDirectory : public PortDirectory {
public:
    explicit FixedPortDirectory(std::map<int, PortInfo> ports) : ports_(std::move(ports)) {}
    std::optional<PortInfo> port_for_row(int row) override {
        const auto it = ports_.find(row);
        if (it == ports_.end()) {
            return std::nullopt;
        }
        return known(it->second);
    }
    std::optional<PortInfo> port_with_identity(const std::string& identity) override {
        for (const auto& [row, port] : ports_) {
            if (known(port).identity == identity) {
                return known(port);
            }
        }
        return std::nullopt;
    }

private:
    static PortInfo known(PortInfo port) {
        if (port.identity.empty()) {
            port.identity = port.device;
        }
        return port;
    }
    std::map<int, PortInfo> ports_;
};

// An alarm that never goes off: the waits release the line on time.
class NoAlarm : public Alarm {
public:
    void set(double, std::function<void()>) override {}
    void cancel() override {}
};

} // namespace nocturo::fakes
