#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nocturo {

// Calls changed whenever serial ports may have come or gone: an entry
// appearing in or leaving one of the folders (/dev), or Windows'
// device-change broadcast. Costs nothing while nothing changes.
class PortWatch : public QObject {
public:
    PortWatch(QObject* parent, const std::vector<std::string>& folders,
              std::function<void()> changed);
    ~PortWatch() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nocturo
