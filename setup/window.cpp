// The window: its fourteen controls, where each page puts them, and the window procedure.

namespace {

// The controls' ids, which WM_COMMAND names them by.
enum ControlId : int {
  kGameEditId = 101,
  kGameBrowseId = 102,
  kFolderEditId = 103,
  kFolderBrowseId = 104,
  kLogId = 105,
  kInstallId = 106,
  kCloseId = 107,
  kPlayId = 108,
  kDetailsId = 109,
  kBackId = 110,
  kOpenFolderId = 111,
  kDlssId = 112,
  kCopyId = 113,
  kOpenLogId = 114,
};

constexpr wchar_t kCopyCaption[] = L"Copy for a report";

struct ControlEntry {
  HWND* handle;
  int id;
  const wchar_t* window_class;
  const wchar_t* text;
  DWORD style;
};

// Creation order is also the Tab order.
const ControlEntry kControls[] = {
    {&game_edit, kGameEditId, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL},
    {&game_browse, kGameBrowseId, L"BUTTON", L"Browse...", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&folder_edit, kFolderEditId, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL},
    {&folder_browse, kFolderBrowseId, L"BUTTON", L"Change...", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&dlss_check, kDlssId, L"BUTTON", L"", WS_CHILD | WS_TABSTOP | BS_AUTOCHECKBOX},
    {&log_edit, kLogId, L"EDIT", L"", WS_CHILD | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY},
    {&details_button, kDetailsId, L"BUTTON", L"Show details", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&folder_button, kOpenFolderId, L"BUTTON", L"Open the folder", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&copy_button, kCopyId, L"BUTTON", kCopyCaption, WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&open_log_button, kOpenLogId, L"BUTTON", L"Open the log", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&back_button, kBackId, L"BUTTON", L"Back", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&close_button, kCloseId, L"BUTTON", L"Close", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&install_button, kInstallId, L"BUTTON", L"Install", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
    {&play_button, kPlayId, L"BUTTON", L"Play", WS_CHILD | WS_TABSTOP | BS_OWNERDRAW},
};

LONG shown_at;     // message time at which the page was shown
SIZE laid_out;     // the client size in pixels that the controls were last laid out for
HWND kept_focus;   // the control that had the keyboard when the window was last deactivated

// The off-screen copy of the client area that each paint composes the page in. It is kept from
// paint to paint and made again only when the client area changes size: making a bitmap of a
// few megabytes at every tick of the progress timer cost more than drawing the page, and made
// the time a paint takes uneven. The window frees it when it is destroyed, so it is no part of
// the initial state.
HDC page_dc;
HBITMAP page_bitmap;
SIZE page_size;

void SetInitialWindow() {
  for (const ControlEntry& entry : kControls) *entry.handle = nullptr;
  shown_at = 0;
  laid_out = {0, 0};
  kept_focus = nullptr;
}

// Where a control stands on a page, in layout units.
struct Box {
  HWND* control;
  RECT rect;  // left, top, right, bottom
  bool visible;
};

Box Place(HWND* control, int x, int y, int width, int height, bool visible) {
  return {control, {x, y, x + width, y + height}, visible};
}

// The placement of every control for a page, from the client size in layout units.
std::vector<Box> LayoutBoxes(Page on, bool with_details, int width, int height) {
  bool choices = on == Choices;
  bool progress = on == Installing || on == Stopped;
  bool primary_page = on == Choices || on == Finished;
  // The choices page's words above a field may take more lines than the design gives them.
  std::vector<int> shifts = choices ? ChoicesShifts(width, height) : std::vector<int>(kChoicesRows, 0);
  int game_top = kGameField + ControlShift(shifts, &game_edit);
  int folder_top = kFolderField + ControlShift(shifts, &folder_edit);
  int log_top = LogTop(on, width);
  int log_height = height - kLogEndUp - log_top;
  return {
      Place(&game_edit, kEdge, game_top, width - 176, kFieldHeight, choices),
      Place(&game_browse, width - 116, game_top, 90, kFieldHeight, choices),
      Place(&folder_edit, kEdge, folder_top, width - 176, kFieldHeight, choices),
      Place(&folder_browse, width - 116, folder_top, 90, kFieldHeight, choices),
      Place(&dlss_check, kEdge, kDlssBox + ControlShift(shifts, &dlss_check), 18, 18, choices),
      Place(&install_button, width - 176, height - kMainButtonUp, 150, 42, choices),
      Place(&play_button, width - 176, height - kMainButtonUp, 150, 42, on == Finished),
      Place(&close_button, primary_page ? width - 286 : width - 126, height - kButtonUp, 100, 34, true),
      Place(&back_button, width - 236, height - kButtonUp, 100, 34, on == Stopped),
      Place(&folder_button, kEdge, height - kButtonUp, 150, 34, on == Finished),
      Place(&copy_button, width - 556, height - kButtonUp, 170, 34, on == Stopped),
      Place(&open_log_button, on == Finished ? kEdge + 160 : width - 376, height - kButtonUp, 130, 34,
            on == Finished || on == Stopped),
      Place(&details_button, kEdge, height - kButtonUp, 130, 34, progress),
      Place(&log_edit, kEdge, log_top, width - 2 * kEdge, log_height,
            progress && with_details && log_height >= kLeastLog),
  };
}

SIZE ClientSize() {
  RECT client;
  GetClientRect(window, &client);
  return {client.right, client.bottom};
}

void Layout() {
  SIZE size = ClientSize();
  laid_out = size;
  for (const Box& box : LayoutBoxes(page, details, Unscale(size.cx), Unscale(size.cy))) {
    const RECT& r = box.rect;
    SetWindowPos(*box.control, nullptr, Scale(r.left), Scale(r.top), Scale(r.right) - Scale(r.left),
                 Scale(r.bottom) - Scale(r.top),
                 SWP_NOZORDER | SWP_NOACTIVATE | (box.visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  }
  SetWindowTextW(close_button, page == Installing ? L"Cancel" : L"Close");
  SetWindowTextW(details_button, details ? L"Hide details" : L"Show details");
}

// The control the keyboard starts from on the current page: its main button, or "Show
// details" while a script runs; on the choices page the game-file field while Install cannot
// be pressed. Never a hidden or disabled control.
HWND PageFocus() {
  switch (page) {
    case Choices: return IsWindowEnabled(install_button) ? install_button : game_edit;
    case Installing: return details_button;
    case Finished: return play_button;
    case Stopped: return back_button;
  }
  return game_edit;
}

void Show(Page to) {
  page = to;
  kept_focus = nullptr;
  shown_at = GetMessageTime();
  if (to == Stopped) details = true;
  EnableWindow(open_log_button, !transcript_path.empty());
  Layout();
  SetFocus(PageFocus());
  InvalidateRect(window, nullptr, TRUE);
  Announce();
}

bool HasClass(HWND control, const wchar_t* name) {
  wchar_t kind[64] = {};
  GetClassNameW(control, kind, 64);
  return _wcsicmp(kind, name) == 0;
}

// Whether the loop should drop a mouse press: one on a button of a page shown less than a
// double-click ago. Buttons of one page stand where buttons of the next one do (Cancel inside
// Install, Install under Back), so the second click of a double-click would otherwise press
// a button the player never saw, such as Cancel of a build that has just begun.
bool StrayClick(const MSG& message) {
  if (message.message != WM_LBUTTONDOWN && message.message != WM_LBUTTONDBLCLK) return false;
  if (!window || GetParent(message.hwnd) != window || !HasClass(message.hwnd, L"BUTTON")) return false;
  return message.time - static_cast<DWORD>(shown_at) < GetDoubleClickTime();
}

void SetControlFonts() {
  for (const ControlEntry& entry : kControls) {
    HFONT with = entry.handle == &log_edit ? mono_font : font;
    SendMessageW(*entry.handle, WM_SETFONT, reinterpret_cast<WPARAM>(with), TRUE);
  }
}

// The log as the keyboard reaches it. A multi-line edit asks for every key, Tab, Enter and Esc
// among them, and hands Tab and Enter on to its parent as to a dialog, which this window is not:
// Tab would stay in the log for good. Here those keys do what they do from any other control.
// Nor does a dialog's way of selecting the whole text of an edit that Tab reaches apply: it
// would carry the log away from the failed step's first error. Windows' multi-line edit ignores
// Ctrl+A; here it selects the whole log.
constexpr UINT_PTR kLogKeysSubclass = 0x4C4F474B;  // "LOGK"

LRESULT CALLBACK LogKeysProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  bool control_key = GetKeyState(VK_CONTROL) < 0;
  switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_WANTARROWS;
    case WM_KEYDOWN:
      if (wparam != 'A' || !control_key) break;
      SendMessageW(control, EM_SETSEL, 0, -1);
      return 0;
    case WM_CHAR:
      if (wparam == 1) return 0;  // Ctrl+A's character: taken as the key came
      break;
    case WM_NCDESTROY: RemoveWindowSubclass(control, LogKeysProc, kLogKeysSubclass); break;
  }
  return DefSubclassProc(control, message, wparam, lparam);
}

// --- Window procedure cases --------------------------------------------------------------------

LRESULT OnCreate(HWND created) {
  window = created;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlEntry& entry : kControls) {
    *entry.handle = CreateWindowExW(0, entry.window_class, entry.text, entry.style, 0, 0, 10, 10, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)), instance, nullptr);
  }
  SetControlFonts();
  SetWindowSubclass(log_edit, LogKeysProc, kLogKeysSubclass, 0);
  std::wstring cue = L"Default: " + DefaultFolder();
  SendMessageW(folder_edit, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue.c_str()));
  // 0 lifts the edit control's own limit (32,767 characters by default) to its maximum: the
  // log bounds itself at 400,000.
  SendMessageW(log_edit, EM_LIMITTEXT, 0, 0);
  NameControls();
  FindGames();
  Layout();
  CheckOpenedPage();
  return 0;
}

LRESULT OnSize() {
  if (!game_edit) return 0;  // sizes sent while the window is being made, before its controls
  // The first showing reports the size the window was made with, which is laid out already.
  SIZE size = ClientSize();
  if (size.cx == laid_out.cx && size.cy == laid_out.cy) return 0;
  Layout();
  InvalidateRect(window, nullptr, TRUE);
  return 0;
}

// Windows gives the keyboard to the window itself whenever it is activated again (after a
// message box, after Alt+Tab), where Enter, Space and Tab reach no control. As a dialog box does,
// the installer puts it back on the control that had it, or on the page's main button.
LRESULT OnActivate(WPARAM wparam) {
  if (HIWORD(wparam)) return 0;  // minimised: nothing has the keyboard
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus && GetParent(focus) == window) kept_focus = focus;
    return 0;
  }
  bool usable = kept_focus && IsWindowVisible(kept_focus) && IsWindowEnabled(kept_focus);
  SetFocus(usable ? kept_focus : PageFocus());
  return 0;
}

// Moved to a monitor of another scale. The rectangle Windows suggests keeps the window where
// the player drags it; without taking it the window would keep its size in pixels there.
LRESULT OnDpiChanged(WPARAM wparam, LPARAM lparam) {
  FollowDpi(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
  return 0;
}

LRESULT OnMinMaxInfo(LPARAM lparam) {
  MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lparam);
  info->ptMinTrackSize = {Scale(760), Scale(720)};
  return 0;
}

LRESULT OnDrawItem(LPARAM lparam) {
  const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  bool primary = item->hwndItem == install_button || item->hwndItem == play_button;
  ButtonLook look = LookOf(primary, item->itemState);
  HBRUSH brush = CreateSolidBrush(look.background);
  FillRect(item->hDC, &item->rcItem, brush);
  DeleteObject(brush);
  if (palette.edge != CLR_NONE) {
    HBRUSH edge = CreateSolidBrush(look.text);
    FrameRect(item->hDC, &item->rcItem, edge);
    DeleteObject(edge);
  }
  wchar_t caption[64];
  int length = GetWindowTextW(item->hwndItem, caption, 64);
  SelectObject(item->hDC, primary ? bold_font : font);
  SetBkMode(item->hDC, TRANSPARENT);
  SetTextColor(item->hDC, look.text);
  RECT box = item->rcItem;
  DrawTextW(item->hDC, caption, length, &box, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  if (item->itemState & ODS_FOCUS) {
    RECT focus = item->rcItem;
    InflateRect(&focus, -Scale(3), -Scale(3));
    DrawFocusRect(item->hDC, &focus);
  }
  return TRUE;
}

// Where the look draws edges, a line just outside each shown field and the log, which take the
// page's own colour there. The controls cover what is inside.
void EdgeFields(HDC dc) {
  if (palette.edge == CLR_NONE) return;
  HBRUSH edge = CreateSolidBrush(palette.edge);
  for (HWND field : {game_edit, folder_edit, log_edit}) {
    if (!(GetWindowLongW(field, GWL_STYLE) & WS_VISIBLE)) continue;
    RECT box;
    GetWindowRect(field, &box);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    InflateRect(&box, Scale(1), Scale(1));
    FrameRect(dc, &box, edge);
  }
  DeleteObject(edge);
}

void DropPage() {
  if (!page_dc) return;
  DeleteDC(page_dc);  // first, so that the bitmap is no longer selected anywhere when it is freed
  DeleteObject(page_bitmap);
  page_dc = nullptr;
  page_bitmap = nullptr;
  page_size = {0, 0};
}

// The page of a client area of `size` pixels, drawn off screen: the context that holds it.
// Whatever the drawing selects into the context is put back, so that no font stays selected
// there when a change of DPI frees it.
HDC ComposePage(HDC screen, SIZE size) {
  if (!page_dc || size.cx != page_size.cx || size.cy != page_size.cy) {
    DropPage();
    page_dc = CreateCompatibleDC(screen);
    page_bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    SelectObject(page_dc, page_bitmap);
    page_size = size;
  }
  int saved = SaveDC(page_dc);
  PaintWindow(page_dc, size, Now());
  EdgeFields(page_dc);
  RestoreDC(page_dc, saved);
  return page_dc;
}

// The page is composed off screen and copied in one piece, so neither a resize nor the
// half-second timer makes it flicker.
LRESULT OnPaint() {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(window, &paint);
  SIZE size = ClientSize();
  BitBlt(screen, 0, 0, size.cx, size.cy, ComposePage(screen, size), 0, 0, SRCCOPY);
  EndPaint(window, &paint);
  return 0;
}

LRESULT OnDestroy() {
  DropPage();
  DropHandedOver();
  PostQuitMessage(0);
  return 0;
}

// The strip of the installing page that changes while a script runs: steps, bar, times, note.
RECT ProgressBand() {
  return {0, Scale(kBandTop), ClientSize().cx, Scale(kLogTop)};
}

LRESULT OnTimer(WPARAM id) {
  if (id == kCatchUpTimer) {
    OnCatchUpTimer();
  } else if (id == kCheckingTimer) {
    OnCheckingTimer();
  } else if (id == kCopiedTimer) {
    OnCopiedTimer();
  } else if (page == Installing) {
    RECT band = ProgressBand();
    InvalidateRect(window, &band, FALSE);
    if (child) RunProgressed();
    Announce();
  }
  return 0;
}

// ShellExecuteW: null where shell32 cannot be had, which callers take as a failure.
HINSTANCE ShellOpen(const std::wstring& file, const wchar_t* directory, int show) {
  HINSTANCE(WINAPI * execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
  if (!FindCall(Shell32(), "ShellExecuteW", execute)) return nullptr;
  return execute(window, L"open", file.c_str(), nullptr, directory, show);
}

void OpenFolder() { ShellOpen(install_dir, nullptr, SW_SHOWNORMAL); }

void ToggleDetails() {
  details = !details;
  Layout();
  InvalidateRect(window, nullptr, TRUE);
  Announce();
}

void Back() {
  Show(Choices);
  CheckOpenedPage();
  SetFocus(PageFocus());  // Install may have become pressable, or may once the answers are in
}

// Enter, as the message loop's dialog handling reports it (IDOK): a focused button is pressed;
// otherwise the page's main button, when it can be pressed. Never anything on the installing
// page, where Enter must neither stop nor start a run.
void OnEnter() {
  HWND focus = GetFocus();
  bool button = focus && GetParent(focus) == window && HasClass(focus, L"BUTTON") && focus != dlss_check;
  HWND target = button ? focus : page == Installing ? nullptr : PageFocus();
  if (!target || !HasClass(target, L"BUTTON") || !IsWindowVisible(target) || !IsWindowEnabled(target)) return;
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(target), BN_CLICKED), reinterpret_cast<LPARAM>(target));
}

LRESULT OnCommand(UINT message, WPARAM wparam, LPARAM lparam) {
  int id = LOWORD(wparam);
  int code = HIWORD(wparam);
  if (id == kGameEditId || id == kFolderEditId) {
    if (code == EN_CHANGE) Check(id == kGameEditId, id == kFolderEditId);
    return 0;
  }
  // A press is BN_CLICKED alone: owner-drawn buttons also report the second click of a
  // double-click (BN_DOUBLECLICKED), which must not press them again.
  if (code != BN_CLICKED) return DefWindowProcW(window, message, wparam, lparam);
  switch (id) {
    case IDOK: OnEnter(); return 0;                                   // Enter
    case IDCANCEL: SendMessageW(window, WM_CLOSE, 0, 0); return 0;    // Esc: what Close / Cancel does
    case kGameBrowseId: BrowseGame(); return 0;
    case kFolderBrowseId: BrowseFolder(); return 0;
    case kInstallId: Install(); return 0;
    case kCloseId: SendMessageW(window, WM_CLOSE, 0, 0); return 0;
    case kPlayId: Play(); return 0;
    case kDetailsId: ToggleDetails(); return 0;
    case kBackId: Back(); return 0;
    case kOpenFolderId: OpenFolder(); return 0;
    case kCopyId: CopyReport(); return 0;
    case kOpenLogId: OpenLog(); return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == taskbar_created && taskbar_created) return OnTaskbarCreated();
  switch (message) {
    case WM_CREATE: return OnCreate(hwnd);
    case WM_SIZE: return OnSize();
    case WM_GETMINMAXINFO: return OnMinMaxInfo(lparam);
    case WM_DPICHANGED: return OnDpiChanged(wparam, lparam);
    case WM_ACTIVATE: return OnActivate(wparam);
    case WM_DRAWITEM: return OnDrawItem(lparam);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: return OnControlColour(wparam, lparam);
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE: return OnSystemColours(message, wparam, lparam);
    case WM_PAINT: return OnPaint();
    case WM_ERASEBKGND: return 1;  // the paint fills everything itself
    case WM_COMMAND: return OnCommand(message, wparam, lparam);
    case WM_CLOSE: return OnClose();
    case WM_DESTROY: return OnDestroy();
    case WM_TIMER: return OnTimer(wparam);
    case kOutputMessage: return OnOutput();
    case kEndMessage: return OnEndMessage();
    case kAnswerMessage: return OnAnswers();
    case kTranscriptMessage: return OnTranscriptFailed();
    case WM_GETOBJECT: return OnGetObject(wparam, lparam);
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace
