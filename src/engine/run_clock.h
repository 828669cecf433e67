#pragma once

// The three computations every pass of a wait repeats, each with its own
// clock reading: whole seconds since the wait began, the time-remaining line
// and the run bar.

#include "platform/controls.h"

#include <cstdint>

namespace nocturo {

// Seconds from t0 to a fresh clock reading, rounded to the nearest whole
// second with halves to even, folded at midnight: 0..86399.
std::int32_t folded_elapsed(Clock& clock, float t0);

// Writes "Time remaining: N Seconds" to label: the planned end of the run
// (start2 + totaltime) less the whole seconds of a fresh clock reading.
// Keeps counting when the clock has passed midnight since start2.
void show_time_remaining(Clock& clock, Label& label, float start2, std::int16_t totaltime);

// Writes the seconds since start2 (folded at midnight) divided by schaal2 to
// bar. A plan of zero or fewer seconds leaves the bar empty.
void update_run_progress(Clock& clock, ProgressBar& bar, float start2, double schaal2);

// Whole seconds from t0 to a fresh clock reading, rounded down, folded at
// midnight.
float exposure_seconds(Clock& clock, float t0);

} // namespace nocturo
