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
// How late a coarse timer may fire at most: 5 % of a refresh is what Qt
// allows itself, so this leaves room to spare.
constexpr int kCoarseSlackMs = 20;

#ifdef _WIN32
// On Windows every sleep is precise. With coarse timers between the
// refreshes, the end of a wait under Wine came 10 to 15 ms late in about one
// wait of six; with precise ones it never did.
constexpr bool kCoarseRefreshes = false;
#else
constexpr bool kCoarseRefreshes = true;
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

} // namespace

QtPump::QtPump(SteadyDayClock& clock, Mode mode) : clock_(clock), mode_(mode) {
    wake_.setSingleShot(true);
}

void QtPump::pump_events(double wake_at) {
    ++depth_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth_};

    // The clock is read in single precision, so a reading reaches wake_at
    // as soon as the time is past the midpoint below it.
    const float target = static_cast<float>(std::fmod(wake_at, 86400.0));
    const double half_step = (double{target} - double{std::nextafter(target, 0.0f)}) / 2.0;
    const double remaining = seconds_until(wake_at, clock_.now()) - half_step;
    if (mode_ == Mode::Busy || remaining < kSpinSeconds) {
        // The wait may end within the next timer tick: look at the events
        // and go on, so the end is seen the moment it comes.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        // Timers run in whole milliseconds and wake a little late; waking a
        // tick early and passing quickly through the last one ends the wait
        // on time for the cost of about a millisecond of processor time.
        const int until_end_ms =
            static_cast<int>(std::floor((remaining - kSpinSeconds) * 1000.0)) + 1;
        // A refresh far from the end may come a little late: a coarse timer
        // lets the system bundle its wake-ups. Only the last approach needs a
        // precise one.
        const bool far = until_end_ms > kRefreshMs + kCoarseSlackMs;
        wake_.setTimerType(kCoarseRefreshes && far ? Qt::CoarseTimer : Qt::PreciseTimer);
        wake_.start(std::min(kRefreshMs, until_end_ms));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake_.stop();
    }

    if (pending_) {
        std::exception_ptr failure = std::exchange(pending_, nullptr);
        std::rethrow_exception(failure);
    }
    if (watch_) {
        watch_();
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
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { action_(); });
}

void QtAlarm::set(double at, std::function<void()> action) {
    action_ = std::move(action);
    const double ms = std::ceil(seconds_until(at, clock_.now()) * 1000.0);
    timer_.start(static_cast<int>(std::max(0.0, ms)));
}

} // namespace nocturo
