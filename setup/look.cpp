// The look: the palette, the brushes made from it, the colours of the controls and of the
// owner-drawn buttons, the title bar and the log's scroll bar. The fixed dark scheme, or, while
// a High Contrast theme is on, the theme's own colours: a player who turns one on needs them to
// read the window at all.

namespace {

// The dark scheme's eight named colours (the tests name them as what the default look shows).
constexpr COLORREF kBackground = RGB(18, 21, 28);
constexpr COLORREF kPanel = RGB(27, 32, 43);
constexpr COLORREF kField = RGB(36, 43, 57);
constexpr COLORREF kAccent = RGB(224, 182, 74);
constexpr COLORREF kBright = RGB(232, 234, 240);
constexpr COLORREF kMuted = RGB(141, 150, 168);
constexpr COLORREF kGreen = RGB(111, 207, 127);
constexpr COLORREF kRed = RGB(239, 107, 107);

// Every colour the window draws with, by what it is for. Only colours: two looks compare
// byte for byte.
struct Palette {
  COLORREF background;  // the page
  COLORREF panel;       // the header band, the finished page's panel, the log
  COLORREF field;       // the fields and the bar's track
  COLORREF accent;      // the title, the headings and labels, a note that warns
  COLORREF bright;      // words that matter
  COLORREF muted;       // words that explain, and steps not started
  COLORREF green;       // done, and a choice that passes
  COLORREF red;         // stopped, and a choice that fails
  COLORREF active;      // the running step's dot and the bar's fill
  COLORREF main;        // Install and Play: up, pressed, disabled, and their captions
  COLORREF main_pressed;
  COLORREF main_disabled;
  COLORREF main_text;
  COLORREF main_disabled_text;
  COLORREF button;      // the other buttons: up, pressed, and their captions
  COLORREF button_pressed;
  COLORREF button_text;
  COLORREF button_pressed_text;
  COLORREF button_disabled_text;
  COLORREF edge;        // a line around the fields, the buttons and the bar; CLR_NONE: their fills show them
};

constexpr Palette kDarkLook = {
    kBackground, kPanel, kField, kAccent, kBright, kMuted, kGreen, kRed, kAccent,
    kAccent, RGB(200, 160, 60), RGB(90, 77, 42), RGB(26, 20, 7), RGB(26, 20, 7),
    kField, RGB(50, 59, 77), kBright, kBright, kMuted, CLR_NONE};

// Where the system's answers come from. Tests put in their own, since a High Contrast theme
// cannot be switched on under Wine.
BOOL(WINAPI* system_parameters)(UINT, UINT, PVOID, UINT);
DWORD(WINAPI* system_colour)(int);

// The look in use and its brushes, made whenever it changes, never otherwise (start-up makes
// them before the window).
Palette palette;
HBRUSH bg_brush;
HBRUSH field_brush;
HBRUSH panel_brush;

bool SameLook(const Palette& a, const Palette& b) { return memcmp(&a, &b, sizeof a) == 0; }

bool Dark() { return SameLook(palette, kDarkLook); }

bool HighContrastOn() {
  HIGHCONTRASTW contrast = {};
  contrast.cbSize = sizeof contrast;
  return system_parameters(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

// High Contrast: each text on the background the theme made it for. Every word takes the
// theme's text colour (there a colour says nothing the words and the marks' shapes do not), what
// runs or is pressed its highlight, and lines show the fields, buttons and bar that fills showed.
Palette ThemeLook() {
  COLORREF page = system_colour(COLOR_WINDOW), text = system_colour(COLOR_WINDOWTEXT);
  COLORREF lit = system_colour(COLOR_HIGHLIGHT), lit_text = system_colour(COLOR_HIGHLIGHTTEXT);
  COLORREF face = system_colour(COLOR_BTNFACE), face_text = system_colour(COLOR_BTNTEXT);
  COLORREF grey = system_colour(COLOR_GRAYTEXT);
  return {page, page, page, text, text, text, text, text, lit,
          lit,  lit,  face, lit_text, grey,
          face, lit,  face_text, lit_text, grey, text};
}

Palette WantedLook() { return HighContrastOn() ? ThemeLook() : kDarkLook; }

// Takes `look`, with brushes of its own; false when it is the one in use. The window's class
// is given the new background brush before the old one is freed.
bool UseLook(const Palette& look) {
  if (bg_brush && SameLook(look, palette)) return false;
  palette = look;
  HBRUSH old[] = {bg_brush, field_brush, panel_brush};
  bg_brush = CreateSolidBrush(look.background);
  field_brush = CreateSolidBrush(look.field);
  panel_brush = CreateSolidBrush(look.panel);
  if (window) SetClassLongPtrW(window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(bg_brush));
  for (HBRUSH brush : old) {
    if (brush) DeleteObject(brush);
  }
  return true;
}

void SetInitialLook() {
  system_parameters = SystemParametersInfoW;
  system_colour = GetSysColor;
  UseLook(kDarkLook);
}

// The title bar dark like the page; light for High Contrast, whose colours the system then gives
// it. Attribute 20 is DWMWA_USE_IMMERSIVE_DARK_MODE from Windows 10 version 2004 on; versions
// 1809 to 1909 knew the same switch as 19 and refuse 20. Older ones refuse both: the bar stays.
void ShadeTitleBar() {
  HRESULT(WINAPI * set_attribute)(HWND, DWORD, const void*, DWORD);
  if (!FindCall(SystemLibrary(L"dwmapi.dll"), "DwmSetWindowAttribute", set_attribute)) return;
  BOOL dark = Dark();
  if (FAILED(set_attribute(window, 20, &dark, sizeof dark))) set_attribute(window, 19, &dark, sizeof dark);
}

// The log's scroll bar drawn dark where Windows has a dark one (10, version 1809 on), and the
// theme's own again for High Contrast; where uxtheme is missing, it stays as it is.
void ShadeLog() {
  HRESULT(WINAPI * set_theme)(HWND, LPCWSTR, LPCWSTR);
  if (FindCall(SystemLibrary(L"uxtheme.dll"), "SetWindowTheme", set_theme)) {
    set_theme(log_edit, Dark() ? L"DarkMode_Explorer" : nullptr, nullptr);  // null: the class's own
  }
}

// A High Contrast theme switched on or off, or its colours changed, while the window is open:
// Windows says the first with WM_SETTINGCHANGE and the second with WM_SYSCOLORCHANGE, which the
// controls are told of too. The window takes the look the system asks for now.
LRESULT OnSystemColours(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_SYSCOLORCHANGE) {
    for (HWND control = GetWindow(window, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
      SendMessageW(control, WM_SYSCOLORCHANGE, 0, 0);
    }
  }
  if (UseLook(WantedLook())) {
    ShadeTitleBar();
    ShadeLog();
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The colours an edit control or the check box draws itself in.
LRESULT OnControlColour(WPARAM wparam, LPARAM lparam) {
  HDC dc = reinterpret_cast<HDC>(wparam);
  HWND control = reinterpret_cast<HWND>(lparam);
  if (control == dlss_check) {
    SetBkColor(dc, palette.background);
    return reinterpret_cast<LRESULT>(bg_brush);
  }
  if (control == log_edit) {
    SetTextColor(dc, palette.muted);
    SetBkColor(dc, palette.panel);
    return reinterpret_cast<LRESULT>(panel_brush);
  }
  SetTextColor(dc, palette.bright);
  SetBkColor(dc, palette.field);
  return reinterpret_cast<LRESULT>(field_brush);
}

// The colours of an owner-drawn button by its kind and the state the system passes. Its edge,
// where the look draws edges, is its caption's colour.
struct ButtonLook {
  COLORREF background;
  COLORREF text;
};

ButtonLook LookOf(bool primary, UINT item_state) {
  bool disabled = item_state & ODS_DISABLED;
  bool pressed = item_state & ODS_SELECTED;
  const Palette& p = palette;
  if (primary) {
    return {disabled ? p.main_disabled : pressed ? p.main_pressed : p.main,
            disabled ? p.main_disabled_text : p.main_text};
  }
  return {pressed ? p.button_pressed : p.button,
          disabled ? p.button_disabled_text : pressed ? p.button_pressed_text : p.button_text};
}

}  // namespace
