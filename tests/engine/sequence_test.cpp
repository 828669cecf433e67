#include "fakes/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

namespace nocturo {
namespace {

using fakes::FakeWindow;

std::size_t exposures(const FakeWindow& w) {
    return w.entries("MSComm1.PortOpen=True").size();
}

struct CountCase {
    const char* name;
    std::int16_t combo2;
    std::vector<std::string> label3;
};

std::vector<std::string> countdown(int from) {
    std::vector<std::string> lines;
    for (int n = from; n >= 1; --n) {
        lines.push_back("Exposures Remaining:  " + std::to_string(n));
    }
    lines.push_back("Exposures Remaining: 0");
    return lines;
}

class ExposuresRemaining : public testing::TestWithParam<CountCase> {};

TEST_P(ExposuresRemaining, CountsDownTheExposuresStillToCome) {
    FakeWindow w;
    w.load();
    w.Combo2.index = GetParam().combo2;
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });
    EXPECT_EQ(w.Label3.history, GetParam().label3);
    EXPECT_EQ(exposures(w), static_cast<std::size_t>(GetParam().combo2 + 1));
    EXPECT_EQ(w.entries("Label5=      Pause").size(), static_cast<std::size_t>(GetParam().combo2));
}

INSTANTIATE_TEST_SUITE_P(Table, ExposuresRemaining,
                         testing::Values(CountCase{"defaults", 1, countdown(2)},
                                         CountCase{"one", 0, countdown(1)},
                                         CountCase{"twenty_five", 24, countdown(25)}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Sequence, StartsAndEndsInTheGivenOrderAndLeavesTheWindowIdle) {
    FakeWindow w;
    w.load();
    w.clock.set(1000.0f);
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });

    const std::vector<std::string> opening(w.journal.begin(), w.journal.begin() + 6);
    EXPECT_EQ(opening,
              (std::vector<std::string>{"Command1.Enabled=False", "Timer", "Bar1.Visible=True",
                                        "Label1=Total Time:  16 Seconds",
                                        "Label3=Exposures Remaining:  2", "Label5=LeadIn Pause"}));
    EXPECT_FLOAT_EQ(w.form.start2(), 1000.0f);

    const std::vector<std::string> closing(w.journal.end() - 6, w.journal.end());
    EXPECT_EQ(closing, (std::vector<std::string>{"Label1=Total Time:  16 Seconds",
                                                 "Label4=Time remaining: 0", "Bar1.Visible=False",
                                                 "Bar2.Value=0", "Label5=         Idle",
                                                 "Command1.Enabled=True"}));
    EXPECT_EQ(w.Label3.caption, "Exposures Remaining: 0");
    EXPECT_EQ(w.Label2.caption, "Current Exposure Time: 0");
    EXPECT_FALSE(w.MSComm1.open);
}

TEST(Sequence, DefaultsGiveDelayExposurePauseExposureOnTheDtrLine) {
    FakeWindow w;
    w.load();
    w.clock.set(1000.0f);
    w.pump.step = 1.0 / 128; // exact in single precision: no drift over the run
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });

    ASSERT_EQ(w.MSComm1.edges.size(), 4u);
    const float marks[] = {2.5f, 7.0f, 10.5f, 15.0f};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(w.MSComm1.edges[i].asserted, i % 2 == 0);
        EXPECT_NEAR(w.MSComm1.edges[i].time - 1000.0f, marks[i], 0.05f) << i;
    }
}

TEST(Sequence, MoreExposuresChosenDuringTheStartDelayAreTaken) {
    FakeWindow w;
    w.load();
    w.pump.actions[2] = [&w] {
        w.Combo2.index = 3; // "4 x"
        w.form.Combo2_Click();
    };
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });
    EXPECT_EQ(exposures(w), 4u);
    EXPECT_EQ(w.Label3.history.at(1), "Exposures Remaining:  3");
}

TEST(Sequence, ACountChangedDuringTheLoopOnlyChangesTheNumbersShown) {
    FakeWindow w;
    w.load();
    w.Combo2.index = 4; // "5 x"
    bool switched = false;
    w.pump.each_pass = [&] {
        if (!switched && exposures(w) == 2 && w.MSComm1.open) {
            w.Combo2.index = 0; // "1 x", during the second exposure
            w.form.Combo2_Click();
            switched = true;
        }
    };
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });

    EXPECT_EQ(exposures(w), 5u);
    EXPECT_EQ(w.Label3.history,
              (std::vector<std::string>{"Exposures Remaining:  5", "Exposures Remaining:  4",
                                        "Exposures Remaining:  3", "Exposures Remaining: -2",
                                        "Exposures Remaining: -3", "Exposures Remaining: 0"}));
}

enum class Phase { LeadIn, Exposure, Pause };

// What fails: a lost port, anything but a run-time error, or a stop (Ctrl+Z)
// that closed the shutter.
enum class Failure { Lost, Unexpected, Stopped };

struct PhaseCase {
    const char* name;
    Phase phase;
    const char* report; // what a failure in this phase reports
    Failure failure = Failure::Lost;
};

bool in_phase(const FakeWindow& w, Phase phase) {
    switch (phase) {
    case Phase::LeadIn:
        return w.Label5.caption == "LeadIn Pause";
    case Phase::Exposure:
        return w.MSComm1.line();
    case Phase::Pause:
        return w.Label5.caption == "      Pause";
    }
    return false;
}

class WaysOut : public testing::TestWithParam<PhaseCase> {};

TEST_P(WaysOut, EndInAnyPhaseLeavesTheLineReleasedAndRunsNothingMore) {
    FakeWindow w;
    w.load();
    w.pump.each_pass = [&] {
        if (in_phase(w, GetParam().phase)) {
            w.form.einde_Click();
        }
    };
    EXPECT_THROW(w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); }), ProgramEnd);
    EXPECT_FALSE(w.MSComm1.line());
    EXPECT_FALSE(w.MSComm1.open);
    EXPECT_EQ(w.journal.back(), "End");
    EXPECT_FALSE(w.Command1.enabled) << "the run never got back to idle";
}

// Everything the idle window shows.
std::vector<std::string> idle_state(const FakeWindow& w) {
    return {w.Label1.caption,
            w.Label2.caption,
            w.Label3.caption,
            w.Label4.caption,
            w.Label5.caption,
            w.Bar1.visible ? "Bar1 shown" : "Bar1 hidden",
            "Bar1 " + std::to_string(w.Bar1.value),
            "Bar2 " + std::to_string(w.Bar2.value),
            w.Command1.enabled ? "START enabled" : "START disabled"};
}

TEST_P(WaysOut, AFailureInAnyPhaseReleasesTheLineReportsAndLeavesTheWindowAsAFinishedRunDoes) {
    FakeWindow finished;
    finished.load();
    finished.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });

    FakeWindow w;
    w.load();
    bool failed = false;
    w.pump.each_pass = [&] {
        if (!failed && in_phase(w, GetParam().phase)) {
            failed = true;
            // The plan changes during the run: idle shows the plan as it is then.
            w.kiestijd.index = 2;
            if (GetParam().failure == Failure::Unexpected) {
                throw std::bad_alloc();
            }
            if (GetParam().failure == Failure::Stopped) {
                throw ExposureCut("The exposure", 2);
            }
            // A handler inside the pump that fails, as a lost port does.
            throw RunTimeError(ErrorKind::Port, "Com1 is no longer there.\n\nPlug it back in.");
        }
    };
    std::vector<std::string> reports;
    w.form.run_series([&](const RunTimeError& e) {
        EXPECT_FALSE(w.MSComm1.line()) << "reported only after the line is released";
        reports.push_back(e.what());
    });

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], GetParam().report);
    EXPECT_FALSE(w.MSComm1.open);
    finished.kiestijd.index = 2;
    finished.form.Reken_Total_Time();
    EXPECT_EQ(idle_state(w), idle_state(finished));
}

INSTANTIATE_TEST_SUITE_P(Phases, WaysOut,
                         testing::Values(PhaseCase{"lead_in", Phase::LeadIn,
                                                   "Com1 is no longer there. The first exposure "
                                                   "was next.\n\nPlug it back in."},
                                         // The first pass of the first exposure: 0.25 s in.
                                         PhaseCase{"exposure", Phase::Exposure,
                                                   "Com1 is no longer there. Exposure 1 of 2 had "
                                                   "run 0 seconds.\n\nPlug it back in."},
                                         PhaseCase{"pause", Phase::Pause,
                                                   "Com1 is no longer there. Exposure 2 of 2 was "
                                                   "next.\n\nPlug it back in."},
                                         PhaseCase{"unexpected", Phase::Exposure,
                                                   "Nocturo met a problem it did not expect "
                                                   "(std::bad_alloc). The run was stopped and the "
                                                   "shutter line released.\n\nPress START to "
                                                   "begin again.",
                                                   Failure::Unexpected},
                                         PhaseCase{"stopped", Phase::Exposure,
                                                   "Exposure 1 of 2 was cut short after 2 s: "
                                                   "Nocturo was stopped (Ctrl+Z). The shutter "
                                                   "closed when it stopped, so that frame is "
                                                   "short, and the series ends here.\n\nPress "
                                                   "START to begin again.",
                                                   Failure::Stopped}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WaysOut, APortThatFailsToReleaseIsStillClosedAndReported) {
    FakeWindow w;
    w.load();
    w.MSComm1.fail_on = "MSComm1.DTREnable=False";
    int reports = 0;
    w.form.run_series([&](const RunTimeError&) { ++reports; });
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(w.MSComm1.line());
    EXPECT_FALSE(w.MSComm1.open);
    EXPECT_EQ(exposures(w), 1u) << "the run was abandoned after the first exposure";
    EXPECT_TRUE(w.Command1.enabled);
}

TEST(WaysOut, AFailureLateInALongRunNamesTheExposureAndItsSeconds) {
    FakeWindow w;
    w.load();
    w.Combo2.index = 4; // "5 x"
    w.pump.each_pass = [&] {
        if (exposures(w) == 3 && w.MSComm1.line() &&
            w.Label2.caption == "Current Exposure Time:  2") {
            throw RunTimeError(ErrorKind::Port, "Com1 is no longer there.");
        }
    };
    std::string report;
    w.form.run_series([&](const RunTimeError& e) { report = e.what(); });
    EXPECT_EQ(report, "Com1 is no longer there. Exposure 3 of 5 had run 2 seconds.");
}

TEST(WaysOut, APortThatCannotBeOpenedAgainNamesTheExposureThatWasNext) {
    FakeWindow w;
    w.load();
    w.pump.each_pass = [&] {
        if (w.Label5.caption == "      Pause") {
            w.MSComm1.fail_on = "MSComm1.PortOpen=True";
        }
    };
    std::string report;
    w.form.run_series([&](const RunTimeError& e) { report = e.what(); });
    EXPECT_EQ(report, "the port failed: MSComm1.PortOpen=True Exposure 2 of 2 was next.");
}

// From one second into the first exposure a handler keeps the window's
// thread for 13 s, as Windows does while the window is dragged. The line is
// released 25 ms after the exposure's planned end all the same, and the run
// goes on from where the wait sees the end: a whole pause, a whole exposure.
TEST(Sequence, AnExposureEndsOnTimeWhileTheThreadIsHeldAndTheNextIsTakenInFull) {
    FakeWindow w;
    w.load();
    w.clock.set(1000.0f);
    float resumed = 0.0f;
    w.pump.each_pass = [&] {
        if (resumed == 0.0f && w.Label2.caption == "Current Exposure Time:  1") {
            w.clock.advance(13.0);
            resumed = w.clock.now();
        }
    };
    w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });

    const auto& edges = w.MSComm1.edges;
    ASSERT_EQ(edges.size(), 4u);
    EXPECT_NEAR(edges[1].time - edges[0].time, 4.525, 1e-3);
    EXPECT_GE(edges[2].time - resumed, 3.5f) << "the pause is not cut short";
    EXPECT_GE(edges[3].time - edges[2].time, 4.5f) << "nor the next exposure";
    EXPECT_FALSE(w.MSComm1.open);
}

struct HiddenCase {
    const char* name;
    float hide_at;                 // the window is hidden from the first pass at this reading
    std::optional<float> shown_at; // and shown again at this one
    const char* label4;            // the time-remaining line written as it shows
};

class HiddenWindow : public testing::TestWithParam<HiddenCase> {};

// The defaults from 1000.0: the start delay ends at 1002.5, the first
// exposure at 1007.0, the pause at 1010.5 and the run at 1015.0.
TEST_P(HiddenWindow, IsNotRefreshedUntilItShowsAndTheLineMovesAsWhenShown) {
    const auto run = [](FakeWindow& w) {
        w.load();
        w.clock.set(1000.0f);
        w.pump.step = 1.0 / 128;
        w.form.run_series([](const RunTimeError& e) { FAIL() << e.what(); });
    };
    FakeWindow shown, w;
    run(shown);
    std::size_t hidden = 0, showing = 0; // Label4's lines, Bar2's values so far
    w.pump.each_pass = [&] {
        if (hidden == 0 && w.clock.now() >= GetParam().hide_at) {
            w.pump.hidden = true;
            w.pump.shown_at = GetParam().shown_at;
            hidden = w.Label4.history.size() + w.Bar2.values.size();
        }
    };
    w.pump.on_shown = [&] {
        showing = w.Label4.history.size() + w.Bar2.values.size();
        w.form.show_status(); // before the window paints
        EXPECT_EQ(w.Label4.history.back(), GetParam().label4);
    };
    run(w);

    // Going idle writes the run's last line and empties the bar.
    EXPECT_EQ(showing > 0 ? showing : w.Label4.history.size() + w.Bar2.values.size() - 2, hidden);
    EXPECT_EQ(showing > 0, GetParam().label4[0] != '\0');
    const auto times = [](const FakeWindow& x) {
        std::vector<float> t;
        for (const auto& edge : x.MSComm1.edges) {
            t.push_back(edge.time);
        }
        return t;
    };
    EXPECT_EQ(times(w), times(shown));
}

INSTANTIATE_TEST_SUITE_P(Visibility, HiddenWindow,
                         testing::Values(HiddenCase{"from_the_start_delay_to_the_pause", 1000.2f,
                                                    1008.3125f, "Time remaining:  8 Seconds"},
                                         HiddenCase{"in_an_exposure", 1003.0f, 1005.109375f,
                                                    "Time remaining:  11 Seconds"},
                                         HiddenCase{"for_the_whole_run", 1000.2f, std::nullopt,
                                                    ""}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WaysOut, EndWhoseCloseFailsReportsAndStillEndsWithoutReturningToIdle) {
    FakeWindow w;
    w.load();
    w.MSComm1.fail_on = "MSComm1.PortOpen=False";
    w.pump.each_pass = [&] {
        if (w.MSComm1.line()) {
            w.form.einde_Click();
        }
    };
    try {
        w.form.run_series(
            [](const RunTimeError& e) { FAIL() << "reported as a run error: " << e.what(); });
        FAIL() << "the program did not end";
    } catch (const ProgramEnd& end) {
        EXPECT_EQ(end.report, "the port failed: MSComm1.PortOpen=False\n\nNocturo will now close.");
    }
    EXPECT_FALSE(w.app.hidden) << "the window stays up for the report";
    EXPECT_FALSE(w.Command1.enabled) << "the run never got back to idle";
}

TEST(WaysOut, EndWhileIdleLeavesThePortAlone) {
    FakeWindow w;
    w.load();
    EXPECT_THROW(w.form.einde_Click(), ProgramEnd);
    EXPECT_EQ(w.journal, (std::vector<std::string>{"MSComm1.PortOpen?False", "Hide", "End"}));
}

} // namespace
} // namespace nocturo
