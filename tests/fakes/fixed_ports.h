#pragma once

#include "platform/os/comm_control.h"

#include <map>

namespace nocturo::fakes {

// Rows reach the devices given, and nothing else. Counts every look-up.
class FixedPortDirectory : public PortDirectory {
public:
    explicit FixedPortDirectory(std::map<int, PortInfo> ports) : ports_(std::move(ports)) {}
    std::optional<PortInfo> port_for_row(int row) override {
        ++lookups;
        const auto it = ports_.find(row);
        if (it == ports_.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    int lookups = 0;

private:
    std::map<int, PortInfo> ports_;
};

} // namespace nocturo::fakes
