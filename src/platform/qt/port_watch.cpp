#include "platform/qt/port_watch.h"

#if defined(_WIN32)
#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <windows.h>
#else
#include <QFileSystemWatcher>
#endif

namespace nocturo {

#ifdef _WIN32

struct PortWatch::Impl : QAbstractNativeEventFilter {
    explicit Impl(std::function<void()> on_change) : changed(std::move(on_change)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Impl() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type == "windows_generic_MSG" &&
            static_cast<const MSG*>(message)->message == WM_DEVICECHANGE) {
            changed();
        }
        return false;
    }
    std::function<void()> changed;
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
