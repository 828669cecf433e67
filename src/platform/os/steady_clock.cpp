#include "platform/os/steady_clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <utility>

namespace nocturo {

SteadyDayClock::SteadyDayClock(Source wall, Source monotonic)
    : monotonic_(std::move(monotonic)), day_offset_(0.0), monotonic_origin_(monotonic_()) {
    day_offset_ = wall();
}

SteadyDayClock SteadyDayClock::system() {
    // Through lambdas, not references to the functions: on 32-bit ARM a
    // function's address carries the Thumb bit, which the undefined
    // behaviour sanitizer takes for a misaligned reference.
    return SteadyDayClock([] { return local_seconds_since_midnight(); },
                          [] { return monotonic_seconds(); });
}

double SteadyDayClock::now() {
    const double seconds = std::fmod(day_offset_ + (monotonic_() - monotonic_origin_), 86400.0);
    return seconds < 0.0 ? seconds + 86400.0 : seconds;
}

float SteadyDayClock::timer() {
    const float reading = static_cast<float>(now());
    // A reading a hair before midnight rounds up to 86400 as a single.
    return reading >= 86400.0f ? 0.0f : reading;
}

double local_seconds_since_midnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &whole);
#else
    localtime_r(&whole, &local);
#endif
    const auto fraction = now - std::chrono::system_clock::from_time_t(whole);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
           std::chrono::duration<double>(fraction).count();
}

double monotonic_seconds() {
#ifdef __linux__
    // Boot time keeps counting through a suspend, so the time of day stays
    // right even if the machine slept.
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

} // namespace nocturo
