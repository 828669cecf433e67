#pragma once

#include "platform/controls.h"
#include "platform/os/comm_control.h"
#include "platform/os/steady_clock.h"

#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <span>
#include <utility>

namespace nocturo {

// The one event pump of the program. Each call hands every pending Qt event to
// its handler; then, rather than returning at once and being called again
// straight away, it sleeps until the next event arrives, the caller's wait can
// first end, or something the window shows changes. While nobody can see the
// window it does not wake for what the window shows at all, only for the end
// of the wait and, about once a second, to look at the serial port. A wait
// therefore costs almost no processor time, wakes the computer rarely, and
// still ends within a millisecond or so of its moment.
class QtPump : public EventPump {
public:
    enum class Mode {
        Sleeping, // the program's pump
        Busy,     // returns at once, as a loop with no sleep would; for comparison only
    };

    explicit QtPump(SteadyDayClock& clock, Mode mode = Mode::Sleeping);

    void pump_events(double wake_at, std::span<const double> refresh_origins) override;
    bool window_shown() const override { return shown_; }

    // Whether the window can be seen, as the window learns it. As it shows
    // again, refresh brings what it shows up to date, before it is painted,
    // and the wait under way goes on with a pass of its own.
    void set_shown(bool shown);
    void on_shown(std::function<void()> refresh) { refresh_ = std::move(refresh); }

    // Runs at every pass once the events are handled; what it throws ends
    // the wait that pumped, as a failing handler would. The window watches
    // its serial port here, so a pulled adapter is seen within a second.
    void watch(std::function<void()> check) { watch_ = std::move(check); }

    // Work that may take long, done while a wait has time to spare rather
    // than sleep, in slices of about a millisecond with the events handled
    // between them. It returns true when nothing is left to do.
    void work_while_waiting(std::function<bool(std::chrono::microseconds)> work) {
        work_ = std::move(work);
    }

    // Runs a window event handler. When the handler runs inside pump_events,
    // whatever it throws (ProgramEnd, a run-time error) is held and thrown
    // again by pump_events once Qt has handed control back, so no exception
    // crosses Qt's own frames; the result is then empty. At the outermost
    // level the exception is returned for the window to deal with.
    std::exception_ptr run_handler(const std::function<void()>& handler);

private:
    void hold(std::exception_ptr failure);
    void after_events();

    SteadyDayClock& clock_;
    Mode mode_;
    int depth_ = 0;
    bool shown_ = true;
    std::exception_ptr pending_;
    std::function<void()> watch_;
    std::function<bool(std::chrono::microseconds)> work_;
    std::function<void()> refresh_;
    QTimer wake_;
};

// An alarm on a Qt timer, precise for its last approach. Qt delivers its
// timers inside the system's own modal loops as well (on Windows while a
// window is dragged or its menu is open), where no wait of the program's gets
// to run, and inside any other handler that keeps the window's thread.
class QtAlarm : public Alarm {
public:
    explicit QtAlarm(SteadyDayClock& clock);

    void set(double at, std::function<void()> action) override;
    void cancel() override { timer_.stop(); }

private:
    void arm();

    SteadyDayClock& clock_;
    QTimer timer_;
    double at_ = 0.0;
    std::function<void()> action_;
};

} // namespace nocturo
