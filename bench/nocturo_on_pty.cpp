// The program as shipped, except that Com1 reaches the device named on the
// command line. START is pressed as soon as the window shows; with --quit the
// program ends once the run is over.

#include "fakes/fixed_ports.h"
#include "platform/os/shutdown_signals.h"
#include "window/form1.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: nocturo_on_pty DEVICE [--quit]\n");
        return 2;
    }
    const bool quit = argc > 2 && std::strcmp(argv[2], "--quit") == 0;
    nocturo::apply_application_style(app);
    nocturo::install_shutdown_handlers();

    nocturo::Form1::Options options;
    options.ports = std::make_unique<nocturo::fakes::FixedPortDirectory>(
        std::map<int, nocturo::PortInfo>{{1, {argv[1], "pseudo-terminal"}}});
    options.report = [](QWidget*, const QString& message) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    };
    nocturo::Form1 window(std::move(options));
    window.show();
    QTimer::singleShot(0, &window, [&window, quit] {
        window.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        if (quit) {
            QCoreApplication::quit();
        }
    });
    return QApplication::exec();
}
