#include "support.h"

namespace {

using ProgressModel = StateTest;

std::vector<int> States() {
  std::vector<int> states;
  for (const InstallStep& step : steps) states.push_back(step.state);
  return states;
}

TEST_F(ProgressModel, StartsWithNothingRunning) {
  EXPECT_EQ(States(), std::vector<int>(10, Pending));
  EXPECT_EQ(current, -1);
  EXPECT_EQ(fraction, 0.0);
  EXPECT_EQ(doing, L"Starting...");
  EXPECT_EQ(page, Choices);
  EXPECT_EQ(Progress(), 0.0);
}

// The install script announces its own steps by key: every key it prints names a row, and it
// prints them in the rows' order, so no step it starts is ever shown above an earlier one.
TEST(StepTable, EveryStepTheScriptAnnouncesIsARowInTheScriptsOrder) {
  std::string script = ReadBytes(VORLEN_SOURCE_DIR L"/script/install.ps1");
  ASSERT_NE(script, "<missing>");
  std::vector<int> rows;
  for (size_t at = 0; (at = script.find("\nStep '", at)) != std::string::npos; ++at) {
    size_t from = at + 7;
    std::string key = script.substr(from, script.find('\'', from) - from);
    int row = -1;
    for (int i = 0; i < kStepCount; ++i) {
      if (std::wstring(key.begin(), key.end()) == kSteps[i].key) row = i;
    }
    EXPECT_GE(row, 0) << "the script announces a step the table does not have: " << key;
    rows.push_back(row);
  }
  EXPECT_GE(rows.size(), 4u) << "the script's steps were not found";
  EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end())) << "the script announces its steps out of order";
}

TEST_F(ProgressModel, BeginOnFreshTableStartsOnlyThatStep) {
  test_now = 5000;
  Begin(L"msys");
  EXPECT_EQ(current, 0);
  EXPECT_EQ(steps[0].state, Running);
  EXPECT_EQ(steps[0].start, 5000u);
  EXPECT_EQ(States(), (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ProgressModel, BeginLaterStepClosesEveryEarlierOne) {
  test_now = 1000;
  Begin(L"source");
  fraction = 0.7;
  test_now = 4500;
  Begin(L"compile");
  EXPECT_EQ(States(), (std::vector<int>{2, 2, 2, 2, 2, 2, 2, 1, 0, 0}));
  EXPECT_EQ(steps[2].elapsed, 3500u);
  for (int i : {3, 4, 5, 6}) EXPECT_EQ(steps[i].elapsed, 0u) << i;
  EXPECT_EQ(current, 7);
  EXPECT_EQ(fraction, 0.0);
  EXPECT_EQ(steps[7].start, 4500u);
}

TEST_F(ProgressModel, KeysThatNameNoStepChangeNothing) {
  test_now = 10;
  Begin(L"tools");
  fraction = 0.25;
  for (const wchar_t* key : {L"Compile", L"", L"finish", L" compile", L"done "}) {
    Begin(key);
    EXPECT_EQ(current, 3) << key;
    EXPECT_EQ(fraction, 0.25) << key;
    EXPECT_EQ(States(), (std::vector<int>{2, 2, 2, 1, 0, 0, 0, 0, 0, 0})) << key;
  }
}

TEST_F(ProgressModel, DoneWithNothingStartedClosesAllAtFullProgress) {
  Begin(L"done");
  EXPECT_EQ(States(), std::vector<int>(10, Done));
  for (const InstallStep& step : steps) EXPECT_EQ(step.elapsed, 0u);
  EXPECT_EQ(current, -1);
  EXPECT_EQ(Progress(), 1.0);
}

TEST_F(ProgressModel, DoneRecordsTheRunningStepsTime) {
  test_now = 100;
  Begin(L"runtime");
  test_now = 2600;
  Begin(L"done");
  EXPECT_EQ(steps[8].elapsed, 2500u);
  EXPECT_EQ(steps[8].state, Done);
  EXPECT_EQ(current, -1);
  EXPECT_EQ(fraction, 0.0);
}

TEST_F(ProgressModel, OutOfOrderKeyLeavesTwoStepsRunningCountedWithOneFraction) {
  Begin(L"compile");
  Begin(L"packages");
  EXPECT_EQ(States(), (std::vector<int>{2, 1, 2, 2, 2, 2, 2, 1, 0, 0}));
  EXPECT_EQ(current, 1);
  fraction = 0.5;
  // Done: 6 + 2 + 3 + 1 + 3 + 6 = 21; running: (10 + 55) * 0.5.
  EXPECT_DOUBLE_EQ(Progress(), (21 + 32.5) / 101);
}

TEST_F(ProgressModel, ElapsedIsRightAcrossTheTickCounterWrap) {
  test_now = 0xFFFFFF00u;
  Begin(L"check");
  test_now = 0x00000100u;
  Begin(L"translate");
  EXPECT_EQ(steps[5].elapsed, 0x200u);
}

TEST_F(ProgressModel, RestartedStepKeepsItsOldElapsedUntilClosedAgain) {
  test_now = 0;
  Begin(L"tools");
  test_now = 3000;
  Begin(L"dlss");
  EXPECT_EQ(steps[3].elapsed, 3000u);
  test_now = 4000;
  Begin(L"tools");
  EXPECT_EQ(steps[3].state, Running);
  EXPECT_EQ(steps[3].start, 4000u);
  EXPECT_EQ(steps[3].elapsed, 3000u);
  EXPECT_EQ(steps[4].state, Running);  // rows after the started one are not touched
  test_now = 4100;
  Begin(L"dlss");
  EXPECT_EQ(steps[3].elapsed, 100u);
}

TEST_F(ProgressModel, FailedStepAddsNothingToProgress) {
  Begin(L"compile");
  fraction = 0.9;
  FailStep();
  EXPECT_DOUBLE_EQ(Progress(), 31.0 / 101);
}

TEST_F(ProgressModel, WorkedExampleOfTheRunningPage) {
  Begin(L"compile");
  fraction = 0.5;
  EXPECT_DOUBLE_EQ(Progress(), 58.5 / 101);
  EXPECT_EQ(Percent(Progress()), 57);
}

TEST_F(ProgressModel, ProgressIsStoredUnclamped) {
  Begin(L"compile");
  fraction = 1.5;
  EXPECT_GT(Progress(), (31 + 55.0) / 101);
}

TEST_F(ProgressModel, ResetForANewRunClearsTheRunBefore) {
  test_now = 700;
  Begin(L"compile");
  test_now = 900;
  Begin(L"runtime");
  fraction = 0.4;
  failure = L"bad";
  doing = L"x";
  ResetProgress();
  EXPECT_EQ(States(), std::vector<int>(10, Pending));
  for (const InstallStep& step : steps) EXPECT_EQ(step.elapsed, 0u);
  EXPECT_EQ(current, -1);
  EXPECT_EQ(fraction, 0.0);
  EXPECT_EQ(failure, L"");
  EXPECT_EQ(doing, L"Starting...");
  // The start a step keeps from the run before is never counted: it did not run in this one.
  test_now = 5000;
  Begin(L"done");
  EXPECT_EQ(steps[8].elapsed, 0u);
}

TEST(Scaling, LengthsAndClientSizesFollowTheDpi) {
  struct Case {
    int dpi, length, scaled;
  } cases[] = {{96, 26, 26}, {144, 26, 39}, {144, 14, 21}, {120, 52, 65}, {120, 1, 1}};
  for (const Case& c : cases) {
    Scoped<int> at(dpi, c.dpi);
    EXPECT_EQ(Scale(c.length), c.scaled) << c.dpi << " " << c.length;
  }
  Scoped<int> at(dpi, 120);
  EXPECT_EQ(Unscale(1000), 800);
}

}  // namespace
