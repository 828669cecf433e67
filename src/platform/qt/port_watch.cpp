#include "platform/qt/port_watch.h"

#if defined(_WIN32)
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>
#include <windows.h>

#include <dbt.h>
#else
#include <QFileSystemWatcher>
#endif

namespace nocturo {

#ifdef _WIN32

// Windows sends WM_DEVICECHANGE to every top-level window, and waits for
// the answer. Only a port or a device interface that arrived or left counts;
// the ports are read once the message is answered, once for a burst of them.
struct PortWatch::Impl : QAbstractNativeEventFilter {
    explicit Impl(std::function<void()> on_change) {
        after.setSingleShot(true);
        after.setInterval(0);
        QObject::connect(&after, &QTimer::timeout, &after, std::move(on_change));
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Impl() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        const auto* msg = static_cast<const MSG*>(message);
        if (type != "windows_generic_MSG" || msg->message != WM_DEVICECHANGE ||
            (msg->wParam != DBT_DEVICEARRIVAL && msg->wParam != DBT_DEVICEREMOVECOMPLETE) ||
            msg->lParam == 0) {
            return false;
        }
        const DWORD kind = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam)->dbch_devicetype;
        if ((kind == DBT_DEVTYP_PORT || kind == DBT_DEVTYP_DEVICEINTERFACE) && !after.isActive()) {
            after.start();
        }
        return false;
    }
    QTimer after;
};

PortWatch::PortWatch(QObject* parent, const std::vector<std::string>&,
                     std::function<void()> changed)
    : QObject(parent), impl_(std::make_unique<Impl>(std::move(changed))) {}

#else

struct PortWatch::Impl {
    QFileSystemWatcher folders;
};

PortWatch::PortWatch(QObject* parent, const std::vector<std::string>& folders,
                     std::function<void()> changed)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
    for (const std::string& folder : folders) {
        impl_->folders.addPath(QString::fromStdString(folder));
    }
    connect(&impl_->folders, &QFileSystemWatcher::directoryChanged, this,
            [changed = std::move(changed)] { changed(); });
}

#endif

PortWatch::~PortWatch() = default;

} // namespace nocturo
