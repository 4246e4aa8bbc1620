// Shared by the test programs: the module itself, a clock the tests set, the state the
// installer starts with, scoped changes that undo themselves, files and folders, waiting,
// pictures, message boxes and the built installer.
#pragma once

#include "module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace {

DWORD test_now = 0;
DWORD WINAPI TestTick() { return test_now; }

// The state as it is before wWinMain runs, with the tests' clock in place of the system's.
void ResetState() {
  SetInitialState();
  test_now = 0;
  tick_source = TestTick;
}

struct StateTest : ::testing::Test {
  void SetUp() override { ResetState(); }
};

// --- The one screen ---------------------------------------------------------------------------

#ifndef VORLEN_SCREEN_TEST
// A program that does not hold the screen lock runs beside those that do, which show windows,
// take the foreground and send real keys: the keys go to whichever window is in the foreground,
// in any process of the Wine session. Such a program fails the test in which one of its windows
// shows on the screen or takes the foreground.
LRESULT CALLBACK ScreenGuard(int code, WPARAM wparam, LPARAM lparam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && !(GetWindowLongW(sent->hwnd, GWL_STYLE) & WS_CHILD)) {
    if (sent->message == WM_SHOWWINDOW && sent->wParam) {
      ADD_FAILURE() << "a window was shown by a program that runs beside the screen tests";
    }
    if (sent->message == WM_ACTIVATE && LOWORD(sent->wParam) != WA_INACTIVE && GetForegroundWindow() == sent->hwnd) {
      ADD_FAILURE() << "a window took the foreground in a program that runs beside the screen tests";
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

struct ScreenGuardInstalled : ::testing::Environment {
  void SetUp() override { SetWindowsHookExW(WH_CALLWNDPROC, ScreenGuard, nullptr, GetCurrentThreadId()); }
};
const auto* const screen_guard = ::testing::AddGlobalTestEnvironment(new ScreenGuardInstalled);
#endif

// --- Scoped changes ---------------------------------------------------------------------------

// A variable or seam of the module set for one scope and given back its value when the scope
// ends, also when an assertion ends the test early.
template <class T>
class Scoped {
 public:
  Scoped(T& slot, T value) : slot_(slot), saved_(slot) { slot_ = value; }
  ~Scoped() { slot_ = saved_; }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  T& slot_;
  T saved_;
};

// A drive with 100 GB free, in place of disk_free_space.
BOOL WINAPI RoomyDrive(LPCWSTR, PULARGE_INTEGER free, PULARGE_INTEGER, PULARGE_INTEGER) {
  free->QuadPart = 100 * kGiB;
  return TRUE;
}

// A 20 GB file at any path that ends in ".nup", in place of file_attributes; what is there
// anywhere else.
BOOL WINAPI GameFiles(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  size_t length = wcslen(path);
  if (length < 4 || _wcsicmp(path + length - 4, L".nup") != 0) return GetFileAttributesExW(path, level, data);
  auto* info = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(data);
  *info = {};
  info->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  info->nFileSizeHigh = 5;
  return TRUE;
}

// A variable of the environment whatever its length; nothing when it is not set.
std::optional<std::wstring> Variable(const wchar_t* name) {
  SetLastError(0);
  DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], needed));
  return value;
}

void SetVariable(const wchar_t* name, const std::optional<std::wstring>& value) {
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

// An environment variable set (or removed, with nullopt) for one scope, then restored exactly,
// "not set" included.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::optional<std::wstring>& value)
      : name_(name), saved_(Variable(name)) {
    SetVariable(name, value);
  }
  ~ScopedVariable() { SetVariable(name_.c_str(), saved_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> saved_;
};

// --- Text, files and folders ------------------------------------------------------------------

// UTF-8, for messages of failed checks.
std::string Narrow(const std::wstring& text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string narrow(length, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr, nullptr);
  return narrow;
}

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

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

// A drive letter this prefix does not have.
std::wstring MissingDrive() {
  DWORD drives = GetLogicalDrives();
  for (int letter = 'Z'; letter >= 'D'; --letter) {
    if (!(drives & (1u << (letter - 'A')))) return std::wstring(1, static_cast<wchar_t>(letter)) + L":";
  }
  ADD_FAILURE() << "every drive letter is in use";
  return L"";
}

// A path in the temporary folder of this test program's own, "name-<process id>".
std::wstring TempPath(const std::wstring& name) {
  std::optional<std::wstring> temp = Variable(L"TEMP");
  std::wstring folder = temp && !temp->empty() ? *temp : L"C:\\windows\\temp";
  if (folder.back() != L'\\') folder += L'\\';
  return folder + name + L"-" + std::to_wstring(GetCurrentProcessId());
}

// The folder at `path`, empty, whatever was there before.
std::wstring FreshFolder(const std::wstring& path) {
  RemoveTree(path);
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

// The folder of the test programs, where the doubles are built beside them.
std::wstring ProgramFolder() {
  wchar_t self[MAX_PATH];
  std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/"));
}

// The stand-in for Windows PowerShell.
std::wstring PowerShellDouble() { return ProgramFolder() + L"\\powershell.exe"; }

// Bytes as a plan's "write" command carries them.
std::string Escape(const std::string& bytes) {
  std::string text;
  char hex[8];
  for (unsigned char c : bytes) {
    if (c >= 32 && c < 127 && c != '\\') {
      text += static_cast<char>(c);
    } else {
      snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

// What the stand-in does, one command a line (see doubles/powershell_double.cpp).
struct Plan {
  std::string text;
  Plan& Do(const std::string& command) {
    text += command + "\n";
    return *this;
  }
  Plan& Write(const std::string& bytes) { return Do("write " + Escape(bytes)); }
};

// A recorded run of the script as the replay reads it, in build/artifacts for people to see.
std::wstring WriteTranscript(const std::wstring& name, const std::string& bytes) {
  std::wstring folder = VORLEN_BINARY_DIR L"\\artifacts";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"\\" + name + L".txt";
  return WriteBytes(path, bytes) ? path : L"";
}

// --- Windows and waiting ----------------------------------------------------------------------

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

// The installer window that process `id` shows.
HWND InstallerWindowOf(DWORD id, bool visible_only) {
  return FindTopWindow([=](HWND candidate) {
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    return owner == id && HasClass(candidate, kWindowClass) && (!visible_only || IsWindowVisible(candidate));
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

int progress_ticks = 0;  // timer messages of the progress band handed to the window

// For the window thread: handles its messages as the installer's loop does until `done` holds.
template <class Condition>
bool PumpUntil(Condition done, DWORD limit_ms = 30000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;  // a closed window's; the next test makes another
      if (StrayClick(message)) continue;
      if (message.message == WM_TIMER && message.hwnd == window && message.wParam == kProgressTimer) {
        ++progress_ticks;
      }
      if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

// Whether both choice fields have their answers for what they hold now.
bool Answered() { return !game_field.pending && !folder_field.pending; }

// A parameterised case's name as GoogleTest takes it into the test's name: its letters and digits.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const wchar_t* p = info.param.name; *p; ++p) {
    if (iswalnum(*p)) name += static_cast<char>(*p);
  }
  return name;
}

// Every message waiting for this thread, thrown away.
void DropMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// Messages to a window go through a time limit, so that a window of another thread or process
// that hangs fails the test instead of hanging it. To a window of this thread they are a call.
LRESULT Send(HWND to, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(to, message, wparam, lparam, SMTO_NORMAL, 10000, &result) ? result : 0;
}

// A window's whole text: a caption, a field's or the log's contents.
std::wstring WindowText(HWND control) {
  std::wstring text(Send(control, WM_GETTEXTLENGTH, 0, 0) + 1, L'\0');
  text.resize(Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
  return text;
}

// Whether Layout shows the control: its own WS_VISIBLE style, which holds also while the
// window itself is not shown.
bool Showing(HWND control) { return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

// Text typed into a field; an edit control tells its window of the change as typing does.
void Type(HWND field, const std::wstring& text) { Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }

// A click on a button as the button reports it to its window: BN_CLICKED under its own id. Sent,
// so that what the press does (a page, a started script, a message box answered meanwhile)
// has happened when this returns.
void Press(HWND button) {
  Send(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
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

// The installer's own window under a class of the tests' own, with a client area of the
// given size in pixels; `window` and the control handles are set by its creation. Not shown:
// under Xvfb without a window manager, Wine takes two seconds to destroy a shown top-level
// window, and what Layout shows is read from the controls' own style (Showing). Sized without
// activating it: Wine makes even a hidden window the foreground window when it is moved or sized
// without SWP_NOACTIVATE, and a screen test running beside then sends its keys to it.
HWND MakeWindow(int client_width = 880, int client_height = 740) {
  static bool resources = false;
  if (!resources) {
    // A single-threaded apartment, as the installer's window thread is: the screen reader's
    // objects are handed out through COM. (Under Wine an activated window had made one by chance.)
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MakeResources(GetModuleHandleW(nullptr));
  }
  resources = true;
  if (!OpenWindow(GetModuleHandleW(nullptr), L"VorlenSetupTest")) return nullptr;
  RECT outer = {0, 0, client_width, client_height};
  AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top, SWP_NOZORDER | SWP_NOACTIVATE);
  return window;
}

// --- Pictures ---------------------------------------------------------------------------------

// A memory bitmap to draw into, or a copy of a window's client area as the screen shows it,
// read back pixel by pixel. Coordinates are in layout units at `unit_dpi` (96: pixels).
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  SIZE size = {};
  int unit_dpi = 96;

  Canvas(int width, int height, COLORREF fill = kBackground) : size{width, height} {
    HDC screen = GetDC(nullptr);
    Make(screen);
    ReleaseDC(nullptr, screen);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all = {0, 0, width, height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
  }
  // The client area of `from`, copied from the screen.
  explicit Canvas(HWND from) {
    RECT client;
    GetClientRect(from, &client);
    size = {client.right, client.bottom};
    HDC screen = GetDC(from);
    Make(screen);
    BitBlt(dc, 0, 0, size.cx, size.cy, screen, 0, 0, SRCCOPY);
    ReleaseDC(from, screen);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int Px(int units) const { return MulDiv(units, unit_dpi, 96); }
  COLORREF At(int x, int y) const { return GetPixel(dc, Px(x), Px(y)); }
  // Whether any pixel of `colour` lies in the box.
  bool Has(COLORREF colour, int left, int top, int right, int bottom) const {
    for (int y = Px(top); y < Px(bottom); ++y)
      for (int x = Px(left); x < Px(right); ++x)
        if (GetPixel(dc, x, y) == colour) return true;
    return false;
  }
  // Bounding box in pixels of the pixels of one colour; empty (left > right) when there are none.
  RECT Extent(COLORREF colour) const {
    RECT box = {size.cx, size.cy, -1, -1};
    for (int y = 0; y < size.cy; ++y) {
      for (int x = 0; x < size.cx; ++x) {
        if (GetPixel(dc, x, y) != colour) continue;
        box.left = std::min<LONG>(box.left, x);
        box.right = std::max<LONG>(box.right, x);
        box.top = std::min<LONG>(box.top, y);
        box.bottom = std::max<LONG>(box.bottom, y);
      }
    }
    return box;
  }
  int Count(COLORREF colour) const {
    int count = 0;
    for (int y = 0; y < size.cy; ++y)
      for (int x = 0; x < size.cx; ++x) count += GetPixel(dc, x, y) == colour;
    return count;
  }
  // A 24-bit .bmp file, for people to look at when a check fails.
  void Save(const std::wstring& path) const {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = size.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int stride = (size.cx * 3 + 3) & ~3;
    std::string pixels(stride * size.cy, '\0');
    GetDIBits(dc, bitmap, 0, size.cy, &pixels[0], &info, DIB_RGB_COLORS);
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof info.bmiHeader + pixels.size()), 0, 0,
                             sizeof file + sizeof info.bmiHeader};
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    WriteBytes(path, bytes + pixels);
  }

 private:
  void Make(HDC screen) {
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    old = SelectObject(dc, bitmap);
  }
};

// --- Message boxes ----------------------------------------------------------------------------

struct SeenBox {
  bool seen = false;
  std::wstring caption;
  std::wstring text;
  HICON icon = nullptr;
  int default_id = 0;  // the button Enter presses
};

HWND FindBox(HWND owner) {
  return FindTopWindow([owner](HWND candidate) {
    return HasClass(candidate, L"#32770") && GetWindow(candidate, GW_OWNER) == owner && IsWindowVisible(candidate);
  });
}

HICON BoxIcon(HWND box) {
  HICON icon = nullptr;
  for (HWND item = GetWindow(box, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
    if (HasClass(item, L"Static") && (GetWindowLongW(item, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      icon = reinterpret_cast<HICON>(SendMessageW(item, STM_GETICON, 0, 0));
    }
  }
  return icon;
}

// Answers the message box that `owner` shows next, from a thread of its own, as a user would:
// reads it, optionally does something while it is open, and presses `button`.
class Answerer {
 public:
  Answerer(HWND owner, int button, std::function<void()> while_open = {})
      : thread_([this, owner, button, while_open] {
          HWND box = nullptr;
          if (!WaitFor([&] { return stop_ || (box = FindBox(owner)) != nullptr; }, 30000) || !box) return;
          seen_.caption = WindowText(box);
          seen_.text = WindowText(GetDlgItem(box, 0xFFFF));
          seen_.icon = BoxIcon(box);
          for (HWND item = GetWindow(box, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
            if (HasClass(item, L"Button") && (GetWindowLongW(item, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON) {
              seen_.default_id = GetDlgCtrlID(item);
            }
          }
          seen_.seen = true;
          if (while_open) while_open();
          Send(GetDlgItem(box, button), BM_CLICK, 0, 0);
          done_ = true;
        }) {}
  ~Answerer() { Stop(); }

  // Whether it has pressed its button.
  bool Done() const { return done_; }

  // Joins the thread, after waiting up to `limit_ms` for a box that another process shows;
  // a box that never came counts as not seen.
  SeenBox Stop(DWORD limit_ms = 0) {
    WaitFor([this] { return done_.load(); }, limit_ms);
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  SeenBox seen_;
  std::thread thread_;
};

// --- The built installer ----------------------------------------------------------------------

// vorlen-setup.exe started as a user starts it, from `folder`; ended for good when this goes, so
// that the next start is never taken for a second installer.
struct Installer {
  PROCESS_INFORMATION process = {};
  HWND window = nullptr;

  Installer() = default;
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;
  ~Installer() {
    if (!process.hProcess) return;
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }

  // Starts the program; false when it could not be started.
  bool Launch(const std::wstring& folder = VORLEN_BINARY_DIR) {
    std::wstring program = folder + L"\\vorlen-setup.exe";
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process) != FALSE;
  }
  // Starts the program and waits for its window to show.
  bool Start(const std::wstring& folder = VORLEN_BINARY_DIR) {
    return Launch(folder) && WaitFor([this] { return (window = InstallerWindowOf(process.dwProcessId, true)); },
                                     20000);
  }
  // Whether it ended with `code` within the time limit.
  bool EndsWith(DWORD code, DWORD limit_ms = 20000) const {
    DWORD exit_code = 99;
    return WaitForSingleObject(process.hProcess, limit_ms) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process.hProcess, &exit_code) && exit_code == code;
  }

  HWND Control(int id) const { return GetDlgItem(window, id); }
  bool Shows(int id) const { return Showing(Control(id)); }
};

}  // namespace
