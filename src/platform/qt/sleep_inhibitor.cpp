#include "platform/qt/sleep_inhibitor.h"

#include <algorithm>
#include <iterator>

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

// logind keeps each inhibition for as long as we hold the descriptor it
// hands out. A request is sent without waiting for the answer, so a slow or
// missing logind never delays START: the answer is taken when the run's
// event pump delivers it, and dropped if the run is over by then.
//
// Sleep and idle are one request; the lid switch is another, since logind
// by default lets a closed lid suspend the laptop whatever a sleep lock says
// (photographers close the lid to keep its light off the sky). Where logind
// refuses the lid switch, the sleep lock holds all the same.
struct SleepInhibitor::Impl {
    struct Request {
        QString what;
        QDBusUnixFileDescriptor lock;
        bool asked = false;
    };
    QObject calls; // owns the calls still unanswered
    Request requests[2] = {{QStringLiteral("sleep:idle"), {}},
                           {QStringLiteral("handle-lid-switch"), {}}};
    bool wanted = false;

    void hold() {
        wanted = true;
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) {
            return;
        }
        for (Request& request : requests) {
            if (!request.asked && !request.lock.isValid()) {
                ask(bus, request);
            }
        }
    }
    void ask(QDBusConnection& bus, Request& request) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << request.what << QStringLiteral("Nocturo")
             << QStringLiteral("A series of exposures is running") << QStringLiteral("block");
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &calls);
        request.asked = true;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls,
                         [this, &request](QDBusPendingCallWatcher* answered) {
                             const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answered;
                             request.asked = false;
                             if (wanted && reply.isValid()) {
                                 request.lock = reply.value();
                             }
                             answered->deleteLater();
                         });
    }
    void release() {
        wanted = false;
        for (Request& request : requests) {
            request.lock = QDBusUnixFileDescriptor();
        }
    }
    bool held() const {
        return std::any_of(std::begin(requests), std::end(requests),
                           [](const Request& request) { return request.lock.isValid(); });
    }
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
