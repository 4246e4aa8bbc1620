// The window in this process: layout, painting on pixels, buttons, resources, replay and what
// a screen reader finds.
#include "support.h"

#include <map>
#include <set>

namespace {

// A control's rectangle in the window's client coordinates.
RECT Where(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

LOGFONTW LogFontOf(HFONT f) {
  LOGFONTW got = {};
  EXPECT_TRUE(GetObjectW(f, sizeof got, &got));
  return got;
}

struct WindowTest : StateTest {
  void TearDown() override {
    if (window) DestroyWindow(window);
    DropMessages();
    ResetState();
  }
};

// The smallest client area the player can make, in pixels: the minimum tracking size less the
// window's frame at the current DPI.
SIZE SmallestClient() {
  MINMAXINFO limits = {};
  OnMinMaxInfo(reinterpret_cast<LPARAM>(&limits));
  RECT outer = OuterRect(dpi);
  return {limits.ptMinTrackSize.x - (outer.right - outer.left - Scale(880)),
          limits.ptMinTrackSize.y - (outer.bottom - outer.top - Scale(740))};
}

// A failure line as German pacman writes it: its cause comes after a long package name.
const wchar_t kLongFailure[] =
    L"Fehler: Konnte Datei 'mingw-w64-clang-x86_64-llvm-libs-21.1.2-1-any.pkg.tar.zst' nicht von mirror.msys2.org "
    L"\u00fcbertragen : Operation too slow. Less than 1 bytes/sec transferred the last 10 seconds";

// Everything a page shows (its words as far as their lines reach, and its controls) stands inside
// the client area and clear of everything else, at the default and the smallest client size and
// at two DPIs: no words run into a field, every note stays under its field, a long failure stays
// above the log, the log keeps off the buttons.
TEST_F(WindowTest, EveryPageKeepsWhatItShowsApartAndInside) {
  for (int at : {96, 144}) {
    Scoped<int> scale(dpi, at);
    MakeScaledResources(GetModuleHandleW(nullptr));
    for (SIZE size : {SIZE{Scale(880), Scale(740)}, SmallestClient()}) {
      ResetProgress();
      MakeWindow(size.cx, size.cy);
      install_dir = L"C:\\Users\\Player\\AppData\\Local\\Vorlen";
      started = Now();
      for (const wchar_t* line : {L"@step msys", L"@step packages", L"@step compile", L"[600/1200] Building x.obj"})
        ReadLine(line);
      const struct {
        Page on;
        const wchar_t* failure;
      } shown[] = {{Choices, L""}, {Installing, L""}, {Stopped, L"out of memory"}, {Stopped, kLongFailure},
                   {Finished, L""}};
      for (const auto& [on, failure_line] : shown) {
        if (on == Choices) {
          game_field.note = L"There is no such file.";
          folder_field.note = L"OneDrive syncs this folder: it would upload the tens of thousands of files of the build and "
                       L"can hold them open while they are built. A folder outside it, such as the default, is better.";
        }
        failure = failure_line;
        details = true;
        Show(on);
        RECT client;
        GetClientRect(window, &client);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
        std::vector<Item> items = Items();
        std::string where = std::to_string(at) + " dpi, " + std::to_string(size.cx) + " by " +
                            std::to_string(size.cy) + " pixels, page " + std::to_string(on) + ": ";
        for (size_t i = 0; i < items.size(); ++i) {
          RECT box = ScreenBox(items[i]), inside, both;
          IntersectRect(&inside, &box, &client);
          EXPECT_TRUE(EqualRect(&inside, &box)) << where << Narrow(items[i].name);
          for (size_t j = i + 1; j < items.size(); ++j) {
            // The bar is read with its percentage, so its item reaches into the time line's row.
            if (items[i].role == ROLE_SYSTEM_PROGRESSBAR && items[j].reading == Reading::Clock) continue;
            RECT other = ScreenBox(items[j]);
            EXPECT_FALSE(IntersectRect(&both, &box, &other))
                << where << Narrow(items[i].name) << " and " << Narrow(items[j].name);
          }
        }
      }
      DestroyWindow(window);
    }
  }
  MakeScaledResources(GetModuleHandleW(nullptr));
}

// The log shows on the page of a run with details on, down to the height where it would be
// shorter than it may be; the smallest window the player can make still shows it.
TEST(LayoutTable, LogNeedsDetailsAProgressPageAndRoom) {
  auto log = [](Page on, bool with_details, int height) {
    Box box = LayoutBoxes(on, with_details, 880, height).back();
    EXPECT_EQ(box.control, &log_edit);
    return box;
  };
  int smallest = Unscale(SmallestClient().cy);
  int lowest = smallest;
  while (lowest > 0 && log(Installing, true, lowest - 1).visible) --lowest;
  ASSERT_LT(lowest, smallest);
  ASSERT_TRUE(log(Installing, true, lowest).visible);
  EXPECT_EQ(log(Installing, true, lowest).rect.bottom - log(Installing, true, lowest).rect.top, kLeastLog);
  for (int height : {lowest, 740}) {
    EXPECT_TRUE(log(Stopped, true, height).visible) << height;
    EXPECT_FALSE(log(Installing, false, height).visible) << height;
    EXPECT_FALSE(log(Choices, true, height).visible) << height;
    EXPECT_FALSE(log(Finished, true, height).visible) << height;
  }
}

// Fourteen controls, each under an id of its own that is not one of those Enter and Esc send, so
// that a command names one control. Tab goes through a page's shown controls as they stand:
// down the page, then left to right; the log, when shown, first, above the buttons.
TEST_F(WindowTest, CreatesFourteenControlsInTabOrderWithTheirIds) {
  MakeWindow(880, 740);
  ASSERT_NE(window, nullptr);
  std::set<int> ids;
  for (HWND control = GetWindow(window, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
    int id = GetDlgCtrlID(control);
    EXPECT_TRUE(ids.insert(id).second) << "two controls share the id " << id;
    EXPECT_TRUE(id != IDOK && id != IDCANCEL) << id;
  }
  EXPECT_EQ(ids.size(), 14u);
  EXPECT_EQ(WindowText(game_browse), L"Browse...");
  EXPECT_EQ(WindowText(close_button), L"Close");
  EXPECT_TRUE(GetWindowLongW(log_edit, GWL_STYLE) & ES_READONLY);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(log_edit, WM_GETFONT, 0, 0)), mono_font);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(game_edit, WM_GETFONT, 0, 0)), font);
  EXPECT_EQ(page, Choices);
  EnableWindow(install_button, TRUE);  // as when the game file is found
  transcript_path = L"C:\\Temp\\vorlen-setup\\transcript-20260101-120000.txt";
  const struct {
    Page on;
    bool with_details;
    std::vector<HWND> order;
  } tab_orders[] = {
      {Choices, false, {game_edit, game_browse, folder_edit, folder_browse, dlss_check, close_button, install_button}},
      {Installing, false, {details_button, close_button}},
      {Installing, true, {log_edit, details_button, close_button}},
      {Stopped, true, {log_edit, details_button, copy_button, open_log_button, back_button, close_button}},
      {Finished, false, {folder_button, open_log_button, close_button, play_button}}};
  for (const auto& [on, with_details, order] : tab_orders) {
    details = with_details;
    Show(on);
    for (size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(GetNextDlgTabItem(window, order[i], FALSE), order[(i + 1) % order.size()]) << on << ", stop " << i;
    }
  }
}

// The fonts are the system's message font in the design's sizes: at 144 DPI a height of 14
// is set as -21 (a character height). The resources of this program are put back afterwards.
TEST_F(WindowTest, FontsFollowTheMessageFontAndTheDpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  {
    Scoped<int> at(dpi, 144);
    MakeScaledResources(GetModuleHandleW(nullptr));
  }
  LOGFONTW body = LogFontOf(font), bold = LogFontOf(bold_font), heading = LogFontOf(heading_font),
           title = LogFontOf(title_font), mono = LogFontOf(mono_font);
  EXPECT_EQ(body.lfHeight, -21);
  EXPECT_EQ(bold.lfHeight, body.lfHeight);
  // Heights are negative: a larger letter has a smaller figure.
  EXPECT_LT(heading.lfHeight, body.lfHeight);
  EXPECT_LT(title.lfHeight, heading.lfHeight);
  EXPECT_GT(mono.lfHeight, body.lfHeight);
  EXPECT_EQ(body.lfWeight, metrics.lfMessageFont.lfWeight);
  EXPECT_GT(bold.lfWeight, body.lfWeight);
  EXPECT_EQ(heading.lfWeight, bold.lfWeight);
  EXPECT_EQ(title.lfWeight, bold.lfWeight);
  EXPECT_STREQ(body.lfFaceName, metrics.lfMessageFont.lfFaceName);
  EXPECT_STREQ(mono.lfFaceName, L"Consolas");
  for (const LOGFONTW& f : {body, bold, heading, title, mono}) {
    EXPECT_EQ(f.lfItalic, metrics.lfMessageFont.lfItalic);
    EXPECT_EQ(f.lfCharSet, metrics.lfMessageFont.lfCharSet);
  }
  ASSERT_NE(icon, nullptr) << "the program's icon resource";
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP colour = {};
  GetObjectW(info.hbmColor, sizeof colour, &colour);
  EXPECT_EQ(colour.bmWidth, 96);  // 64 at 96 DPI
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  MakeScaledResources(GetModuleHandleW(nullptr));  // back at 96 DPI
}

TEST_F(WindowTest, CaptionsAndLogFollowPageDetailsAndHeight) {
  // The least height itself is in the layout table test: the minimum tracking size keeps a
  // real window (even SetWindowPos under Wine) from getting that short.
  MakeWindow(880, 740);
  details = true;
  Show(Installing);
  EXPECT_EQ(WindowText(close_button), L"Cancel");
  EXPECT_EQ(WindowText(details_button), L"Hide details");
  EXPECT_TRUE(Showing(log_edit));
  Press(details_button);
  EXPECT_FALSE(details);
  EXPECT_EQ(WindowText(details_button), L"Show details");
  EXPECT_FALSE(Showing(log_edit));
  Show(Stopped);  // a stopped run always opens its log
  EXPECT_TRUE(details);
  EXPECT_TRUE(Showing(log_edit));
  EXPECT_EQ(WindowText(close_button), L"Close");
}

TEST_F(WindowTest, ResizeMinimumSizeAndEraseAnswer) {
  Scoped<int> at(dpi, 144);
  MakeWindow(Scale(880), Scale(740));
  // A resized window lays its controls out again.
  RECT outer;
  GetWindowRect(window, &outer);
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + 150, outer.bottom - outer.top + 90,
               SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(Where(install_button).left, Scale(Unscale(ClientSize().cx) - 176));
  EXPECT_EQ(Where(install_button).top, Scale(Unscale(ClientSize().cy) - 62));
  MINMAXINFO info = {};
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 1140);
  EXPECT_EQ(info.ptMinTrackSize.y, 1080);
  HDC dc = GetDC(window);
  EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
  ReleaseDC(window, dc);
}

// The log asks for Windows' dark scroll bar. Wine draws its scroll bars light whatever the
// theme (245,245,245, measured), so what is checked is the request, where Wine's uxtheme keeps
// it: the sub-application name as an atom in the window property "ux_subapp".
TEST_F(WindowTest, LogAsksForTheDarkScrollBar) {
  MakeWindow(880, 740);
  ShadeLog();
  wchar_t name[64] = {};
  ATOM subapp = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(log_edit, L"ux_subapp")));
  ASSERT_NE(subapp, 0);
  GetAtomNameW(subapp, name, 64);
  EXPECT_STREQ(name, L"DarkMode_Explorer");
}

// --- Painting on pixels ----------------------------------------------------------------------

struct PaintTest : WindowTest {
  void SetUp() override {
    WindowTest::SetUp();
    MakeResources(GetModuleHandleW(nullptr));
  }
  const RECT bar = BarBox(880);
  const int bar_middle = (bar.top + bar.bottom) / 2;
  static int StepRow(int step) { return kFirstStep + kStepPitch * step; }
  // Paints the current state at 880 by 740 layout units; the picture is read in layout units.
  std::unique_ptr<Canvas> PaintAt(int at_dpi, DWORD now = 600000) {
    dpi = at_dpi;
    auto picture = std::make_unique<Canvas>(Scale(880), Scale(740));
    picture->unit_dpi = at_dpi;
    PaintWindow(picture->dc, picture->size, now);
    return picture;
  }
};

TEST_F(PaintTest, HeaderBandTitleAndBackgroundOnEveryPage) {
  for (int at : {96, 144}) {
    for (Page on : {Choices, Installing, Finished, Stopped}) {
      page = on;
      auto p = PaintAt(at);
      EXPECT_EQ(p->At(700, 5), kPanel) << on << " at " << at;
      EXPECT_EQ(p->At(700, 94), kPanel);
      EXPECT_EQ(p->At(700, 98), kBackground);
      EXPECT_EQ(p->At(3, 600), kBackground);
      EXPECT_TRUE(p->Has(kAccent, 106, 14, 220, 50)) << "title";
      EXPECT_TRUE(p->Has(kMuted, 106, 58, 600, 76)) << "subtitle";
    }
  }
}

TEST_F(PaintTest, ProgressFillEndsExactlyAtItsWidth) {
  page = Installing;
  Begin(L"compile");
  fraction = 0.5;
  int fill = FillWidth(880, Progress());
  ASSERT_EQ(fill, 479);
  for (int at : {96, 120, 144}) {
    auto p = PaintAt(at);
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.left + fill) - 1, Scale(bar_middle)), kAccent) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.left + fill), Scale(bar_middle)), kField) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.left), Scale(bar.top)), kAccent) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.left) - 1, Scale(bar_middle)), kBackground) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.right) - 1, Scale(bar_middle)), kField) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(bar.right), Scale(bar_middle)), kBackground) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(500), Scale(bar.bottom)), kBackground) << at;
  }
}

TEST_F(PaintTest, BarNeverRunsPastItsTrack) {
  page = Installing;
  Begin(L"done");
  Begin(L"shortcuts");
  fraction = 3.0;  // a tool that counts past its total
  auto p = PaintAt(96);
  EXPECT_EQ(p->At(bar.right - 1, bar_middle), kAccent);
  EXPECT_EQ(p->At(bar.right, bar_middle), kBackground);
  EXPECT_EQ(p->At(870, bar_middle), kBackground);
}

TEST_F(PaintTest, MarksFollowStepStates) {
  page = Installing;
  Begin(L"compile");
  auto p = PaintAt(96);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(p->Has(kGreen, 28, StepRow(i), 43, StepRow(i) + 16)) << i;
  EXPECT_EQ(p->At(35, StepRow(7) + 8), kAccent);      // the running dot, filled
  EXPECT_EQ(p->At(35, StepRow(8) + 8), kBackground);  // inside a pending ring
  EXPECT_TRUE(p->Has(kMuted, 28, StepRow(8), 43, StepRow(8) + 16));
  EXPECT_FALSE(p->Has(kRed, 0, kBandTop, 880, kLogTop));
}

TEST_F(PaintTest, StoppedPageIsRedWithoutTimeLine) {
  page = Stopped;
  Begin(L"compile");
  fraction = 0.5;
  FailStep();
  failure = L"the compiler ran out of memory";
  auto p = PaintAt(96);
  EXPECT_TRUE(p->Has(kRed, kEdge, kBandTop, 300, StepRow(0))) << "heading";
  EXPECT_TRUE(p->Has(kRed, 28, StepRow(7), 43, StepRow(7) + 16)) << "cross";
  EXPECT_EQ(p->At(bar.left + 100, bar_middle), kRed) << "fill";
  EXPECT_EQ(GetPixel(p->dc, bar.left + FillWidth(880, 31.0 / 101), bar_middle), kField);
  EXPECT_TRUE(p->Has(kRed, kEdge, kNoteRow, 300, kLogTop)) << "failure note";
  EXPECT_FALSE(p->Has(kMuted, 454, kFigureRow, bar.right, kNoteRow)) << "no time line";
  EXPECT_FALSE(p->Has(kAccent, 0, kBandTop, 880, kLogTop));
}

// The stopped page's failure takes up to three lines, ending in an ellipsis only past them (a
// word longer than a line broken too), and the log starts as far below its first line as it reaches.
TEST_F(PaintTest, FailureTakesUpToThreeLinesAndTheLogStartsBelowIt) {
  MakeWindow(880, 740);
  std::wstring words;
  while (words.size() < 2000) words += L"cannot open file ";
  const struct {
    std::wstring failure;
    int lines;
    bool cut;
  } cases[] = {{L"out of memory", 1, false},
               {L"", 1, false},
               {kLongFailure, 2, false},
               {words, 3, true},
               {std::wstring(3000, L'x'), 3, true}};
  HDC dc = CreateCompatibleDC(nullptr);
  int line = TextHeight(dc, L"M", font, 828, kFailureFlags);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failure.substr(0, 20).c_str());
    failure = c.failure;
    int depth = -1;
    std::wstring shown = FailureText(880, depth);
    EXPECT_EQ(TextHeight(dc, shown, font, 828, kFailureFlags), c.lines * line);
    EXPECT_EQ(depth, UnitsUp(c.lines * line) - UnitsUp(line));
    EXPECT_EQ(LogTop(Stopped, 880), kLogTop + depth);
    if (!c.cut) {
      EXPECT_EQ(Narrow(shown), Narrow(c.failure.empty() ? L"See the details below for what went wrong." : c.failure));
      continue;
    }
    ASSERT_EQ(shown.back(), L'\u2026');
    EXPECT_EQ(c.failure.compare(0, shown.size() - 1, shown, 0, shown.size() - 1), 0) << "the failure's start";
    EXPECT_GT(shown.size(), c.failure.size() / 20) << "as much as three lines hold";
  }
  DeleteDC(dc);
}

TEST_F(PaintTest, InstallingPageShowsTimeLineAndNote) {
  page = Installing;
  doing = L"Starting...";
  started = 0;
  auto p = PaintAt(96, 3000);
  EXPECT_TRUE(p->Has(kMuted, 454, kFigureRow, bar.right, kNoteRow)) << "time line";
  EXPECT_TRUE(p->Has(kMuted, kEdge, kNoteRow, 200, kLogTop)) << "note";
  EXPECT_TRUE(p->Has(kBright, kEdge, kBandTop, 200, StepRow(0))) << "heading";
  doing.clear();
  auto empty = PaintAt(96, 3000);
  EXPECT_FALSE(empty->Has(kMuted, kEdge, kNoteRow, bar.right, kLogTop)) << "an empty note draws nothing";
}

TEST_F(PaintTest, FinishedPageHasGreenTitleAndPanel) {
  page = Finished;
  install_dir = L"C:\\Games\\Vorlen";
  Begin(L"done");
  auto p = PaintAt(96);
  EXPECT_TRUE(p->Has(kGreen, 52, 116, 400, 150)) << "title";
  EXPECT_TRUE(p->Has(kGreen, 28, 126, 43, 142)) << "tick";
  EXPECT_EQ(p->At(30, 200), kPanel);
  EXPECT_EQ(p->At(853, 345), kPanel);
  EXPECT_EQ(p->At(855, 345), kBackground);
  EXPECT_TRUE(p->Has(kAccent, 42, 208, 150, 224)) << "first label";
  EXPECT_TRUE(p->Has(kAccent, 42, 294, 150, 310)) << "third label, below a two-line value";
  EXPECT_TRUE(p->Has(kBright, 160, 294, 400, 310)) << "the folder";
}

TEST_F(PaintTest, ChoiceNotesTakeTheColourOfTheirVerdict) {
  MakeWindow(880, 740);
  struct Case {
    const wchar_t* field;
    bool ok;
    COLORREF game_colour;
    bool folder;
    COLORREF folder_colour;
    bool checking;  // both notes say that their field is being checked
    bool warned;
  } cases[] = {{L"", false, kMuted, true, kGreen, false, false},
               {L" \"\" ", false, kMuted, false, kRed, false, false},
               {L"C:\\missing.nup", false, kRed, true, kGreen, false, false},
               {L"C:\\game.nup", true, kGreen, false, kRed, false, false},
               {L"C:\\game.nup", false, kMuted, false, kMuted, true, false},
               {L"C:\\game.nup", true, kGreen, true, kAccent, false, true}};
  for (const Case& c : cases) {
    SetWindowTextW(game_edit, c.field);
    page = Choices;
    game_field.ok = c.ok;
    folder_field.ok = c.folder;
    game_field.checking = folder_field.checking = c.checking;
    folder_field.warned = c.warned;
    game_field.note = L"A note about the game file";
    folder_field.note = L"A note about the folder";
    auto p = PaintAt(96);
    EXPECT_TRUE(p->Has(c.game_colour, 26, 206, 300, 222)) << c.field;
    EXPECT_TRUE(p->Has(c.folder_colour, 26, 330, 300, 346)) << c.field;
  }
  auto p = PaintAt(96);
  EXPECT_TRUE(p->Has(kMuted, 26, 678, 400, 700)) << "duration note at H - 62";
  EXPECT_TRUE(p->Has(kBright, 52, 481, 400, 497)) << "DLSS caption";
}

// --- Buttons -----------------------------------------------------------------------------------

int Luma(COLORREF c) { return (299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c)) / 1000; }

struct ButtonPicture {
  COLORREF background;
  COLORREF ink;  // the caption's colour: its pixel farthest from the background
};

// The window's drawing of `button` in `state` into a picture of 150 by 42 pixels.
void SendDrawItem(HWND button, UINT state, const Canvas& into) {
  DRAWITEMSTRUCT item = {};
  item.CtlType = ODT_BUTTON;
  item.hwndItem = button;
  item.hDC = into.dc;
  item.rcItem = {0, 0, 150, 42};
  item.itemState = state;
  EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item)), TRUE);
}

ButtonPicture DrawButton(HWND button, UINT state) {
  Canvas p(150, 42);
  SendDrawItem(button, state, p);
  ButtonPicture seen = {p.At(2, 2), p.At(2, 2)};
  int farthest = 0;
  for (int y = 10; y < 32; ++y) {
    for (int x = 30; x < 120; ++x) {
      COLORREF c = p.At(x, y);
      int distance = abs(GetRValue(c) - GetRValue(seen.background)) + abs(GetGValue(c) - GetGValue(seen.background)) +
                     abs(GetBValue(c) - GetBValue(seen.background));
      if (distance > farthest) {
        farthest = distance;
        seen.ink = c;
      }
    }
  }
  return seen;
}

// Install and Play are gold, the page's accent, and the other buttons flat like the fields.
// Pressing darkens either kind; a disabled primary button is a darker gold with the same dark
// text (pressed or not); a disabled secondary button keeps its background and greys its caption.
TEST_F(PaintTest, OwnerDrawnButtonsTakeTheirStateColours) {
  MakeWindow(880, 740);
  ButtonPicture primary = DrawButton(install_button, 0);
  ButtonPicture pressed = DrawButton(install_button, ODS_SELECTED);
  ButtonPicture disabled = DrawButton(install_button, ODS_DISABLED);
  EXPECT_EQ(primary.background, kAccent);
  EXPECT_LT(Luma(primary.ink), 40) << "dark text on gold";
  EXPECT_LT(Luma(pressed.background), Luma(primary.background));
  EXPECT_LT(Luma(disabled.background), Luma(pressed.background));
  EXPECT_TRUE(GetRValue(disabled.background) > GetGValue(disabled.background) &&
              GetGValue(disabled.background) > GetBValue(disabled.background))
      << "a disabled primary button is still gold";
  EXPECT_EQ(pressed.ink, primary.ink);
  EXPECT_EQ(disabled.ink, primary.ink);
  ButtonPicture play = DrawButton(play_button, ODS_DISABLED | ODS_SELECTED);
  EXPECT_EQ(play.background, disabled.background) << "disabled wins over pressed";
  EXPECT_EQ(play.ink, primary.ink);

  ButtonPicture secondary = DrawButton(close_button, 0);
  ButtonPicture secondary_pressed = DrawButton(back_button, ODS_SELECTED);
  ButtonPicture secondary_disabled = DrawButton(game_browse, ODS_DISABLED);
  EXPECT_EQ(secondary.background, kField);
  EXPECT_EQ(secondary.ink, kBright);
  EXPECT_LT(Luma(secondary_pressed.background), Luma(kAccent));
  EXPECT_NE(secondary_pressed.background, kField);
  EXPECT_EQ(secondary_pressed.ink, kBright);
  EXPECT_EQ(secondary_disabled.background, kField);
  EXPECT_EQ(secondary_disabled.ink, kMuted);
}

TEST_F(PaintTest, FocusedButtonShowsFocusRectangleThreeUnitsInside) {
  for (int at : {96, 144}) {
    Scoped<int> scale(dpi, at);
    MakeWindow(Scale(880), Scale(740));
    Canvas plain(Scale(100), Scale(34));
    Canvas focused(Scale(100), Scale(34));
    DRAWITEMSTRUCT item = {};
    item.hwndItem = close_button;
    item.rcItem = {0, 0, Scale(100), Scale(34)};
    item.hDC = plain.dc;
    SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    item.hDC = focused.dc;
    item.itemState = ODS_FOCUS;
    SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    int inset = Scale(3);
    // The focus rectangle is dotted: look along several rows for its leftmost and topmost dot.
    int left = Scale(100);
    int top = Scale(34);
    for (int y = 0; y < Scale(34); ++y) {
      for (int x = 0; x < Scale(100); ++x) {
        if (GetPixel(plain.dc, x, y) == GetPixel(focused.dc, x, y)) continue;
        left = std::min(left, x);
        top = std::min(top, y);
      }
    }
    EXPECT_EQ(left, inset) << at;
    EXPECT_EQ(top, inset) << at;
    DestroyWindow(window);
  }
}

// --- High Contrast ----------------------------------------------------------------------------

// A High Contrast theme as the system would answer for it (Wine has none to switch on): whether
// it is on, and its colours, each unlike the dark scheme's and unlike the others.
bool contrast_on = false;
BOOL WINAPI ContrastParameters(UINT action, UINT size, PVOID data, UINT flags) {
  if (action != SPI_GETHIGHCONTRAST) return SystemParametersInfoW(action, size, data, flags);
  static_cast<HIGHCONTRASTW*>(data)->dwFlags = contrast_on ? HCF_HIGHCONTRASTON | HCF_AVAILABLE : HCF_AVAILABLE;
  return TRUE;
}
const std::map<int, COLORREF> kTheme = {
    {COLOR_WINDOW, RGB(0, 0, 0)},         {COLOR_WINDOWTEXT, RGB(255, 255, 255)},
    {COLOR_HIGHLIGHT, RGB(26, 235, 255)}, {COLOR_HIGHLIGHTTEXT, RGB(16, 16, 16)},
    {COLOR_BTNFACE, RGB(32, 32, 32)},     {COLOR_BTNTEXT, RGB(255, 255, 0)},
    {COLOR_GRAYTEXT, RGB(63, 242, 63)}};
DWORD WINAPI ThemeColour(int index) { return kTheme.count(index) ? kTheme.at(index) : RGB(255, 0, 255); }

// Every colour in a picture but in the icon's box, which keeps its own; read in one piece.
std::set<COLORREF> ColoursOf(HDC dc, SIZE size) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(size.cx * size.cy);
  GetDIBits(dc, static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP)), 0, size.cy, pixels.data(), &info,
            DIB_RGB_COLORS);
  std::set<COLORREF> colours;
  for (int y = 0; y < size.cy; ++y) {
    for (int x = 0; x < size.cx; ++x) {
      if (x >= Scale(26) && x < Scale(90) && y >= Scale(16) && y < Scale(80)) continue;
      DWORD pixel = pixels[y * size.cx + x];  // blue, green, red, from the lowest byte up
      colours.insert(RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF));
    }
  }
  return colours;
}

// With a High Contrast theme on, switched on while the window is open, every page, button and
// field takes the theme's colours, with edges where the dark scheme's fills showed them, and the
// log gives up the dark scroll bar; switched off, the dark scheme comes back. The pages' pictures
// stay in build/artifacts.
TEST_F(PaintTest, HighContrastTakesTheThemesColours) {
  Scoped<decltype(system_parameters)> parameters(system_parameters, ContrastParameters);
  Scoped<decltype(system_colour)> colours(system_colour, ThemeColour);
  MakeWindow(880, 740);
  ShadeLog();  // as at start-up, in the dark scheme
  Scoped<bool> on(contrast_on, true);
  SendMessageW(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
  const COLORREF page_colour = kTheme.at(COLOR_WINDOW), text = kTheme.at(COLOR_WINDOWTEXT),
                 lit = kTheme.at(COLOR_HIGHLIGHT);
  install_dir = L"C:\\Games\\Vorlen";
  game_field.note = L"There is no such file.";
  Begin(L"compile");
  fraction = 0.5;
  failure = L"the compiler ran out of memory";
  details = true;
  CreateDirectoryW(VORLEN_BINARY_DIR L"\\artifacts", nullptr);
  HDC screen = GetDC(nullptr);
  for (Page on_page : {Choices, Installing, Stopped, Finished}) {
    SCOPED_TRACE(on_page);
    Show(on_page);
    SIZE size = ClientSize();
    HDC picture = ComposePage(screen, size);
    std::set<COLORREF> seen = ColoursOf(picture, size);
    for (COLORREF dark : {kBackground, kPanel, kField, kAccent, kBright, kMuted, kGreen, kRed}) {
      EXPECT_EQ(seen.count(dark), 0u) << std::hex << dark;
    }
    EXPECT_EQ(GetPixel(picture, 3, 600), page_colour);
    EXPECT_EQ(GetPixel(picture, 700, 5), page_colour) << "the header band";
    EXPECT_TRUE(seen.count(text));
    if (on_page == Choices) {
      RECT field = Where(game_edit);
      EXPECT_EQ(GetPixel(picture, field.left - 1, field.top + 5), text) << "the field's edge";
    }
    if (on_page == Installing) {
      EXPECT_EQ(GetPixel(picture, bar.left + 10, bar_middle), lit) << "the bar's fill";
      EXPECT_EQ(GetPixel(picture, bar.right - 10, bar_middle), page_colour) << "the bar's track";
      EXPECT_EQ(GetPixel(picture, bar.right, bar_middle), text) << "the bar's edge";
      EXPECT_EQ(GetPixel(picture, 35, StepRow(7) + 8), lit) << "the running dot";
    }
    Canvas copy(size.cx, size.cy);
    BitBlt(copy.dc, 0, 0, size.cx, size.cy, picture, 0, 0, SRCCOPY);
    const wchar_t* names[] = {L"choices", L"installing", L"finished", L"stopped"};
    copy.Save(std::wstring(VORLEN_BINARY_DIR L"\\artifacts\\high_contrast_") + names[on_page] + L".bmp");
  }
  ReleaseDC(nullptr, screen);
  const struct {
    HWND button;
    UINT state;
    int background, ink;
  } buttons[] = {{install_button, 0, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT},
                 {close_button, 0, COLOR_BTNFACE, COLOR_BTNTEXT},
                 {back_button, ODS_SELECTED, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT},
                 {install_button, ODS_DISABLED, COLOR_BTNFACE, COLOR_GRAYTEXT},
                 {game_browse, ODS_DISABLED, COLOR_BTNFACE, COLOR_GRAYTEXT}};
  for (const auto& b : buttons) {
    ButtonPicture seen = DrawButton(b.button, b.state);
    EXPECT_EQ(seen.background, kTheme.at(b.background)) << GetDlgCtrlID(b.button) << " " << b.state;
    EXPECT_EQ(seen.ink, kTheme.at(b.ink)) << GetDlgCtrlID(b.button) << " " << b.state;
    Canvas edge(150, 42);
    SendDrawItem(b.button, b.state, edge);
    EXPECT_EQ(edge.At(0, 0), kTheme.at(b.ink)) << "the button's edge";
  }
  EXPECT_EQ(GetPropW(log_edit, L"ux_subapp"), nullptr) << "the log's own scroll bar";

  contrast_on = false;
  SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
  HDC dark_screen = GetDC(nullptr);
  HDC picture = ComposePage(dark_screen, ClientSize());
  EXPECT_EQ(GetPixel(picture, 3, 600), kBackground);
  EXPECT_EQ(GetPixel(picture, 700, 5), kPanel);
  ReleaseDC(nullptr, dark_screen);
  EXPECT_EQ(DrawButton(install_button, 0).background, kAccent);
  EXPECT_NE(GetPropW(log_edit, L"ux_subapp"), nullptr) << "the dark scroll bar again";
}

// --- GDI hygiene -------------------------------------------------------------------------------

// The GDI objects this process holds, by type. Wine's GetGuiResources answers 0, but its handle
// table answers a handle made of a bare slot number for whatever object lives in that slot;
// Windows answers neither that way nor 0, and there the total stands alone.
std::map<DWORD, int> GdiObjects() {
  std::map<DWORD, int> held;
  if (DWORD total = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
    held[0] = static_cast<int>(total);
    return held;
  }
  for (UINT slot = 1; slot < 0x10000; ++slot) {
    if (DWORD type = GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(slot)))) ++held[type];
  }
  return held;
}

// Every page painted (the off-screen bitmap, the marks, the bar's fills, the texts) and every
// button drawn in every state, many times over, leave exactly the objects there were before.
TEST_F(PaintTest, PaintingEveryPageAndButtonLeaksNothing) {
  MakeWindow(880, 740);
  page = Installing;
  Begin(L"compile");
  fraction = 0.5;
  SendMessageW(window, WM_PAINT, 0, 0);  // whatever the first paint makes once is made now
  Canvas button(150, 42);
  std::map<DWORD, int> before = GdiObjects();
  ASSERT_FALSE(before.empty()) << "the count sees no objects at all";
  for (int round = 0; round < 100; ++round) {
    for (Page on : {Choices, Installing, Finished, Stopped}) {
      page = on;
      SendMessageW(window, WM_PAINT, 0, 0);
    }
    for (HWND control : {install_button, close_button}) {
      for (UINT state : {UINT{0}, UINT{ODS_SELECTED}, UINT{ODS_DISABLED}, UINT{ODS_FOCUS}}) {
        SendDrawItem(control, state, button);
      }
    }
  }
  // A resize makes the kept off-screen page again at the new size and frees the old one.
  RECT outer;
  GetWindowRect(window, &outer);
  for (int grow : {150, 0}) {
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + grow, outer.bottom - outer.top + grow,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    SendMessageW(window, WM_PAINT, 0, 0);
    SIZE client = ClientSize();
    EXPECT_EQ(GetPixel(page_dc, client.cx - 1, client.cy - 1), kBackground) << grow;
  }
  EXPECT_EQ(GdiObjects(), before);
  // Nor does the kept page hold one of the fonts, which a change of DPI frees: Windows does not
  // free a font that is still selected.
  HGDIOBJ selected = GetCurrentObject(page_dc, OBJ_FONT);
  for (HFONT* made : kFonts) EXPECT_NE(selected, *made);
}

// The rows in pixels of the picture's accent-coloured title "Vorlen" (x 106 to 300, y 0 to 96).
int TitleInkHeight(const Canvas& picture) {
  int top = -1, bottom = -1;
  for (int y = 0; y < picture.Px(96); ++y) {
    for (int x = picture.Px(106); x < picture.Px(300); ++x) {
      if (GetPixel(picture.dc, x, y) != kAccent) continue;
      if (top < 0) top = y;
      bottom = y;
      break;
    }
  }
  return top < 0 ? 0 : bottom - top + 1;
}

// Moved to a monitor of 144 DPI and back (Wine never says so, so the message is sent here): the
// window takes the rectangle Windows suggests and lays out, writes and paints at the new DPI,
// and the fonts and icon of the old DPI are freed.
TEST_F(PaintTest, FollowsTheDpiOfItsMonitorAndBack) {
  MakeWindow(880, 740);
  // Pending update regions and the controls' own drawing are no part of the change's count.
  auto settle = [] { RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); };
  auto change = [](int to) {
    RECT suggested = OuterRect(to);
    OffsetRect(&suggested, 40 - suggested.left, 30 - suggested.top);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    return suggested;
  };
  // Whatever the first change and the first painting at each DPI make once (Wine caches a
  // context for each newly drawn control and one for each newly measured text) is made now.
  for (int to : {144, 96}) {
    change(to);
    SIZE client = ClientSize();
    Canvas picture(client.cx, client.cy);
    PaintWindow(picture.dc, picture.size, 600000);
  }
  settle();
  std::map<DWORD, int> before = GdiObjects();
  std::map<int, int> ink;
  for (int to : {144, 96}) {
    SCOPED_TRACE(to);
    RECT suggested = change(to);
    ASSERT_EQ(dpi, to);
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_TRUE(EqualRect(&outer, &suggested));
    SIZE client = ClientSize();
    int width = Unscale(client.cx), height = Unscale(client.cy);
    RECT install = Where(install_button);
    EXPECT_EQ(install.left, Scale(width - 176));
    EXPECT_EQ(install.bottom, Scale(height - 62 + 42));
    MINMAXINFO limits = {};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, MulDiv(760, to, 96));
    EXPECT_EQ(LogFontOf(font).lfHeight, -MulDiv(14, to, 96));
    EXPECT_EQ(LogFontOf(title_font).lfHeight, -MulDiv(28, to, 96));
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(game_edit, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(log_edit, WM_GETFONT, 0, 0)), mono_font);
    Canvas picture(client.cx, client.cy);
    picture.unit_dpi = to;
    PaintWindow(picture.dc, picture.size, 600000);
    ink[to] = TitleInkHeight(picture);
  }
  ASSERT_GT(ink[96], 10);
  EXPECT_NEAR(ink[144], ink[96] * 1.5, 3) << "the title's letters grow with the DPI";
  settle();
  EXPECT_EQ(GdiObjects(), before);
}

// Opened at the main screen's DPI on a monitor of another, the window takes its own monitor's
// at once: fonts, and 880 by 740 inside at that DPI.
TEST_F(WindowTest, OpensAtTheDpiOfItsOwnMonitor) {
  UINT(WINAPI * dpi_of)(HWND);
  ASSERT_TRUE(FindCall(User32(), "GetDpiForWindow", dpi_of));
  Scoped<int> screen(dpi, 144);
  MakeWindow(Scale(880), Scale(740));
  int own = static_cast<int>(dpi_of(window));
  ASSERT_NE(own, 144) << "this check needs a monitor whose DPI is not 144";
  FollowMonitorDpi();
  EXPECT_EQ(dpi, own);
  EXPECT_EQ(ClientSize().cx, MulDiv(880, own, 96));
  EXPECT_EQ(ClientSize().cy, MulDiv(740, own, 96));
  EXPECT_EQ(LogFontOf(font).lfHeight, -MulDiv(14, own, 96));
}

// --- Replay ------------------------------------------------------------------------------------

TEST_F(WindowTest, ReplayOpensOnThePageTheTranscriptEndsOn) {
  struct Case {
    const char* name;
    std::string bytes;
    Page expected;
    int done_steps;
    int current_after;
  } cases[] = {
      {"finished", "@step msys\n@step compile\n@step done\n", Finished, 10, -1},
      {"finished with carriage return", "@step compile\r\n@step done\r\n", Finished, 10, -1},
      {"done then an empty line", "@step compile\n@step done\n\n", Installing, 10, -1},
      {"done then more output", "@step done\n[Vorlen] x\n", Installing, 10, -1},
      {"last line without line feed", "@step check\n@step compile", Installing, 5, 5},
      {"done without line feed", "@step compile\n@step done", Installing, 7, 7},
      {"blank before done", "@step compile\n @step done\n", Installing, 7, 7},
      {"done in another case", "@step compile\n@step Done\n", Installing, 7, 7},
      {"empty", "", Installing, 0, -1},
      // A transcript ends on the page its run ended on, by the exit code of its last line.
      {"transcript of a stopped run", "\xEF\xBB\xBF@step msys\r\n@step compile\r\n@exit 2\r\n", Stopped, 7, 7},
      {"transcript of a finished run", "\xEF\xBB\xBF@step compile\r\n@exit 0\r\n", Finished, 10, -1},
      {"exit code before the last line", "@step compile\n@exit 0\n[Vorlen] x\n", Installing, 7, 7},
  };
  ScopedVariable local(L"LOCALAPPDATA", L"C:\\Users\\me\\AppData\\Local");
  for (const Case& c : cases) {
    ResetState();
    test_now = 1000000;
    MakeWindow(880, 740);
    ScopedVariable replay(L"VORLEN_SETUP_REPLAY", WriteTranscript(L"window_test_replay", c.bytes));
    Replay();
    EXPECT_EQ(page, c.expected) << c.name;
    int done = 0;
    for (const InstallStep& step : steps) done += step.state == Done;
    EXPECT_EQ(done, c.done_steps) << c.name;
    EXPECT_EQ(current, c.current_after) << c.name;
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(started, 1000000u - 420000u) << c.name;
    EXPECT_EQ(install_dir, L"C:\\Users\\me\\AppData\\Local\\vorlen") << c.name;
    DestroyWindow(window);
  }
}

TEST_F(WindowTest, ReplayVariableOf259CharactersIsUsedAnd260Ignored) {
  std::wstring real = WriteTranscript(L"window_test_long", "@step done\n");
  for (size_t length : {259u, 260u}) {
    ResetState();
    MakeWindow(880, 740);
    // ".\" segments and a doubled separator lengthen the path without changing the file.
    std::wstring path = real;
    size_t slash = path.find_last_of(L'\\');
    while (path.size() + 2 <= length) path.insert(slash + 1, L".\\");
    if (path.size() < length) path.insert(slash, L"\\");
    ASSERT_EQ(path.size(), length);
    ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "path must name the file";
    ScopedVariable replay(L"VORLEN_SETUP_REPLAY", path);
    Replay();
    EXPECT_EQ(page, length == 259 ? Finished : Choices) << length;
    DestroyWindow(window);
  }
}

TEST_F(WindowTest, ReplayDecodesAndCutsLikeLiveOutput) {
  MakeWindow(880, 740);
  // "cafe" with an e-acute, in this system's OEM code page, as a script's output would carry it.
  char acute = 0;
  BOOL lossy = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_OEMCP, 0, L"\u00e9", 1, &acute, 1, nullptr, &lossy), 1);
  ASSERT_FALSE(lossy);
  ASSERT_LT(acute, 0) << "the sample must have a byte above 127";
  ScopedVariable replay(L"VORLEN_SETUP_REPLAY",
                        WriteTranscript(L"window_test_oem", std::string("[Vorlen] caf") + acute + "\n"));
  Replay();
  EXPECT_EQ(doing, L"caf\u00e9");
  EXPECT_EQ(WindowText(log_edit), L"[Vorlen] caf\u00e9\r\n");
  // A line that never ends is cut where the pipe's reading cuts it.
  DestroyWindow(window);
  ResetState();
  MakeWindow(880, 740);
  ScopedVariable long_line(L"VORLEN_SETUP_REPLAY", WriteTranscript(L"window_test_long_line", std::string(70000, 'y') + "\n"));
  Replay();
  EXPECT_TRUE(WindowText(log_edit) == std::wstring(65536, L'y') + L"\r\n" + std::wstring(4464, L'y') + L"\r\n");
}

}  // namespace

namespace {

// --- Screen readers ----------------------------------------------------------------------------

std::wstring Take(BSTR text) {
  std::wstring words = text ? text : L"";
  SysFreeString(text);
  return words;
}

IAccessible* PageObject() {
  IAccessible* object = nullptr;
  EXPECT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&object)),
            S_OK);
  return object;
}

// One child as a screen reader says it: its kind and name, " = " its value, its description in
// brackets, and whether it is checked or unavailable.
std::wstring Say(IAccessible* of, VARIANT id) {
  BSTR name = nullptr, value = nullptr, description = nullptr;
  of->get_accName(id, &name);
  of->get_accValue(id, &value);
  of->get_accDescription(id, &description);
  VARIANT role, state;
  VariantInit(&role);
  VariantInit(&state);
  of->get_accRole(id, &role);
  of->get_accState(id, &state);
  // Wine's standard object takes an owner-drawn button for a plain client area, Windows' for a
  // push button: either way it is a button of the page.
  std::map<long, std::wstring> kinds = {{ROLE_SYSTEM_STATICTEXT, L"text"}, {ROLE_SYSTEM_LISTITEM, L"step"},
                                        {ROLE_SYSTEM_PROGRESSBAR, L"bar"},  {ROLE_SYSTEM_TEXT, L"field"},
                                        {ROLE_SYSTEM_CHECKBUTTON, L"box"},  {ROLE_SYSTEM_PUSHBUTTON, L"button"},
                                        {ROLE_SYSTEM_CLIENT, L"button"}};
  std::wstring said = kinds.count(role.lVal) ? kinds[role.lVal] : L"role " + std::to_wstring(role.lVal);
  if (std::wstring words = Take(name); !words.empty()) said += L" " + words;
  if (std::wstring words = Take(value); !words.empty()) said += L" = " + words;
  if (std::wstring words = Take(description); !words.empty()) said += L" (" + words + L")";
  if (state.lVal & STATE_SYSTEM_CHECKED) said += L" [checked]";
  if (state.lVal & STATE_SYSTEM_UNAVAILABLE) said += L" [unavailable]";
  return said;
}

// The page's children in order, as AccessibleChildren hands them to a screen reader.
std::vector<std::wstring> ReadAloud(IAccessible* page_object) {
  long count = 0;
  page_object->get_accChildCount(&count);
  std::vector<VARIANT> children(count);
  long obtained = 0;
  EXPECT_EQ(AccessibleChildren(page_object, 0, count, children.data(), &obtained), S_OK);
  std::vector<std::wstring> heard;
  for (long i = 0; i < obtained; ++i) {
    if (children[i].vt != VT_DISPATCH) {
      heard.push_back(Say(page_object, children[i]));
      continue;
    }
    IAccessible* control = nullptr;
    children[i].pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&control));
    children[i].pdispVal->Release();
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    heard.push_back(control ? Say(control, self) : L"<no object>");
    // Asked through the page by its child id, the control says the same.
    VARIANT child = self;
    child.lVal = i + 1;
    EXPECT_EQ(Narrow(Say(page_object, child)), Narrow(heard.back())) << "asked through the page";
    // A control that takes the focus is asked for itself, by its window: it says the same.
    HWND hwnd = nullptr;
    if (control && WindowFromAccessibleObject(control, &hwnd) == S_OK) {
      IAccessible* asked = nullptr;
      AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&asked));
      EXPECT_EQ(Narrow(asked ? Say(asked, self) : L"<no object>"), Narrow(heard.back())) << "asked by its window";
      if (asked) asked->Release();
    } else {
      ADD_FAILURE() << "no window for " << Narrow(heard.back());
    }
    if (control) control->Release();
  }
  return heard;
}

// Every painted text is read, in reading order, with the shown controls in their places; the
// fields are named by their headings and described by their notes, the DLSS box is named by
// its caption, each step says its state, the bar its percentage. Every object goes away with
// its last reference.
TEST_F(WindowTest, ScreenReaderReadsEachPageInOrder) {
  const std::vector<std::wstring> header = {
      L"text Vorlen", L"text A native PC version of the game, built on this computer from your own copy."};
  const std::wstring folder = L"C:\\Users\\me\\AppData\\Local\\vorlen";
  const std::wstring space = L"100.0 GB free (about 16 GB are used while building).";
  const std::wstring game = L"zelda.nup  (20.0 GB). It is checked exactly when the installation starts.";
  auto choices = [&](const std::wstring& field, const std::wstring& note, const std::wstring& box,
                     const std::wstring& install) {
    return std::vector<std::wstring>{
        L"text 1   Your copy of the game", L"text The Legend of Zelda: Ocarina of Time for Nintendo Switch 2\u2026",
        L"field Your copy of the game" + field + L" (" + note + L")", L"button Browse...", L"text " + note,
        L"text 2   Where to install",
        L"text The game, its saves and its settings all live in this folder. Leave it empty for the default.",
        L"field Where to install (" + space + L")", L"button Change...", L"text " + space, L"text 3   Build tools",
        L"text MSYS2 (compilers and libraries, about 3 GB)\u2026", L"text 4   Optional: NVIDIA DLSS",
        L"box Add NVIDIA DLSS, DLAA and DLSS Frame Generation (NVIDIA RTX graphics cards)" + box,
        L"text Downloads NVIDIA's DLSS files\u2026",
        L"text The first installation compiles the whole game:\n15 to 60 minutes, depending on the processor.",
        L"button Close", L"button Install" + install};
  };
  auto steps_then = [](const wchar_t* compile, const std::wstring& first) {
    return std::vector<std::wstring>{L"step Set up the build environment (MSYS2) = done" + first,
                                     L"step Download the build tools = done",
                                     L"step Get Vorlen's source = done",
                                     L"step Prepare the translator = done",
                                     L"step Download NVIDIA DLSS (if chosen) = done",
                                     L"step Read and check your game = done",
                                     L"step Translate the game's code = done",
                                     std::wstring(L"step Compile the game = ") + compile,
                                     L"step Build Vorlen = not started",
                                     L"step Create the shortcuts = not started"};
  };
  auto replay = [](const wchar_t* transcript) {
    ScopedVariable named(L"VORLEN_SETUP_REPLAY", std::wstring(VORLEN_SOURCE_DIR L"\\tests\\data\\") + transcript);
    Replay();
  };
  auto join = [](std::vector<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  struct Case {
    const char* name;
    std::function<void()> open;
    std::vector<std::wstring> heard;
  } cases[] = {
      {"choices, no game file", [] {}, join({header, choices(L"", L"Choose your .nup file.", L"", L" [unavailable]")})},
      {"choices, a game file and DLSS",
       [] {
         SetWindowTextW(game_edit, L"C:\\Games\\zelda.nup");
         SendMessageW(dlss_check, BM_SETCHECK, BST_CHECKED, 0);
       },
       join({header, choices(L" = C:\\Games\\zelda.nup", game, L" [checked]", L"")})},
      {"installing, replayed", [&] { replay(L"stopped.txt"); },
       join({header, {L"text Installing", L"text Into " + folder}, steps_then(L"running", L""),
             {L"bar = 57%", L"text about 5 min left, 7 min so far", L"text error: the compiler ran out of memory",
              L"button Show details", L"button Cancel"}})},
      {"stopped",
       [&] {
         replay(L"stopped.txt");
         FailStep();
         steps[0].elapsed = 95000;
         Show(Stopped);
       },
       join({header, {L"text The installation stopped", L"text Into " + folder}, steps_then(L"stopped", L" (2 min)"),
             {L"bar = 30%", L"text the compiler ran out of memory",
              L"field Log = [Vorlen] updating MSYS2 and installing the build tools\u2026", L"button Hide details",
              L"button Copy for a report", L"button Open the log", L"button Back", L"button Close"}})},
      {"finished, replayed", [&] { replay(L"finished.txt"); },
       join({header,
             {L"text Vorlen is installed",
              L"text It took 7 min. Updates are checked for, and built, each time the game starts.",
              L"text Start it", L"text from the Start menu or the desktop shortcut (Vorlen).", L"text Settings",
              L"text F1 or Insert in the game opens them: graphics, controller, keyboard and mouse. On a "
              L"controller, press Select and Start together.",
              L"text Installed in", L"text " + folder, L"button Open the folder", L"button Open the log",
              L"button Close", L"button Play"}})},
  };
  ScopedVariable local(L"LOCALAPPDATA", L"C:\\Users\\me\\AppData\\Local");
  ScopedVariable profile(L"USERPROFILE", FreshFolder(TempPath(L"window_test_profile")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetState();
    test_now = 1000000;
    Scoped<decltype(disk_free_space)> roomy(disk_free_space, RoomyDrive);
    Scoped<decltype(file_attributes)> games(file_attributes, GameFiles);
    MakeWindow(880, 740);
    c.open();
    ASSERT_TRUE(PumpUntil(Answered, 10000));
    IAccessible* page_object = PageObject();
    ASSERT_NE(page_object, nullptr);
    EXPECT_GE(access_objects, 1);
    std::vector<std::wstring> heard = ReadAloud(page_object);
    EXPECT_EQ(heard.size(), c.heard.size());
    for (size_t i = 0; i < heard.size() && i < c.heard.size(); ++i) {
      const std::wstring& wanted = c.heard[i];
      // A long text is given by its start, up to an ellipsis.
      bool start = !wanted.empty() && wanted.back() == L'\u2026';
      std::wstring seen = start ? heard[i].substr(0, wanted.size() - 1) + L"\u2026" : heard[i];
      EXPECT_EQ(Narrow(seen), Narrow(wanted)) << "child " << i + 1;
    }
    // The title stands where it is painted, and a point on it finds it.
    long left = 0, top = 0, width = 0, height = 0;
    VARIANT title;
    title.vt = VT_I4;
    title.lVal = 1;
    EXPECT_EQ(page_object->accLocation(&left, &top, &width, &height, title), S_OK);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(left, origin.x + 106);
    EXPECT_EQ(top, origin.y + 14);
    EXPECT_GT(width, 20);
    EXPECT_GT(height, 20);
    VARIANT hit;
    VariantInit(&hit);
    EXPECT_EQ(page_object->accHitTest(left + width / 2, top + height / 2, &hit), S_OK);
    EXPECT_EQ(hit.vt, VT_I4);
    EXPECT_EQ(hit.lVal, 1);
    page_object->Release();
    EXPECT_EQ(access_objects, 0);
    DestroyWindow(window);
  }
}

// --- What a screen reader hears ----------------------------------------------------------------

struct WinEvent {
  DWORD event;
  HWND hwnd;
  LONG child;
  bool operator==(const WinEvent& other) const {
    return event == other.event && hwnd == other.hwnd && child == other.child;
  }
};

std::ostream& operator<<(std::ostream& out, const WinEvent& e) {
  return out << std::hex << "event 0x" << e.event << std::dec << (e.hwnd == window ? " of the page" : " of a control")
             << ", child " << e.child;
}

constexpr DWORD kMarker = EVENT_AIA_START + 1;  // raised by the test: everything before it has arrived
std::vector<WinEvent> heard_events;
bool marker_heard = false;

void CALLBACK Hear(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (event == kMarker) {
    marker_heard = true;
    return;
  }
  bool announcement = event == EVENT_OBJECT_REORDER || event == EVENT_SYSTEM_ALERT ||
                      event == EVENT_OBJECT_NAMECHANGE || event == EVENT_OBJECT_VALUECHANGE ||
                      event == EVENT_OBJECT_DESCRIPTIONCHANGE;
  // The system's own events about the controls (their text, their captions) are not the page's.
  if (announcement && object == OBJID_CLIENT && (hwnd == window || event == EVENT_OBJECT_DESCRIPTIONCHANGE)) {
    heard_events.push_back({event, hwnd, child});
  }
}

// The page's events since the last call.
std::vector<WinEvent> HeardSoFar() {
  marker_heard = false;
  NotifyWinEvent(kMarker, window, OBJID_CLIENT, CHILDID_SELF);
  EXPECT_TRUE(PumpUntil([] { return marker_heard; }, 10000)) << "the marker event never came";
  std::vector<WinEvent> heard;
  heard.swap(heard_events);
  return heard;
}

// A page that opens is reordered and a run's page says its heading; then, with each half-second
// repaint, exactly the steps, bar and note that changed; the clock alone raises nothing; the
// log shown at once; a choice's new note is announced with its field's description.
TEST_F(WindowTest, ScreenReaderHearsWhatChangedAndNothingElse) {
  Scoped<decltype(disk_free_space)> roomy(disk_free_space, RoomyDrive);
  MakeWindow(880, 740);
  ASSERT_TRUE(PumpUntil(Answered, 10000));
  struct Hook {
    HWINEVENTHOOK handle = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, Hear, GetCurrentProcessId(), 0,
                                           WINEVENT_OUTOFCONTEXT);
    ~Hook() { UnhookWinEvent(handle); }
  } hook;
  ASSERT_NE(hook.handle, nullptr);
  HeardSoFar();
  using Heard = std::vector<WinEvent>;
  auto tick = [] { SendMessageW(window, WM_TIMER, kProgressTimer, 0); };

  install_dir = L"C:\\Games\\Vorlen";
  Show(Installing);
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_REORDER, window, CHILDID_SELF}, {EVENT_SYSTEM_ALERT, window, 3}}));

  Begin(L"msys");
  Begin(L"packages");
  doing = L"Downloading the build tools";
  tick();
  // Children 5 and 6 are the first two steps, 15 the bar, 17 the note.
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_VALUECHANGE, window, 5},
                                 {EVENT_OBJECT_VALUECHANGE, window, 6},
                                 {EVENT_OBJECT_VALUECHANGE, window, 15},
                                 {EVENT_OBJECT_NAMECHANGE, window, 17}}));
  test_now += 2000;
  tick();
  EXPECT_EQ(HeardSoFar(), Heard{}) << "only the time line moved";
  doing.clear();
  tick();
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_REORDER, window, CHILDID_SELF}})) << "the note went away";
  Press(details_button);
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_REORDER, window, CHILDID_SELF}})) << "the log came";

  Show(Choices);
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_REORDER, window, CHILDID_SELF}}));
  SetWindowTextW(game_edit, L"C:\\missing.nup");
  ASSERT_TRUE(PumpUntil(Answered, 10000));
  EXPECT_EQ(game_field.note, L"There is no such file.");
  // The field (child 5) is described by its note, which is child 7.
  EXPECT_EQ(HeardSoFar(), (Heard{{EVENT_OBJECT_DESCRIPTIONCHANGE, game_edit, 0}, {EVENT_OBJECT_NAMECHANGE, window, 7}}));
}

}  // namespace
