#include "platform/qt/session_end.h"

#ifdef _WIN32
#include "platform/os/serial_line.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <windows.h>
#endif

namespace nocturo {

#ifdef _WIN32

namespace {
class EndSessionFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        const auto* msg = static_cast<const MSG*>(message);
        // Windows may end the process at any moment after this message;
        // Qt goes on to quit, and the port is closed on the way out as End
        // closes it.
        if (type == "windows_generic_MSG" && msg->message == WM_ENDSESSION && msg->wParam) {
            lower_serial_lines();
        }
        return false;
    }
};
} // namespace

void release_line_at_session_end(QCoreApplication& app) {
    static EndSessionFilter filter;
    app.installNativeEventFilter(&filter);
}

#else

void release_line_at_session_end(QCoreApplication&) {}

#endif

} // namespace nocturo
