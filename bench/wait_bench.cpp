// How much processor time a wait costs and how exactly it ends: the start
// delay routine of the program, on real Qt widgets, the real clock and the
// real event pump, waiting 30 seconds several times; then the same with a
// pump that never sleeps.
//
// Usage: wait_bench [waits per pump, default 3] [seconds per wait, default 30]

#include "engine/form1_routines.h"
#include "platform/qt/qt_controls.h"
#include "platform/qt/qt_pump.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

using namespace nocturo;

namespace {

// The program's clock, keeping the last readings and when they were taken.
class RecordingClock : public Clock {
public:
    explicit RecordingClock(SteadyDayClock& clock) : clock_(clock) {}
    float timer() override {
        const double precise = clock_.now();
        const float reading = static_cast<float>(precise);
        ++readings;
        if (readings == 1) {
            first = reading;
        }
        last_precise = precise;
        return reading >= 86400.0f ? 0.0f : reading;
    }
    long readings = 0;
    float first = 0.0f;
    double last_precise = 0.0;

private:
    SteadyDayClock& clock_;
};

class NoSerial : public SerialControl {
public:
    void set_comm_port(std::int16_t) override {}
    void set_settings(const std::string&) override {}
    bool port_open() const override { return false; }
    void set_port_open(bool) override {}
    void set_dtr_enable(bool) override {}
    void release_dtr_at(double) override {}
};

class NoApp : public Application {
public:
    void hide_window() override {}
    [[noreturn]] void end_program() override { std::abort(); }
};

// The first moment at which a single-precision reading passes the start
// delay's end test: the smallest reading whose rounded count since t0 reaches
// the length, less the half step below it that rounds up to it.
double first_moment(float t0, int length) {
    float reading = static_cast<float>(double{t0} + length - 0.5);
    while (std::nearbyint(double{reading} - double{t0}) < length) {
        reading = std::nextafter(reading, 1e6f);
    }
    const float below = std::nextafter(reading, 0.0f);
    return (double{below} + double{reading}) / 2.0;
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Result {
    double cpu_percent;
    double median_late_ms;
    double max_late_ms;
    double passes_per_second;
};

Result run(QtPump::Mode mode, int waits, int seconds, SteadyDayClock& steady) {
    QWidget window;
    std::vector<QLabel*> labels;
    for (int i = 0; i < 5; ++i) {
        labels.push_back(new QLabel(&window));
        labels.back()->setGeometry(0, 20 * i, 300, 20);
    }
    std::vector<QComboBox*> combos;
    for (int i = 0; i < 5; ++i) {
        combos.push_back(new QComboBox(&window));
    }
    auto* button = new QPushButton(&window);
    auto* bar1 = new QProgressBar(&window);
    auto* bar2 = new QProgressBar(&window);
    bar2->setGeometry(0, 120, 400, 17);
    window.resize(450, 366);
    window.show();

    QtList cbo(combos[0]), kies(combos[1]), c1(combos[2]), c2(combos[3]), c3(combos[4]);
    QtLabel l1(labels[0]), l2(labels[1]), l3(labels[2]), l4(labels[3]), l5(labels[4]);
    QtButton b(button);
    QtProgressBar p1(bar1), p2(bar2);
    NoSerial serial;
    NoApp app;
    RecordingClock clock(steady);
    QtPump pump(steady, mode);
    Controls controls{cbo, kies, c1, c2, c3,     l1,    l2,   l3, l4,
                      l5,  b,    p1, p2, serial, clock, pump, app};
    Form1Routines form(controls);
    form.Form_Load();
    // The start delay list, lengthened to the wait the benchmark asks for.
    for (int k = 11; k <= seconds; ++k) {
        c1.add_item(std::to_string(k) + " Sec.");
    }
    c1.set_list_index(static_cast<std::int16_t>(seconds - 1));

    std::vector<double> late_ms;
    double cpu = 0.0;
    double wall = 0.0;
    long readings = 0;
    for (int i = 0; i < waits; ++i) {
        clock.readings = 0;
        const double cpu_before = cpu_seconds();
        const double wall_before = steady.now();
        form.begin_pause();
        wall += steady.now() - wall_before;
        cpu += cpu_seconds() - cpu_before;
        readings += clock.readings;
        late_ms.push_back((clock.last_precise - first_moment(clock.first, seconds)) * 1000.0);
    }
    std::sort(late_ms.begin(), late_ms.end());
    // Three readings a pass, one more for t0.
    const double passes = static_cast<double>(readings - waits) / 3.0;
    return {100.0 * cpu / wall, late_ms[late_ms.size() / 2], late_ms.back(), passes / wall};
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication qt(argc, argv);
    const int waits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int seconds = argc > 2 ? std::clamp(std::atoi(argv[2]), 11, 300) : 30;
    SteadyDayClock steady = SteadyDayClock::system();

    const double time_of_day = steady.now();
    const float as_single = static_cast<float>(time_of_day);
    const double step_ms = (double{std::nextafter(as_single, 1e6f)} - double{as_single}) * 1000.0;

    std::printf("%d waits of %d s each; the smallest step of the window's clock now %.3f ms\n\n",
                waits, seconds, step_ms);
    std::printf(
        "| pump | CPU (%% of one core) | late, median (ms) | late, max (ms) | passes/s |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const auto& [name, mode] : {std::pair{"sleeping (shipped)", QtPump::Mode::Sleeping},
                                     std::pair{"busy loop", QtPump::Mode::Busy}}) {
        const Result r = run(mode, waits, seconds, steady);
        std::printf("| %s | %.2f | %.3f | %.3f | %.0f |\n", name, r.cpu_percent, r.median_late_ms,
                    r.max_late_ms, r.passes_per_second);
        std::fflush(stdout);
    }
    return 0;
}
