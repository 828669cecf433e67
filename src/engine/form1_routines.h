#pragma once

// The routines of the main window: start-up, exit, the plan's click handlers,
// the two timed pauses, one exposure and the whole shooting sequence. They
// take no arguments and return nothing, as the window's event handlers do;
// they talk to the world only through the Controls they were given and keep
// the window's three variables (start2 and the plan) here.

#include "platform/controls.h"
#include "platform/errors.h"
#include "settings/setting_lists.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace nocturo {

class Form1Routines {
public:
    // How long after an exposure's planned end the platform releases its
    // line if the wait has not done so by then: well after the wait's own
    // release, which comes within a millisecond of the end, and within 50 ms
    // of the end even from a timer that fires a few milliseconds late.
    static constexpr double kLateRelease = 0.025;

    explicit Form1Routines(Controls& controls) : c_(controls) {}

    void Form_Load();
    void einde_Click();
    void kiestijd_Click() { Reken_Total_Time(); }
    void Combo1_Click() { Reken_Total_Time(); }
    void Combo2_Click() { Reken_Total_Time(); }
    void Combo3_Click() { Reken_Total_Time(); }
    void Command1_Click();

    // Command1_Click as the window runs it. A run-time error, or anything
    // else thrown, abandons the run: the port is closed (so DTR is
    // released), the window goes back to idle and only then is the error
    // handed to report. ProgramEnd passes through untouched.
    void run_series(const std::function<void(const RunTimeError&)>& report);

    // Closes the port if it is open, whatever fails on the way.
    void release_port() noexcept;

    void Reken_Total_Time() { nocturo::Reken_Total_Time(c_, plan_); }
    void begin_pause();
    void tussen_pause();
    void take_foto();
    // The status lines of the wait under way as they stand now; nothing
    // outside a wait. The pump calls it as the window shows again.
    void show_status();

    float start2() const { return start2_; }
    const RunPlan& plan() const { return plan_; }

private:
    // What show_status needs of the wait under way.
    struct Waiting {
        float t0;
        double bar_scale; // 0 in a pause: Bar1 and Label2 are the exposure's
    };

    void wait(const char* phase, ListControl& length_list, double bound_offset);
    void pass_until(Waiting waiting, double bound, double wake_at,
                    std::span<const double> refreshes);
    // One exposure, from the open to the close.
    void expose();
    void hold_shutter(float t0, std::int16_t length, double end);
    // "Exposure 2 of 5"
    std::string which_exposure(int exposure) const;
    std::string exposure_under_way(float t0);
    // How every run ends, finished or abandoned: the plan recomputed and the
    // window idle.
    void show_idle();
    void abandon_run();

    Controls& c_;
    std::optional<Waiting> waiting_;
    float start2_ = 0.0f;
    RunPlan plan_;
    // Which exposure of how many is being taken; 0 outside a run.
    int exposure_ = 0;
    int exposures_ = 0;
};

// What to tell the user of a failure nobody foresaw.
std::string unexpected_problem(const std::exception_ptr& problem);

} // namespace nocturo
