// Start-up, the main window and the message loop.

namespace {

// The state before wWinMain runs (it runs from the definition below) and at every test's
// start: what the subsystems share, then each subsystem's own, with every replaceable function
// of the module. The fonts, brushes and icon are not state: start-up makes them, and only a
// change of DPI makes them again.
void SetInitialState() {
  dpi = 96;
  install_dir.clear();
  window = nullptr;
  started = 0;
  page = Choices;
  details = false;
  child = nullptr;
  transcript_path.clear();
  tick_source = GetTickCount;
  post_message = PostMessageW;
  SetInitialLook();
  SetInitialProgress();
  SetInitialComfort();
  SetInitialChoices();
  SetInitialWindow();
  SetInitialAccess();
  SetInitialRun();
  SetInitialReport();
}

// Runs during static initialisation, after every variable above has been constructed.
[[maybe_unused]] const bool initial_state_set = (SetInitialState(), true);

// One font from the system's message font, with only the named fields changed.
HFONT MakeFont(const LOGFONTW& base, int height, int weight, const wchar_t* face) {
  LOGFONTW copy = base;
  copy.lfHeight = -Scale(height);
  if (weight) copy.lfWeight = weight;
  if (face) lstrcpynW(copy.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&copy);
}

HMODULE User32() { return GetModuleHandleW(L"user32.dll"); }

HFONT* const kFonts[] = {&font, &bold_font, &heading_font, &title_font, &mono_font};

// The fonts and the icon at the current `dpi`. A set made before is freed once the controls
// hold the new fonts, so a change of DPI leaves nothing behind.
void MakeScaledResources(HINSTANCE instance) {
  HFONT old_fonts[sizeof kFonts / sizeof kFonts[0]];
  for (size_t i = 0; i < sizeof kFonts / sizeof kFonts[0]; ++i) old_fonts[i] = *kFonts[i];
  HICON old_icon = icon;
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font = MakeFont(metrics.lfMessageFont, 14, 0, nullptr);
  bold_font = MakeFont(metrics.lfMessageFont, 14, 700, nullptr);
  heading_font = MakeFont(metrics.lfMessageFont, 17, 700, nullptr);
  title_font = MakeFont(metrics.lfMessageFont, 28, 700, nullptr);
  mono_font = MakeFont(metrics.lfMessageFont, 12, 0, L"Consolas");
  icon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, Scale(64), Scale(64), LR_DEFAULTCOLOR));
  if (game_edit) SetControlFonts();
  for (HFONT old : old_fonts) {
    if (old) DeleteObject(old);
  }
  if (old_icon) DestroyIcon(old_icon);
}

// The fonts and icon, and the brushes of the look the system asks for (look.cpp), which the DPI
// does not change.
void MakeResources(HINSTANCE instance) {
  MakeScaledResources(instance);
  UseLook(WantedLook());
}

// Everything at DPI `to` (fonts, icon, layout, minimum size), in the window rectangle `outer`.
void FollowDpi(int to, const RECT& outer) {
  dpi = to;
  MakeScaledResources(GetModuleHandleW(nullptr));
  SetWindowPos(window, nullptr, outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();  // also when the rectangle kept the window's size in pixels
  InvalidateRect(window, nullptr, TRUE);
}

void MakeDpiAware() {
  BOOL(WINAPI * set_context)(HANDLE);
  if (FindCall(User32(), "SetProcessDpiAwarenessContext", set_context)) {
    set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
  } else {
    SetProcessDPIAware();
  }
}

// The first thing the program does: from now on every DLL that is loaded by name, also by the
// system's own DLLs (uxtheme for the common controls, for one), is searched for in the system
// folder only.
void SearchSystemFolderOnly() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

// The outer rectangle of the window for its 880 by 740 client area at `at_dpi`, with the frame
// of that DPI where Windows can give it (10, version 1607 on).
RECT OuterRect(int at_dpi) {
  RECT outer = {0, 0, MulDiv(880, at_dpi, 96), MulDiv(740, at_dpi, 96)};
  BOOL(WINAPI * adjust)(RECT*, DWORD, BOOL, DWORD, UINT);
  if (FindCall(User32(), "AdjustWindowRectExForDpi", adjust)) {
    adjust(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0, static_cast<UINT>(at_dpi));
  } else {
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
  }
  return outer;
}

// The screen's DPI is that of the main monitor; a window that opens on another monitor takes
// that monitor's DPI and size at once, where it stands.
void FollowMonitorDpi() {
  UINT(WINAPI * dpi_of)(HWND);
  int own = FindCall(User32(), "GetDpiForWindow", dpi_of) ? static_cast<int>(dpi_of(window)) : 0;
  if (own <= 0 || own == dpi) return;
  RECT at;
  GetWindowRect(window, &at);
  RECT outer = OuterRect(own);
  OffsetRect(&outer, at.left - outer.left, at.top - outer.top);
  FollowDpi(own, outer);
}

// Registers the main window's class and creates the window, 880 by 740 at 96 DPI inside; its
// creation builds the controls, finds the game files and runs the checks. Tests open theirs
// under another class name, so that it is never taken for an open installer.
bool OpenWindow(HINSTANCE instance, const wchar_t* class_name) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = Proc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = bg_brush;
  window_class.lpszClassName = class_name;
  ListenForTaskbar();
  RECT outer = OuterRect(dpi);
  WNDCLASSEXW known;
  if (!GetClassInfoExW(instance, class_name, &known) && !RegisterClassExW(&window_class)) return false;
  return CreateWindowExW(0, class_name, L"Vorlen Installer", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                         CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                         instance, nullptr) != nullptr;
}

int Start(HINSTANCE instance, int show) {
  if (AnotherInstallerOpen()) return 0;
  MakeDpiAware();
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HDC screen = GetDC(nullptr);
  dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  MakeResources(instance);

  if (!OpenWindow(instance, kWindowClass)) {
    // Without a window the message loop would wait for ever for a message that never comes.
    Tell(L"Vorlen Installer could not open its window.", MB_ICONERROR);
    return 1;
  }
  FollowMonitorDpi();
  ShadeTitleBar();
  ShadeLog();
  Replay();
  ShowWindow(window, show);
  SetFocus(PageFocus());

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (StrayClick(message)) continue;
    if (IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  FinishTranscript();
  return 0;
}

}  // namespace
