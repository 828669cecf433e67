// The program as shipped, except that Com1 reaches the device named on the
// command line. START is pressed as soon as the window shows.
//
//   nocturo_on_pty DEVICE [--rows E,N,D,P] [--busy] [--idle SECONDS]
//                         [--hide SECONDS] [--report FILE] [--probe] [--quit]
//
// --rows    list rows (0 for the first) of exposure time, number of
//           exposures, start delay and pause, picked before START
// --busy    an event pump that never sleeps, for comparison
// --idle    after the run, stay idle this long
// --hide    this long after START, hide the window (unmap it) until the end
// --report  after the run (and the idle time), write CPU seconds of the run
//           and of the idle time, wall seconds of each and peak resident
//           memory to FILE
// --probe   during the run, a timer due every 10 ms measures the most
//           processor time the window's thread spent between two of its
//           turns, that is without answering events; with --report, written
//           there. Processor time, not wall time: a virtual machine may stall
//           for a while whatever runs in it.
// --quit    end once the run (and the idle time) is over

#include "fakes/fixed_ports.h"
#include "platform/os/shutdown_signals.h"
#include "window/form1.h"
#include "window/look.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

struct Usage {
    double cpu;
    double wall;
};

Usage now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return {static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9};
}

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: nocturo_on_pty DEVICE [--rows E,N,D,P] [--busy] "
                             "[--idle SECONDS] [--hide SECONDS] [--report FILE] [--quit]\n");
        return 2;
    }
    bool quit = false;
    bool busy = false;
    bool probe = false;
    int rows[4] = {-1, -1, -1, -1};
    int idle_seconds = 0;
    int hide_seconds = -1;
    std::string report;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quit") {
            quit = true;
        } else if (arg == "--busy") {
            busy = true;
        } else if (arg == "--probe") {
            probe = true;
        } else if (arg == "--rows" && i + 1 < argc) {
            std::sscanf(argv[++i], "%d,%d,%d,%d", &rows[0], &rows[1], &rows[2], &rows[3]);
        } else if (arg == "--hide" && i + 1 < argc) {
            hide_seconds = std::atoi(argv[++i]);
        } else if (arg == "--idle" && i + 1 < argc) {
            idle_seconds = std::atoi(argv[++i]);
        } else if (arg == "--report" && i + 1 < argc) {
            report = argv[++i];
        }
    }
    nocturo::apply_application_style(app);
    nocturo::install_shutdown_handlers();

    nocturo::Form1::Options options;
    options.ports = std::make_unique<nocturo::fakes::FixedPorts>(
        std::vector<nocturo::PortInfo>{{argv[1], "pseudo-terminal"}});
    options.pump = busy ? nocturo::QtPump::Mode::Busy : nocturo::QtPump::Mode::Sleeping;
    options.report = [](QWidget*, const QString& message) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    };
    nocturo::Form1 window(std::move(options));
    const char* lists[] = {"kiestijd", "Combo2", "Combo1", "Combo3"};
    for (int i = 0; i < 4; ++i) {
        if (rows[i] >= 0) {
            window.findChild<QComboBox*>(QString::fromLatin1(lists[i]))->setCurrentIndex(rows[i]);
        }
    }
    window.kiestijd_Click();
    window.show();

    Usage start{};
    Usage run_end{};
    QTimer answers;
    double last_answer = -1.0;
    double longest_silence = 0.0;
    QObject::connect(&answers, &QTimer::timeout, &window, [&] {
        timespec used{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
        const double at =
            static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
        longest_silence = std::max(longest_silence, last_answer >= 0.0 ? at - last_answer : 0.0);
        last_answer = at;
    });
    auto finish = [&] {
        if (!report.empty()) {
            const Usage end = now();
            std::ofstream out(report);
            out << "run_cpu " << run_end.cpu - start.cpu << "\n"
                << "run_wall " << run_end.wall - start.wall << "\n"
                << "idle_cpu " << end.cpu - run_end.cpu << "\n"
                << "idle_wall " << end.wall - run_end.wall << "\n"
                << "peak_kib " << peak_kib() << "\n"
                << "silence_ms " << longest_silence * 1000.0 << "\n";
        }
        if (quit) {
            QCoreApplication::quit();
        }
    };
    if (hide_seconds >= 0) {
        QTimer::singleShot(hide_seconds * 1000, &window, [&window] { window.hide(); });
    }
    QTimer::singleShot(0, &window, [&] {
        start = now();
        if (probe) {
            answers.start(10);
        }
        window.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        answers.stop();
        run_end = now();
        QTimer::singleShot(idle_seconds * 1000, &window, finish);
    });
    return QApplication::exec();
}
