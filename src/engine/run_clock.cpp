#include "engine/run_clock.h"

#include "platform/numbers.h"

#include <cmath>

namespace nocturo {
namespace {

constexpr float kDay = 86400.0f;
constexpr std::int32_t kDaySeconds = 86400;

// A remainder that stays non-negative: the sums below are offset by a whole
// day so the dividend is positive for any reading taken within a day of the
// start.
std::int32_t fold(std::int32_t seconds) {
    const std::int32_t r = seconds % kDaySeconds;
    return r < 0 ? r + kDaySeconds : r;
}

} // namespace

std::int32_t folded_elapsed(Clock& clock, float t0) {
    const double clock_now = clock.timer();
    return fold(round_half_even(checked(clock_now + 86400.0 - double{t0})));
}

void show_time_remaining(Clock& clock, Label& label, float start2, std::int16_t totaltime) {
    const float now = clock.timer();
    float whole = std::floor(now);
    if (now < start2) {
        // The clock has passed midnight since START.
        whole += kDay;
    }
    const float planned_end = start2 + static_cast<float>(totaltime);
    const float remaining = static_cast<float>(checked(planned_end - whole));
    label.set_caption("Time remaining: " + str_number(round_down(remaining)) + " Seconds");
}

void update_run_progress(Clock& clock, ProgressBar& bar, float start2, double schaal2) {
    const float shifted = clock.timer() + kDay;
    const float since_start = static_cast<float>(checked(shifted - start2));
    const std::int32_t seconds = fold(round_half_even(since_start));
    if (!(schaal2 > 0.0)) {
        bar.set_value(0.0f);
        return;
    }
    bar.set_value(static_cast<float>(checked(seconds / schaal2)));
}

float exposure_seconds(Clock& clock, float t0) {
    float since = clock.timer() - t0;
    if (since < 0.0f) {
        since += kDay;
    }
    return static_cast<float>(round_down(since));
}

} // namespace nocturo
