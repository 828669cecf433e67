#include "engine/form1_routines.h"

#include "engine/run_clock.h"
#include "platform/numbers.h"

#include <cmath>

namespace nocturo {

void Form1Routines::Form_Load() {
    c_.Bar1.set_visible(false);
    fill_lists(c_);
    select_defaults(c_);
    c_.Bar2.set_min(0.0f);
    c_.Bar2.set_max(1000.0f);
    Reken_Total_Time();
}

void Form1Routines::einde_Click() {
    if (c_.MSComm1.port_open()) {
        try {
            c_.MSComm1.set_port_open(false);
        } catch (RunTimeError& error) {
            // The window is not hidden; the error is shown and the program
            // ends all the same, so there is nothing left to try again.
            error.set_advice("Nocturo will now close.");
            throw ProgramEnd{error.what()};
        }
    }
    c_.app.hide_window();
    c_.app.end_program();
}

void Form1Routines::show_status() {
    if (!waiting_) {
        return;
    }
    const float t0 = waiting_->t0;
    if (waiting_->bar_scale == 0.0) {
        show_time_remaining(c_.clock, c_.Label4, start2_, plan_.totaltime);
        update_run_progress(c_.clock, c_.Bar2, start2_, plan_.schaal2);
        return;
    }
    c_.Bar1.set_value(static_cast<float>(folded_elapsed(c_.clock, t0) / waiting_->bar_scale));
    update_run_progress(c_.clock, c_.Bar2, start2_, plan_.schaal2);
    const float current = exposure_seconds(c_.clock, t0);
    show_time_remaining(c_.clock, c_.Label4, start2_, plan_.totaltime);
    c_.Label2.set_caption("Current Exposure Time: " +
                          str_number(static_cast<std::int64_t>(current)));
}

// The passes of a wait: the events, the status lines where they can be
// seen, and the end test against the whole seconds since t0.
void Form1Routines::pass_until(Waiting waiting, double bound, double wake_at,
                               std::span<const double> refreshes) {
    waiting_ = waiting;
    struct Over {
        std::optional<Waiting>& waiting;
        ~Over() { waiting.reset(); }
    } over{waiting_};
    for (;;) {
        c_.pump.pump_events(wake_at, refreshes);
        if (c_.pump.window_shown()) {
            show_status();
        }
        if (folded_elapsed(c_.clock, waiting.t0) >= bound) {
            return;
        }
    }
}

// begin_pause and tussen_pause share one loop. The end test compares the
// whole seconds since t0 with length + bound_offset: the pause between
// exposures compares with length + 0.5, so it only ends once a whole second
// more has been counted.
void Form1Routines::wait(const char* phase, ListControl& length_list, double bound_offset) {
    c_.Label5.set_caption(phase);
    const std::int16_t length = one_based(length_list.list_index());
    const float t0 = c_.clock.timer();
    const double bound = length + bound_offset;
    // The count first reaches the bound once the reading lies half a second
    // short of the next whole number at or above it.
    const double wake_at = double{t0} + std::ceil(bound) - 0.5;
    // The time remaining counts the clock's whole seconds, the run bar the
    // rounded seconds since START.
    const double refreshes[] = {0.0, double{start2_} + 0.5};
    try {
        pass_until({t0, 0.0}, bound, wake_at, refreshes);
    } catch (RunTimeError& error) {
        if (error.kind() == ErrorKind::Port) { // the port was lost while it waited
            error.add_context((exposure_ < 1 ? std::string("The first exposure")
                                             : which_exposure(exposure_ + 1)) +
                              " was next.");
        }
        throw;
    }
}

void Form1Routines::begin_pause() {
    wait("LeadIn Pause", c_.Combo1, 0.0);
}

void Form1Routines::tussen_pause() {
    wait("      Pause", c_.Combo3, 0.5);
}

void Form1Routines::take_foto() {
    try {
        expose();
    } catch (const ExposureCut& cut) {
        throw ExposureCut(which_exposure(exposure_), cut.seconds());
    }
}

void Form1Routines::expose() {
    if (c_.MSComm1.port_open()) {
        return;
    }
    c_.Label5.set_caption(" Taking Photo");
    const std::int16_t port = one_based(c_.cboPort.list_index());
    const std::int16_t length = exposure_length(c_.kiestijd.list_index());
    if (port < 1 || length < 1) {
        // Only a list without a selected row gives these: there is no port to
        // open and nothing to time, so the shutter is left alone.
        return;
    }

    c_.MSComm1.set_comm_port(port);
    c_.MSComm1.set_settings("9600,N,8,1");
    try {
        c_.MSComm1.set_port_open(true);
    } catch (RunTimeError& error) {
        if (error.kind() == ErrorKind::Port && exposure_ > 0) {
            error.add_context(which_exposure(exposure_) + " was next.");
        }
        throw;
    }
    c_.MSComm1.set_dtr_enable(true);

    c_.Bar1.set_min(0.0f);
    c_.Bar1.set_max(1000.0f);
    c_.Bar1.set_value(c_.Bar1.min());
    c_.Bar1.set_property7(1);

    const float t0 = c_.clock.timer();
    // The wait below ends the exposure at the first reading past this one.
    // Should the window's thread be held elsewhere then (on Windows while
    // the window is dragged or its menu is open), the line is released
    // shortly after all the same.
    const double end = double{t0} + length - 0.5;
    c_.MSComm1.release_dtr_at(end + kLateRelease);
    try {
        hold_shutter(t0, length, end);
    } catch (RunTimeError& error) {
        if (error.kind() == ErrorKind::Port) {
            error.add_context(exposure_under_way(t0));
        }
        throw;
    }
    c_.Bar1.set_value(0.0f);
}

void Form1Routines::hold_shutter(float t0, std::int16_t length, double end) {
    // Besides the time remaining and the run bar, the exposure's own line
    // counts whole seconds since t0 and its bar rounded ones.
    const double refreshes[] = {0.0, double{start2_} + 0.5, double{t0}, double{t0} + 0.5};
    pass_until({t0, length / 1000.0}, length, end, refreshes);

    // The shutter closes before the window is written to.
    c_.MSComm1.set_dtr_enable(false);
    c_.MSComm1.set_port_open(false);
    c_.Label2.set_caption("Current Exposure Time: 0");
}

std::string Form1Routines::which_exposure(int exposure) const {
    if (exposure < 1) {
        return "The exposure";
    }
    return "Exposure " + std::to_string(exposure) + " of " + std::to_string(exposures_);
}

std::string Form1Routines::exposure_under_way(float t0) {
    const std::string seconds = std::to_string(static_cast<int>(exposure_seconds(c_.clock, t0)));
    return which_exposure(exposure_) + " had run " + seconds +
           (seconds == "1" ? " second." : " seconds.");
}

void Form1Routines::Command1_Click() {
    c_.Command1.set_enabled(false);
    start2_ = c_.clock.timer();
    c_.Bar1.set_visible(true);
    Reken_Total_Time();
    c_.Label3.set_caption("Exposures Remaining: " + str_number(one_based(c_.Combo2.list_index())));
    begin_pause();

    // The count of exposures is fixed once the start delay is over; later
    // changes of the list only change the numbers shown.
    const std::int16_t m = c_.Combo2.list_index();
    exposures_ = m < 0 ? 1 : m + 1;
    for (std::int16_t i = 1; i <= m; i = add16(i, 1)) {
        c_.Label3.set_caption("Exposures Remaining: " +
                              str_number(add16(sub16(c_.Combo2.list_index(), i), 1)));
        exposure_ = i;
        take_foto();
        tussen_pause();
    }
    c_.Label3.set_caption("Exposures Remaining: 0");
    exposure_ = exposures_;
    take_foto();

    show_idle();
}

void Form1Routines::show_idle() {
    exposure_ = 0;
    Reken_Total_Time();
    c_.Label4.set_caption("Time remaining: 0");
    c_.Bar1.set_visible(false);
    c_.Bar2.set_value(0.0f);
    c_.Label5.set_caption("         Idle");
    c_.Command1.set_enabled(true);
}

void Form1Routines::release_port() noexcept {
    try {
        if (c_.MSComm1.port_open()) {
            c_.MSComm1.set_port_open(false);
        }
    } catch (const RunTimeError&) {
        // The control drops DTR and lets go of the port before it reports a
        // failing close; there is nothing more to do here.
    }
}

void Form1Routines::run_series(const std::function<void(const RunTimeError&)>& report) {
    try {
        Command1_Click();
        return;
    } catch (const ProgramEnd&) {
        throw;
    } catch (const RunTimeError& error) {
        abandon_run();
        report(error);
        return;
    } catch (...) {
        // Nothing the run can meet should come here, but a run that ends
        // this way still leaves the window able to start the next.
        abandon_run();
        report(RunTimeError(ErrorKind::Control, unexpected_problem(std::current_exception())));
    }
}

void Form1Routines::abandon_run() {
    release_port();
    // What the last exposure of a finished run leaves behind, then the
    // same idle state.
    c_.Label2.set_caption("Current Exposure Time: 0");
    c_.Bar1.set_value(0.0f);
    c_.Label3.set_caption("Exposures Remaining: 0");
    show_idle();
}

std::string unexpected_problem(const std::exception_ptr& problem) {
    std::string what;
    try {
        std::rethrow_exception(problem);
    } catch (const std::exception& e) {
        what = std::string(" (") + e.what() + ")";
    } catch (...) {
    }
    return "Nocturo met a problem it did not expect" + what +
           ". The run was stopped and the shutter line released.\n\nPress START to begin again.";
}

} // namespace nocturo
