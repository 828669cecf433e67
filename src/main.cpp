#include "platform/os/shutdown_signals.h"
#include "platform/qt/session_end.h"
#include "window/form1.h"
#include "window/look.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The window belongs to its launcher: on Wayland by this name, on X11 by
    // its class, nocturo, which the desktop entry names too.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.nocturo.nocturo"));
    nocturo::apply_application_style(app);
    nocturo::install_shutdown_handlers();
    nocturo::release_line_at_session_end(app);
    nocturo::Form1 window;
    if (window.ended()) {
        return 1;
    }
    window.show();
    return QApplication::exec();
}
