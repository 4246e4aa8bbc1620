// Start-up, the main window and the message loop, and the replay of a recorded transcript.

namespace {

// The state before wWinMain runs (it runs from the definition below) and at every test's
// start: every variable and every replaceable function of the module. The fonts, brushes and
// icon are not state: start-up makes them once and they never change.
void SetInitialState() {
  dpi = 96;
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
  shown_at = 0;
  details = false;
  nup_ok = false;
  space_ok = false;
  started = 0;
  window = nullptr;
  for (const ControlEntry& entry : kControls) *entry.handle = nullptr;
  child = nullptr;
  job = nullptr;
  script_wait = nullptr;
  log_step_posted = false;
  asking_stop = false;
  log_shown = 0;
  log_drop = 0;
  log_tail.clear();
  taskbar_created = 0;
  taskbar = nullptr;
  taskbar_value = 0;
  instance_mutex = nullptr;
  tick_source = GetTickCount;
  post_message = PostMessageW;
  assign_to_job = AssignProcessToJobObject;
  create_thread = CreateThread;
  powershell_path = SystemPowerShell;
  disk_free_space = GetDiskFreeSpaceExW;
  file_attributes = GetFileAttributesExW;
  show_taskbar = ShellTaskbar;
  execution_state = SetThreadExecutionState;
  create_std_object = nullptr;
  lresult_from_object = nullptr;
  alloc_string = nullptr;
  access_objects = 0;
  announced_page = -1;
  announced.clear();
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

void MakeResources(HINSTANCE instance) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font = MakeFont(metrics.lfMessageFont, 14, 0, nullptr);
  bold_font = MakeFont(metrics.lfMessageFont, 14, 700, nullptr);
  heading_font = MakeFont(metrics.lfMessageFont, 17, 700, nullptr);
  title_font = MakeFont(metrics.lfMessageFont, 28, 700, nullptr);
  mono_font = MakeFont(metrics.lfMessageFont, 12, 0, L"Consolas");
  bg_brush = CreateSolidBrush(kBackground);
  field_brush = CreateSolidBrush(kField);
  panel_brush = CreateSolidBrush(kPanel);
  icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, Scale(64), Scale(64), LR_DEFAULTCOLOR));
}

void MakeDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  auto set_context = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (set_context) {
    set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
  } else {
    SetProcessDPIAware();
  }
}

// DLLs loaded while running come from the system folder only, never from the folder the
// installer was started from (a Downloads folder, where anything may lie beside it).
HMODULE SystemLibrary(const wchar_t* name) { return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

// The first thing the program does: from now on every DLL that is loaded by name, also by the
// system's own DLLs (uxtheme for the common controls, for one), is searched for in the system
// folder only. Looked up at run time: Windows 7 without its 2011 update lacks the call.
void SearchSystemFolderOnly() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  auto set_directories = reinterpret_cast<SetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_directories) set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void DarkenTitleBar() {
  HMODULE dwm = SystemLibrary(L"dwmapi.dll");
  if (!dwm) return;
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, const void*, DWORD);
  auto set_attribute =
      reinterpret_cast<SetAttribute>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
  BOOL dark = TRUE;
  if (set_attribute) set_attribute(window, 20, &dark, sizeof dark);  // DWMWA_USE_IMMERSIVE_DARK_MODE
}

void Replay() {
  wchar_t path[260];
  DWORD length = GetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", path, 260);
  if (length < 1 || length > 259) return;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  install_dir = DefaultDir();
  started = Now() - 420000;  // the run counts as started seven minutes ago
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (bytes.empty() || !ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
  CloseHandle(file);
  // Fed through the interpreter as live output goes, bytes above 127 decoded as live output is,
  // from the OEM code page. Text after the last line feed is not a complete line and is left.
  std::string carry;
  pending_line = Decode(carry, bytes.data(), read, GetOEMCP(), true);
  bool done = StartsWith(ReadPendingLines(), L"@step done");
  pending_line.clear();
  FlushLog();
  if (done) Begin(L"done");
  Show(done ? Finished : Installing);
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
  taskbar_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
  RECT outer = {0, 0, Scale(880), Scale(740)};
  AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
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

  if (!OpenWindow(instance, L"VorlenSetup")) {
    // Without a window the message loop would wait for ever for a message that never comes.
    MessageBoxW(nullptr, L"Vorlen Installer could not open its window.", L"Vorlen", MB_ICONERROR);
    return 1;
  }
  DarkenTitleBar();
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
  return 0;
}

}  // namespace
