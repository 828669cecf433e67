#include "platform/qt/sleep_inhibitor.h"

#if defined(__linux__)
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#elif defined(_WIN32)
#include <windows.h>
#elif defined(__APPLE__)
#include <IOKit/pwr_mgt/IOPMLib.h>
#endif

namespace nocturo {

#if defined(__linux__)

// logind keeps the inhibition for as long as we hold the descriptor it hands
// out. The request is sent without waiting for the answer, so a slow or
// missing logind never delays START: the answer is taken when the run's
// event pump delivers it, and dropped if the run is over by then.
struct SleepInhibitor::Impl {
    QObject calls; // owns the calls still unanswered
    QDBusUnixFileDescriptor lock;
    bool wanted = false;
    bool asked = false;

    void hold() {
        wanted = true;
        if (asked) {
            return;
        }
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) {
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QStringLiteral("Nocturo")
             << QStringLiteral("A series of exposures is running") << QStringLiteral("block");
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &calls);
        asked = true;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls,
                         [this](QDBusPendingCallWatcher* answered) {
                             const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answered;
                             asked = false;
                             if (wanted && reply.isValid()) {
                                 lock = reply.value();
                             }
                             answered->deleteLater();
                         });
    }
    void release() {
        wanted = false;
        lock = QDBusUnixFileDescriptor();
    }
    bool held() const { return lock.isValid(); }
};

#elif defined(_WIN32)

struct SleepInhibitor::Impl {
    bool active = false;
    void hold() {
        active =
            SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED) != 0;
    }
    void release() {
        if (active) {
            SetThreadExecutionState(ES_CONTINUOUS);
        }
        active = false;
    }
    bool held() const { return active; }
};

#elif defined(__APPLE__)

struct SleepInhibitor::Impl {
    IOPMAssertionID id = 0;
    bool active = false;
    void hold() {
        active = IOPMAssertionCreateWithName(
                     kIOPMAssertionTypePreventUserIdleSystemSleep, kIOPMAssertionLevelOn,
                     CFSTR("A series of exposures is running"), &id) == kIOReturnSuccess;
    }
    void release() {
        if (active) {
            IOPMAssertionRelease(id);
        }
        active = false;
    }
    bool held() const { return active; }
};

#else

struct SleepInhibitor::Impl {
    void hold() {}
    void release() {}
    bool held() const { return false; }
};

#endif

SleepInhibitor::SleepInhibitor() : impl_(std::make_unique<Impl>()) {}

SleepInhibitor::~SleepInhibitor() {
    impl_->release();
}

void SleepInhibitor::hold() {
    if (!impl_->held()) {
        impl_->hold();
    }
}

void SleepInhibitor::release() {
    impl_->release();
}

} // namespace nocturo
