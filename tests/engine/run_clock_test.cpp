#include "engine/run_clock.h"
#include "fakes/fake_platform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace nocturo {
namespace {

using fakes::FakeBar;
using fakes::FakeClock;
using fakes::FakeLabel;
using fakes::Journal;

struct Elapsed {
    float t0;
    float clock;
    std::int32_t seconds;
};

class FoldedElapsed : public testing::TestWithParam<Elapsed> {};

TEST_P(FoldedElapsed, RoundsHalvesToEvenAndFoldsAtMidnight) {
    Journal journal;
    FakeClock clock(journal);
    clock.set(GetParam().clock);
    EXPECT_EQ(folded_elapsed(clock, GetParam().t0), GetParam().seconds)
        << GetParam().t0 << " -> " << GetParam().clock;
    EXPECT_EQ(journal.size(), 1u) << "one clock reading";
}

INSTANTIATE_TEST_SUITE_P(Table, FoldedElapsed,
                         testing::Values(Elapsed{100.0f, 102.5f, 2}, Elapsed{100.0f, 103.5f, 4},
                                         Elapsed{100.0f, 100.4f, 0}, Elapsed{100.0f, 100.0f, 0},
                                         Elapsed{86399.0f, 1.0f, 2}, Elapsed{86399.5f, 0.7f, 1},
                                         Elapsed{86399.0f, 0.6f, 2}));

struct Remaining {
    float start2;
    std::int16_t totaltime;
    float clock;
    const char* line;
};

class TimeRemaining : public testing::TestWithParam<Remaining> {};

TEST_P(TimeRemaining, CountsDownTheWholeRunInWholeSeconds) {
    Journal journal;
    FakeClock clock(journal);
    FakeLabel label(journal, "Label4");
    clock.set(GetParam().clock);
    show_time_remaining(clock, label, GetParam().start2, GetParam().totaltime);
    EXPECT_EQ(label.caption, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeRemaining,
    testing::Values(Remaining{100.25f, 40, 105.9f, "Time remaining:  35 Seconds"},
                    Remaining{100.0f, 40, 140.0f, "Time remaining:  0 Seconds"},
                    Remaining{100.0f, 40, 142.3f, "Time remaining: -2 Seconds"},
                    // START before midnight, the clock past it: keeps counting.
                    Remaining{86390.5f, 60, 5.2f, "Time remaining:  45 Seconds"},
                    Remaining{86390.5f, 60, 86399.9f, "Time remaining:  51 Seconds"},
                    Remaining{86390.5f, 10, 30.0f, "Time remaining: -30 Seconds"}));

struct Progress {
    float start2;
    double schaal2;
    float clock;
    float value;
};

class RunProgress : public testing::TestWithParam<Progress> {};

TEST_P(RunProgress, FillsTheRunBarInProportionToTheTimeSinceStart) {
    Journal journal;
    FakeClock clock(journal);
    FakeBar bar(journal, "Bar2");
    clock.set(GetParam().clock);
    update_run_progress(clock, bar, GetParam().start2, GetParam().schaal2);
    EXPECT_FLOAT_EQ(bar.value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Table, RunProgress,
                         testing::Values(Progress{100.0f, 0.04, 110.0f, 250.0f},
                                         Progress{100.0f, 0.016, 100.4f, 0.0f},
                                         Progress{100.0f, 0.03, 101.0f, 33.333332f},
                                         Progress{86395.0f, 0.016, 3.0f, 500.0f},
                                         // A plan of no time leaves the bar empty.
                                         Progress{100.0f, 0.0, 110.0f, 0.0f},
                                         Progress{100.0f, -0.01, 110.0f, 0.0f}));

TEST(ExposureSeconds, RoundDownAndKeepCountingPastMidnight) {
    Journal journal;
    FakeClock clock(journal);
    clock.set(112.7f);
    EXPECT_EQ(exposure_seconds(clock, 100.0f), 12.0f);
    clock.set(100.3f);
    EXPECT_EQ(exposure_seconds(clock, 100.0f), 0.0f);
    clock.set(19.5f);
    EXPECT_EQ(exposure_seconds(clock, 86390.0f), 29.0f);
}

} // namespace
} // namespace nocturo
