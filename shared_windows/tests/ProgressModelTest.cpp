#include "ProgressModel.h"

#include <gtest/gtest.h>

using namespace shared_windows;

namespace {

// Runs a task of n announced steps and answers the model after `steps` steps.
ProgressModel RunSteps(int32_t announced, int32_t steps) {
    ProgressModel m;
    m.SetTitle("Installing Plug-in Foo");
    m.CalcIncrement(announced);
    for (int32_t i = 0; i < steps; ++i)
        m.IncrProgress(0);
    return m;
}

} // namespace

TEST(ProgressModel, TwoStepsCompleteOnTheSecond) {
    ProgressModel m = RunSteps(2, 1);
    EXPECT_EQ(m.StepWidth(), 3308);
    EXPECT_EQ(m.BarWidth(), 3309);
    EXPECT_FALSE(m.Complete());
    m.IncrProgress(0);
    EXPECT_EQ(m.BarWidth(), ProgressModel::FullWidth);
    EXPECT_TRUE(m.CloseVisible());
    EXPECT_EQ(m.TaskText(), "Installing Plug-in Foo: Complete!");
}

// Whatever the rounding of the step width, the task is complete after exactly the announced
// number of steps and not before.
TEST(ProgressModel, LastAnnouncedStepCompletesTheBar) {
    for (int32_t n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 50, 100, 6000}) {
        SCOPED_TRACE(n);
        ProgressModel before = RunSteps(n, n - 1);
        EXPECT_FALSE(before.Complete());
        EXPECT_LT(before.BarWidth(), ProgressModel::FullWidth);
        ProgressModel after = RunSteps(n, n);
        EXPECT_TRUE(after.Complete());
        EXPECT_EQ(after.BarWidth(), ProgressModel::FullWidth);
        EXPECT_EQ(after.TaskText(), "Installing Plug-in Foo: Complete!");
    }
    // Six steps of 1102 would stop at 6613 without the last step completing the task.
    ProgressModel six = RunSteps(6, 5);
    EXPECT_EQ(six.StepWidth(), 1102);
    EXPECT_EQ(six.BarWidth(), 1 + 5 * 1102);
}

TEST(ProgressModel, ManyStepsFillEarlyButCompleteOnlyAtTheLastAnnouncedStep) {
    ProgressModel m = RunSteps(7000, 6700);
    EXPECT_EQ(m.BarWidth(), ProgressModel::FullWidth); // the rounded step filled it early
    EXPECT_FALSE(m.Complete());
    EXPECT_FALSE(m.CloseVisible());
    for (int i = 6701; i < 7000; ++i)
        m.IncrProgress(0);
    EXPECT_FALSE(m.Complete());
    m.IncrProgress(0);
    EXPECT_TRUE(m.Complete());
    m.IncrProgress(0); // a step past the announced ones
    EXPECT_EQ(m.TaskText(), "Installing Plug-in Foo: Complete!");
}

TEST(ProgressModel, StepWidthOfZeroMovesNothingUntilTheLastAnnouncedStep) {
    ProgressModel m = RunSteps(13230, 13229);
    EXPECT_EQ(m.StepWidth(), 0); // 0.5 rounds to the even 0
    EXPECT_EQ(m.BarWidth(), 1);
    EXPECT_FALSE(m.Complete());
    m.IncrProgress(0);
    EXPECT_TRUE(m.Complete());
    EXPECT_EQ(RunSteps(13229, 0).StepWidth(), 1);

    // Without any announced count a zero step never completes.
    ProgressModel fresh;
    fresh.SetTitle("x");
    for (int i = 0; i < 20000; ++i)
        fresh.IncrProgress(0);
    EXPECT_EQ(fresh.BarWidth(), 1);
    EXPECT_FALSE(fresh.Complete());
}

TEST(ProgressModel, CalcIncrementOfZeroKeepsThePreviousStep) {
    ProgressModel m = RunSteps(3, 3);
    m.SetTitle("Next");
    EXPECT_FALSE(m.CalcIncrement(0));
    EXPECT_EQ(m.StepWidth(), 2205);
    m.IncrProgress(0);
    EXPECT_EQ(m.BarWidth(), 2206);
    EXPECT_FALSE(m.Complete());
}

TEST(ProgressModel, SetTitleStartsATaskAgain) {
    ProgressModel m = RunSteps(2, 2);
    ASSERT_TRUE(m.Complete());
    m.SetTitle("Removing Plug-in FilesFoo");
    EXPECT_FALSE(m.CloseVisible());
    EXPECT_EQ(m.BarWidth(), 1);
    EXPECT_EQ(m.TaskText(), "Removing Plug-in FilesFoo");
    EXPECT_EQ(m.StepWidth(), 3308);
    m.SetProgress(100);
    EXPECT_EQ(m.TaskText(), "Removing Plug-in FilesFoo: Complete!");
}

TEST(ProgressModel, SetProgressShowsWholeFractions) {
    ProgressModel m;
    m.SetTitle("t");
    const std::pair<int32_t, int> cases[] = {{-5, 1},    {0, 1},     {1, 66},    {29, 2205},
                                             {39, 2205}, {40, 3308}, {50, 3308}, {66, 3308},
                                             {67, 6615}, {99, 6615}};
    for (auto [percent, width] : cases) {
        SCOPED_TRACE(percent);
        m.SetProgress(percent);
        EXPECT_EQ(m.BarWidth(), width);
        EXPECT_FALSE(m.Complete());
        EXPECT_EQ(m.TaskText(), "t");
    }
}

TEST(ProgressModel, SetProgressHundredTwiceCompletesOnce) {
    ProgressModel m;
    m.SetTitle("Compressing File a.esp");
    m.SetProgress(100);
    m.SetProgress(100);
    m.SetProgress(250);
    EXPECT_TRUE(m.Complete());
    EXPECT_EQ(m.BarWidth(), ProgressModel::FullWidth);
    EXPECT_EQ(m.TaskText(), "Compressing File a.esp: Complete!");
    // Completion by the last step followed by a forced completion, as the packager does.
    ProgressModel p = RunSteps(2, 2);
    p.SetProgress(100);
    EXPECT_EQ(p.TaskText(), "Installing Plug-in Foo: Complete!");
}

TEST(ProgressModel, SetIncrementTakesAPercentageOfTheBar) {
    ProgressModel m;
    const std::pair<int32_t, int32_t> cases[] = {{10, 662}, {25, 1654}, {50, 3308},
                                                 {0, 1},    {-3, 1},    {100, 6615}};
    for (auto [percent, step] : cases) {
        m.SetIncrement(percent);
        EXPECT_EQ(m.StepWidth(), step) << percent;
    }
}
