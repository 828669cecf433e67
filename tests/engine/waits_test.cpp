#include "fakes/fake_platform.h"

#include <gtest/gtest.h>

namespace nocturo {
namespace {

using fakes::FakeWindow;

enum class Routine { LeadIn, Between };

struct WaitCase {
    const char* name;
    Routine routine;
    std::int16_t length;
    float t0;
    std::vector<float> end_test_readings; // one per pass
};

class WaitEnd : public testing::TestWithParam<WaitCase> {};

// The wait must end exactly at the last scripted reading: one reading more
// would run out of script, one fewer pass would leave readings unused.
TEST_P(WaitEnd, EndsAtTheFirstPassWhoseRoundedCountReachesTheBound) {
    const WaitCase& c = GetParam();
    FakeWindow w;
    w.load();
    (c.routine == Routine::LeadIn ? w.Combo1 : w.Combo3).index =
        static_cast<std::int16_t>(c.length - 1);
    w.clock.set(c.t0);
    w.pump.times = c.end_test_readings;

    if (c.routine == Routine::LeadIn) {
        w.form.begin_pause();
    } else {
        w.form.tussen_pause();
    }
    EXPECT_EQ(w.pump.passes, static_cast<int>(c.end_test_readings.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaitEnd,
    testing::Values(
        WaitCase{"lead_in_1_half_rounds_down", Routine::LeadIn, 1, 100.0f, {100.5f, 100.6f}},
        WaitCase{"lead_in_2_half_rounds_up", Routine::LeadIn, 2, 100.0f, {101.4f, 101.5f}},
        WaitCase{"lead_in_first_pass_with_no_time",
                 Routine::LeadIn,
                 3,
                 100.0f,
                 {100.0f, 101.0f, 102.0f, 102.5f, 102.5001f}},
        WaitCase{"between_1", Routine::Between, 1, 100.0f, {101.4f, 101.5f}},
        WaitCase{"between_2_half_rounds_down", Routine::Between, 2, 100.0f, {102.5f, 102.6f}},
        WaitCase{"between_across_midnight", Routine::Between, 1, 86399.0f, {0.4f, 0.6f}},
        WaitCase{"lead_in_across_midnight", Routine::LeadIn, 1, 86399.5f, {86399.9f, 0.1f}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Waits, EachPassPumpsThenShowsTimeAndProgressThenTestsWithItsOwnReadings) {
    FakeWindow w;
    w.load();
    w.clock.set(100.0f);
    w.pump.times = {101.0f, 103.0f};
    w.form.begin_pause();

    // start2 is 0 before the first START, so the lines count from midnight.
    const std::vector<std::string> expected = {"Label5=LeadIn Pause",
                                               "Timer",
                                               "Pump",
                                               "Timer",
                                               "Label4=Time remaining: -85 Seconds",
                                               "Timer",
                                               "Bar2.Value=6312.5",
                                               "Timer",
                                               "Pump",
                                               "Timer",
                                               "Label4=Time remaining: -87 Seconds",
                                               "Timer",
                                               "Bar2.Value=6437.5",
                                               "Timer"};
    EXPECT_EQ(w.journal, expected);
}

TEST(Waits, PhaseTextsAreWrittenExactly) {
    FakeWindow w;
    w.load();
    w.form.begin_pause();
    EXPECT_EQ(w.Label5.history.front(), "LeadIn Pause");
    w.form.tussen_pause();
    EXPECT_EQ(w.Label5.caption, "      Pause");
}

TEST(Waits, TellThePumpWhenTheirEndTestCanFirstBeMet) {
    FakeWindow w;
    w.load();
    w.clock.set(200.0f);
    w.form.begin_pause(); // 3 s: the count reaches 3 at 202.5
    EXPECT_DOUBLE_EQ(w.pump.wake_ats.front(), 202.5);

    w.pump.wake_ats.clear();
    w.clock.set(300.0f);
    w.form.tussen_pause(); // 3 s: the count must reach 4, at 303.5
    EXPECT_DOUBLE_EQ(w.pump.wake_ats.front(), 303.5);
}

TEST(Waits, PauseBetweenExposuresEndsOneSecondLaterThanStartDelay) {
    FakeWindow w;
    w.load();
    w.pump.step = 0.01;
    w.clock.set(100.0f);
    w.form.begin_pause();
    const float lead_in_end = w.clock.now();
    w.clock.set(100.0f);
    w.form.tussen_pause();
    EXPECT_NEAR(w.clock.now() - lead_in_end, 1.0f, 0.011f);
}

TEST(Waits, AListClickInsideThePumpChangesTheLineAndBarInThatSamePass) {
    FakeWindow w;
    w.load();
    w.clock.set(0.0f);
    w.pump.times = {1.0f, 2.0f, 3.0f};
    w.pump.actions[2] = [&w] {
        w.Combo2.index = 0; // "1 x": plan 5 + 0 + 3 = 8
        w.form.Combo2_Click();
    };
    w.form.begin_pause();

    EXPECT_EQ(w.Label4.history.at(0), "Time remaining:  15 Seconds");
    EXPECT_EQ(w.Label4.history.at(1), "Time remaining:  6 Seconds");
    EXPECT_FLOAT_EQ(w.Bar2.values.at(0), 62.5f);
    EXPECT_FLOAT_EQ(w.Bar2.values.at(1), 250.0f);
}

TEST(Waits, ALengthChangedDuringAPauseAppliesFromTheNextPause) {
    FakeWindow w;
    w.load();
    w.pump.step = 0.5;
    w.clock.set(100.0f);
    w.pump.actions[1] = [&w] { w.Combo3.index = 9; };
    w.form.tussen_pause();
    EXPECT_EQ(w.pump.passes, 7) << "3 s pause: ends at a count of 4, at 103.5";
    w.pump.passes = 0;
    w.pump.actions.clear();
    w.form.tussen_pause();
    EXPECT_EQ(w.pump.passes, 22) << "10 s pause: ends at a count of 11, 11 s on";
}

TEST(Waits, EndInsideThePumpStopsTheWaitAtOnce) {
    FakeWindow w;
    w.load();
    w.pump.actions[3] = [&w] { w.form.einde_Click(); };
    EXPECT_THROW(w.form.begin_pause(), ProgramEnd);
    EXPECT_EQ(w.journal.back(), "End");
    EXPECT_TRUE(w.app.hidden);
    EXPECT_EQ(w.pump.passes, 3);
}

} // namespace
} // namespace nocturo
