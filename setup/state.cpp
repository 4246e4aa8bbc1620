// State that more than one subsystem reads, and every declaration that comes ahead of its
// definition. A subsystem's own variables stand beside it, with a SetInitial... function of its
// own; SetInitialState (app.cpp) sets the ones here and calls those, before wWinMain runs and
// between the tests' cases. All of it belongs to the window thread; the reader thread only
// reads `window` and `child`.

namespace {

enum Page : int { Choices = 0, Installing = 1, Finished = 2, Stopped = 3 };

enum StepState : int { Pending = 0, Running = 1, Done = 2, Failed = 3 };

// The window's own messages, which the other threads post to wake it, and its timers: one table,
// so that no two share a number.
constexpr UINT kOutputMessage = WM_APP + 1;      // output waits in handed_output
constexpr UINT kEndMessage = WM_APP + 2;         // the script's exit code waits in handed_ends
constexpr UINT kAnswerMessage = WM_APP + 3;      // the fields' answers wait in handed_answers
constexpr UINT kTranscriptMessage = WM_APP + 4;  // the transcript could not be written
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT_PTR kCatchUpTimer = 2;   // waiting output is read and the details log moves on
constexpr UINT_PTR kCheckingTimer = 3;  // the notes of fields still waiting for their answer
constexpr UINT_PTR kCopiedTimer = 4;    // "Copy for a report" takes back its caption

int dpi;
std::wstring install_dir;

HFONT font;
HFONT bold_font;
HFONT heading_font;
HFONT title_font;
HFONT mono_font;
HICON icon;

HWND window;
DWORD started;

HWND game_edit;
HWND game_browse;
HWND folder_edit;
HWND folder_browse;
HWND dlss_check;
HWND log_edit;
HWND details_button;
HWND folder_button;
HWND copy_button;
HWND open_log_button;
HWND back_button;
HWND close_button;
HWND install_button;
HWND play_button;

Page page;
bool details;
HANDLE child;
std::wstring transcript_path;  // the full path of the last run's transcript; empty when it has none
// Held by the window while the shown log takes a step during output; the reader waits at it
// before each read. Under Wine every read and write of the pipe is a request to the one Wine
// server process, which a flood keeps so busy that the step's own requests (the edit control
// makes some for every line it lays out) took three times as long, and a key waited as long.
SRWLOCK reading_gate = SRWLOCK_INIT;

// The operations that are called ahead of their definitions: the subsystems share one
// translation unit and call each other both ways.
size_t LogLength();                             // progress.cpp
void Show(Page to);                             // window.cpp
void Layout();
void NameControls();                            // access.cpp
IAccessible* MakeObject(HWND of);
void Announce();
LRESULT OnGetObject(WPARAM wparam, LPARAM lparam);
void Install();                                 // run.cpp
void Play();
void OnCatchUpTimer();
LRESULT OnClose();
LRESULT OnOutput();
LRESULT OnEndMessage();
LRESULT OnEnd(WPARAM exit_code);
void DropHandedOver();
struct Transcript;                              // report.cpp
Transcript* OpenTranscript(const std::wstring& folder);
void Transcribe(Transcript* transcript, const std::wstring& text);
void CloseTranscript(Transcript* transcript, DWORD exit_code);
void TakeReplayed(const std::wstring& path);
void SayNoTranscript();
LRESULT OnTranscriptFailed();
void CopyReport();
void OnCopiedTimer();
void OpenLog();
void FollowDpi(int to, const RECT& outer);      // app.cpp

// How the other threads post to the window thread. Tests replace it to make posting fail.
BOOL(WINAPI* post_message)(HWND, UINT, WPARAM, LPARAM);

// Posts, and if the queue is full, waits and posts again while the window exists: nothing handed
// over is dropped. Returns false only when the window is gone.
bool Deliver(UINT message, WPARAM wparam, LPARAM lparam) {
  while (!post_message(window, message, wparam, lparam)) {
    if (!IsWindow(window)) return false;
    Sleep(10);
  }
  return true;
}

// What other threads hand to the window thread (output, its end, the fields' answers) waits here,
// under a lock, and the window thread takes all of it on one posted wake-up. The messages carry
// nothing: any program on the desktop can post a message of the same number, with any values,
// and then takes nothing but what this program handed over. What is left when the window goes
// is freed with the handover (items own what they hold).
template <class Item>
struct Handover {
  SRWLOCK lock = SRWLOCK_INIT;
  std::deque<Item> items;
  bool woken = false;  // a wake-up is posted and not yet taken
};

// Hands `item` to the window thread, waking it with `message` unless a wake-up is on its way
// already; `join`, when given, may add it to the last item not yet taken instead. Where the
// window is gone, everything handed and not taken is dropped: false.
template <class Item>
bool HandOver(Handover<Item>& to, Item item, UINT message, bool (*join)(Item& last, const Item& item) = nullptr) {
  AcquireSRWLockExclusive(&to.lock);
  if (!join || to.items.empty() || !join(to.items.back(), item)) to.items.push_back(std::move(item));
  bool wake = !to.woken;
  to.woken = true;
  ReleaseSRWLockExclusive(&to.lock);
  if (!wake || Deliver(message, 0, 0)) return true;
  AcquireSRWLockExclusive(&to.lock);
  std::deque<Item> dropped;
  dropped.swap(to.items);
  to.woken = false;
  ReleaseSRWLockExclusive(&to.lock);
  return false;
}

// Everything handed over so far, in order; the next item wakes the window again.
template <class Item>
std::deque<Item> TakeOver(Handover<Item>& from) {
  std::deque<Item> taken;
  AcquireSRWLockExclusive(&from.lock);
  taken.swap(from.items);
  from.woken = false;
  ReleaseSRWLockExclusive(&from.lock);
  return taken;
}

// A function looked up at run time, in a DLL loaded while running or one that earlier versions of
// Windows 10 lack: null (and false) where the module or the function is missing.
template <class Function>
bool FindCall(HMODULE module, const char* name, Function& function) {
  function = module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
  return function != nullptr;
}

// DLLs loaded while running come from the system folder only, never from the folder the
// installer was started from (a Downloads folder, where anything may lie beside it).
HMODULE SystemLibrary(const wchar_t* name) { return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

// shell32 and comdlg32 bring a dozen DLLs of their own (comdlg32 the print spooler's among them),
// so they are loaded when a dialog or the shell is first wanted: imported, they took longer to
// load than everything the program does from its start to its first paint.
HMODULE Shell32() { return SystemLibrary(L"shell32.dll"); }

// Where the tick count comes from. Tests point it at a clock of their own so that start,
// elapsed and the 32-bit wrap can be checked exactly.
DWORD(WINAPI* tick_source)();

DWORD Now() { return tick_source(); }

// The main window's class: a second installer finds the first one's window by it.
constexpr wchar_t kWindowClass[] = L"VorlenSetup";

// Every message box of the installer: captioned "Vorlen" and owned by the main window, or by
// none when there is no window (a box given an owner that is gone does not show at all).
int Tell(const std::wstring& text, UINT type) {
  return MessageBoxW(IsWindow(window) ? window : nullptr, text.c_str(), L"Vorlen", type);
}

// Every length in the design is in pixels at 96 DPI; this is the one way it reaches the screen.
int Scale(int length) { return MulDiv(length, dpi, 96); }

// A size read from the window, back in 96-DPI units, before any layout arithmetic.
int Unscale(int pixels) { return MulDiv(pixels, 96, dpi); }

}  // namespace
