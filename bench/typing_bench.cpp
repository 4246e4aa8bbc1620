// Typing into the folder field while every question about its path hangs, as on a share whose
// server does not answer: real keys pressed with SendInput into the shown window, one at a time.
// Measured: how long each key waits from its sending to the moment the message loop takes it,
// and how long the window takes over each message it handles. Then the same typing on a local
// folder, with the time from a key to the field's answer. Prints "name: value unit" lines.
#include "module.h"

#include "waits.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

HANDLE release;  // set when the hanging share may answer at last

bool Hangs(LPCWSTR path) {
  if (wcsncmp(path, L"\\\\hanging\\", 10) != 0) return false;
  WaitForSingleObject(release, INFINITE);
  return true;
}

BOOL WINAPI HangingSpace(LPCWSTR path, PULARGE_INTEGER free, PULARGE_INTEGER total, PULARGE_INTEGER total_free) {
  if (Hangs(path)) return FALSE;
  return GetDiskFreeSpaceExW(path, free, total, total_free);
}

BOOL WINAPI HangingAttributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  if (Hangs(path)) return FALSE;
  return GetFileAttributesExW(path, level, data);
}

HANDLE WINAPI HangingProbe(LPCWSTR path) {
  if (Hangs(path)) return INVALID_HANDLE_VALUE;
  return MakeProbe(path);
}

struct Figures {
  std::vector<double> key_waits;  // milliseconds
  std::vector<double> handling;   // milliseconds, one per message handled
  std::vector<double> answers;    // milliseconds from a key to the folder's answer
};

// Handles every waiting message as the installer's loop does, timing each; notes when the probe
// key is taken.
void Pump(Figures& figures, std::atomic<long long>& key_sent) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_KEYDOWN) {
      long long sent = key_sent.exchange(0);
      if (sent) figures.key_waits.push_back(Milliseconds(Clock::now() - Clock::time_point(Clock::duration(sent))));
    }
    Clock::time_point begin = Clock::now();
    if (message.message != WM_QUIT && !IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    figures.handling.push_back(Milliseconds(Clock::now() - begin));
  }
}

void PressLetter(int i) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = static_cast<WORD>('A' + i % 26);
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

// `keys` letters typed at the end of the folder field, which starts as `start`; a key is pressed
// once the last one has been taken and its answer has come (or, on the hanging share, 20 ms on).
Figures Type(const std::wstring& start, int keys, bool hanging) {
  SetWindowTextW(folder_edit, start.c_str());
  SetFocus(folder_edit);
  SendMessageW(folder_edit, EM_SETSEL, start.size(), start.size());
  Figures figures;
  std::atomic<long long> key_sent{0};
  for (int i = 0; i < keys; ++i) {
    Clock::time_point sent = Clock::now();
    key_sent = sent.time_since_epoch().count();
    PressLetter(i);
    Clock::time_point limit = sent + std::chrono::seconds(5);
    while (Clock::now() < limit && (key_sent != 0 || (!hanging && folder_field.pending) ||
                                    (hanging && Clock::now() < sent + std::chrono::milliseconds(20)))) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
      Pump(figures, key_sent);
    }
    if (!hanging && !folder_field.pending) figures.answers.push_back(Milliseconds(Clock::now() - sent));
  }
  return figures;
}

}  // namespace

int wmain() {
  tick_source = GetTickCount;
  release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  disk_free_space = HangingSpace;
  file_attributes = HangingAttributes;
  make_probe = HangingProbe;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring local = std::wstring(temp) + L"vorlen-typing-bench";
  CreateDirectoryW(local.c_str(), nullptr);
  SetEnvironmentVariableW(L"LOCALAPPDATA", local.c_str());

  MakeResources(GetModuleHandleW(nullptr));
  OpenWindow(GetModuleHandleW(nullptr), L"VorlenTypingBench");
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);  // the keyboard's input goes to the foreground window's thread

  const int keys = 100;
  Figures hanging = Type(L"\\\\hanging\\share\\Vorlen", keys, true);
  PrintWaits("typing_hanging_share", "key_wait", hanging.key_waits, 50);
  PrintWaits("typing_hanging_share", "message", hanging.handling, 50);
  Figures on_disk = Type(local + L"\\Vorlen", keys, false);
  PrintWaits("typing_local", "key_wait", on_disk.key_waits, 50);
  PrintWaits("typing_local", "message", on_disk.handling, 50);
  PrintWaits("typing_local", "answer", on_disk.answers, 50);
  fflush(stdout);

  SetEvent(release);
  DestroyWindow(window);
  RemoveDirectoryW(local.c_str());
  return 0;
}
