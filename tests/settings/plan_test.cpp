#include "fakes/fake_platform.h"
#include "settings/setting_lists.h"

#include <gtest/gtest.h>

namespace nocturo {
namespace {

using fakes::FakeWindow;

TEST(SettingLists, StartUpFillsEveryListInOrderAndSelectsTheDefaults) {
    FakeWindow w;
    w.form.Form_Load();

    EXPECT_EQ(w.cboPort.items.size(), 16u);
    EXPECT_EQ(w.kiestijd.items.size(), 60u);
    EXPECT_EQ(w.Combo1.items.size(), 10u);
    EXPECT_EQ(w.Combo2.items.size(), 25u);
    EXPECT_EQ(w.Combo3.items.size(), 15u);

    EXPECT_EQ(w.cboPort.items.at(0), "Com1");
    EXPECT_EQ(w.cboPort.items.at(9), "Com10");
    EXPECT_EQ(w.cboPort.items.at(15), "Com16");
    EXPECT_EQ(w.kiestijd.items.at(0), "5 Sec.");
    EXPECT_EQ(w.kiestijd.items.at(11), "60 Sec.");
    EXPECT_EQ(w.kiestijd.items.at(59), "300 Sec.");
    EXPECT_EQ(w.Combo1.items.at(9), "10 Sec.");
    EXPECT_EQ(w.Combo2.items.at(0), "1 x");
    EXPECT_EQ(w.Combo2.items.at(24), "25 x");
    EXPECT_EQ(w.Combo3.items.at(14), "15 Sec.");
    for (const auto* list : {&w.cboPort, &w.kiestijd, &w.Combo1, &w.Combo2, &w.Combo3}) {
        for (const std::string& row : list->items) {
            EXPECT_NE(row.front(), ' ') << row;
        }
    }

    // Form_Load: Bar1 hidden, defaults selected in list order, Bar2's range,
    // then the plan.
    const std::vector<std::string> expected = {
        "Bar1.Visible=False", "cboPort.ListIndex=0", "kiestijd.ListIndex=0",
        "Combo1.ListIndex=2", "Combo2.ListIndex=1",  "Combo3.ListIndex=2",
        "Bar2.Min=0",         "Bar2.Max=1000",       "Label1=Total Time:  16 Seconds"};
    EXPECT_EQ(w.journal, expected);
    EXPECT_EQ(w.form.plan().totaltime, 16);
    EXPECT_DOUBLE_EQ(w.form.plan().schaal2, 0.016);
}

struct PlanCase {
    const char* name;
    std::int16_t kiestijd, combo1, combo2, combo3;
    std::int16_t totaltime;
    double schaal2;
    const char* label1;
};

class RunPlanRules : public testing::TestWithParam<PlanCase> {};

TEST_P(RunPlanRules, PlanFollowsTheSelectedRows) {
    const PlanCase& c = GetParam();
    FakeWindow w;
    w.load();
    w.kiestijd.index = c.kiestijd;
    w.Combo1.index = c.combo1;
    w.Combo2.index = c.combo2;
    w.Combo3.index = c.combo3;

    w.form.Combo2_Click();

    EXPECT_EQ(w.form.plan().totaltime, c.totaltime);
    EXPECT_DOUBLE_EQ(w.form.plan().schaal2, c.schaal2);
    EXPECT_EQ(w.Label1.caption, c.label1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunPlanRules,
    testing::Values(
        PlanCase{"defaults", 0, 2, 1, 2, 16, 0.016, "Total Time:  16 Seconds"},
        PlanCase{"first_rows", 0, 0, 0, 0, 6, 0.006, "Total Time:  6 Seconds"},
        PlanCase{"last_rows", 59, 9, 24, 14, 7870, 7.87, "Total Time:  7870 Seconds"},
        PlanCase{"one_exposure_ignores_pause", 3, 0, 0, 14, 21, 0.021, "Total Time:  21 Seconds"},
        PlanCase{"no_exposure_time_row", -1, 2, 1, 2, 6, 0.006, "Total Time:  6 Seconds"},
        PlanCase{"no_count_row", 0, 2, -1, 2, 0, 0.0, "Total Time:  0 Seconds"},
        PlanCase{"no_start_delay_row", 0, -1, 1, 2, 13, 0.013, "Total Time:  13 Seconds"},
        PlanCase{"no_pause_row", 0, 2, 1, -1, 13, 0.013, "Total Time:  13 Seconds"},
        PlanCase{"negative_plan", 0, -1, -1, 9, -10, -0.01, "Total Time: -10 Seconds"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RunPlan, EveryTimingListClickRecomputesThePlanAndThePortListHasNoHandler) {
    FakeWindow w;
    w.load();
    using Click = void (Form1Routines::*)();
    const std::pair<fakes::FakeList*, Click> lists[] = {
        {&w.kiestijd, &Form1Routines::kiestijd_Click},
        {&w.Combo1, &Form1Routines::Combo1_Click},
        {&w.Combo2, &Form1Routines::Combo2_Click},
        {&w.Combo3, &Form1Routines::Combo3_Click}};
    std::int16_t last = w.form.plan().totaltime;
    for (const auto& [list, click] : lists) {
        list->index = static_cast<std::int16_t>(list->index + 1);
        (w.form.*click)();
        EXPECT_GT(w.form.plan().totaltime, last);
        last = w.form.plan().totaltime;
    }
    // The port row is not part of the plan.
    w.cboPort.index = 7;
    w.journal.clear();
    w.form.kiestijd_Click();
    EXPECT_EQ(w.form.plan().totaltime, last);
}

TEST(RunPlan, AnOverflowChangesNothing) {
    FakeWindow w;
    w.load();
    w.kiestijd.index = 6553; // (6553 + 1) * 5 = 32770
    EXPECT_THROW(w.form.kiestijd_Click(), RunTimeError);
    EXPECT_EQ(w.form.plan().totaltime, 16);
    EXPECT_EQ(w.Label1.caption, "Total Time:  16 Seconds");
    EXPECT_TRUE(w.entries("Label1").empty());
}

} // namespace
} // namespace nocturo
