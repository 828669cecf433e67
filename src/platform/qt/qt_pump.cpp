#include "platform/qt/qt_pump.h"

#include "platform/errors.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <utility>

namespace nocturo {
namespace {

bool is_end(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ProgramEnd&) {
        return true;
    } catch (...) {
        return false;
    }
}

constexpr double kSpinSeconds = 0.0015;
// Work is done in slices this long, while a wait has more than this left.
constexpr std::chrono::microseconds kWorkSlice{1000};
constexpr double kWorkSpareSeconds = 0.004;
// The last approach to a wait's end, or to the alarm, on a precise timer.
constexpr int kFinalApproachMs = 50;
// A coarse timer may come 5 % early or late; below 20 s Qt keeps it coarse.
constexpr int kLongestCoarseMs = 19000;
// While the window is hidden the serial port is still looked at this often.
constexpr int kHiddenWatchMs = 1000;
// Values that change within this much of one another are shown together, a
// little late: the 40 ms the window's refreshes always allowed themselves.
constexpr double kRefreshTogether = 0.04;

#ifdef _WIN32
// On Windows a precise timer holds the whole system's timer at a
// millisecond for as long as it runs, which keeps a laptop's processor out
// of its deep idle states.
constexpr bool kPreciseIsFree = false;
#else
constexpr bool kPreciseIsFree = true;
#endif

// Seconds from now until wake_at on a clock that folds at midnight.
double seconds_until(double wake_at, double now) {
    double remaining = std::fmod(wake_at - now, 86400.0);
    if (remaining > 43200.0) {
        remaining -= 86400.0;
    } else if (remaining <= -43200.0) {
        remaining += 86400.0;
    }
    return remaining;
}

// How late a refresh's timer of ms may come: a coarse one by 5 % and a
// tick of the system's timer.
int latest_ms(int ms) {
    return kPreciseIsFree ? 0 : ms / 20 + 16;
}

// Starts timer to wake by ms from now: precise for the last approach, and
// wherever that costs nothing; otherwise coarse, and short enough that even
// 5 % and a timer tick late it leaves time for the last approach.
void start_towards(QTimer& timer, int ms) {
    if (kPreciseIsFree || ms <= kFinalApproachMs) {
        timer.setTimerType(Qt::PreciseTimer);
        timer.start(std::max(0, ms));
        return;
    }
    timer.setTimerType(Qt::CoarseTimer);
    timer.start(std::min((ms - kFinalApproachMs) * 20 / 21, kLongestCoarseMs));
}

// Seconds from now until what the window shows next changes: a reading
// passing origin + k for a whole k; values due close together come together.
double seconds_until_refresh(std::span<const double> origins, double now) {
    const auto due = [now](double origin) {
        const double since = now - origin;
        return std::floor(since) + 1.0 - since;
    };
    double first = 1.0;
    for (const double origin : origins) {
        first = std::min(first, due(origin));
    }
    double together = first;
    for (const double origin : origins) {
        if (due(origin) <= first + kRefreshTogether) {
            together = std::max(together, due(origin));
        }
    }
    return together;
}

} // namespace

QtPump::QtPump(SteadyDayClock& clock, Mode mode) : clock_(clock), mode_(mode) {
    wake_.setSingleShot(true);
}

void QtPump::pump_events(double wake_at, std::span<const double> refresh_origins) {
    ++depth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth_};

    // The clock is read in single precision, so a reading reaches wake_at
    // as soon as the time is past the midpoint below it.
    const float target = static_cast<float>(std::fmod(wake_at, 86400.0));
    const double half_step = (double{target} - double{std::nextafter(target, 0.0f)}) / 2.0;
    for (;;) {
        const double now = clock_.now();
        const double remaining = seconds_until(wake_at, now) - half_step;
        const bool working = remaining > kWorkSpareSeconds && work_ && !work_(kWorkSlice);
        if (mode_ == Mode::Busy || remaining < kSpinSeconds || working) {
            // The wait may end within the next timer tick: look at the events
            // and go on, so the end is seen the moment it comes.
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            after_events();
            return;
        }
        // Timers run in whole milliseconds and wake a little late; waking a
        // tick early and passing quickly through the last one ends the wait
        // on time for the cost of about a millisecond of processor time.
        const int until_end_ms =
            static_cast<int>(std::floor((remaining - kSpinSeconds) * 1000.0)) + 1;
        if (!shown_) {
            start_towards(wake_, std::min(until_end_ms, kHiddenWatchMs));
        } else if (const int refresh_ms =
                       static_cast<int>(
                           std::ceil(seconds_until_refresh(refresh_origins, now) * 1000.0)) +
                       1;
                   refresh_ms + latest_ms(refresh_ms) + kFinalApproachMs < until_end_ms) {
            // A value shown a few milliseconds late is no matter, and a
            // coarse timer on Windows is only ever late: not so late,
            // though, that it passes the last approach to the end.
            wake_.setTimerType(kPreciseIsFree ? Qt::PreciseTimer : Qt::CoarseTimer);
            wake_.start(refresh_ms);
        } else {
            start_towards(wake_, until_end_ms);
        }
        const bool was_shown = shown_;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake_.stop();
        after_events();
        // Hidden, only the end of the wait, an error or the window showing
        // again is reason to go back to it.
        if (was_shown || shown_) {
            return;
        }
    }
}

void QtPump::after_events() {
    if (pending_) {
        std::exception_ptr failure = std::exchange(pending_, nullptr);
        std::rethrow_exception(failure);
    }
    if (watch_) {
        watch_();
    }
}

void QtPump::set_shown(bool shown) {
    const bool again = shown && !shown_;
    shown_ = shown;
    if (again && refresh_) {
        refresh_();
    }
}

std::exception_ptr QtPump::run_handler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        if (depth_ == 0) {
            return std::current_exception();
        }
        hold(std::current_exception());
    }
    return nullptr;
}

void QtPump::hold(std::exception_ptr failure) {
    // End wins over any error held before it: the program is to stop.
    if (!pending_ || is_end(failure)) {
        pending_ = std::move(failure);
    }
}

QtAlarm::QtAlarm(SteadyDayClock& clock) : clock_(clock) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (seconds_until(at_, clock_.now()) > 0.0) {
            arm(); // a coarse timer's stage on the way
        } else {
            action_();
        }
    });
}

void QtAlarm::set(double at, std::function<void()> action) {
    at_ = at;
    action_ = std::move(action);
    arm();
}

void QtAlarm::arm() {
    start_towards(timer_, static_cast<int>(std::ceil(seconds_until(at_, clock_.now()) * 1000.0)));
}

} // namespace nocturo
