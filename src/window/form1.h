#pragma once

// Form1, the program's one window.
//
// How an event flows: Qt delivers a click or a menu choice to one of the
// handlers below (Form_Load, kiestijd_Click, Combo1_Click .. Combo3_Click,
// Command1_Click, einde_Click). Each is a thin entry into Form1Routines,
// which holds the logic and reaches the widgets, the clock and the serial
// port only through the platform interface. A run happens entirely inside
// Command1_Click; its waits call the event pump on every pass, so further
// events (a list click, End, closing the window) are handled nested inside
// the run. Every handler runs through QtPump::run_handler: End and run-time
// errors raised in a nested handler travel back through the pump as
// exceptions, never through Qt's own frames, and reach the outermost handler,
// which ends the program or reports the error.

#include "engine/form1_routines.h"
#include "platform/os/comm_control.h"
#include "platform/os/steady_clock.h"
#include "platform/qt/qt_controls.h"
#include "platform/qt/qt_pump.h"
#include "platform/qt/sleep_inhibitor.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;

namespace nocturo {

class Form1 : public QMainWindow {
public:
    using Reporter = std::function<void(QWidget* window, const QString& message)>;

    struct Options {
        std::unique_ptr<PortSource> ports; // the system's ports when empty
        QtPump::Mode pump = QtPump::Mode::Sleeping;
        Reporter report;                     // a message box when empty
        std::optional<SteadyDayClock> clock; // the system's when empty
        std::optional<ClaimPlaces> claims;   // the system's when empty
    };

    Form1();
    explicit Form1(Options options);
    ~Form1() override;

    void Form_Load();
    void kiestijd_Click();
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Command1_Click();
    void einde_Click();

    bool running() const { return running_; }
    // True once End has been chosen: no handler runs after that.
    bool ended() const { return ended_; }

    // What the selected row of the port list reaches now: the list's
    // tooltip and its accessible description.
    QString port_tooltip();
    // The system's serial ports came or went; the port watch calls it.
    void ports_changed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Widgets;
    struct Adapters;

    void build_layout();
    void wire_events();
    void wire_picks(QComboBox* combo, std::function<void()> picked);
    void pick_port();
    void end_run();
    // The device the next exposure is to open, when a run waits and it is
    // gone or cannot be told from a look-alike, stops the run.
    void stop_if_lost_while_waiting();
    int port_row() const; // the selected row of the port list: 1 for "Com1"
    void on_event(const std::function<void()>& handler);
    void handle_outer_failure(const std::exception_ptr& failure);
    void report(const QString& message);
    void describe_port();
    void note_visibility();

    std::unique_ptr<Widgets> w_;
    std::unique_ptr<PortSource> ports_;
    PortDirectory directory_;
    SteadyDayClock clock_;
    QtPump pump_;
    QtAlarm alarm_;
    CommControl comm_;
    SleepInhibitor inhibitor_;
    std::unique_ptr<Adapters> a_;
    std::unique_ptr<Form1Routines> routines_;
    Reporter report_;
    QTimer loss_grace_; // a second for a device that left to come back
    bool running_ = false;
    bool ended_ = false;
};

} // namespace nocturo
