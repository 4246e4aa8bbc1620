// Progress tracking: the ten install steps, how each line of the script's output moves them,
// and the details log.

namespace {

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

InstallStep steps[kStepCount];
int current;             // the running step, or -1
double fraction;         // how much of the running step is done, as its output tells
std::wstring doing;      // the note under the bar
std::wstring failure;    // the stopped page's note, when the script said why

constexpr size_t kNoError = static_cast<size_t>(-1);

size_t first_error;  // where in the log the running step's first error line begins, or kNoError
size_t step_from;    // where in the log the running step's output begins (0 once cut away)

// Starts the step named by `key`, closing every step before it; "done" closes them all.
// Tick arithmetic is unsigned 32-bit on purpose: a counter wrap between start and now still
// gives the true difference.
void Begin(const std::wstring& key) {
  int index = -1;
  for (int i = 0; i < kStepCount; ++i) {
    if (key == steps[i].key) index = i;
  }
  if (index < 0 && key != L"done") return;
  DWORD now = Now();
  int closed = index < 0 ? kStepCount : index;
  for (int i = 0; i < closed; ++i) {
    if (steps[i].state == Running) steps[i].elapsed = now - steps[i].start;
    steps[i].state = Done;
  }
  current = index;
  fraction = 0;
  first_error = kNoError;
  if (index >= 0) {
    step_from = LogLength();
    steps[index].state = Running;
    steps[index].start = now;
  }
}

// The run has stopped in the running step, which shows its cross; nothing when no step runs.
void FailStep() {
  if (current >= 0) steps[current].state = Failed;
}

// A new installation: every step pending again. `start` keeps its value; nothing reads it
// before the step runs.
void ResetProgress() {
  for (InstallStep& step : steps) {
    step.state = Pending;
    step.elapsed = 0;
  }
  current = -1;
  fraction = 0;
  failure.clear();
  doing = L"Starting...";
}

// Overall progress: done weights plus the running step's share, over all weights. Not clamped:
// the figure is what the model says; what is drawn is clamped where it is drawn.
double Progress() {
  double total = 0;
  double done = 0;
  for (const InstallStep& step : steps) {
    total += step.weight;
    if (step.state == Done) done += step.weight;
    if (step.state == Running) done += step.weight * fraction;
  }
  return total > 0 ? done / total : 0;
}

// The progress as the bar, the percentage and the taskbar button show it: the model may hold a
// fraction past 1 (a build tool that counts past its total) or below 0, and what is drawn never
// leaves its track.
double Bounded(double progress) {
  if (!(progress > 0)) return 0;
  return progress >= 1 ? 1 : progress;
}

// --- The details log -------------------------------------------------------------------------
//
// The log keeps the newest output: whenever a line is added to a log of more than 400000
// characters, the older half goes first. Updating a shown multi-line edit costs time for every
// line it lays out and for every message that moves its view (Wine draws the scroll bar anew
// each time, milliseconds), so line-by-line appending cannot keep up with a build's bursts and
// one huge update would freeze the window. Lines are therefore gathered here and handed to the
// control in bounded steps (LogStep): one cut, or one piece of at most kLogLines lines and
// kLogPiece characters. Text cut away while still waiting never reaches the control at all.
// A shown log takes the newest text first (a hidden one takes it in order, the cheapest way):
// when more waits than a piece, the control takes the last piece in place of what it held, and
// the older text (`log_head`) is put in above it afterwards, a piece at a time from its oldest,
// while the view keeps showing the same lines. So the log shows what is printed now, not text
// that a later cut throws away. Once every step has run, the control holds exactly what
// line-by-line appending would have made, cut points included.

constexpr size_t kLogLimit = 400000;
constexpr size_t kLogPiece = 8192;
constexpr size_t kLogLines = 32;

size_t log_shown;        // characters the control holds
size_t log_drop;         // characters to cut from the front of the control at the next step
std::wstring log_head;   // text still to put into the control at `log_at`
size_t log_at;           // where (in the control, its pending cut included); 0 while none waits
std::wstring log_tail;   // text still to append

DWORD log_stepped;       // when the control last took a step

size_t LogLength() { return log_shown - log_drop + log_head.size() + log_tail.size(); }

void AppendLog(const std::wstring& line) {
  size_t length = LogLength();
  if (length > kLogLimit) {
    size_t cut = length / 2;
    first_error = first_error != kNoError && first_error >= cut ? first_error - cut : kNoError;
    step_from = step_from >= cut ? step_from - cut : 0;
    // In the order of the text: the control's text before `log_at`, the head, then the rest.
    if (!log_head.empty()) {
      size_t before = std::min(cut, log_at - log_drop);
      log_drop += before;
      cut -= before;
      size_t from_head = std::min(cut, log_head.size());
      log_head.erase(0, from_head);
      cut -= from_head;
      if (log_head.empty()) log_at = 0;
    }
    size_t from_control = log_shown - log_drop;
    if (cut <= from_control) {
      log_drop += cut;
    } else {
      log_drop = log_shown;
      log_tail.erase(0, cut - from_control);
    }
  }
  log_tail += line;
  log_tail += L"\r\n";
}

bool LogPending() { return log_drop > 0 || !log_head.empty() || !log_tail.empty(); }

// Where the piece of `text` that begins at its start ends, and where the one that ends at its end
// begins: at most kLogLines lines and kLogPiece characters, whole lines where they fit.
size_t FirstPieceEnd(const std::wstring& text) {
  size_t end = std::min(text.size(), kLogPiece);
  size_t lines = 0;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == L'\n' && ++lines == kLogLines) return i + 1;
  }
  return end;
}

size_t LastPieceStart(const std::wstring& text, size_t most_lines = kLogLines) {
  size_t start = text.size() > kLogPiece ? text.size() - kLogPiece : 0;
  size_t lines = 0;
  // The text's own last line feed ends the last line rather than beginning one.
  for (size_t i = text.size(); i > start + 1; --i) {
    if (text[i - 2] == L'\n' && ++lines == most_lines) return i - 1;
  }
  return start;
}

// How many lines the log's view shows, with one it shows in part: as many as the newest text
// needs to fill it.
size_t ViewLines() {
  RECT rect = {};
  SendMessageW(log_edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rect));
  HDC dc = GetDC(log_edit);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(log_edit, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(log_edit, dc);
  if (metrics.tmHeight <= 0 || rect.bottom <= rect.top) return kLogLines;
  return std::min(kLogLines, static_cast<size_t>((rect.bottom - rect.top) / metrics.tmHeight + 1));
}

// The log's text as it is kept: what the control holds past the pending cut, with the head in
// its place, then what is still to append. Positions in it are those of `first_error` and
// `step_from`.
std::wstring KeptLog() {
  std::wstring shown(log_shown + 1, L'\0');
  shown.resize(GetWindowTextW(log_edit, &shown[0], static_cast<int>(shown.size())));
  size_t from = std::min(log_drop, shown.size());
  size_t at = std::min(std::max(log_at, from), shown.size());
  return shown.substr(from, at - from) + log_head + shown.substr(at) + log_tail;
}

// Replaces the control's text from `from` to `to`. The selection is moved only when it is not
// there already: under Wine moving it scrolls the view to it and draws the scroll bar again.
void PutInLog(size_t from, size_t to, const std::wstring& text) {
  DWORD start = 0, end = 0;
  SendMessageW(log_edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (start != from || end != to) SendMessageW(log_edit, EM_SETSEL, from, to);
  SendMessageW(log_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// One bounded update of the control. When more waits than a piece and a shown control keeps no
// more than that, the control takes the newest lines that fill its view in place of all it held
// (a flood brings this step every time, so it lays out no more than it shows), and what it kept
// waits with the rest in the head (laying it out again costs no more than the text that waits).
// Otherwise the pending cut, the next piece to append, or the head's next piece. True when it
// was the cut, which the view, at the text's end, may not show.
bool LogStep() {
  log_stepped = Now();
  if (IsWindowVisible(log_edit) && log_shown - log_drop <= log_tail.size() && FirstPieceEnd(log_tail) < log_tail.size()) {
    size_t newest = LastPieceStart(log_tail, ViewLines());
    std::wstring head = KeptLog();
    head.resize(head.size() - log_tail.size() + newest);
    PutInLog(0, log_shown, log_tail.substr(newest));
    log_head.swap(head);
    log_at = 0;
    log_shown = log_tail.size() - newest;
    log_drop = 0;
    std::wstring().swap(log_tail);  // its room too: a flood's tail is hundreds of kilobytes
    return false;
  }
  if (log_drop > 0) {
    PutInLog(0, log_drop, L"");
    log_shown -= log_drop;
    log_at = log_head.empty() ? 0 : log_at - log_drop;
    log_drop = 0;
    return true;
  }
  if (!log_tail.empty()) {
    size_t end = FirstPieceEnd(log_tail);
    PutInLog(log_shown, log_shown, log_tail.substr(0, end));
    log_shown += end;
    log_tail.erase(0, end);
    return false;
  }
  if (log_head.empty()) return false;
  // Put in above the view, oldest first, so that the caret, left after each piece, is where the
  // next goes. The control scrolls to the text it takes; the view goes back to the lines it showed.
  LRESULT first = SendMessageW(log_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  LRESULT lines = SendMessageW(log_edit, EM_GETLINECOUNT, 0, 0);
  size_t end = FirstPieceEnd(log_head);
  PutInLog(log_at, log_at, log_head.substr(0, end));
  log_shown += end;
  log_at += end;
  log_head.erase(0, end);
  if (log_head.empty()) {
    std::wstring().swap(log_head);
    log_at = 0;
  }
  LRESULT back = first + SendMessageW(log_edit, EM_GETLINECOUNT, 0, 0) - lines -
                 SendMessageW(log_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  if (back != 0) SendMessageW(log_edit, EM_LINESCROLL, 0, back);
  return false;
}

// While output keeps coming, the shown log still takes a step this often: left to wait for a
// pause in the output, it stood still on the screen for over a second at a time. A hidden log
// waits, as every step costs the reading time.
constexpr DWORD kLogPace = 150;

void PaceLog() {
  if (!LogPending() || Now() - log_stepped < kLogPace || !IsWindowVisible(log_edit)) return;
  AcquireSRWLockExclusive(&reading_gate);
  if (LogStep() && LogPending()) LogStep();  // a step the screen shows
  // Painted now: a flood of posted output would keep its paint waiting as long as it lasts.
  UpdateWindow(log_edit);
  ReleaseSRWLockExclusive(&reading_gate);
}

// Brings the control fully up to date (before the window is shown, and in tests).
void FlushLog() {
  while (LogPending()) LogStep();
}

// The log's text as the installer keeps it, emptied.
void ForgetLog() {
  log_shown = 0;
  log_drop = 0;
  log_head.clear();
  log_at = 0;
  log_tail.clear();
  first_error = kNoError;
  step_from = 0;
}


// Empties the log for a new installation.
void ClearLog() {
  ForgetLog();
  SetWindowTextW(log_edit, L"");
}

// Opens the log, once it holds everything, at the first line of the failed step that reports an
// error, rather than at its end: Ninja goes on printing the lines of the jobs that were still
// running, and pushes the compiler's error out of view.
void ShowFirstError() {
  if (first_error == kNoError) return;
  WPARAM at = static_cast<WPARAM>(first_error);
  SendMessageW(log_edit, EM_SETSEL, at, at);
  LRESULT line = SendMessageW(log_edit, EM_LINEFROMCHAR, at, 0);
  LRESULT top = SendMessageW(log_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  SendMessageW(log_edit, EM_LINESCROLL, 0, line - top);
}

// --- The output line interpreter -------------------------------------------------------------

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  size_t length = wcslen(prefix);
  return text.size() >= length && text.compare(0, length, prefix) == 0;
}

// The counts of a build tool status line, read as swscanf reads "[%d/%d] %n": true when both
// numbers were read (`consumed` stays 0 when "]" does not follow them). The common shape,
// "[" and up to nine digits twice, is read here directly: swscanf took a third of the
// interpreter's time. Anything else (blanks, signs, long numbers, a character past ASCII that
// the runtime may count as white space) goes to swscanf itself.
bool ScanBuildCounts(const std::wstring& line, int& n, int& m, int& consumed) {
  consumed = 0;
  if (line.empty() || line[0] != L'[') return false;
  auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  auto slow = [&] { return swscanf(line.c_str(), L"[%d/%d] %n", &n, &m, &consumed) == 2; };
  size_t i = 1;
  int* counts[2] = {&n, &m};
  for (int k = 0; k < 2; ++k) {
    if (i >= line.size()) return false;
    if (!digit(line[i])) {
      wchar_t c = line[i];
      bool plain_mismatch = c >= L'!' && c <= L'~' && c != L'+' && c != L'-';
      return plain_mismatch ? false : slow();
    }
    int value = 0;
    size_t from = i;
    for (; i < line.size() && digit(line[i]); ++i) {
      if (i - from == 9) return slow();
      value = value * 10 + (line[i] - L'0');
    }
    *counts[k] = value;
    if (i < line.size() && line[i] > L'~') return slow();  // a digit of another script, perhaps
    if (k == 0) {
      if (i >= line.size() || line[i] != L'/') return false;
      ++i;
    }
  }
  if (i >= line.size() || line[i] != L']') return true;
  for (++i; i < line.size() && (line[i] == L' ' || (line[i] >= L'\t' && line[i] <= L'\r')); ++i) {
  }
  if (i < line.size() && (line[i] < L' ' || line[i] > L'~')) return slow();
  consumed = static_cast<int>(i);
  return true;
}

// A number in plain decimal, as std::to_wstring writes it (which goes through swprintf).
void AppendNumber(std::wstring& text, int number) {
  wchar_t digits[12];
  wchar_t* at = digits + 12;
  long long value = number < 0 ? -static_cast<long long>(number) : number;
  do {
    *--at = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value > 0);
  if (number < 0) *--at = L'-';
  text.append(at, digits + 12);
}

// Build tool status line "[n/m] description": sets fraction and doing. False when the line is
// not one (no match, or m not above 0). `doing` is written in place: every build line sets it.
bool ReadBuildProgress(const std::wstring& line) {
  int n = 0;
  int m = 0;
  int consumed = 0;
  if (!ScanBuildCounts(line, n, m, consumed) || m <= 0) return false;
  fraction = static_cast<double>(n) / m;
  size_t rest = static_cast<size_t>(consumed);
  size_t object = line.find(L".cpp.o", rest);
  if (object != std::wstring::npos) {
    size_t slash = line.find_last_of(L"/\\", object);
    size_t stem = slash == std::wstring::npos || slash < rest ? rest : slash + 1;
    const wchar_t* noun = L"the translator";
    if (current >= 0 && wcscmp(steps[current].key, L"compile") == 0) noun = L"the game's code";
    if (current >= 0 && wcscmp(steps[current].key, L"runtime") == 0) noun = L"Vorlen";
    doing.assign(L"Compiling ").append(noun).append(L": ").append(line, stem, object - stem).append(L"  (file ");
  } else {
    doing.assign(line, rest, 90).append(L"  (");
  }
  AppendNumber(doing, n);
  doing.append(L" of ");
  AppendNumber(doing, m);
  doing += L')';
  return true;
}

// "[Vorlen] " and "[build] " messages: the note of what is happening, and failures.
void ReadMessage(const std::wstring& line) {
  std::wstring message = line.substr(line.find(L"] ") + 2);
  bool echo = message.find(L" ...") != std::wstring::npos ||
              (message.size() >= 3 && message.compare(1, 2, L":\\") == 0) ||
              StartsWith(message, L"cmake ");
  if (!echo) doing = message.substr(0, 120);
  if (StartsWith(message, L"error: ")) failure = message.substr(7);
}

// Where the terminal escape sequence that starts at `escape` ends (its last character): a CSI
// (colours, cursor moves), an OSC (a window title, ended by BEL or ESC \) or a short one. In
// decoded text, and in the bytes of a line (where every character of a sequence is ASCII).
template <class Text>
size_t EscapeEnd(const Text& line, size_t escape) {
  size_t i = escape + 1;
  if (i == line.size()) return escape;
  if (line[i] == L']') {
    for (++i; i < line.size(); ++i) {
      if (line[i] == L'\a') return i;
      if (line[i] == L'\x1b' && i + 1 < line.size() && line[i + 1] == L'\\') return i + 1;
    }
    return line.size() - 1;
  }
  int last = L'/';  // parameters and intermediates run up to here
  if (line[i] == L'[') {
    ++i;
    last = L'?';
  }
  while (i < line.size() && line[i] >= L' ' && line[i] <= last) ++i;
  bool final = i < line.size() && line[i] >= L'0' && line[i] <= L'~';
  return final ? i : i - 1;
}

// A line as a console shows it: a backspace takes back the character before it, and escape
// sequences show nothing. (Carriage returns were taken as the bytes came: Decode.)
void ShowAsConsole(std::wstring& line) {
  if (line.find_first_of(L"\b\x1b") == std::wstring::npos) return;
  std::wstring shown;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == L'\x1b') {
      i = EscapeEnd(line, i);
    } else if (line[i] != L'\b') {
      shown += line[i];
    } else if (!shown.empty()) {
      bool pair = shown.size() > 1 && IS_SURROGATE_PAIR(shown[shown.size() - 2], shown.back());
      shown.erase(shown.size() - (pair ? 2 : 1));
    }
  }
  line = shown;
}

// A line that the failed step's first error may be: Ninja's "FAILED: ", pacman's "error: " and
// the compiler's "file:line:column: error: ".
bool ReportsError(const std::wstring& line) {
  return StartsWith(line, L"FAILED: ") || StartsWith(line, L"error: ") || line.find(L": error: ") != std::wstring::npos;
}

// What Windows PowerShell prints, whatever its language, when the PC's script policy (an
// AllSigned or Restricted execution policy set by Group Policy, which wins over "-ExecutionPolicy
// Bypass") refuses the script file: the error's id stays English in every language.
constexpr wchar_t kPolicyRefusal[] = L"FullyQualifiedErrorId : UnauthorizedAccess";

// One complete line of output (no line feed; a carriage return may end it), read in place: the
// line is left cleaned and trimmed. Every line of a build passes here, so a plain line (the
// most) is looked at once for what needs cleaning, and nothing is copied.
void ReadLineIn(std::wstring& line) {
  // A byte-order mark where a writer begins its output: .NET puts one in front of what it writes
  // where the console's code page is UTF-8 (Windows' "UTF-8 worldwide" option), and it would hide
  // the marker that follows it.
  if (!line.empty() && line[0] == 0xFEFF) line.erase(0, 1);
  auto cleaned = [](wchar_t c) { return c == L'\0' || c == L'\b' || c == L'\x1b'; };
  if (std::any_of(line.begin(), line.end(), cleaned)) {
    // A NUL (UTF-16 output read as bytes, a binary file printed by mistake) would end the text
    // where the log control is handed it; it shows as nothing.
    line.erase(std::remove(line.begin(), line.end(), L'\0'), line.end());
    ShowAsConsole(line);
  }
  while (!line.empty() && (line.back() == L' ' || line.back() == L'\r')) line.pop_back();
  if (line.empty()) return;
  if (StartsWith(line, L"@step ")) {
    Begin(line.erase(0, 6));
    return;
  }
  if (StartsWith(line, L"@progress ")) {
    fraction = _wtoi(line.c_str() + 10) / 100.0;
    size_t space = line.find(L' ', 10);
    if (space != std::wstring::npos && space + 1 < line.size()) doing = line.substr(space + 1);
    return;
  }
  if (!ReadBuildProgress(line) &&
      (StartsWith(line, L"[Vorlen] ") || StartsWith(line, L"[build] "))) {
    ReadMessage(line);
  }
  // Only before the script's first step: once it runs, it reports its errors itself.
  if (current < 0 && line.find(kPolicyRefusal) != std::wstring::npos) {
    failure = L"this PC's policy for PowerShell scripts, set by its administrator, does not let the installer's script "
              L"run; ask the administrator to allow it, or install on another PC";
  }
  if (first_error == kNoError && ReportsError(line)) first_error = LogLength();
  AppendLog(line);
}

void ReadLine(std::wstring line) { ReadLineIn(line); }

// The steps and the log as they are before any installation.
void SetInitialProgress() {
  for (int i = 0; i < kStepCount; ++i) steps[i] = kSteps[i];
  ResetProgress();
  ForgetLog();
  log_stepped = 0;
}

}  // namespace
