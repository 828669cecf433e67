#include "platform/os/shutdown_signals.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    nocturo::apply_application_style(app);
    nocturo::install_shutdown_handlers();
    nocturo::Form1 window;
    if (window.ended()) {
        return 1;
    }
    window.show();
    return QApplication::exec();
}
