// The window in this process: layout, painting on pixels, buttons, resources and replay.
#include "support.h"

namespace {

HWND MakeWindow(int client_width, int client_height) { return OpenTestWindow(client_width, client_height); }

// A control's rectangle in the window's client coordinates.
RECT Where(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::wstring Caption(HWND control) { return WindowText(control); }

struct WindowTest : StateTest {
  void TearDown() override {
    if (window) DestroyWindow(window);
    window = nullptr;
    nup_edit = nullptr;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    dpi = 96;
  }
};

TEST(LayoutTable, PlacesEveryControlForTheDefaultClientSize) {
  struct Expected {
    HWND* control;
    Page on;
    RECT rect;
    bool visible;
  } cases[] = {
      {&nup_edit, Choices, {26, 172, 730, 202}, true},
      {&nup_browse, Choices, {764, 172, 854, 202}, true},
      {&dir_edit, Choices, {26, 296, 730, 326}, true},
      {&dir_browse, Choices, {764, 296, 854, 326}, true},
      {&dlss_check, Choices, {26, 482, 44, 500}, true},
      {&install_button, Choices, {704, 678, 854, 720}, true},
      {&close_button, Choices, {594, 682, 694, 716}, true},
      {&close_button, Finished, {594, 682, 694, 716}, true},
      {&close_button, Installing, {754, 682, 854, 716}, true},
      {&close_button, Stopped, {754, 682, 854, 716}, true},
      {&back_button, Stopped, {644, 682, 744, 716}, true},
      {&play_button, Finished, {704, 678, 854, 720}, true},
      {&folder_button, Finished, {26, 682, 176, 716}, true},
      {&details_button, Installing, {26, 682, 156, 716}, true},
      {&log_edit, Installing, {26, 484, 854, 666}, true},
      {&install_button, Finished, {704, 678, 854, 720}, false},
      {&play_button, Choices, {704, 678, 854, 720}, false},
      {&back_button, Installing, {644, 682, 744, 716}, false},
      {&nup_edit, Installing, {26, 172, 730, 202}, false},
      {&details_button, Finished, {26, 682, 156, 716}, false},
  };
  for (const Expected& e : cases) {
    bool found = false;
    for (const Box& box : LayoutBoxes(e.on, true, 880, 740)) {
      if (box.control != e.control) continue;
      found = true;
      EXPECT_EQ(box.rect.left, e.rect.left);
      EXPECT_EQ(box.rect.top, e.rect.top);
      EXPECT_EQ(box.rect.right, e.rect.right);
      EXPECT_EQ(box.rect.bottom, e.rect.bottom);
      EXPECT_EQ(box.visible, e.visible) << "page " << e.on;
    }
    EXPECT_TRUE(found);
  }
}

TEST(LayoutTable, LogNeedsDetailsAProgressPageAndHeight589) {
  struct Case {
    Page on;
    bool with_details;
    int height;
    bool shown;
  } cases[] = {{Installing, true, 589, true},  {Installing, true, 588, false}, {Stopped, true, 589, true},
               {Installing, false, 740, false}, {Choices, true, 740, false},    {Finished, true, 740, false}};
  for (const Case& c : cases) {
    std::vector<Box> boxes = LayoutBoxes(c.on, c.with_details, 880, c.height);
    EXPECT_EQ(boxes.back().control, &log_edit);
    EXPECT_EQ(boxes.back().visible, c.shown) << c.on << " " << c.with_details << " " << c.height;
    if (c.height == 589) EXPECT_EQ(boxes.back().rect.bottom - boxes.back().rect.top, 31);
  }
}

TEST_F(WindowTest, CreatesTwelveControlsInTabOrderWithTheirIds) {
  MakeWindow(880, 740);
  ASSERT_NE(window, nullptr);
  int expected_ids[] = {101, 102, 103, 104, 112, 105, 109, 111, 110, 107, 106, 108};
  HWND child_window = GetWindow(window, GW_CHILD);
  for (int id : expected_ids) {
    ASSERT_NE(child_window, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child_window), id);
    child_window = GetWindow(child_window, GW_HWNDNEXT);
  }
  EXPECT_EQ(child_window, nullptr);
  EXPECT_EQ(Caption(nup_browse), L"Browse...");
  EXPECT_EQ(Caption(close_button), L"Close");
  EXPECT_FALSE(GetWindowLongW(log_edit, GWL_STYLE) & WS_TABSTOP);
  EXPECT_TRUE(GetWindowLongW(log_edit, GWL_STYLE) & ES_READONLY);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(log_edit, WM_GETFONT, 0, 0)), mono_font);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(nup_edit, WM_GETFONT, 0, 0)), font);
  EXPECT_EQ(page, Choices);
}

TEST_F(WindowTest, FontsCopyTheMessageFontWithTheirOwnHeightsWeightsAndFace) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  dpi = 144;
  MakeResources(GetModuleHandleW(nullptr));
  struct Case {
    HFONT made;
    int height;
    int weight;  // 0: the message font's
    const wchar_t* face;  // nullptr: the message font's
  } cases[] = {{font, 14, 0, nullptr},
               {bold_font, 14, 700, nullptr},
               {heading_font, 17, 700, nullptr},
               {title_font, 28, 700, nullptr},
               {mono_font, 12, 0, L"Consolas"}};
  for (const Case& c : cases) {
    LOGFONTW got = {};
    ASSERT_TRUE(GetObjectW(c.made, sizeof got, &got));
    EXPECT_EQ(got.lfHeight, -MulDiv(c.height, 144, 96));
    EXPECT_EQ(got.lfWeight, c.weight ? c.weight : metrics.lfMessageFont.lfWeight);
    EXPECT_STREQ(got.lfFaceName, c.face ? c.face : metrics.lfMessageFont.lfFaceName);
    EXPECT_EQ(got.lfItalic, metrics.lfMessageFont.lfItalic);
    EXPECT_EQ(got.lfCharSet, metrics.lfMessageFont.lfCharSet);
  }
  EXPECT_NE(icon, nullptr) << "the program's icon resource";
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP colour = {};
  GetObjectW(info.hbmColor, sizeof colour, &colour);
  EXPECT_EQ(colour.bmWidth, 96);  // 64 at 96 DPI
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  dpi = 96;
  MakeResources(GetModuleHandleW(nullptr));
}

TEST_F(WindowTest, FolderFieldShowsTheDefaultFolderAsItsCue) {
  SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\Users\\me\\AppData\\Local");
  MakeWindow(880, 740);
  wchar_t cue[300] = {};
  ASSERT_TRUE(SendMessageW(dir_edit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 300));
  EXPECT_STREQ(cue, L"Default: C:\\Users\\me\\AppData\\Local\\vorlen");
}

// Each coordinate is scaled on its own from the layout units. The expected units are worked
// out from the client size the window really got, since a small screen may not hold a window
// of 880 by 740 units at 144 DPI.
TEST_F(WindowTest, LayoutScalesEachFigureAtEveryDpi) {
  struct Case {
    int dpi;
    Page on;
    HWND* control;
    RECT (*units)(int width, int height);
  } cases[] = {
      {96, Choices, &nup_edit, [](int w, int) { return RECT{26, 172, w - 150, 202}; }},
      {96, Choices, &close_button, [](int w, int h) { return RECT{w - 286, h - 58, w - 186, h - 24}; }},
      {96, Installing, &close_button, [](int w, int h) { return RECT{w - 126, h - 58, w - 26, h - 24}; }},
      {120, Choices, &nup_browse, [](int w, int) { return RECT{w - 116, 172, w - 26, 202}; }},
      {144, Choices, &install_button, [](int w, int h) { return RECT{w - 176, h - 62, w - 26, h - 20}; }},
      {144, Installing, &log_edit, [](int w, int h) { return RECT{26, 484, w - 26, h - 74}; }},
  };
  for (const Case& c : cases) {
    dpi = c.dpi;
    MakeWindow(Scale(880), Scale(740));
    details = true;
    Show(c.on);
    SIZE client = ClientSize();
    RECT units = c.units(Unscale(client.cx), Unscale(client.cy));
    if (c.dpi == 96) EXPECT_EQ(client.cx, 880);
    RECT r = Where(*c.control);
    EXPECT_EQ(r.left, Scale(units.left)) << c.dpi;
    EXPECT_EQ(r.top, Scale(units.top)) << c.dpi;
    EXPECT_EQ(r.right, Scale(units.right)) << c.dpi;
    EXPECT_EQ(r.bottom, Scale(units.bottom)) << c.dpi;
    EXPECT_TRUE(GetWindowLongW(*c.control, GWL_STYLE) & WS_VISIBLE);
    DestroyWindow(window);
  }
}

TEST_F(WindowTest, CaptionsAndLogFollowPageDetailsAndHeight) {
  // The 588/589 boundary itself is in the layout table test: the minimum tracking size keeps a
  // real window (even SetWindowPos under Wine) from getting that short.
  MakeWindow(880, 740);
  details = true;
  Show(Installing);
  EXPECT_EQ(Caption(close_button), L"Cancel");
  EXPECT_EQ(Caption(details_button), L"Hide details");
  EXPECT_TRUE(GetWindowLongW(log_edit, GWL_STYLE) & WS_VISIBLE);
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(109, BN_CLICKED), reinterpret_cast<LPARAM>(details_button));
  EXPECT_FALSE(details);
  EXPECT_EQ(Caption(details_button), L"Show details");
  EXPECT_FALSE(GetWindowLongW(log_edit, GWL_STYLE) & WS_VISIBLE);
  Show(Stopped);  // a stopped run always opens its log
  EXPECT_TRUE(details);
  EXPECT_TRUE(GetWindowLongW(log_edit, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(Caption(close_button), L"Close");
}

TEST_F(WindowTest, MinimumSizeAndEraseAnswer) {
  dpi = 144;
  MakeWindow(Scale(880), Scale(740));
  MINMAXINFO info = {};
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 1140);
  EXPECT_EQ(info.ptMinTrackSize.y, 1080);
  HDC dc = GetDC(window);
  EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
  ReleaseDC(window, dc);
}

// --- Painting on pixels ----------------------------------------------------------------------

struct Picture {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  SIZE size;
  explicit Picture(SIZE s) : size(s) {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, s.cx, s.cy);
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
  }
  ~Picture() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF At(int x_units, int y_units) const { return GetPixel(dc, Scale(x_units), Scale(y_units)); }
  // Whether any pixel of `colour` lies in the box (layout units).
  bool Has(COLORREF colour, int left, int top, int right, int bottom) const {
    for (int y = Scale(top); y < Scale(bottom); ++y)
      for (int x = Scale(left); x < Scale(right); ++x)
        if (GetPixel(dc, x, y) == colour) return true;
    return false;
  }
};

struct PaintTest : WindowTest {
  void SetUp() override {
    WindowTest::SetUp();
    MakeResources(GetModuleHandleW(nullptr));
  }
  // Paints the current state at 880 by 740 layout units.
  std::unique_ptr<Picture> PaintAt(int at_dpi, DWORD now = 600000) {
    dpi = at_dpi;
    auto picture = std::make_unique<Picture>(SIZE{Scale(880), Scale(740)});
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
    EXPECT_EQ(GetPixel(p->dc, Scale(26 + fill) - 1, Scale(432)), kAccent) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(26 + fill), Scale(432)), kField) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(26), Scale(424)), kAccent) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(26) - 1, Scale(432)), kBackground) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(854) - 1, Scale(432)), kField) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(854), Scale(432)), kBackground) << at;
    EXPECT_EQ(GetPixel(p->dc, Scale(500), Scale(440)), kBackground) << at;
  }
}

TEST_F(PaintTest, BarNeverRunsPastItsTrack) {
  page = Installing;
  Begin(L"done");
  Begin(L"shortcuts");
  fraction = 3.0;  // a tool that counts past its total
  auto p = PaintAt(96);
  EXPECT_EQ(p->At(853, 432), kAccent);
  EXPECT_EQ(p->At(854, 432), kBackground);
  EXPECT_EQ(p->At(870, 432), kBackground);
}

TEST_F(PaintTest, MarksFollowStepStates) {
  page = Installing;
  Begin(L"compile");
  auto p = PaintAt(96);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(p->Has(kGreen, 28, 156 + 26 * i, 43, 172 + 26 * i)) << i;
  EXPECT_EQ(p->At(35, 156 + 26 * 7 + 8), kAccent);   // the running dot, filled
  EXPECT_EQ(p->At(35, 156 + 26 * 8 + 8), kBackground);  // inside a pending ring
  EXPECT_TRUE(p->Has(kMuted, 28, 156 + 26 * 8, 43, 172 + 26 * 8));
  EXPECT_FALSE(p->Has(kRed, 0, 100, 880, 484));
}

TEST_F(PaintTest, StoppedPageIsRedWithoutTimeLine) {
  page = Stopped;
  Begin(L"compile");
  fraction = 0.5;
  steps[7].state = Failed;
  failure = L"the compiler ran out of memory";
  auto p = PaintAt(96);
  EXPECT_TRUE(p->Has(kRed, 26, 108, 300, 128)) << "heading";
  EXPECT_TRUE(p->Has(kRed, 28, 156 + 26 * 7, 43, 172 + 26 * 7)) << "cross";
  EXPECT_EQ(p->At(26 + 100, 432), kRed) << "fill";
  EXPECT_EQ(GetPixel(p->dc, 26 + FillWidth(880, 31.0 / 101), 432), kField);
  EXPECT_TRUE(p->Has(kRed, 26, 468, 300, 484)) << "failure note";
  EXPECT_FALSE(p->Has(kMuted, 454, 446, 854, 464)) << "no time line";
  EXPECT_FALSE(p->Has(kAccent, 0, 100, 880, 484));
}

TEST_F(PaintTest, InstallingPageShowsTimeLineAndNote) {
  page = Installing;
  doing = L"Starting...";
  started = 0;
  auto p = PaintAt(96, 3000);
  EXPECT_TRUE(p->Has(kMuted, 454, 446, 854, 464)) << "time line";
  EXPECT_TRUE(p->Has(kMuted, 26, 468, 200, 484)) << "note";
  EXPECT_TRUE(p->Has(kBright, 26, 108, 200, 128)) << "heading";
  doing.clear();
  auto empty = PaintAt(96, 3000);
  EXPECT_FALSE(empty->Has(kMuted, 26, 468, 854, 484)) << "an empty note draws nothing";
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
    COLORREF nup_colour;
    bool space;
    COLORREF space_colour;
  } cases[] = {{L"", false, kMuted, true, kGreen},
               {L" \"\" ", false, kMuted, false, kRed},
               {L"C:\\missing.nup", false, kRed, true, kGreen},
               {L"C:\\game.nup", true, kGreen, false, kRed}};
  for (const Case& c : cases) {
    SetWindowTextW(nup_edit, c.field);
    page = Choices;
    nup_ok = c.ok;
    space_ok = c.space;
    nup_note = L"A note about the game file";
    space_note = L"A note about the space";
    auto p = PaintAt(96);
    EXPECT_TRUE(p->Has(c.nup_colour, 26, 206, 300, 222)) << c.field;
    EXPECT_TRUE(p->Has(c.space_colour, 26, 330, 300, 346)) << c.field;
  }
  auto p = PaintAt(96);
  EXPECT_TRUE(p->Has(kMuted, 26, 678, 400, 700)) << "duration note at H - 62";
  EXPECT_TRUE(p->Has(kBright, 52, 481, 400, 497)) << "DLSS caption";
}

// --- Buttons -----------------------------------------------------------------------------------

TEST_F(PaintTest, OwnerDrawnButtonsTakeTheirStateColours) {
  MakeWindow(880, 740);
  struct Case {
    HWND* button;
    UINT state;
    COLORREF background;
    COLORREF text;
  } cases[] = {
      {&install_button, 0, RGB(224, 182, 74), RGB(26, 20, 7)},
      {&install_button, ODS_SELECTED, RGB(200, 160, 60), RGB(26, 20, 7)},
      {&install_button, ODS_DISABLED, RGB(90, 77, 42), RGB(26, 20, 7)},
      {&play_button, ODS_DISABLED | ODS_SELECTED, RGB(90, 77, 42), RGB(26, 20, 7)},
      {&close_button, 0, kField, kBright},
      {&back_button, ODS_SELECTED, RGB(50, 59, 77), kBright},
      {&nup_browse, ODS_DISABLED, kField, kMuted},
  };
  for (const Case& c : cases) {
    Picture p({150, 42});
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.hwndItem = *c.button;
    item.hDC = p.dc;
    item.rcItem = {0, 0, 150, 42};
    item.itemState = c.state;
    EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item)), TRUE);
    EXPECT_EQ(GetPixel(p.dc, 2, 2), c.background);
    EXPECT_TRUE(p.Has(c.text, 40, 10, 110, 32)) << "caption";
  }
}

TEST_F(PaintTest, FocusedButtonShowsFocusRectangleThreeUnitsInside) {
  for (int at : {96, 144}) {
    dpi = at;
    MakeWindow(Scale(880), Scale(740));
    Picture plain({Scale(100), Scale(34)});
    Picture focused({Scale(100), Scale(34)});
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

// --- GDI hygiene -------------------------------------------------------------------------------

// Wine's GetGuiResources answers 0; there the slot a new object gets tells whether earlier
// ones were freed, since the lowest free slot is handed out first.
unsigned GdiObjects() {
  DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (count) return count;
  HBRUSH probe = CreateSolidBrush(RGB(1, 2, 3));
  unsigned slot = static_cast<unsigned>(reinterpret_cast<UINT_PTR>(probe) & 0xFFFF);
  DeleteObject(probe);
  return slot;
}

TEST_F(PaintTest, PaintingEveryPageThousandsOfTimesLeaksNothing) {
  MakeWindow(880, 740);
  ShowWindow(window, SW_SHOW);
  page = Installing;
  Begin(L"compile");
  UpdateWindow(window);
  unsigned before = GdiObjects();
  for (int round = 0; round < 750; ++round) {
    for (Page on : {Choices, Installing, Finished, Stopped}) {
      page = on;
      InvalidateRect(window, nullptr, FALSE);
      UpdateWindow(window);
    }
    RedrawWindow(install_button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  }
  EXPECT_EQ(GdiObjects(), before);
}

// --- Replay ------------------------------------------------------------------------------------

std::wstring WriteTranscript(const std::string& bytes) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  wchar_t path[MAX_PATH];
  GetTempFileNameW(folder, L"vrl", 0, path);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

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
  };
  SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\Users\\me\\AppData\\Local");
  for (const Case& c : cases) {
    ResetState();
    test_now = 1000000;
    MakeWindow(880, 740);
    std::wstring path = WriteTranscript(c.bytes);
    SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", path.c_str());
    Replay();
    EXPECT_EQ(page, c.expected) << c.name;
    int done = 0;
    for (const InstallStep& step : steps) done += step.state == Done;
    EXPECT_EQ(done, c.done_steps) << c.name;
    EXPECT_EQ(current, c.current_after) << c.name;
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(started, 1000000u - 420000u) << c.name;
    EXPECT_EQ(install_dir, L"C:\\Users\\me\\AppData\\Local\\vorlen") << c.name;
    DeleteFileW(path.c_str());
    DestroyWindow(window);
  }
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", nullptr);
}

TEST_F(WindowTest, ReplayVariableOf259CharactersIsUsedAnd260Ignored) {
  std::wstring real = WriteTranscript("@step done\n");
  MakeWindow(880, 740);
  for (size_t length : {259u, 260u}) {
    ResetState();
    // ".\" segments and a doubled separator lengthen the path without changing the file.
    std::wstring path = real;
    size_t slash = path.find_last_of(L'\\');
    while (path.size() + 2 <= length) path.insert(slash + 1, L".\\");
    if (path.size() < length) path.insert(slash, L"\\");
    ASSERT_EQ(path.size(), length);
    ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << "path must name the file";
    SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", path.c_str());
    Replay();
    EXPECT_EQ(page, length == 259 ? Finished : Choices) << length;
  }
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", nullptr);
  DeleteFileW(real.c_str());
}

TEST_F(WindowTest, ReplayDecodesHighBytesLikeLiveOutput) {
  MakeWindow(880, 740);
  std::string bytes = "[Vorlen] caf\x82\n";  // e-acute in the OEM code page 437
  std::wstring path = WriteTranscript(bytes);
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", path.c_str());
  Replay();
  std::string carry;
  EXPECT_EQ(doing, L"caf" + Decode(carry, "\x82", 1, GetOEMCP(), true));
  EXPECT_EQ(WindowText(log_edit), L"[Vorlen] " + doing + L"\r\n");
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", nullptr);
  DeleteFileW(path.c_str());
}

}  // namespace
