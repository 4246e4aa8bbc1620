// State: every variable the installer keeps. Their start values are set in one place,
// SetInitialState (app.cpp), which runs before wWinMain and which the tests call between cases.
// All of it belongs to the window thread; the reader thread only reads `window` and `child`.

namespace {

enum Page : int { Choices = 0, Installing = 1, Finished = 2, Stopped = 3 };

enum StepState : int { Pending = 0, Running = 1, Done = 2, Failed = 3 };

struct FoundGame {
  std::wstring path;
  FILETIME written;
  unsigned long long size;
};

struct InstallStep {
  const wchar_t* key;
  const wchar_t* label;
  int weight;
  int state;
  DWORD start;
  DWORD elapsed;
};

constexpr int kStepCount = 10;

// The installation as the user sees it; the keys are what "@step " lines name.
constexpr InstallStep kSteps[kStepCount] = {
    {L"msys", L"Set up the build environment (MSYS2)", 6, Pending, 0, 0},
    {L"packages", L"Download the build tools", 10, Pending, 0, 0},
    {L"source", L"Get Vorlen's source", 2, Pending, 0, 0},
    {L"tools", L"Prepare the translator", 3, Pending, 0, 0},
    {L"dlss", L"Download NVIDIA DLSS (if chosen)", 1, Pending, 0, 0},
    {L"check", L"Read and check your game", 3, Pending, 0, 0},
    {L"translate", L"Translate the game's code", 6, Pending, 0, 0},
    {L"compile", L"Compile the game", 55, Pending, 0, 0},
    {L"runtime", L"Build Vorlen", 13, Pending, 0, 0},
    {L"shortcuts", L"Create the shortcuts", 2, Pending, 0, 0},
};

int dpi;
int current;
InstallStep steps[kStepCount];
std::wstring install_dir;
std::wstring doing;
std::wstring failure;
std::wstring pending_line;
std::wstring nup_note;
std::wstring space_note;
std::vector<FoundGame> found_games;

HFONT font;
HFONT bold_font;
HFONT heading_font;
HFONT title_font;
HFONT mono_font;
HBRUSH bg_brush;
HBRUSH field_brush;
HBRUSH panel_brush;
HICON icon;

// The off-screen copy of the client area that each paint composes the page in. It is kept from
// paint to paint and made again only when the client area changes size: making a bitmap of a
// few megabytes at every tick of the progress timer cost more than drawing the page, and made
// the time a paint takes uneven. The window frees it when it is destroyed.
HDC page_dc;
HBITMAP page_bitmap;
SIZE page_size;

HWND window;
DWORD started;

HWND nup_edit;
HWND nup_browse;
HWND dir_edit;
HWND dir_browse;
HWND dlss_check;
HWND log_edit;
HWND details_button;
HWND folder_button;
HWND back_button;
HWND close_button;
HWND install_button;
HWND play_button;

Page page;
LONG shown_at;  // message time at which the page was shown
SIZE laid_out;   // the client size in pixels that the controls were last laid out for
HWND kept_focus;  // the control that had the keyboard when the window was last deactivated
bool details;
HANDLE child;
bool nup_ok;
bool nup_empty;  // the game-file field holds nothing (as the last check read it); the paint
                 // does not ask the field, which costs a quarter of a millisecond a time
bool space_ok;
bool space_warned;    // the folder passes, but its note warns
bool nup_pending;     // the field's answer for what it holds now is still to come
bool space_pending;
bool nup_checking;    // the note says that the field is being checked
bool space_checking;
DWORD asked_at;       // when the fields were last read for their questions
bool focus_waits;     // the page has just opened: once both answers are in, Install takes the
                      // keyboard from the game-file field if it can be pressed
std::wstring usable_folder;  // the folder as judged, when the last answer found that the
                             // installation could begin there; empty otherwise
double fraction;

// The operations of one subsystem that others call, declared here because the subsystems share
// one translation unit and call each other both ways.
void Show(Page to);
void Layout();
void FindGames();
void Check();
void BrowseNup();
void BrowseDir();
std::wstring DefaultDir();
void Install();
void Play();
void MakeScaledResources(HINSTANCE instance);
void Announce();

// A function looked up at run time, in a DLL loaded while running or one that older Windows
// lacks: null (and false) where the module or the function is missing.
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
