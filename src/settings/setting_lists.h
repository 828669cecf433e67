#pragma once

// The five setting lists, their rows and defaults, what a selected row means,
// and the run plan computed from them.

#include "platform/controls.h"

#include <cstdint>
#include <string>

namespace nocturo {

struct ListRows {
    const char* prefix; // before the number ("Com")
    const char* suffix; // after it (" Sec.", " x")
    std::int16_t step;  // the number of row k is step * k
    std::int16_t rows;
    std::int16_t default_index;
};

inline constexpr ListRows kPortRows{"Com", "", 1, 16, 0};
inline constexpr ListRows kExposureRows{"", " Sec.", 5, 60, 0};
inline constexpr ListRows kStartDelayRows{"", " Sec.", 1, 10, 2};
inline constexpr ListRows kExposureCountRows{"", " x", 1, 25, 1};
inline constexpr ListRows kPauseRows{"", " Sec.", 1, 15, 2};

// Text of row k (1 for the first row).
std::string row_text(const ListRows& list, std::int16_t k);

// Appends every row to each list, then selects the defaults, both in the
// order cboPort, kiestijd, Combo1, Combo2, Combo3.
void fill_lists(Controls& c);
void select_defaults(Controls& c);

// The value of a selected row, all in 16-bit arithmetic: ListIndex + 1, and
// for the exposure time (ListIndex + 1) * 5.
std::int16_t one_based(std::int16_t list_index);
std::int16_t exposure_length(std::int16_t list_index);

// The planned length of a whole run and the run bar's seconds per step.
struct RunPlan {
    std::int16_t totaltime = 0;
    double schaal2 = 0.0;
};

// Recomputes the plan from the lists as they stand and shows it in Label1.
// An overflow raises before anything is written.
void Reken_Total_Time(Controls& c, RunPlan& plan);

} // namespace nocturo
