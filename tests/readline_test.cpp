#include "support.h"

namespace {

using Interpreter = StateTest;

// One line through the interpreter, with the step named by `key` running (nullptr: none).
struct LineCase {
  const wchar_t* name;
  const wchar_t* key;
  std::wstring line;
  int current_after;         // expected `current`
  double fraction_after;     // expected `fraction` (the case starts from 0.11)
  std::wstring doing_after;  // expected `doing` (the case starts from "before")
  std::wstring failure_after;
  std::wstring logged;  // expected log text ("" when the line is not logged)
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << Narrow(c.name); }

const std::wstring kObject = L"[12/345] Building CXX object a/b/z_actor.cpp.obj";
const std::wstring kLong = L"[Vorlen] " + std::wstring(291, L'm');
const std::wstring kPolicyFailure =
    L"this PC's policy for PowerShell scripts, set by its administrator, does not let the installer's script run; "
    L"ask the administrator to allow it, or install on another PC";

const LineCase kLineCases[] = {
    {L"step marker with carriage return", nullptr, L"@step compile\r", 7, 0.0, L"before", L"", L""},
    {L"step key starting with a space", L"tools", L"@step  compile", 3, 0.11, L"before", L"", L""},
    {L"step key unknown, still not logged", nullptr, L"@step finish", -1, 0.11, L"before", L"", L""},
    {L"@steps is plain output", nullptr, L"@steps", -1, 0.11, L"before", L"", L"@steps\r\n"},
    {L"blank line", nullptr, L"   ", -1, 0.11, L"before", L"", L""},
    {L"carriage returns and spaces only", nullptr, L" \r \r", -1, 0.11, L"before", L"", L""},
    {L"progress marker with note", nullptr, L"@progress 42 Unpacking", -1, 0.42, L"Unpacking", L"", L""},
    {L"progress marker note keeps later spaces", nullptr, L"@progress 7 a  b", -1, 0.07, L"a  b", L"", L""},
    {L"progress marker without note", nullptr, L"@progress 42", -1, 0.42, L"before", L"", L""},
    {L"progress marker past 100", nullptr, L"@progress 150 x", -1, 1.5, L"x", L"", L""},
    {L"progress marker negative", nullptr, L"@progress -5", -1, -0.05, L"before", L"", L""},
    {L"progress marker without digits", nullptr, L"@progress abc", -1, 0.0, L"before", L"", L""},
    {L"progress marker trailing space only", nullptr, L"@progress ", -1, 0.11, L"before", L"", L"@progress\r\n"},
    {L"object file while compile runs", L"compile", kObject, 7, 12.0 / 345,
     L"Compiling the game's code: z_actor  (file 12 of 345)", L"", kObject + L"\r\n"},
    {L"object file while runtime runs", L"runtime", kObject, 8, 12.0 / 345,
     L"Compiling Vorlen: z_actor  (file 12 of 345)", L"", kObject + L"\r\n"},
    {L"object file with no step running", nullptr, kObject, -1, 12.0 / 345,
     L"Compiling the translator: z_actor  (file 12 of 345)", L"", kObject + L"\r\n"},
    {L"object file while tools runs", L"tools", kObject, 3, 12.0 / 345,
     L"Compiling the translator: z_actor  (file 12 of 345)", L"", kObject + L"\r\n"},
    {L"object file with backslashes", L"compile", L"[1/2] cc src\\gfx\\draw.cpp.o", 7, 0.5,
     L"Compiling the game's code: draw  (file 1 of 2)", L"", L"[1/2] cc src\\gfx\\draw.cpp.o\r\n"},
    {L"object file slash after the suffix is ignored", L"compile", L"[1/4] x/y.cpp.o -> out/z", 7, 0.25,
     L"Compiling the game's code: y  (file 1 of 4)", L"", L"[1/4] x/y.cpp.o -> out/z\r\n"},
    {L"object file without folder", L"compile", L"[1/4] y.cpp.obj", 7, 0.25,
     L"Compiling the game's code: y  (file 1 of 4)", L"", L"[1/4] y.cpp.obj\r\n"},
    {L"other build action", nullptr, L"[3/10] Linking CXX executable game.exe", -1, 0.3,
     L"Linking CXX executable game.exe  (3 of 10)", L"", L"[3/10] Linking CXX executable game.exe\r\n"},
    {L"build action without white space or text", nullptr, L"[3/10]", -1, 0.3, L"  (3 of 10)", L"", L"[3/10]\r\n"},
    {L"negative count", nullptr, L"[-2/4] a", -1, -0.5, L"a  (-2 of 4)", L"", L"[-2/4] a\r\n"},
    {L"blanks inside the counts", nullptr, L"[ 4/ 8]x", -1, 0.5, L"x  (4 of 8)", L"", L"[ 4/ 8]x\r\n"},
    {L"nothing to do", nullptr, L"[0/0] nothing to do", -1, 0.11, L"before", L"", L"[0/0] nothing to do\r\n"},
    {L"negative total", nullptr, L"[1/-3] x", -1, 0.11, L"before", L"", L"[1/-3] x\r\n"},
    {L"description cut at 90", nullptr, L"[1/2] " + std::wstring(100, L'd'), -1, 0.5,
     std::wstring(90, L'd') + L"  (1 of 2)", L"", L"[1/2] " + std::wstring(100, L'd') + L"\r\n"},
    {L"script message", nullptr, L"[Vorlen] installing into C:\\Games\\x", -1, 0.11,
     L"installing into C:\\Games\\x", L"", L"[Vorlen] installing into C:\\Games\\x\r\n"},
    {L"echoed cmake command", nullptr, L"[build] cmake -S src -B build", -1, 0.11, L"before", L"",
     L"[build] cmake -S src -B build\r\n"},
    {L"program path", nullptr, L"[build] C:\\tools\\ninja.exe -C build", -1, 0.11, L"before", L"",
     L"[build] C:\\tools\\ninja.exe -C build\r\n"},
    {L"message with ellipsis", nullptr, L"[build] Configuring ...", -1, 0.11, L"before", L"",
     L"[build] Configuring ...\r\n"},
    {L"failure message", nullptr, L"[build] error: bad file", -1, 0.11, L"error: bad file", L"bad file",
     L"[build] error: bad file\r\n"},
    {L"failure with ellipsis sets only the failure", nullptr, L"[Vorlen] error: gave up ...", -1, 0.11,
     L"before", L"gave up ...", L"[Vorlen] error: gave up ...\r\n"},
    {L"bare failure prefix", nullptr, L"[build] error:", -1, 0.11, L"error:", L"", L"[build] error:\r\n"},
    {L"tag without space", nullptr, L"[Vorlen]x", -1, 0.11, L"before", L"", L"[Vorlen]x\r\n"},
    {L"tag in another case", nullptr, L"[Build] x", -1, 0.11, L"before", L"", L"[Build] x\r\n"},
    {L"tag after a blank", nullptr, L" [Vorlen] x", -1, 0.11, L"before", L"", L" [Vorlen] x\r\n"},
    {L"long message cut at 120 in doing only", nullptr, kLong, -1, 0.11, std::wstring(120, L'm'), L"",
     kLong + L"\r\n"},
    {L"trailing spaces and carriage return trimmed, tab kept", nullptr, L"\tpacman: ok \r ", -1, 0.11,
     L"before", L"", L"\tpacman: ok\r\n"},
    {L"byte-order mark before a step marker", nullptr, L"\uFEFF@step msys", 0, 0.0, L"before", L"", L""},
    {L"byte-order mark before a message", nullptr, L"\uFEFF[Vorlen] ok", -1, 0.11, L"ok", L"", L"[Vorlen] ok\r\n"},
    {L"script refused by the PC's policy, in any language", nullptr,
     L"    + FullyQualifiedErrorId : UnauthorizedAccess", -1, 0.11, L"before", kPolicyFailure,
     L"    + FullyQualifiedErrorId : UnauthorizedAccess\r\n"},
    {L"the same words once a step runs", L"compile", L"    + FullyQualifiedErrorId : UnauthorizedAccess", 7, 0.11,
     L"before", L"", L"    + FullyQualifiedErrorId : UnauthorizedAccess\r\n"},
};

class LineInterpretation : public ::testing::TestWithParam<LineCase> {
  void SetUp() override { ResetState(); }
};

TEST_P(LineInterpretation, ChangesStateAndLogAsExpected) {
  const LineCase& c = GetParam();
  if (c.key) Begin(c.key);
  fraction = 0.11;
  doing = L"before";
  ReadLine(c.line);
  EXPECT_EQ(current, c.current_after);
  EXPECT_DOUBLE_EQ(fraction, c.fraction_after);
  EXPECT_EQ(doing, c.doing_after);
  EXPECT_EQ(failure, c.failure_after);
  EXPECT_EQ(log_tail, c.logged);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineInterpretation, ::testing::ValuesIn(kLineCases), CaseName<LineCase>);

TEST_F(Interpreter, LaterFailureReplacesEarlierOne) {
  ReadLine(L"[build] error: first");
  ReadLine(L"[Vorlen] the build failed; see the messages above");
  ReadLine(L"[build] error: second");
  EXPECT_EQ(failure, L"second");
  EXPECT_EQ(doing, L"error: second");
}

// What line-by-line appending to the control would leave: the reference for the batched log.
struct LineByLineLog {
  std::wstring text;
  void Add(const std::wstring& line) {
    if (text.size() > 400000) text.erase(0, text.size() / 2);
    text += line + L"\r\n";
  }
};

// Deterministic lines of varied length, some long enough that a cut reaches into unflushed text
// and some longer than a step's piece; long on the whole, so that a few hundred lines cross
// several cuts while the control takes few steps (each costs as much as the text it holds).
std::wstring SampleLine(unsigned& seed, int index) {
  seed = seed * 1103515245u + 12345u;
  size_t length = 1 + (seed >> 8) % ((seed & 15) == 0 ? 20000 : 8000);
  std::wstring line = L"line " + std::to_wstring(index);
  while (line.size() < length) line += static_cast<wchar_t>(line.size() % 7 == 0 ? L' ' : L'a' + index % 26);
  return line + L"."; // the interpreter trims trailing spaces; keep the reference simple
}

// Every few lines the control takes a few bounded steps, as the window does between blocks. A
// case meets some kinds of cut: within what the control keeps, one that empties the control
// (reaching into the text still to append), and one into the older text still to go in above
// what the control shows. One test a case: the control's steps cost as much as the text it holds.
struct CutCase {
  const wchar_t* name;
  int step_every, steps;
  bool shown;
  bool within, into_waiting, into_head;  // the kinds of cut the case must meet
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << Narrow(c.name); }

const CutCase kCutCases[] = {
    {L"a step after each line", 1, 1, false, true, false, false},
    {L"two steps every third line", 3, 2, false, true, false, false},
    {L"two steps every tenth line shown", 10, 2, true, true, false, true},
    {L"only the last flush", 100000, 0, false, false, true, false},
};

class BatchedLog : public ::testing::TestWithParam<CutCase> {
  void SetUp() override { ResetState(); }
};

// Whether the view shows the line the control's text ends with.
bool LastLineInView() {
  LRESULT last = SendMessageW(log_edit, EM_LINEFROMCHAR, std::max(GetWindowTextLengthW(log_edit) - 1, 0), 0);
  LRESULT first = SendMessageW(log_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  return first <= last && last < first + static_cast<LRESULT>(ViewLines());
}

// The log as kept reads as line-by-line appending after the steps; the control
// ends up holding it; and a shown control, once its text reaches the log's end, shows that end.
TEST_P(BatchedLog, EqualsLineByLineAcrossCuts) {
  const CutCase& c = GetParam();
  log_edit = MakeLogControl(c.shown);
  ASSERT_NE(log_edit, nullptr);
  LineByLineLog reference;
  unsigned seed = 7;
  int cuts = 0, within = 0, into_waiting = 0, into_head = 0;
  for (int i = 0; i < 160; ++i) {
    std::wstring line = SampleLine(seed, i);
    bool cut = reference.text.size() > 400000;
    size_t head = log_head.size(), drop = log_drop;
    reference.Add(line);
    ReadLine(line);
    if (cut) {
      ++cuts;
      into_head += log_head.size() < head;
      if (log_drop == log_shown) {
        ++into_waiting;
      } else if (log_drop > drop) {
        ++within;
      }
    }
    if ((i + 1) % c.step_every == 0) {
      for (int k = 0; k < c.steps; ++k) LogStep();
      ASSERT_TRUE(KeptLog() == reference.text) << "after the steps at line " << i;
      if (c.shown && log_tail.empty() && log_drop == 0) {
        EXPECT_TRUE(LastLineInView()) << "line " << i;
      }
    }
  }
  FlushLog();
  EXPECT_GE(cuts, 2) << "the sample must cross several cuts";
  EXPECT_EQ(within > 0, c.within);
  EXPECT_EQ(into_waiting > 0, c.into_waiting);
  EXPECT_EQ(into_head > 0, c.into_head);
  EXPECT_EQ(WindowText(log_edit), reference.text);
  EXPECT_EQ(static_cast<size_t>(GetWindowTextLengthW(log_edit)), log_shown);
  if (c.shown) {
    EXPECT_TRUE(LastLineInView());
  }
  DestroyWindow(log_edit);
}

INSTANTIATE_TEST_SUITE_P(Cuts, BatchedLog, ::testing::ValuesIn(kCutCases), CaseName<CutCase>);

TEST_F(Interpreter, EachLogStepIsOneCutOrOneBoundedPieceTheNewestFirst) {
  log_edit = MakeLogControl(true);
  std::wstring line(1000, L'x');
  LineByLineLog reference;
  for (int i = 0; i < 500; ++i) {  // 501,000 characters: a cut while nothing is shown yet
    ReadLine(line);
    reference.Add(line);
  }
  EXPECT_EQ(log_drop, 0u);
  ASSERT_LT(reference.text.size(), 400000u);
  EXPECT_EQ(log_tail, reference.text);
  // The first step shows the newest text; the steps after it put the older text in above it.
  LogStep();
  std::wstring newest = WindowText(log_edit);
  EXPECT_LE(newest.size(), kLogPiece);
  EXPECT_EQ(reference.text.substr(reference.text.size() - newest.size()), newest);
  size_t before = newest.size();
  int steps = 1;
  while (LogPending()) {
    LogStep();
    size_t now = static_cast<size_t>(GetWindowTextLengthW(log_edit));
    EXPECT_LE(now - before, kLogPiece);
    before = now;
    ++steps;
  }
  EXPECT_EQ(WindowText(log_edit), reference.text);
  EXPECT_EQ(steps, static_cast<int>((reference.text.size() + kLogPiece - 1) / kLogPiece));
  // A piece of short lines holds kLogLines of them.
  for (int i = 0; i < 100; ++i) ReadLine(L"ab");
  LogStep();
  std::wstring shown = WindowText(log_edit);
  EXPECT_EQ(std::count(shown.begin() + before, shown.end(), L'\n'), static_cast<long>(kLogLines));
  FlushLog();
  // A cut within what the control keeps, with little after it, is a step of its own.
  while (log_drop == 0) {
    FlushLog();
    ReadLine(line);
  }
  ASSERT_LT(log_tail.size(), kLogPiece);
  size_t shown_before = static_cast<size_t>(GetWindowTextLengthW(log_edit));
  size_t drop = log_drop;
  EXPECT_TRUE(LogStep());
  EXPECT_EQ(static_cast<size_t>(GetWindowTextLengthW(log_edit)), shown_before - drop);
  DestroyWindow(log_edit);
}

TEST_F(Interpreter, FullLogDropsItsOlderHalfBeforeTheNextLine) {
  log_edit = MakeLogControl();
  std::wstring full;
  for (int i = 0; full.size() < 400001; ++i) full += i % 80 == 79 ? L"\r\n" : std::wstring(1, L'A' + i % 26);
  full.resize(400001);
  SetWindowTextW(log_edit, full.c_str());
  log_shown = 400001;
  ReadLine(L"[build] next");
  FlushLog();
  EXPECT_EQ(WindowText(log_edit), full.substr(200000) + L"[build] next\r\n");
  // At exactly 400000 nothing is dropped.
  HWND edit = log_edit;
  ResetState();
  log_edit = edit;
  SetWindowTextW(log_edit, full.substr(1).c_str());
  log_shown = 400000;
  ReadLine(L"x");
  FlushLog();
  EXPECT_EQ(WindowText(log_edit), full.substr(1) + L"x\r\n");
  DestroyWindow(log_edit);
}

TEST_F(Interpreter, ClearLogEmptiesControlAndPendingText) {
  log_edit = MakeLogControl();
  ReadLine(L"one");
  FlushLog();
  ReadLine(L"two");
  ClearLog();
  EXPECT_FALSE(LogPending());
  EXPECT_EQ(WindowText(log_edit), L"");
  ReadLine(L"three");
  FlushLog();
  EXPECT_EQ(WindowText(log_edit), L"three\r\n");
  DestroyWindow(log_edit);
}

}  // namespace
