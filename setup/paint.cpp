// Drawing primitives, field text and the figures the installing page shows.

namespace {

// Text flag sets of the page tables.
constexpr UINT kWrapped = DT_WORDBREAK | DT_NOPREFIX;
constexpr UINT kRight = DT_RIGHT | DT_SINGLELINE;
constexpr UINT kPath = DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS;
constexpr UINT kEllipsis = DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

// --- Where things stand -------------------------------------------------------------------------
//
// The rows and boxes that more than the painting reads: the controls' layout, the progress
// band's repaint and the screen reader's items place things by these same numbers. Layout
// units; rows count from the client area's top, the foot's from its bottom.

constexpr int kEdge = 26;  // the margin left and right of every page

// The choices page: each field (or box) stands between its section's words and its note.
constexpr int kGameField = 172;
constexpr int kGameNote = 206;
constexpr int kFolderField = 296;
constexpr int kFolderNote = 330;
constexpr int kDlssBox = 482;
constexpr int kFieldHeight = 30;

// The installing and stopped pages: everything from the heading to the note under the bar
// changes while a script runs, so that band alone is repainted; the log starts below it.
constexpr int kBandTop = 100;
constexpr int kFirstStep = 156;
constexpr int kStepPitch = 26;
constexpr int kFigureRow = 446;  // the percentage, and the time line beside it
constexpr int kNoteRow = 468;
constexpr int kLogTop = 484;     // also where the band ends
constexpr int kLeastLog = 31;    // a shorter log is not shown: it would not hold a line

// The foot of every page, counted up from the bottom: the main button's top (the choices page's
// last words start there too), the other buttons' top, centred on the same line, and the log's
// end, above them.
constexpr int kMainButtonUp = 62;
constexpr int kButtonUp = 58;
constexpr int kLogEndUp = kButtonUp + 16;

// The progress bar's track for a client area `width` units wide.
RECT BarBox(int width) { return {kEdge, 424, width - kEdge, 440}; }

// One text in a rectangle given in layout units, 400 units tall whatever the text. The font
// is left selected: each Draw selects its own, and the paint restores the context after.
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
  const Palette& p = palette;
  COLORREF colour = state == Done ? p.green : state == Running ? p.active : state == Failed ? p.red : p.muted;
  HPEN pen = CreatePen(PS_SOLID, Scale(2), colour);
  HBRUSH brush = CreateSolidBrush(state == Running ? colour : p.background);
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

// The bar's fill in layout units.
int FillWidth(int width, double progress) {
  RECT bar = BarBox(width);
  int track = std::max(0, static_cast<int>(bar.right - bar.left));
  return static_cast<int>(track * Bounded(progress));
}

// The whole percentage, 0% to 100%.
int Percent(double progress) { return static_cast<int>(100 * Bounded(progress)); }

// "about 30 min left, 10 min so far", or only the time so far while there is too little to go
// on (the first 45 seconds, or 8% or less done).
std::wstring TimeLine(double progress, DWORD so_far) {
  std::wstring line;
  if (progress > 0.08 && so_far > 45000) {
    // Past 100% there is nothing left, not a negative time.
    double p = Bounded(progress);
    double left = (1 - p) * so_far / p;
    line = L"about " + Duration(static_cast<DWORD>(static_cast<unsigned long long>(left))) + L" left, ";
  }
  return line + Duration(so_far) + L" so far";
}

}  // namespace

// --- Page painting ----------------------------------------------------------------------------

namespace {

// A coordinate or width of the page tables: a fixed number of layout units, optionally counted
// from the client width or height (W - 52, H - 62).
struct Extent {
  int units;
  int from;  // 0: fixed; 'W': plus the client width; 'H': plus the client height
  int Resolve(int width, int height) const {
    return units + (from == 'W' ? width : from == 'H' ? height : 0);
  }
};

// How a note chooses its colour.
enum Tint { Fixed, GameNoteTint, FolderNoteTint };

// What a painted piece is to a screen reader (access.cpp reads the same pieces the paint draws).
enum class Reading {
  Unread,     // a fill, a mark, the icon: nothing to read
  Said,       // a text
  Heading,    // the heading of a page that a run opens: announced when the page opens
  Clock,      // a text that changes every second: its changes are not announced
  Labels,     // a section heading whose words after the number name `control`
  Describes,  // a note that is also `control`'s description
  Captions,   // the words beside `control`, read as the control itself
  StepLabel,  // a step's label; the piece's state is the step's
  StepTime,   // the time the step before it took
  Figure,     // the percentage, read as the bar's value
};

struct PageText {
  const wchar_t* text;          // the words, or nullptr when `state_text` holds them
  const std::wstring* state_text;
  HFONT* font;
  const COLORREF* colour;  // in `palette`
  Tint tint;
  int x;
  Extent y;
  Extent width;
  UINT flags;
  Reading reading = Reading::Said;
  HWND* control = nullptr;
};

const wchar_t kSubtitle[] = L"A native PC version of the game, built on this computer from your own copy.";

const wchar_t kDlssText[] =
    L"Downloads NVIDIA's DLSS files (about 60 MB) from github.com/NVIDIA/DLSS during the installation. "
    L"They are NVIDIA's software, not part of Vorlen: by ticking the box you accept NVIDIA's RTX SDKs "
    L"licence (github.com/NVIDIA/DLSS/blob/main/LICENSE.txt). Without it, AMD FSR 3.1 upscaling and "
    L"frame generation still work on every graphics card.";

// The choices page, top to bottom; the fields and buttons sit in the gaps (see LayoutBoxes).
const PageText kChoicesPage[] = {
    {L"1   Your copy of the game", nullptr, &heading_font, &palette.accent, Fixed, 26, {112, 0}, {500, 0}, kWrapped,
     Reading::Labels, &game_edit},
    {L"The Legend of Zelda: Ocarina of Time for Nintendo Switch 2, dumped as one .nup file (update v131072, "
     L"also called 1.1.1, is the tested one). It is only read on this computer: nothing from it is uploaded "
     L"or downloaded.",
     nullptr, &font, &palette.muted, Fixed, 26, {134, 0}, {-52, 'W'}, kWrapped},
    {nullptr, &game_field.note, &font, &palette.muted, GameNoteTint, 26, {kGameNote, 0}, {-52, 'W'}, kWrapped,
     Reading::Describes, &game_edit},
    {L"2   Where to install", nullptr, &heading_font, &palette.accent, Fixed, 26, {246, 0}, {500, 0}, kWrapped,
     Reading::Labels, &folder_edit},
    {L"The game, its saves and its settings all live in this folder. Leave it empty for the default.", nullptr,
     &font, &palette.muted, Fixed, 26, {268, 0}, {-52, 'W'}, kWrapped},
    {nullptr, &folder_field.note, &font, &palette.muted, FolderNoteTint, 26, {kFolderNote, 0}, {-52, 'W'}, kWrapped,
     Reading::Describes, &folder_edit},
    {L"3   Build tools", nullptr, &heading_font, &palette.accent, Fixed, 26, {370, 0}, {500, 0}, kWrapped},
    {L"MSYS2 (compilers and libraries, about 3 GB) is downloaded and set up in C:\\msys64 if it is not there "
     L"yet. No administrator rights are needed.",
     nullptr, &font, &palette.muted, Fixed, 26, {392, 0}, {-52, 'W'}, kWrapped},
    {L"4   Optional: NVIDIA DLSS", nullptr, &heading_font, &palette.accent, Fixed, 26, {450, 0}, {500, 0}, kWrapped},
    {L"Add NVIDIA DLSS, DLAA and DLSS Frame Generation (NVIDIA RTX graphics cards)", nullptr, &font, &palette.bright,
     Fixed, 52, {kDlssBox - 1, 0}, {-78, 'W'}, kWrapped, Reading::Captions, &dlss_check},
    {kDlssText, nullptr, &font, &palette.muted, Fixed, 26, {506, 0}, {-52, 'W'}, kWrapped},
    {L"The first installation compiles the whole game:\n15 to 60 minutes, depending on the processor.", nullptr,
     &font, &palette.muted, Fixed, 26, {-kMainButtonUp, 'H'}, {420, 0}, kWrapped},
};

// The finished page's panel rows: a label and a value.
struct PanelRow {
  const wchar_t* label;
  const wchar_t* value;  // nullptr: the installation folder
};

const PanelRow kFinishedRows[] = {
    {L"Start it", L"from the Start menu or the desktop shortcut (Vorlen)."},
    {L"Settings",
     L"F1 or Insert in the game opens them: graphics, controller, keyboard and mouse. On a controller, press "
     L"Select and Start together."},
    {L"Installed in", nullptr},
};

COLORREF NoteColour(const PageText& row) {
  switch (row.tint) {
    case GameNoteTint: return VerdictColour(game_field);
    case FolderNoteTint: return VerdictColour(folder_field);
    default:
      return *row.colour;
  }
}

// A solid rectangle in layout units, with a brush made and deleted for it.
void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT box = {Scale(left), Scale(top), Scale(right), Scale(bottom)};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &box, brush);
  DeleteObject(brush);
}

// One thing the paint draws, in layout units. A text's box starts at its x and y, is its width
// wide and 400 units tall, as Draw makes it; a fill's is its rectangle; a mark stands at the
// box's top, the icon in its box.
enum PieceKind { TextPiece, FillPiece, MarkPiece, IconPiece };

struct Piece {
  PieceKind kind;
  std::wstring text;
  HFONT font;
  COLORREF colour;
  RECT box;
  UINT flags;
  int state;  // a mark's, or the step's of a step label
  Reading reading;
  HWND* control;
};

Piece TextPieceAt(std::wstring text, int x, int y, int width, COLORREF colour, HFONT with, UINT flags,
                  Reading reading = Reading::Said, int state = 0) {
  return {TextPiece, std::move(text), with, colour, {x, y, x + width, y + 400}, flags, state, reading, nullptr};
}

Piece FillPieceAt(int left, int top, int right, int bottom, COLORREF colour) {
  return {FillPiece, std::wstring(), nullptr, colour, {left, top, right, bottom}, 0, 0, Reading::Unread, nullptr};
}

Piece MarkPieceAt(int y, int state) {
  return {MarkPiece, std::wstring(), nullptr, 0, {29, y, 41, y + 16}, 0, state, Reading::Unread, nullptr};
}

// --- Words that wrap --------------------------------------------------------------------------
//
// The rows stand where the design puts them for Segoe UI. Words that take more lines than their
// place holds (a font wider than Segoe UI, the smallest window, a long note or failure) are
// measured, and what stands below them moves down.

// The height in pixels of `text` in `with`, wrapped as `flags` say to `width` layout units.
int TextHeight(HDC dc, const std::wstring& text, HFONT with, int width, UINT flags) {
  if (text.empty()) return 0;
  RECT box = {0, 0, Scale(width), 0};
  SelectObject(dc, with);
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &box, flags | DT_CALCRECT);
  return box.bottom;
}

// Pixels as layout units, rounded up: as far as the words reach.
int UnitsUp(int pixels) { return (pixels * 96 + dpi - 1) / dpi; }

constexpr size_t kChoicesRows = sizeof kChoicesPage / sizeof kChoicesPage[0];

// How far each row of the choices page moves down in a client area of `width` by `height`
// units: as far as the words of the rows above it reach past the top of the next thing below
// them, words or a field. The last row stands on the foot and stays.
std::vector<int> ChoicesShifts(int width, int height) {
  std::vector<int> shifts(kChoicesRows, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  int shift = 0;
  for (size_t i = 0; i + 1 < kChoicesRows && !kChoicesPage[i + 1].y.from; ++i) {
    const PageText& row = kChoicesPage[i];
    int next = kChoicesPage[i + 1].y.units;
    for (int field : {kGameField, kFolderField}) {
      if (field > row.y.units) next = std::min(next, field);
    }
    const std::wstring text = row.text ? std::wstring(row.text) : *row.state_text;
    int reach = UnitsUp(TextHeight(dc, text, *row.font, row.width.Resolve(width, height), row.flags));
    shift = std::max(shift, row.y.units + shift + reach - next);
    shifts[i + 1] = shift;
  }
  DeleteDC(dc);
  return shifts;
}

// How far `control`'s row moves: as its note or its words beside it do (the last row that
// names it).
int ControlShift(const std::vector<int>& shifts, HWND* control) {
  int shift = 0;
  for (size_t i = 0; i < kChoicesRows; ++i) {
    if (kChoicesPage[i].control == control) shift = shifts[i];
  }
  return shift;
}

// The stopped page's failure: wrapped, breaking a word longer than a line as well.
constexpr UINT kFailureFlags = kWrapped | DT_EDITCONTROL;
constexpr int kFailureLines = 3;

// The first `length` characters of `text` (never half a surrogate pair) and an ellipsis.
std::wstring Cut(const std::wstring& text, size_t length) {
  if (length > 0 && IS_HIGH_SURROGATE(text[length - 1])) --length;
  std::wstring cut = text.substr(0, length);
  while (!cut.empty() && cut.back() == L' ') cut.pop_back();
  return cut + L"\u2026";
}

// The failure as the stopped page shows it in a client area `width` units wide: on up to three
// lines, where a long one still shows its cause ("Operation too slow" after a package's name);
// past them cut, ending in an ellipsis. `depth` is how much further than one line it reaches.
std::wstring FailureText(int width, int& depth) {
  std::wstring text = failure.empty() ? L"See the details below for what went wrong." : failure;
  // No letter is narrower than a pixel: more letters than three lines have pixels never fit, and
  // a line of 64 KB is measured in pieces of a few thousand letters instead of whole, again and again.
  size_t most_letters = static_cast<size_t>(kFailureLines * std::max(1, Scale(width)));
  bool longer = text.size() > most_letters;
  if (longer) text.resize(most_letters);
  HDC dc = CreateCompatibleDC(nullptr);
  int line = TextHeight(dc, L"M", font, width - 2 * kEdge, kFailureFlags);
  int most = kFailureLines * line;
  if (longer || TextHeight(dc, text, font, width - 2 * kEdge, kFailureFlags) > most) {
    size_t fits = 0, longest = text.size();  // the longest start that fits before an ellipsis
    while (fits < longest) {
      size_t middle = fits + (longest - fits + 1) / 2;
      if (TextHeight(dc, Cut(text, middle), font, width - 2 * kEdge, kFailureFlags) <= most) {
        fits = middle;
      } else {
        longest = middle - 1;
      }
    }
    text = Cut(text, fits);
  }
  depth = UnitsUp(TextHeight(dc, text, font, width - 2 * kEdge, kFailureFlags)) - UnitsUp(line);
  DeleteDC(dc);
  return text;
}

// Where the log starts on page `on`: below the stopped page's failure, however many lines it takes.
int LogTop(Page on, int width) {
  int depth = 0;
  if (on == Stopped) FailureText(width, depth);
  return kLogTop + depth;
}

// --- The pages ---------------------------------------------------------------------------------

void AddChoices(std::vector<Piece>& pieces, int width, int height) {
  std::vector<int> shifts = ChoicesShifts(width, height);
  for (size_t i = 0; i < kChoicesRows; ++i) {
    const PageText& row = kChoicesPage[i];
    Piece piece = TextPieceAt(row.text ? std::wstring(row.text) : *row.state_text, row.x,
                              row.y.Resolve(width, height) + shifts[i], row.width.Resolve(width, height),
                              NoteColour(row), *row.font, row.flags, row.reading);
    piece.control = row.control;
    pieces.push_back(std::move(piece));
  }
}

void AddProgress(std::vector<Piece>& pieces, int width, DWORD now) {
  bool stopped = page == Stopped;
  const Palette& p = palette;
  pieces.push_back(TextPieceAt(stopped ? L"The installation stopped" : L"Installing", 26, 108, 500,
                               stopped ? p.red : p.bright, heading_font, kWrapped, Reading::Heading));
  pieces.push_back(TextPieceAt(L"Into " + install_dir, 26, 130, width - 52, p.muted, font, kPath));
  for (int i = 0; i < kStepCount; ++i) {
    const InstallStep& step = steps[i];
    int y = kFirstStep + kStepPitch * i;
    pieces.push_back(MarkPieceAt(y, step.state));
    pieces.push_back(TextPieceAt(step.label, 52, y, width - 200, step.state == Pending ? p.muted : p.bright,
                                 step.state == Running ? bold_font : font, kWrapped, Reading::StepLabel, step.state));
    if (step.state == Done && step.elapsed > 1500) {
      pieces.push_back(
          TextPieceAt(Duration(step.elapsed), width - 146, y, 120, p.muted, font, kRight, Reading::StepTime));
    }
  }
  double progress = Progress();
  RECT bar = BarBox(width);
  if (p.edge != CLR_NONE) {
    pieces.push_back(FillPieceAt(bar.left - 1, bar.top - 1, bar.right + 1, bar.bottom + 1, p.edge));
  }
  pieces.push_back(FillPieceAt(bar.left, bar.top, bar.right, bar.bottom, p.field));
  int fill = FillWidth(width, progress);
  if (fill > 0) {
    pieces.push_back(FillPieceAt(bar.left, bar.top, bar.left + fill, bar.bottom, stopped ? p.red : p.active));
  }
  pieces.push_back(TextPieceAt(std::to_wstring(Percent(progress)) + L"%", kEdge, kFigureRow, 100, p.bright, bold_font,
                               kWrapped, Reading::Figure));
  if (!stopped) {
    pieces.push_back(TextPieceAt(TimeLine(progress, now - started), width - 426, kFigureRow, 400, p.muted, font, kRight,
                                 Reading::Clock));
    pieces.push_back(TextPieceAt(doing, kEdge, kNoteRow, width - 2 * kEdge, p.muted, font, kEllipsis));
  } else {
    int depth = 0;
    pieces.push_back(
        TextPieceAt(FailureText(width, depth), kEdge, kNoteRow, width - 2 * kEdge, p.red, font, kFailureFlags));
  }
}

void AddFinished(std::vector<Piece>& pieces, int width, DWORD now) {
  const Palette& p = palette;
  pieces.push_back(MarkPieceAt(126, Done));
  pieces.push_back(
      TextPieceAt(L"Vorlen is installed", 52, 116, width - 78, p.green, title_font, kWrapped, Reading::Heading));
  pieces.push_back(TextPieceAt(L"It took " + Duration(now - started) +
                                   L". Updates are checked for, and built, each time the game starts.",
                               26, 160, width - 52, p.muted, font, kWrapped, Reading::Clock));
  pieces.push_back(FillPieceAt(26, 196, width - 26, 346, p.panel));
  int y = 208;
  for (const PanelRow& row : kFinishedRows) {
    std::wstring value = row.value ? row.value : install_dir;
    int next = y + (value.size() < 81 ? 34 : 52);
    pieces.push_back(TextPieceAt(row.label, 42, y, 110, p.accent, bold_font, kWrapped));
    pieces.push_back(TextPieceAt(std::move(value), 160, y, width - 202, p.bright, font, kWrapped));
    y = next;
  }
}

// Everything the current page draws, in drawing order, for a client area of `width` by
// `height` layout units: the paint walks it, and so does the accessible page (access.cpp), so
// nothing is painted that a screen reader cannot read.
std::vector<Piece> PagePieces(int width, int height, DWORD now) {
  std::vector<Piece> pieces;
  pieces.push_back(FillPieceAt(0, 0, width, 96, palette.panel));
  if (icon) pieces.push_back({IconPiece, std::wstring(), nullptr, 0, {26, 16, 90, 80}, 0, 0, Reading::Unread, nullptr});
  pieces.push_back(TextPieceAt(L"Vorlen", 106, 14, 400, palette.accent, title_font, kWrapped));
  pieces.push_back(TextPieceAt(kSubtitle, 106, 58, width - 130, palette.muted, font, kWrapped));
  if (page == Finished) {
    AddFinished(pieces, width, now);
  } else if (page == Choices) {
    AddChoices(pieces, width, height);
  } else {
    AddProgress(pieces, width, now);
  }
  return pieces;
}

void PaintPiece(HDC dc, const Piece& piece) {
  const RECT& box = piece.box;
  switch (piece.kind) {
    case TextPiece:
      Draw(dc, piece.text, box.left, box.top, box.right - box.left, piece.colour, piece.font, piece.flags);
      break;
    case FillPiece:
      Fill(dc, box.left, box.top, box.right, box.bottom, piece.colour);
      break;
    case MarkPiece:
      Mark(dc, box.top, piece.state);
      break;
    case IconPiece:
      DrawIconEx(dc, Scale(box.left), Scale(box.top), icon, Scale(box.right - box.left),
                 Scale(box.bottom - box.top), 0, nullptr, DI_NORMAL);
      break;
  }
}

// Draws the whole client area of `size` pixels into `dc`. WM_PAINT calls it on its off-screen
// bitmap; tests call it on theirs.
void PaintWindow(HDC dc, SIZE size, DWORD now) {
  RECT all = {0, 0, size.cx, size.cy};
  FillRect(dc, &all, bg_brush);
  for (const Piece& piece : PagePieces(Unscale(size.cx), Unscale(size.cy), now)) PaintPiece(dc, piece);
}

}  // namespace
