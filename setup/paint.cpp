// Drawing primitives, field text and the figures the installing page shows.

namespace {

// The palette.
constexpr COLORREF kBackground = RGB(18, 21, 28);
constexpr COLORREF kPanel = RGB(27, 32, 43);
constexpr COLORREF kField = RGB(36, 43, 57);
constexpr COLORREF kAccent = RGB(224, 182, 74);
constexpr COLORREF kBright = RGB(232, 234, 240);
constexpr COLORREF kMuted = RGB(141, 150, 168);
constexpr COLORREF kGreen = RGB(111, 207, 127);
constexpr COLORREF kRed = RGB(239, 107, 107);

// Text flag sets of the page tables.
constexpr UINT kWrapped = DT_WORDBREAK | DT_NOPREFIX;
constexpr UINT kRight = DT_RIGHT | DT_SINGLELINE;
constexpr UINT kPath = DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS;
constexpr UINT kEllipsis = DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

// One text in a rectangle given in layout units, 400 units tall whatever the text. The font
// is left selected: each Draw selects its own and the paint's context is thrown away after.
int Draw(HDC dc, const std::wstring& text, int x, int y, int width, COLORREF colour, HFONT with,
         UINT flags) {
  RECT box = {Scale(x), Scale(y), Scale(x + width), Scale(y + 400)};
  SelectObject(dc, with);
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  return DrawTextW(dc, text.data(), static_cast<int>(text.size()), &box, flags | DT_NOCLIP);
}

// The status mark in front of a step: ring, dot, tick or cross in the column x 29 to 41.
void Mark(HDC dc, int y, int state) {
  COLORREF colour = state == Done ? kGreen : state == Running ? kAccent : state == Failed ? kRed : kMuted;
  HPEN pen = CreatePen(PS_SOLID, Scale(2), colour);
  HBRUSH brush = CreateSolidBrush(state == Running ? colour : kBackground);
  HGDIOBJ old_pen = SelectObject(dc, pen);
  HGDIOBJ old_brush = SelectObject(dc, brush);
  if (state == Done) {
    POINT tick[3] = {{Scale(29), Scale(y + 9)}, {Scale(33), Scale(y + 13)}, {Scale(41), Scale(y + 4)}};
    Polyline(dc, tick, 3);
  } else if (state == Failed) {
    MoveToEx(dc, Scale(30), Scale(y + 3), nullptr);
    LineTo(dc, Scale(40), Scale(y + 13));
    MoveToEx(dc, Scale(40), Scale(y + 3), nullptr);
    LineTo(dc, Scale(30), Scale(y + 13));
  } else {
    Ellipse(dc, Scale(30), Scale(y + 3), Scale(41), Scale(y + 14));
  }
  SelectObject(dc, old_pen);
  SelectObject(dc, old_brush);
  DeleteObject(pen);
  DeleteObject(brush);
}

// Seconds below 90 s, then whole minutes rounded half up, so no time ever reads "1 min".
std::wstring Duration(DWORD milliseconds) {
  DWORD seconds = milliseconds / 1000;
  if (milliseconds < 90000) return std::to_wstring(seconds) + L" s";
  return std::to_wstring((seconds + 30) / 60) + L" min";
}

// A field's text as the user meant it: spaces and double quotes around it dropped, so a path
// pasted in quotes is read without them.
std::wstring TrimField(std::wstring text) {
  while (!text.empty() && (text.back() == L' ' || text.back() == L'"')) text.pop_back();
  size_t first = 0;
  while (first < text.size() && (text[first] == L' ' || text[first] == L'"')) ++first;
  return text.substr(first);
}

std::wstring Text(HWND control) {
  int length = GetWindowTextLengthW(control);
  std::wstring text(length > 0 ? length : 0, L'\0');
  if (length > 0) GetWindowTextW(control, &text[0], length + 1);
  return TrimField(text);
}

// The bar's fill in layout units for a track W - 52 wide. The model may hold a fraction past
// 1 (a build tool that counts past its total) or below 0; the bar never leaves its track.
int FillWidth(int width, double progress) {
  int track = width - 52 > 0 ? width - 52 : 0;
  if (!(progress > 0)) return 0;
  if (progress >= 1) return track;
  return static_cast<int>(track * progress);
}

// The whole percentage, kept within 0% to 100% on screen for the same reason.
int Percent(double progress) {
  if (!(progress > 0)) return 0;
  if (progress >= 1) return 100;
  return static_cast<int>(100 * progress);
}

// "about 30 min left, 10 min so far", or only the time so far while there is too little to go
// on (the first 45 seconds, or 8% or less done).
std::wstring TimeLine(double progress, DWORD so_far) {
  std::wstring line;
  if (progress > 0.08 && so_far > 45000) {
    // Past 100% there is nothing left, not a negative time.
    double p = progress < 1 ? progress : 1;
    double left = (1 - p) * so_far / p;
    line = L"about " + Duration(static_cast<DWORD>(static_cast<unsigned long long>(left))) + L" left, ";
  }
  return line + Duration(so_far) + L" so far";
}

}  // namespace
