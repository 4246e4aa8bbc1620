// Taskbar progress, keeping the PC awake and one installer at a time, through real runs of
// the script's stand-in (tests/doubles) and real starts of the built installer.
#include "support.h"

namespace {

struct TaskbarCall {
  TBPFLAG state;
  ULONGLONG value;
};
std::vector<TaskbarCall> taskbar_calls;
std::vector<EXECUTION_STATE> awake_calls;

void RecordTaskbar(TBPFLAG state, ULONGLONG value) { taskbar_calls.push_back({state, value}); }
EXECUTION_STATE WINAPI RecordAwake(EXECUTION_STATE flags) {
  awake_calls.push_back(flags);
  return ES_CONTINUOUS;
}

struct ComfortTest : StateTest {
  std::wstring folder;
  std::optional<ScopedVariable> signals_variable, plan_variable;
  void SetUp() override {
    StateTest::SetUp();
    tick_source = GetTickCount;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    taskbar_calls.clear();
    awake_calls.clear();
    show_taskbar = RecordTaskbar;
    execution_state = RecordAwake;
    powershell_path = PowerShellDouble;
    folder = FreshFolder(TempPath(L"vorlen-comfort"));
    signals_variable.emplace(L"VORLEN_DOUBLE_SIGNALS", folder);
    plan_variable.emplace(L"VORLEN_DOUBLE_PLAN", folder + L"\\plan.txt");
    MakeWindow();
    Type(game_edit, L"C:\\game.nup");
    Type(folder_edit, folder + L"\\install");
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
    window = nullptr;
    RemoveTree(folder);
  }
  // The stand-in announces two steps, waits for the test's signal, then ends with `code`.
  void StartRun(int code) {
    Plan plan = Plan().Write("@step msys\n@step compile\n[60/120] Building CXX object a.cpp.obj\n");
    WriteBytes(folder + L"\\plan.txt", plan.Do("wait go").Do("exit " + std::to_string(code)).text);
    Press(install_button);
    ASSERT_NE(child, nullptr) << "the stand-in did not start";
  }
  void Finish() {
    WriteBytes(folder + L"\\go", "");
    ASSERT_TRUE(PumpUntil([] { return child == nullptr; }));
  }
};

TEST_F(ComfortTest, TaskbarFollowsTheBarAndTurnsRedWhereTheRunStopped) {
  StartRun(1);
  ASSERT_FALSE(taskbar_calls.empty());
  EXPECT_EQ(taskbar_calls.front().state, TBPF_NORMAL);
  EXPECT_EQ(taskbar_calls.front().value, 0u);
  // The half-second timer passes the bar's figure on: (31 + 55 * 0.5) / 101 of the way.
  ULONGLONG expected = static_cast<ULONGLONG>((31 + 55 * 0.5) / 101 * 1000);
  ASSERT_TRUE(PumpUntil([&] { return !taskbar_calls.empty() && taskbar_calls.back().value == expected; }));
  EXPECT_EQ(taskbar_calls.back().state, TBPF_NORMAL);
  size_t while_running = taskbar_calls.size();
  Finish();
  ASSERT_EQ(taskbar_calls.size(), while_running + 1);
  EXPECT_EQ(taskbar_calls.back().state, TBPF_ERROR);
  EXPECT_EQ(taskbar_calls.back().value, expected);
  EXPECT_EQ(page, Stopped);
  // No update after the end, however long the stopped page stays open.
  PumpUntil([] { return false; }, 1200);
  EXPECT_EQ(taskbar_calls.size(), while_running + 1);
}

TEST_F(ComfortTest, FinishedRunClearsTheTaskbarProgress) {
  StartRun(0);
  Finish();
  EXPECT_EQ(page, Finished);
  EXPECT_EQ(taskbar_calls.back().state, TBPF_NOPROGRESS);
}

TEST_F(ComfortTest, PcIsKeptAwakeFromStartToEveryEnd) {
  for (int code : {0, 1}) {
    awake_calls.clear();
    Show(Choices);
    StartRun(code);
    ASSERT_EQ(awake_calls.size(), 1u);
    EXPECT_EQ(awake_calls[0], static_cast<EXECUTION_STATE>(ES_SYSTEM_REQUIRED | ES_CONTINUOUS));
    Finish();
    ASSERT_EQ(awake_calls.size(), 2u) << code;
    EXPECT_EQ(awake_calls[1], static_cast<EXECUTION_STATE>(ES_CONTINUOUS)) << code;
  }
}

TEST_F(ComfortTest, StoppingTheRunFromTheWindowLetsThePcSleepAgain) {
  StartRun(0);
  HANDLE script = nullptr;
  DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &script, SYNCHRONIZE, FALSE, 0);
  Answerer yes(window, IDYES);
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(yes.Stop().seen);
  EXPECT_FALSE(IsWindow(window));
  window = nullptr;
  ASSERT_EQ(awake_calls.size(), 2u);
  EXPECT_EQ(awake_calls[1], static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
  EXPECT_EQ(WaitForSingleObject(script, 15000), WAIT_OBJECT_0);
  CloseHandle(script);
}

TEST_F(ComfortTest, TaskbarObjectIsMadeOnlyOnceTheButtonExists) {
  if (taskbar) taskbar->Release();
  taskbar = nullptr;
  taskbar_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
  show_taskbar = ShellTaskbar;
  ShellTaskbar(TBPF_NORMAL, 10);  // before the button exists: nothing to call, nothing breaks
  EXPECT_EQ(taskbar, nullptr);
  SendMessageW(window, taskbar_created, 0, 0);
  // Wine has a taskbar object that takes every call (and shows nothing); Windows shows them.
  ASSERT_NE(taskbar, nullptr);
  ITaskbarList3* first = taskbar;
  SendMessageW(window, taskbar_created, 0, 0);  // the shell restarted: the object is kept
  EXPECT_EQ(taskbar, first);
  StartRun(1);
  Finish();
  EXPECT_EQ(page, Stopped);
}

// --- One installer at a time ------------------------------------------------------------------

TEST(OneInstaller, SecondStartBringsTheOpenWindowBackAndEnds) {
  Installer first;
  ASSERT_TRUE(first.Start());
  ShowWindow(first.window, SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return IsIconic(first.window) != FALSE; }));

  Installer second;
  ASSERT_TRUE(second.Launch());
  EXPECT_TRUE(second.EndsWith(0));
  EXPECT_EQ(InstallerWindowOf(second.process.dwProcessId, false), nullptr) << "the second start opened a window";
  EXPECT_TRUE(PumpUntil([&] { return !IsIconic(first.window); }, 5000)) << "the open window was not restored";
  EXPECT_EQ(GetForegroundWindow(), first.window);

  PostMessageW(first.window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(first.EndsWith(0));
  // Once the first has closed, the next start opens a window of its own.
  Installer third;
  EXPECT_TRUE(third.Start());
  if (third.window) PostMessageW(third.window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(third.EndsWith(0));
}

}  // namespace
