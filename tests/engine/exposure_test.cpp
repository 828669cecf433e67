#include "fakes/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace nocturo {
namespace {

using fakes::FakeWindow;

TEST(Exposure, OpensTheLineSetsUpTheBarTimesAndReleasesInThatOrder) {
    FakeWindow w;
    w.load();
    w.cboPort.index = 2;
    w.clock.set(100.0f);
    w.pump.times = {100.2f, 104.6f};
    w.form.take_foto();

    const std::vector<std::string> expected = {
        "MSComm1.PortOpen?False",
        "Label5= Taking Photo",
        "MSComm1.CommPort=3",
        "MSComm1.Settings=9600,N,8,1",
        "MSComm1.PortOpen=True",
        "MSComm1.DTREnable=True",
        "Bar1.Min=0",
        "Bar1.Max=1000",
        "Bar1.Min?",
        "Bar1.Value=0",
        "Bar1.7=1",
        "Timer", // t0, after the set-up
        "MSComm1.ReleaseDTRAt=104.525",
        "Pump",
        "Timer",
        "Bar1.Value=0",
        "Timer",
        "Bar2.Value=6250",
        "Timer",
        "Timer",
        "Label4=Time remaining: -84 Seconds",
        "Label2=Current Exposure Time:  0",
        "Timer",
        "Pump",
        "Timer",
        "Bar1.Value=1000",
        "Timer",
        "Bar2.Value=6562.5",
        "Timer",
        "Timer",
        "Label4=Time remaining: -88 Seconds",
        "Label2=Current Exposure Time:  4",
        "Timer",
        "MSComm1.DTREnable=False", // the shutter closes before any window work
        "MSComm1.PortOpen=False",
        "Label2=Current Exposure Time: 0",
        "Bar1.Value=0",
    };
    EXPECT_EQ(w.journal, expected);
}

TEST(Exposure, HoldsTheLineFromTheDtrWriteUntilAfterTheEndTest) {
    FakeWindow w;
    w.load();
    w.clock.set(100.0f);
    w.pump.step = 0.1;
    w.form.take_foto();

    ASSERT_EQ(w.MSComm1.edges.size(), 2u);
    EXPECT_TRUE(w.MSComm1.edges[0].asserted);
    EXPECT_FLOAT_EQ(w.MSComm1.edges[0].time, 100.0f);
    EXPECT_FALSE(w.MSComm1.edges[1].asserted);
    EXPECT_NEAR(w.MSComm1.edges[1].time, 104.6f, 1e-3) << "5 s: the count reaches 5 at 104.6";
    EXPECT_FALSE(w.MSComm1.open);
}

struct EndCase {
    const char* name;
    std::int16_t kiestijd;
    std::vector<float> readings;
};

class ExposureEnd : public testing::TestWithParam<EndCase> {};

TEST_P(ExposureEnd, EndsAtTheFirstEndTestWhoseRoundedCountReachesTheLength) {
    FakeWindow w;
    w.load();
    w.kiestijd.index = GetParam().kiestijd;
    w.clock.set(100.0f);
    w.pump.times = GetParam().readings;
    w.form.take_foto();
    EXPECT_EQ(w.pump.passes, static_cast<int>(GetParam().readings.size()));
}

INSTANTIATE_TEST_SUITE_P(Table, ExposureEnd,
                         testing::Values(EndCase{"five_half_rounds_down", 0, {104.5f, 104.6f}},
                                         EndCase{"thirty_half_rounds_up", 5, {129.4f, 129.5f}},
                                         EndCase{"ten_half_rounds_up", 1, {109.5f}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Exposure, MovesBar1InStepsOfTheLengthsThousandth) {
    FakeWindow w;
    w.load();
    w.kiestijd.index = 5; // 30 s: 0.03 s per step
    w.clock.set(100.0f);
    w.pump.times = {100.3f, 101.0f, 115.0f, 130.0f};
    w.form.take_foto();

    // The first value is the set-up's Min; then one per pass; then the reset.
    const std::vector<float> expected = {0.0f, 0.0f, 33.333332f, 500.0f, 1000.0f, 0.0f};
    ASSERT_EQ(w.Bar1.values.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_FLOAT_EQ(w.Bar1.values[i], expected[i]) << i;
    }
}

TEST(Exposure, ShowsWholeSecondsIntoTheExposureRoundedDownAndAcrossMidnight) {
    FakeWindow w;
    w.load();
    w.kiestijd.index = 5;
    w.clock.set(100.0f);
    w.pump.times = {112.7f, 130.0f};
    w.form.take_foto();
    EXPECT_EQ(w.Label2.history.at(0), "Current Exposure Time:  12");
    EXPECT_EQ(w.Label2.caption, "Current Exposure Time: 0");

    w.clock.set(86390.0f); // ten seconds before midnight
    w.pump.times = {86399.0f, 5.2f, 19.4f, 19.6f};
    w.pump.passes = 0;
    w.Label2.history.clear();
    w.form.take_foto();
    EXPECT_EQ(w.pump.passes, 4) << "ends once the folded count reaches 30, at 19.6";
    EXPECT_EQ(w.Label2.history.at(1), "Current Exposure Time:  15");
}

TEST(Exposure, APortFoundOpenChangesNothing) {
    FakeWindow w;
    w.load();
    w.MSComm1.open = true;
    w.form.take_foto();
    EXPECT_EQ(w.journal, std::vector<std::string>{"MSComm1.PortOpen?True"});
}

TEST(Exposure, NoPortOrNoLengthAssertsNothingAndRaisesNothing) {
    for (const bool no_port : {true, false}) {
        FakeWindow w;
        w.load();
        (no_port ? w.cboPort : w.kiestijd).index = -1;
        EXPECT_NO_THROW(w.form.take_foto());
        EXPECT_TRUE(w.MSComm1.edges.empty());
        EXPECT_TRUE(w.entries("MSComm1.PortOpen=").empty());
    }
}

TEST(Exposure, EndDuringTheExposureClosesThePortBeforeTheWindowHides) {
    FakeWindow w;
    w.load();
    w.pump.actions[3] = [&w] { w.form.einde_Click(); };
    EXPECT_THROW(w.form.take_foto(), ProgramEnd);

    const auto close = std::find(w.journal.begin(), w.journal.end(), "MSComm1.PortOpen=False");
    const auto hide = std::find(w.journal.begin(), w.journal.end(), "Hide");
    ASSERT_NE(close, w.journal.end());
    EXPECT_LT(close, hide);
    EXPECT_EQ(w.journal.back(), "End");
    EXPECT_FALSE(w.MSComm1.line());
    EXPECT_EQ(w.Label2.caption, "Current Exposure Time:  0")
        << "the rest of the exposure never ran";
}

TEST(Exposure, AnOpenThatFailsLeavesTheLineUntouched) {
    FakeWindow w;
    w.load();
    w.MSComm1.fail_on = "MSComm1.PortOpen=True";
    EXPECT_THROW(w.form.take_foto(), RunTimeError);
    EXPECT_TRUE(w.MSComm1.edges.empty());
    EXPECT_EQ(w.Label5.caption, " Taking Photo");
}

} // namespace
} // namespace nocturo
