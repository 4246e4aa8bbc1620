#include "support.h"

namespace {

HFONT TestFont(int height) {
  return CreateFontW(-height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, NONANTIALIASED_QUALITY,
                     0, L"Tahoma");
}

TEST(Duration, SecondsThenRoundedMinutes) {
  struct Case {
    DWORD ms;
    const wchar_t* text;
  } cases[] = {{0, L"0 s"},           {999, L"0 s"},          {1501, L"1 s"},
               {45000, L"45 s"},      {89999, L"89 s"},       {90000, L"2 min"},
               {95000, L"2 min"},     {149999, L"2 min"},     {150000, L"3 min"},
               {3600000, L"60 min"},  {0xFFFFFFFFu, L"71583 min"}};
  for (const Case& c : cases) EXPECT_EQ(Duration(c.ms), c.text) << c.ms;
}

TEST(FieldText, DropsSpacesAndDoubleQuotesAroundOnly) {
  struct Case {
    const wchar_t* field;
    const wchar_t* text;
  } cases[] = {{L" \"x\" ", L"x"},
               {L"\"\"\"", L""},
               {L"  \" \"  ", L""},
               {L"", L""},
               {L"\"C:\\My Games\\a [v1].nup\"  ", L"C:\\My Games\\a [v1].nup"},
               {L"\ta\t", L"\ta\t"},
               {L"a \"b\" c", L"a \"b\" c"},
               {L"D:\\Games\\ ", L"D:\\Games\\"}};
  for (const Case& c : cases) EXPECT_EQ(TrimField(c.field), c.text) << c.field;
}

TEST(FieldText, ReadsARealEditControl) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 100, 20, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(Text(edit), L"");
  SetWindowTextW(edit, L" \"C:\\Users\\me\\game.nup\" ");
  EXPECT_EQ(Text(edit), L"C:\\Users\\me\\game.nup");
  std::wstring long_path(1000, L'p');
  SetWindowTextW(edit, (L"\"" + long_path + L"\"").c_str());
  EXPECT_EQ(Text(edit), long_path);
  DestroyWindow(edit);
}

TEST(Figures, FillWidthAndPercentStayOnTheTrack) {
  struct Case {
    int width;
    double p;
    int fill, percent;
  } cases[] = {{880, 0, 0, 0},           {880, 1, 828, 100},        {880, 58.5 / 101, 479, 57},
               {880, 0.999, 827, 99},    {880, 1.5, 828, 100},      {880, -0.2, 0, 0},
               {1000, 0.5, 474, 50},     {880, 0.0001, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(FillWidth(c.width, c.p), c.fill) << c.width << " " << c.p;
    EXPECT_EQ(Percent(c.p), c.percent) << c.p;
  }
}

TEST(Figures, TimeLineShowsAnEstimateOnlyPastBothThresholds) {
  struct Case {
    double p;
    DWORD so_far;
    const wchar_t* line;
  } cases[] = {
      {0.0, 3000, L"3 s so far"},
      {0.0, 40000, L"40 s so far"},
      {0.5, 45000, L"45 s so far"},
      {0.5, 45001, L"about 45 s left, 45 s so far"},
      {0.08, 600000, L"10 min so far"},
      {0.0801, 600000, L"about 115 min left, 10 min so far"},
      {0.25, 600000, L"about 30 min left, 10 min so far"},
      {1.0, 600000, L"about 0 s left, 10 min so far"},
      {1.7, 600000, L"about 0 s left, 10 min so far"},
  };
  for (const Case& c : cases) EXPECT_EQ(TimeLine(c.p, c.so_far), c.line) << c.p << " " << c.so_far;
}

TEST(Drawing, MarksHaveTheirColourAndStayInTheirColumn) {
  struct Case {
    int state;
    COLORREF colour;
    POINT inside;  // a pixel that must carry the colour
  } cases[] = {{Done, kGreen, {33, 13}},    {Running, kAccent, {35, 8}}, {Failed, kRed, {35, 8}},
               {Pending, kMuted, {30, 8}},  {7, kMuted, {30, 8}},        {-1, kMuted, {30, 8}}};
  Scoped<int> at(dpi, 96);
  for (const Case& c : cases) {
    Canvas canvas(80, 30);
    Mark(canvas.dc, 0, c.state);
    EXPECT_EQ(canvas.At(c.inside.x, c.inside.y), c.colour) << c.state;
    RECT box = canvas.Extent(c.colour);
    EXPECT_GE(box.left, 28) << c.state;
    EXPECT_LE(box.right, 42) << c.state;
    EXPECT_GE(box.top, 2) << c.state;
    EXPECT_LE(box.bottom, 15) << c.state;
    // Only the mark's own colour and the background: nothing else is painted.
    EXPECT_EQ(canvas.Count(c.colour) + canvas.Count(kBackground), 80 * 30) << c.state;
  }
}

TEST(Drawing, TickFollowsItsPolyline) {
  Scoped<int> at(dpi, 96);
  Canvas canvas(80, 40);
  Mark(canvas.dc, 10, Done);
  for (POINT p : {POINT{29, 19}, POINT{31, 21}, POINT{33, 23}, POINT{37, 18}, POINT{40, 15}}) {
    bool hit = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) hit |= canvas.At(p.x + dx, p.y + dy) == kGreen;
    EXPECT_TRUE(hit) << p.x << "," << p.y;
  }
  EXPECT_EQ(canvas.At(35, 12), kBackground);  // above the tick's valley
}

TEST(Drawing, RingScalesWithTheDpi) {
  Scoped<int> at(dpi, 144);
  Canvas canvas(100, 40);
  Mark(canvas.dc, 0, Pending);
  RECT ring = canvas.Extent(kMuted);
  // The box runs from 45 to 62 (scaled 30 and 41); the right edge is exclusive.
  EXPECT_GE(ring.left, 44);
  EXPECT_LE(ring.left, 45);
  EXPECT_GE(ring.right, 60);
  EXPECT_LE(ring.right, 62);
  // The pen is 3 pixels wide: along the middle row, the left edge of the ring is 3 pixels thick.
  int middle = (ring.top + ring.bottom) / 2;
  int thickness = 0;
  for (int x = ring.left; canvas.At(x, middle) == kMuted; ++x) ++thickness;
  EXPECT_EQ(thickness, 3);
  EXPECT_EQ(canvas.At((ring.left + ring.right) / 2, middle), kBackground);
}

TEST(Drawing, TextLandsInItsScaledRectangle) {
  struct Case {
    int dpi;
    UINT flags;
    const wchar_t* text;
  } cases[] = {{96, kWrapped, L"Install"}, {144, kWrapped, L"Install"}, {96, kRight, L"5 min so far"}};
  for (const Case& c : cases) {
    Scoped<int> at(dpi, c.dpi);
    HFONT with = TestFont(Scale(14));
    Canvas canvas(Scale(400), Scale(100));
    Draw(canvas.dc, c.text, 20, 30, 200, kBright, with, c.flags);
    RECT ink = canvas.Extent(kBright);
    ASSERT_LE(ink.left, ink.right) << "nothing drawn at " << c.dpi;
    EXPECT_GE(ink.top, Scale(30));
    EXPECT_LT(ink.bottom, Scale(30) + Scale(20));
    if (c.flags & DT_RIGHT) {
      EXPECT_GT(ink.left, Scale(20) + Scale(100));
      EXPECT_LT(ink.right, Scale(220));
      EXPECT_GT(ink.right, Scale(220) - Scale(10));
    } else {
      EXPECT_GE(ink.left, Scale(20));
      EXPECT_LT(ink.left, Scale(20) + Scale(5));
    }
    DeleteObject(with);
  }
}

TEST(Drawing, EmptyTextDrawsNothing) {
  Scoped<int> at(dpi, 96);
  HFONT with = TestFont(14);
  Canvas canvas(200, 60);
  Draw(canvas.dc, L"", 10, 10, 100, kBright, with, kWrapped);
  EXPECT_EQ(canvas.Count(kBackground), 200 * 60);
  DeleteObject(with);
}

TEST(Drawing, WrappedTextRunsPastShortRectangleBecauseNothingClips) {
  Scoped<int> at(dpi, 96);
  HFONT with = TestFont(14);
  Canvas canvas(200, 200);
  Draw(canvas.dc, L"one two three four five six seven eight nine ten", 0, 0, 60, kBright, with, kWrapped);
  RECT ink = canvas.Extent(kBright);
  EXPECT_GT(ink.bottom, 40);  // several lines below each other
  EXPECT_LE(ink.right, 60);
  DeleteObject(with);
}

}  // namespace
