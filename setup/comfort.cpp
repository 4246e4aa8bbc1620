// Keeping a long build comfortable: progress on the taskbar button, the PC kept awake while
// the script runs, and one installer at a time.

namespace {

// The taskbar button's progress: a state and a value out of kTaskbarTotal.
constexpr ULONGLONG kTaskbarTotal = 1000;

UINT taskbar_created;        // the "TaskbarButtonCreated" message; only then may the button be used
ITaskbarList3* taskbar;      // null when the shell has none (or has not made the button yet)
ULONGLONG taskbar_value;     // what the button last showed

void ShellTaskbar(TBPFLAG state, ULONGLONG value) {
  if (!taskbar) return;
  taskbar->SetProgressState(window, state);
  if (state != TBPF_NOPROGRESS) taskbar->SetProgressValue(window, value, kTaskbarTotal);
}

// How the button is told; tests record the calls here, since a virtual desktop shows none.
void (*show_taskbar)(TBPFLAG state, ULONGLONG value);

// How the system is asked to stay awake; tests record the calls.
EXECUTION_STATE(WINAPI* execution_state)(EXECUTION_STATE);

LRESULT OnTaskbarCreated() {
  if (taskbar) return 0;
  ITaskbarList3* made = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                 reinterpret_cast<void**>(&made)))) {
    if (SUCCEEDED(made->HrInit())) {
      taskbar = made;
    } else {
      made->Release();
    }
  }
  return 0;
}

// The bar's figure for the button.
ULONGLONG TaskbarValue() { return static_cast<ULONGLONG>(Bounded(Progress()) * kTaskbarTotal); }

// A script has started: the button fills as the bar does, and the PC stays awake (the display
// may still turn off) until the run ends, however it ends.
void RunStarted() {
  taskbar_value = 0;
  show_taskbar(TBPF_NORMAL, 0);
  execution_state(ES_SYSTEM_REQUIRED | ES_CONTINUOUS);
}

// Every half second while the script runs, with the progress band's repaint.
void RunProgressed() {
  taskbar_value = TaskbarValue();
  show_taskbar(TBPF_NORMAL, taskbar_value);
}

void RunEnded(bool succeeded) {
  if (succeeded) {
    show_taskbar(TBPF_NOPROGRESS, 0);
  } else {
    show_taskbar(TBPF_ERROR, taskbar_value);  // red, where the run stopped
  }
  execution_state(ES_CONTINUOUS);
}

// A second start of the installer brings the open one to the front instead of opening another
// window: two installers building into one folder would spoil each other's build. Returns true
// when this process should end.
HANDLE instance_mutex;

bool AnotherInstallerOpen() {
  instance_mutex = CreateMutexW(nullptr, FALSE, L"Local\\VorlenInstaller");
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // The first installer may still be making its window: give it a few seconds to appear.
  HWND open = nullptr;
  for (int tries = 0; tries < 50 && !(open = FindWindowW(kWindowClass, nullptr)); ++tries) Sleep(100);
  if (open) {
    if (IsIconic(open)) ShowWindow(open, SW_RESTORE);
    SetForegroundWindow(open);
  }
  return true;
}

// Asks for the number of the shell's "TaskbarButtonCreated" message, before the window opens.
void ListenForTaskbar() { taskbar_created = RegisterWindowMessageW(L"TaskbarButtonCreated"); }

void SetInitialComfort() {
  taskbar_created = 0;
  taskbar = nullptr;
  taskbar_value = 0;
  instance_mutex = nullptr;
  show_taskbar = ShellTaskbar;
  execution_state = SetThreadExecutionState;
}

}  // namespace
