// Shared by the test programs: the module itself, a clock the tests set, and a way back to the
// state the installer starts with.
#pragma once

#include "module.h"

#include <gtest/gtest.h>

namespace {

DWORD test_now = 0;
DWORD WINAPI TestTick() { return test_now; }

// --- Files and waiting ------------------------------------------------------------------------

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
  }
  RemoveDirectoryW(folder.c_str());
}

// The first top-level window for which `wanted` holds, or null.
template <class Condition>
HWND FindTopWindow(Condition wanted) {
  struct Search {
    Condition* wanted;
    HWND found;
  } search = {&wanted, nullptr};
  EnumWindows(
      [](HWND candidate, LPARAM data) -> BOOL {
        Search* s = reinterpret_cast<Search*>(data);
        if (!(*s->wanted)(candidate)) return TRUE;
        s->found = candidate;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool HasClass(HWND candidate, const wchar_t* name) {
  wchar_t kind[64] = {};
  GetClassNameW(candidate, kind, 64);
  return wcscmp(kind, name) == 0;
}

// The installer window that process `id` shows.
HWND InstallerWindowOf(DWORD id, bool visible_only) {
  return FindTopWindow([=](HWND candidate) {
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    return owner == id && HasClass(candidate, L"VorlenSetup") && (!visible_only || IsWindowVisible(candidate));
  });
}

// For a thread that is not a window's: polls `done` until it holds or the deadline passes.
template <class Condition>
bool WaitFor(Condition done, DWORD limit_ms = 30000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit_ms) return false;
    Sleep(2);
  }
  return true;
}

// The state as it is before wWinMain runs, with the tests' clock in place of the system's.
void ResetState() {
  for (int i = 0; i < kStepCount; ++i) steps[i] = kSteps[i];
  current = -1;
  fraction = 0;
  doing = L"Starting...";
  failure.clear();
  pending_line.clear();
  install_dir.clear();
  nup_note.clear();
  space_note.clear();
  found_games.clear();
  page = Choices;
  details = false;
  nup_ok = false;
  space_ok = false;
  started = 0;
  dpi = 96;
  log_shown = 0;
  log_drop = 0;
  log_tail.clear();
  test_now = 0;
  tick_source = TestTick;
}

// A real read-only multi-line edit like the installer's log (Wine makes none without a display).
HWND MakeLogControl(bool visible = false) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"",
                              (visible ? WS_VISIBLE | WS_OVERLAPPEDWINDOW : WS_POPUP) | WS_VSCROLL |
                                  ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                              0, 0, 600, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(edit, EM_LIMITTEXT, 0, 0);
  return edit;
}

std::wstring WindowText(HWND control) {
  int length = GetWindowTextLengthW(control);
  std::wstring text(length, L'\0');
  if (length > 0) GetWindowTextW(control, &text[0], length + 1);
  return text;
}

// The installer's own window under a class of the tests' own, with a client area of the
// given size in pixels; `window` and the control handles are set by its creation.
HWND OpenTestWindow(int client_width, int client_height) {
  static bool resources = false;
  if (!resources) MakeResources(GetModuleHandleW(nullptr));
  resources = true;
  if (!OpenWindow(GetModuleHandleW(nullptr), L"VorlenSetupTest")) return nullptr;
  RECT outer = {0, 0, client_width, client_height};
  AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top, SWP_NOZORDER);
  return window;
}

struct StateTest : ::testing::Test {
  void SetUp() override { ResetState(); }
};

}  // namespace
