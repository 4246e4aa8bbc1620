// Taskbar progress, keeping the PC awake and one installer at a time, through real runs of
// the script's stand-in (tests/doubles) and real starts of the built installer.
#include "support.h"

#include <functional>

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

bool PumpUntil(const std::function<bool()>& done, DWORD limit = 30000) {
  DWORD begin = GetTickCount();
  while (!done()) {
    if (GetTickCount() - begin > limit) return false;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

void MakeWindow() {
  OpenTestWindow(900, 780);
  ShowWindow(window, SW_SHOWNORMAL);
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"vorlen-comfort-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

struct ComfortTest : StateTest {
  std::wstring folder;
  void SetUp() override {
    StateTest::SetUp();
    tick_source = GetTickCount;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    taskbar_calls.clear();
    awake_calls.clear();
    show_taskbar = RecordTaskbar;
    execution_state = RecordAwake;
    folder = TempFolder();
    SetEnvironmentVariableW(L"VORLEN_DOUBLE_SIGNALS", folder.c_str());
    MakeWindow();
    SetWindowTextW(nup_edit, L"C:\\game.nup");
    SetWindowTextW(dir_edit, (folder + L"\\install").c_str());
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
    window = nullptr;
    DeleteFileW((folder + L"\\go").c_str());
    DeleteFileW((folder + L"\\plan.txt").c_str());
    RemoveDirectoryW(folder.c_str());
  }
  // The stand-in announces two steps, waits for the test's signal, then ends with `code`.
  void StartRun(int code) {
    std::wstring plan = folder + L"\\plan.txt";
    WriteBytes(plan, "write @step msys\\n@step compile\\n[60/120] Building CXX object a.cpp.obj\\n\n"
                        "wait go\nexit " + std::to_string(code) + "\n");
    SetEnvironmentVariableW(L"VORLEN_DOUBLE_PLAN", plan.c_str());
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(106, BN_CLICKED), reinterpret_cast<LPARAM>(install_button));
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

// Answers the stop question from another thread, as a person would, by pressing Yes.
DWORD WINAPI PressYes(void* owner) {
  for (int tries = 0; tries < 500; ++tries) {
    HWND box = FindWindowW(L"#32770", L"Vorlen");
    if (box && GetWindow(box, GW_OWNER) == static_cast<HWND>(owner)) {
      SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
      return 0;
    }
    Sleep(20);
  }
  return 1;
}

TEST_F(ComfortTest, StoppingTheRunFromTheWindowLetsThePcSleepAgain) {
  StartRun(0);
  HANDLE script = nullptr;
  DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &script, SYNCHRONIZE, FALSE, 0);
  HANDLE presser = CreateThread(nullptr, 0, PressYes, window, 0, nullptr);
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(presser, 15000), WAIT_OBJECT_0);
  CloseHandle(presser);
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

HWND InstallerWindow(DWORD process_id) { return InstallerWindowOf(process_id, false); }

PROCESS_INFORMATION StartInstaller() {
  std::wstring command = L"\"" VORLEN_BINARY_DIR L"/vorlen-setup.exe\"";
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  return process;
}

TEST(OneInstaller, SecondStartBringsTheOpenWindowBackAndEnds) {
  PROCESS_INFORMATION first = StartInstaller();
  HWND open = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (open = InstallerWindow(first.dwProcessId)) && IsWindowVisible(open); }));
  ShowWindow(open, SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return IsIconic(open) != FALSE; }));

  PROCESS_INFORMATION second = StartInstaller();
  EXPECT_EQ(WaitForSingleObject(second.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(second.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(InstallerWindow(second.dwProcessId), nullptr) << "the second start opened a window";
  EXPECT_TRUE(PumpUntil([&] { return !IsIconic(open); }, 5000)) << "the open window was not restored";
  EXPECT_EQ(GetForegroundWindow(), open);

  PostMessageW(open, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(first.hProcess, 20000), WAIT_OBJECT_0);
  // Once the first has closed, the next start opens a window of its own.
  PROCESS_INFORMATION third = StartInstaller();
  HWND again = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return (again = InstallerWindow(third.dwProcessId)) != nullptr; }));
  if (again) PostMessageW(again, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(third.hProcess, 20000), WAIT_OBJECT_0);
  for (PROCESS_INFORMATION* p : {&first, &second, &third}) {
    CloseHandle(p->hProcess);
    CloseHandle(p->hThread);
  }
}

}  // namespace
