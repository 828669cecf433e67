// Whole runs of the real program code on the real serial line, against a
// pseudo-terminal whose modem lines the recorder keeps.

#include "fakes/fixed_ports.h"
#include "platform/pty.h"
#include "window/form1.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/wait.h>
#include <thread>

namespace nocturo {
namespace {

using testing_support::ModemEvent;
using testing_support::ModemLog;
using testing_support::monotonic_ns;
using testing_support::Pty;

struct RunWindow {
    explicit RunWindow(const std::string& device) {
        Form1::Options options;
        auto source = std::make_unique<fakes::FixedPorts>(std::vector<PortInfo>{{device, ""}},
                                                          folder.path().toStdString());
        ports = source.get();
        options.ports = std::move(source);
        // As a message box is: modal, with the event loop running under it.
        options.report = [this](QWidget*, const QString& message) {
            reported_ns = monotonic_ns();
            reports << message;
            QEventLoop open;
            QTimer::singleShot(1200, &open, &QEventLoop::quit);
            open.exec();
        };
        form = std::make_unique<Form1>(std::move(options));
        form->show();
    }
    QPushButton* start() const { return form->findChild<QPushButton*>(QStringLiteral("Command1")); }
    QString text(const char* label) const {
        return form->findChild<QLabel*>(QString::fromLatin1(label))->text();
    }
    void expect_idle() const {
        EXPECT_TRUE(start()->isEnabled());
        EXPECT_FALSE(form->findChild<QProgressBar*>(QStringLiteral("Bar1"))->isVisible());
        EXPECT_EQ(form->findChild<QProgressBar*>(QStringLiteral("Bar2"))->value(), 0);
        EXPECT_EQ(text("Label5"), QStringLiteral("         Idle"));
        EXPECT_FALSE(form->running());
    }
    QTemporaryDir folder; // where a port leaving is announced
    fakes::FixedPorts* ports = nullptr;
    QStringList reports;
    std::int64_t reported_ns = 0; // when the last report was shown
    std::unique_ptr<Form1> form;
};

// The DTR edges, from the one the kernel makes as the port opens on.
std::vector<ModemEvent> dtr_only(const std::vector<ModemEvent>& events) {
    std::vector<ModemEvent> out;
    for (const ModemEvent& e : events) {
        if (e.what.rfind("DTR", 0) == 0) {
            out.push_back(e);
        }
    }
    return out;
}

// How late the machine itself let a thread wake. A thread of the test's own
// sleeps 2 ms at a time and notes each wake, so a stall of the whole machine
// (a virtual machine's host busy elsewhere, tests crowding the cores) is told
// apart from a window that kept its own thread past a moment.
class Stalls {
public:
    // The latest any wake came between from_ns and to_ns, in seconds.
    double worst(std::int64_t from_ns, std::int64_t to_ns) {
        const std::lock_guard lock(mutex_);
        std::int64_t worst = 0;
        for (const auto& [woke, late] : wakes_) {
            if (woke >= from_ns && woke <= to_ns) {
                worst = std::max(worst, late);
            }
        }
        return static_cast<double>(worst) / 1e9;
    }

private:
    void watch(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            const std::int64_t due = monotonic_ns() + 2'000'000;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::int64_t woke = monotonic_ns();
            const std::lock_guard lock(mutex_);
            wakes_.emplace_back(woke, woke - due);
        }
    }
    std::mutex mutex_;
    std::vector<std::pair<std::int64_t, std::int64_t>> wakes_;
    std::jthread thread_{[this](const std::stop_token& stop) { watch(stop); }};
};

// How much later than due the machine may have made an edge that came at
// edge_ns: 50 ms, and the stall a thread of its own met on the way. An
// emulator translates each piece of the program as it first runs it, which
// takes up to a few hundred milliseconds: there an edge may come up to half a
// second late.
double allowed_lateness(Stalls& stalls, std::int64_t due_ns, std::int64_t edge_ns) {
    const double stall = stalls.worst(due_ns, edge_ns + 5'000'000);
    if (stall > 0.005) {
        std::printf("the machine stalled a thread %.1f ms around the edge\n", stall * 1000.0);
    }
    return (testing_support::emulated() ? 0.5 : 0.05) + stall;
}

std::vector<std::string> whats(const std::vector<ModemEvent>& events) {
    std::vector<std::string> seen;
    for (const ModemEvent& e : events) {
        seen.push_back(e.what);
    }
    return seen;
}

TEST(WholeRun, DefaultsFireTheShutterTwiceOnTheDtrLineAtTheRightMoments) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    Stalls stalls;

    const std::int64_t pressed = monotonic_ns();
    QTest::mouseClick(w.start(), Qt::LeftButton);

    const std::vector<ModemEvent> edges = dtr_only(log.events(pty.slave()));
    ASSERT_EQ(edges.size(), 4u);
    // Start delay 3 s: ends at 2.5 s; exposure 5 s: held 4.5 s; pause 3 s:
    // ends at 3.5 s; exposure again. Each edge is timed from the one before,
    // the first from the click, which an emulator may take a while to see.
    const double spans[] = {2.5, 4.5, 3.5, 4.5};
    for (std::size_t i = 0; i < edges.size(); ++i) {
        EXPECT_EQ(edges[i].what, i % 2 == 0 ? "DTR 1" : "DTR 0") << i;
        const std::int64_t from = i == 0 ? pressed : edges[i - 1].ns;
        const double span = static_cast<double>(edges[i].ns - from) / 1e9;
        const auto due = from + static_cast<std::int64_t>(spans[i] * 1e9);
        EXPECT_GE(span, spans[i] - (i == 0 ? 0.25 : 0.05)) << "edge " << i;
        EXPECT_LE(span, spans[i] + (i == 0 ? 0.25 : allowed_lateness(stalls, due, edges[i].ns)))
            << "edge " << i;
    }
    w.expect_idle();
    EXPECT_EQ(w.text("Label3"), QStringLiteral("Exposures Remaining: 0"));
    EXPECT_EQ(w.text("Label4"), QStringLiteral("Time remaining: 0"));
    EXPECT_TRUE(w.reports.isEmpty());
}

// From one second into the first exposure a handler keeps the window's
// thread in an event loop of its own until three seconds past the
// exposure's end, as Windows does while the window is dragged or its menu
// is open.
TEST(WholeRun, TheShutterClosesOnTimeWhileTheThreadIsHeldAndTheNextExposureIsTakenInFull) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    Stalls stalls;
    std::int64_t let_go = 0;
    QTimer::singleShot(3500, w.form.get(), [&let_go] {
        QEventLoop held;
        QTimer::singleShot(6000, &held, &QEventLoop::quit);
        held.exec();
        let_go = monotonic_ns();
    });
    QTest::mouseClick(w.start(), Qt::LeftButton);

    const std::vector<ModemEvent> edges = dtr_only(log.events(pty.slave()));
    ASSERT_EQ(edges.size(), 4u);
    const auto seconds = [](std::int64_t from, std::int64_t to) {
        return static_cast<double>(to - from) / 1e9;
    };
    const double held_span = seconds(edges[0].ns, edges[1].ns);
    std::printf("DTR released %.1f ms after the exposure's planned end\n",
                (held_span - 4.5) * 1000.0);
    EXPECT_GE(held_span, 4.524);
    EXPECT_LT(held_span, 4.5 + allowed_lateness(stalls, edges[0].ns + 4'500'000'000, edges[1].ns))
        << "within 50 ms of the end";
    // Within a step of the single-precision clock (under 8 ms all day).
    EXPECT_GE(seconds(let_go, edges[2].ns), 3.49) << "the pause is not cut short";
    EXPECT_GE(seconds(edges[2].ns, edges[3].ns), 4.49) << "nor the next exposure";
    w.expect_idle();
    EXPECT_TRUE(w.reports.isEmpty());
}

TEST(WholeRun, APortThatCannotBeOpenedIsReportedAndTheWindowReturnsToIdle) {
    RunWindow w("/tmp/nocturo-no-such-port");
    QTest::mouseClick(w.start(), Qt::LeftButton);
    ASSERT_EQ(w.reports.size(), 1);
    EXPECT_TRUE(w.reports.front().contains(QStringLiteral("Com1 (/tmp/nocturo-no-such-port)")));
    EXPECT_FALSE(w.form->ended());
    w.expect_idle();
}

TEST(WholeRun, ClosingTheWindowDuringAnExposureReleasesTheLineAndEnds) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    QTimer::singleShot(3000, w.form.get(), [&w] { w.form->close(); });
    QTest::mouseClick(w.start(), Qt::LeftButton);

    EXPECT_TRUE(w.form->ended());
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "RTS 1", "RTS 0", "DTR 0", "close"}));
}

struct PullCase {
    const char* name;
    const char* phase; // the pull comes after_ms into the phase Label5 names
    int after_ms;
    bool in_pause;    // the port is closed then, and leaves the system's list
    const char* what; // what the message says of the exposures
};

class PulledAdapter : public testing::TestWithParam<PullCase> {};

TEST_P(PulledAdapter, IsReportedWithinASecondAndTheWindowIsIdleAsAfterARun) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    std::int64_t pulled = 0;
    // Timed from the phase itself, however late an emulator begins it.
    QTimer phase;
    QObject::connect(&phase, &QTimer::timeout, w.form.get(), [&] {
        if (w.text("Label5") == QString::fromLatin1(GetParam().phase)) {
            phase.stop();
            QTimer::singleShot(GetParam().after_ms, w.form.get(), [&] {
                pulled = monotonic_ns();
                GetParam().in_pause ? w.ports->unplug(0) : pty.hang_up();
            });
        }
    });
    phase.start(20);
    QTest::mouseClick(w.start(), Qt::LeftButton);

    ASSERT_EQ(w.reports.size(), 1);
    const double seconds = static_cast<double>(w.reported_ns - pulled) / 1e9;
    std::printf("pull to message: %.3f s\n", seconds);
    // In a pause the device is given a second to come back under a new name.
    EXPECT_LT(seconds, GetParam().in_pause ? 1.5 : 1.0);
    const QString& message = w.reports.front();
    EXPECT_TRUE(message.contains(
        QStringLiteral("Com1 (%1) is no longer there").arg(QString::fromStdString(pty.slave()))))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("unplugged"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromLatin1(GetParam().what))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("START again"))) << message.toStdString();
    EXPECT_FALSE(w.form->ended());
    w.expect_idle();
    EXPECT_EQ(w.text("Label3"), QStringLiteral("Exposures Remaining: 0"));
    EXPECT_EQ(w.text("Label4"), QStringLiteral("Time remaining: 0"));
    EXPECT_EQ(w.text("Label2"), QStringLiteral("Current Exposure Time: 0"));
    const std::vector<ModemEvent> events = log.events(pty.slave());
    EXPECT_EQ(dtr_only(events).front().what, "DTR 1");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const ModemEvent& e) { return e.what == "open"; }),
              1);
}

INSTANTIATE_TEST_SUITE_P(Phases, PulledAdapter,
                         testing::Values(PullCase{"in_an_exposure", " Taking Photo", 1200, false,
                                                  "Exposure 1 of 2 had run 1 second."},
                                         PullCase{"in_a_pause", "      Pause", 700, true,
                                                  "Exposure 2 of 2 was next."},
                                         PullCase{"as_a_pause_ends", "      Pause", 3200, true,
                                                  "Exposure 2 of 2 was next."}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WholeRun, EndOnAPortThatCannotBeReleasedReportsItAndStillEnds) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    // The adapter goes and End is chosen at once, before any pass can see it.
    QTimer::singleShot(3500, w.form.get(), [&w, &pty] {
        pty.hang_up();
        w.form->close();
    });
    QTest::mouseClick(w.start(), Qt::LeftButton);

    EXPECT_TRUE(w.form->ended());
    ASSERT_EQ(w.reports.size(), 1);
    EXPECT_TRUE(w.reports.front().contains(
        QStringLiteral("Com1 (%1)").arg(QString::fromStdString(pty.slave()))))
        << w.reports.front().toStdString();
    EXPECT_TRUE(w.reports.front().endsWith(QStringLiteral("\n\nNocturo will now close.")))
        << "nothing is left to try again: " << w.reports.front().toStdString();
    EXPECT_EQ(w.text("Label5"), QStringLiteral(" Taking Photo")) << "never back to idle";
    EXPECT_FALSE(w.start()->isEnabled());
}

TEST(WholeRun, ClosingTheWindowDuringTheStartDelayEndsWithoutOpeningThePort) {
    ModemLog log;
    Pty pty;
    RunWindow w(pty.slave());
    QTimer::singleShot(300, w.form.get(), [&w] { w.form->close(); });
    QTest::mouseClick(w.start(), Qt::LeftButton);
    EXPECT_TRUE(w.form->ended());
    EXPECT_TRUE(log.events(pty.slave()).empty());
}

// Started under nohup, a hang-up leaves the exposure alone, and SIGTERM in
// the middle of it releases the line before the program ends. Ctrl+Z closes
// the shutter before the program stops, and after fg the cut exposure is
// not taken up again: the run stops.
TEST(WholeProcess, SignalsDuringAnExposureReleaseTheLineBeforeTheProcessStopsOrEnds) {
    ModemLog log;
    Pty ended, stopped;
    const auto hangup = std::signal(SIGHUP, SIG_IGN); // inherited as nohup passes it on
    const pid_t nohup = testing_support::start_job({NOCTURO_ON_PTY, ended.slave()});
    std::signal(SIGHUP, hangup);
    const pid_t job = testing_support::start_job({NOCTURO_ON_PTY, stopped.slave()});
    ASSERT_GT(nohup, 0);
    ASSERT_GT(job, 0);
    const auto asserted = [&log](const Pty& pty) {
        return dtr_only(log.events(pty.slave())).size();
    };
    for (int i = 0; i < 300 && (asserted(ended) == 0 || asserted(stopped) == 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(asserted(ended), 1u) << "the exposure never began";
    ASSERT_EQ(asserted(stopped), 1u) << "the exposure never began";

    ASSERT_EQ(::kill(nohup, SIGHUP), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(::waitpid(nohup, &status, WNOHANG), 0) << "ended by SIGHUP under nohup";
    EXPECT_EQ(asserted(ended), 1u) << "DTR is still held";
    ASSERT_EQ(::kill(nohup, SIGTERM), 0);
    ASSERT_EQ(::waitpid(nohup, &status, 0), nohup);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    ASSERT_EQ(::kill(job, SIGTSTP), 0);
    ASSERT_EQ(::waitpid(job, &status, WUNTRACED), job);
    EXPECT_TRUE(WIFSTOPPED(status)) << status;
    EXPECT_EQ(asserted(stopped), 2u) << "released before it stopped";
    ASSERT_EQ(::kill(job, SIGCONT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(::waitpid(job, &status, WNOHANG), 0) << "ended after SIGCONT";
    EXPECT_EQ(log.events(stopped.slave()).back().what, "close") << "the run stopped";
    ASSERT_EQ(::kill(job, SIGTERM), 0);
    ASSERT_EQ(::waitpid(job, &status, 0), job);

    for (const Pty* pty : {&ended, &stopped}) {
        EXPECT_EQ(whats(log.events(pty->slave())),
                  (std::vector<std::string>{"open", "DTR 1", "RTS 1", "RTS 0", "DTR 0", "close"}));
    }
}

} // namespace
} // namespace nocturo
