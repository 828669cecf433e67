#include "platform/os/steady_clock.h"

#include <gtest/gtest.h>

namespace nocturo {
namespace {

struct Sources {
    double wall = 0.0;
    double monotonic = 5000.0;
    SteadyDayClock clock() {
        return SteadyDayClock([this] { return wall; }, [this] { return monotonic; });
    }
};

TEST(SteadyDayClock, AdvancesWithTheMonotonicClockFromTheTimeOfDayAtStart) {
    Sources s;
    s.wall = 3600.0;
    SteadyDayClock clock = s.clock();
    EXPECT_FLOAT_EQ(clock.timer(), 3600.0f);
    s.monotonic += 10.5;
    EXPECT_FLOAT_EQ(clock.timer(), 3610.5f);
}

TEST(SteadyDayClock, IgnoresDaylightSavingChangesAndSystemTimeSteps) {
    Sources s;
    s.wall = 2 * 3600.0 - 1.0; // one second before the clocks go forward
    SteadyDayClock clock = s.clock();
    s.wall += 3600.0 + 2.0; // the wall clock jumps an hour
    s.monotonic += 2.0;
    EXPECT_FLOAT_EQ(clock.timer(), 7201.0f);
    s.wall -= 3600.0 * 5; // someone sets the time back
    s.monotonic += 1.0;
    EXPECT_FLOAT_EQ(clock.timer(), 7202.0f);
}

TEST(SteadyDayClock, FoldsAtMidnightAndNeverReads86400) {
    Sources s;
    s.wall = 86399.5;
    SteadyDayClock clock = s.clock();
    s.monotonic += 1.0;
    EXPECT_FLOAT_EQ(clock.timer(), 0.5f);

    s.wall = 86399.999;
    SteadyDayClock late = s.clock();
    EXPECT_EQ(late.timer(), 0.0f) << "86399.999 rounds to 86400 in single precision";
    EXPECT_NEAR(late.now(), 86399.999, 1e-9);
}

TEST(SteadyDayClock, TheSystemClockStartsAtTheLocalTimeOfDay) {
    const double before = local_seconds_since_midnight();
    SteadyDayClock clock = SteadyDayClock::system();
    const double reading = clock.now();
    EXPECT_GE(reading, 0.0);
    EXPECT_LT(reading, 86400.0);
    if (before < 86390.0) {
        EXPECT_NEAR(reading, before, 1.0);
    }
}

} // namespace
} // namespace nocturo
