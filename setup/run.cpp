// Running the install script: writing it, starting PowerShell on it, reading its output on a
// second thread, its end, the replay of a recorded run, and starting the installed game.

namespace {

std::wstring pending_line;  // output read from the pipe that the interpreter has still to take
std::wstring read_line;     // the line the interpreter reads now
HANDLE job;            // every process of the running installation; null when none runs or
                       // when the system gave none (the script alone is ended then)
HANDLE script_wait;    // ends the installation's leftovers when the script's process ends
std::deque<std::wstring> waiting_output;  // blocks of output that have come but are not read yet
Handover<std::wstring> handed_output;     // blocks of output on their way from the reader
Handover<DWORD> handed_ends;              // the script's exit code, after its last output
Handover<bool> handed_failures;           // the transcript's writer cannot write it
bool catch_up_set;     // the catch-up timer runs
bool end_waits;        // the script has ended, but some of its output is still to read
DWORD end_code;        // its exit code then
bool asking_stop;      // the stop question is open
bool error_view_waits; // the stopped page's log opens at the first error once it holds everything
DWORD output_came;     // when the last block of output came
Transcript* reader_transcript;  // where the next reader to start writes its run's transcript

// Calls that tests make fail, to see the installer cope: putting PowerShell into the job, and
// starting the reader thread.
BOOL(WINAPI* assign_to_job)(HANDLE, HANDLE);
HANDLE(WINAPI* create_thread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);

// Windows PowerShell by its full path in the system folder. Started by its bare name it would be
// searched for in the installer's own folder first, where any download may lie beside it.
std::wstring SystemPowerShell() {
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(system, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

// Where PowerShell is started from; tests point it at their stand-in.
std::wstring (*powershell_path)();

// One argument quoted so that CommandLineToArgvW (and PowerShell, which splits its command line
// the same way) gives back exactly `text`: backslashes before a double quote, and those at the
// end before the closing quote, are doubled, and inner double quotes are escaped.
std::wstring Quote(const std::wstring& text) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

std::wstring CommandLine(const std::wstring& script, const std::wstring& nup, const std::wstring& dir,
                         bool dlss) {
  return L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File " + Quote(script) +
         L" -Nup " + Quote(nup) + L" -Dir " + Quote(dir) + (dlss ? L" -Dlss" : L"");
}

// --- Output bytes to lines of text -----------------------------------------------------------
//
// Each line is decoded on its own, as its writer meant it: MSYS2's programs, winget's bars and the
// launcher's Python write UTF-8 whatever the console's code page, while Windows PowerShell and
// Windows' own programs write the hidden console's OEM code page. So the bytes are cut at line
// feeds first (0x0A is never part of another character in UTF-8 or in any OEM code page), a
// line's bytes wait until its line feed has come, and then the line is UTF-8 when its bytes are
// well-formed UTF-8 with at least one byte above 127, and OEM otherwise.

enum class Form { Ascii, Utf8, Other };

// Whether bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
Form FormOf(const char* text, size_t count) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  Form form = Form::Ascii;
  size_t i = 0;
  // Most lines are ASCII: eight bytes are looked at at once up to the first byte above 127.
  for (unsigned long long eight; i + 8 <= count; i += 8) {
    memcpy(&eight, bytes + i, 8);
    if (eight & 0x8080808080808080ull) break;
  }
  while (i < count) {
    unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > count) return Form::Other;
    unsigned char lowest = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char highest = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (bytes[i + 1] < lowest || bytes[i + 1] > highest) return Form::Other;
    for (size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return Form::Other;
    }
    i += length;
    form = Form::Utf8;
  }
  return form;
}

void AppendDecoded(std::wstring& text, const char* line, size_t count, UINT oem) {
  Form form = FormOf(line, count);
  if (form == Form::Ascii) {
    // Widened in place: appending the range built a string of its own for every line.
    size_t at = text.size();
    text.resize(at + count);
    for (size_t i = 0; i < count; ++i) text[at + i] = static_cast<unsigned char>(line[i]);
    return;
  }
  UINT code_page = form == Form::Utf8 ? CP_UTF8 : oem;
  int length = MultiByteToWideChar(code_page, 0, line, static_cast<int>(count), nullptr, 0);
  size_t at = text.size();
  text.resize(at + length);
  MultiByteToWideChar(code_page, 0, line, static_cast<int>(count), &text[at], length);
}

// A line that never ends (a tool that writes no line feed) is handed on in pieces of at most this
// many bytes, so that it cannot grow memory without bound.
constexpr size_t kLinePiece = 65536;

// Where to cut a longer line so that no character is cut in two, whichever way it is decoded,
// and no escape sequence either: each piece is shown as a line of its own, and the tail of a
// sequence cut in two would show as text.
size_t PieceEnd(const std::string& line, UINT oem) {
  size_t end = kLinePiece;
  while (end > kLinePiece - 3 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  if (FormOf(line.data(), end) == Form::Other) {
    size_t i = 0;
    while (i < kLinePiece) i += IsDBCSLeadByteEx(oem, static_cast<BYTE>(line[i])) ? 2 : 1;
    end = i > kLinePiece ? kLinePiece - 1 : kLinePiece;
  }
  // 0x1B is no part of another character in UTF-8 or in any OEM code page, so a cut before it
  // cuts no character. A sequence longer than a piece is cut all the same.
  for (size_t i = 0; i < end; ++i) {
    if (line[i] != '\x1b') continue;
    size_t last = EscapeEnd(line, i);
    if (last >= end) return i > 0 ? i : end;
    i = last;
  }
  return end;
}

// Output bytes to text: every complete line, decoded in its own form and ended by a line feed.
// `carry` holds the bytes of the line whose line feed has not come yet; `last` hands that on too,
// at the end of the output. A carriage return that more of the line follows starts the line
// again, as on a console, where a spinner or a download bar redraws itself: only its last frame
// is kept, and is kept as the bytes come, so a tool that redraws for an hour holds one frame.
// A carriage return followed by a NUL is UTF-16's, whose line feed follows: no redraw.
// Every byte is looked at once: nothing is searched again when more comes.
std::wstring Decode(std::string& carry, const char* bytes, size_t count, UINT oem, bool last = false) {
  size_t from = carry.empty() ? 0 : carry.size() - 1;  // a carriage return that ended the last read
  carry.append(bytes, count);
  std::wstring text;
  text.reserve(carry.size() - from + carry.size() / kLinePiece + 1);
  size_t start = 0;
  for (size_t i = from; i < carry.size(); ++i) {
    if (carry[i] == '\n') {
      AppendDecoded(text, carry.data() + start, i - start, oem);
      text += L'\n';
      start = i + 1;
    } else if (carry[i] == '\r' && i + 1 < carry.size() && carry[i + 1] != '\r' && carry[i + 1] != '\n' &&
               carry[i + 1] != '\0') {
      start = i + 1;
    }
  }
  carry.erase(0, start);
  while (carry.size() > kLinePiece) {
    size_t end = PieceEnd(carry, oem);
    AppendDecoded(text, carry.data(), end, oem);
    text += L'\n';
    carry.erase(0, end);
  }
  if (last) {
    AppendDecoded(text, carry.data(), carry.size(), oem);
    carry.clear();
  }
  return text;
}

// Output that comes faster than the window takes it joins the block before it while that is
// short of this many characters: the window reads few large blocks, however the reads fall.
constexpr size_t kBatch = 65536;

bool JoinOutput(std::wstring& last, const std::wstring& text) {
  if (last.size() >= kBatch) return false;
  last += text;
  return true;
}

// How far the reader may be ahead of the window, in characters handed over and not yet read: a
// flood that comes faster than the window reads it waits in the pipe, and its writer with it,
// rather than in the installer's memory.
constexpr size_t kUnreadLimit = 262144;

SRWLOCK unread_lock = SRWLOCK_INIT;
CONDITION_VARIABLE output_read = CONDITION_VARIABLE_INIT;
size_t unread_output;  // under unread_lock

// For the reader: waits while it is too far ahead of a window that is still there.
void WaitForWindow() {
  AcquireSRWLockExclusive(&unread_lock);
  while (unread_output > kUnreadLimit && IsWindow(window)) SleepConditionVariableSRW(&output_read, &unread_lock, 100, 0);
  ReleaseSRWLockExclusive(&unread_lock);
}

// How much has been handed over (positive) or read (negative); the reader goes on once the
// window has caught up.
void CountUnread(long long characters) {
  AcquireSRWLockExclusive(&unread_lock);
  unread_output = characters < 0 && static_cast<size_t>(-characters) > unread_output ? 0 : unread_output + characters;
  bool caught_up = unread_output <= kUnreadLimit;
  ReleaseSRWLockExclusive(&unread_lock);
  if (caught_up && characters < 0) WakeConditionVariable(&output_read);
}

// The block travels as a string with its length, so that a NUL in the output (a tool writing
// UTF-16, a binary file printed by mistake) cannot cut off the text behind it.
void DeliverText(const std::wstring& text) {
  if (text.empty()) return;
  CountUnread(static_cast<long long>(text.size()));
  HandOver(handed_output, text, kOutputMessage, JoinOutput);
}

// How much of the output is decoded at a time, as it comes from the pipe and in a replay from its
// file: where a line longer than a piece is cut depends on it (a redraw in the same read is
// seen before the cut), so that a replay cuts it where its run did.
constexpr DWORD kReadSize = 4096;

// How much is read from the pipe at once. Under a flood each read, a call to the system, cost
// more than its decoding: a read of up to 64 KB is decoded a 4 KB share at a time, as that many
// reads of 4 KB would have been. Each read's text goes on at once, nothing held back.
constexpr DWORD kPipeRead = 65536;

DWORD WINAPI Reader(void* pipe) {
  HANDLE read_end = static_cast<HANDLE>(pipe);
  Transcript* transcript = reader_transcript;
  std::vector<char> buffer(kPipeRead);
  DWORD count = 0;
  std::string carry;
  UINT oem = GetOEMCP();  // the code page of the hidden console PowerShell writes into
  for (;;) {
    WaitForWindow();
    AcquireSRWLockShared(&reading_gate);  // not while the window's log takes a step
    ReleaseSRWLockShared(&reading_gate);
    if (!ReadFile(read_end, buffer.data(), kPipeRead, &count, nullptr) || count == 0) break;
    std::wstring text;
    for (DWORD at = 0; at < count; at += kReadSize) {
      text += Decode(carry, buffer.data() + at, std::min(kReadSize, count - at), oem);
    }
    Transcribe(transcript, text);
    DeliverText(text);
  }
  std::wstring last = Decode(carry, nullptr, 0, oem, true);
  Transcribe(transcript, last);
  DeliverText(last);
  CloseHandle(read_end);
  DWORD exit_code = 1;
  WaitForSingleObject(child, INFINITE);
  if (!GetExitCodeProcess(child, &exit_code)) exit_code = 1;
  CloseTranscript(transcript, exit_code);
  HandOver(handed_ends, exit_code, kEndMessage);
  return 0;
}

void Fail(const wchar_t* message) { Tell(message, MB_ICONERROR); }

// "vorlen-setup" in the temporary folder; empty when the system cannot say where that is or
// its path does not fit, never a bare name that would land in the current folder.
std::wstring SetupFolder() {
  wchar_t temp[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(temp, length) + L"vorlen-setup";
}

bool WriteScript(const std::wstring& path, const char* text = kInstallScript, unsigned long size = kInstallScriptSize) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text, size, &written, nullptr);
  // A short write leaves a truncated script that PowerShell would run half of.
  ok = ok && written == size;
  ok = CloseHandle(file) && ok;
  return ok;
}

// The script has ended: whatever it started and left running is ended now rather than when the
// end is handled, because a leftover that holds the output pipe would keep the reader waiting
// for the end of the output, and the window on the installing page, for as long as it runs.
VOID CALLBACK EndLeftovers(void* installation, BOOLEAN) { TerminateJobObject(installation, 1); }

// Starts PowerShell suspended inside a job that ends every process of the installation at
// once: stopping it must not leave pacman, Python or the compilers running hidden. Where no job
// can be had (an outer job that allows no breakaway), the script runs without one and a stop
// ends the script itself. Only the pipe's write end is inherited, not whatever else of the
// installer's happens to be inheritable.
bool StartScript(std::wstring command, const std::wstring& folder, HANDLE write_end) {
  std::wstring program = powershell_path();
  if (program.empty()) return false;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
  bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &write_end, sizeof write_end,
                                          nullptr, nullptr) != FALSE;
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdOutput = write_end;
  startup.StartupInfo.hStdError = write_end;
  startup.lpAttributeList = list;
  PROCESS_INFORMATION process = {};
  bool started = listed && CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                                          nullptr, folder.c_str(), &startup.StartupInfo, &process);
  DeleteProcThreadAttributeList(list);
  if (!started) return false;
  job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // Closing the last handle (also when the installer itself ends) ends the whole installation.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job && !(SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
               assign_to_job(job, process.hProcess))) {
    CloseHandle(job);
    job = nullptr;
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  child = process.hProcess;
  if (job) RegisterWaitForSingleObject(&script_wait, child, EndLeftovers, job, INFINITE, WT_EXECUTEONLYONCE);
  return true;
}

// Lets go of the script's process and job once its run is over or could not begin.
void ForgetScript() {
  if (script_wait) UnregisterWaitEx(script_wait, INVALID_HANDLE_VALUE);  // its call, if any, is over
  script_wait = nullptr;
  CloseHandle(child);
  child = nullptr;
  if (job) CloseHandle(job);  // ends whatever the script left running
  job = nullptr;
}

void Install() {
  // The script would resolve a relative name against its own folder.
  std::wstring nup = FullPath(ChosenGame());
  std::wstring dir = ChosenFolder();
  // Install is disabled then; nothing else may start it either, nor before the answer is in.
  if (FolderRefusal(dir) || (dir != usable_folder && !UsableNow(dir))) return;
  std::wstring folder = SetupFolder();
  if (!folder.empty()) CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring script = folder + L"\\install.ps1";
  // The uninstaller beside it, which the script puts into the installation.
  if (folder.empty() || !WriteScript(script) ||
      !WriteScript(folder + L"\\uninstall.ps1", kUninstallScript, kUninstallScriptSize))
    return Fail(L"Cannot write the setup script to the temporary folder.");

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  // Room for 64 KB, so that the script's tools write on while the reader decodes: with the
  // system's default every write of a flood waited for a read.
  if (!CreatePipe(&read_end, &write_end, &inherit, 65536)) return Fail(L"Cannot start PowerShell.");
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  bool dlss = SendMessageW(dlss_check, BM_GETCHECK, 0, 0) == BST_CHECKED;
  bool running = StartScript(CommandLine(script, nup, dir, dlss), folder, write_end);
  CloseHandle(write_end);
  // Started once its run's transcript is open, which it is handed through `reader_transcript`.
  HANDLE reader = running ? create_thread(nullptr, 0, Reader, read_end, CREATE_SUSPENDED, nullptr) : nullptr;
  if (!reader) {
    // Without its reader the run would sit on the installing page for ever: end it unseen.
    if (running) {
      TerminateProcess(child, 1);
      WaitForSingleObject(child, 5000);
      ForgetScript();
    }
    CloseHandle(read_end);
    return Fail(L"Cannot start PowerShell.");
  }

  install_dir = dir;
  ResetProgress();
  pending_line.clear();
  waiting_output.clear();
  unread_output = 0;  // no reader runs now
  error_view_waits = false;
  ClearLog();
  reader_transcript = OpenTranscript(folder);
  if (!reader_transcript) SayNoTranscript();
  ResumeThread(reader);
  CloseHandle(reader);
  started = Now();
  SetTimer(window, kProgressTimer, 500, nullptr);
  RunStarted();
  Show(Installing);
}

// Hands every complete line of `pending_line` to the interpreter, in order, and leaves what
// follows the last line feed waiting. `searched` characters at its start hold no line feed.
// Returns the last line handed over.
std::wstring ReadPendingLines(size_t searched = 0) {
  size_t from = 0;
  size_t last_from = 0;
  for (size_t end; (end = pending_line.find(L'\n', std::max(from, searched))) != std::wstring::npos; from = end + 1) {
    // One buffer for every line: a copy of each line of a flood cost more than reading it.
    read_line.assign(pending_line, from, end - from);
    ReadLineIn(read_line);
    last_from = from;
  }
  std::wstring last = from > 0 ? pending_line.substr(last_from, from - 1 - last_from) : std::wstring();
  pending_line.erase(0, from);
  return last;
}

// The output has ended: what followed its last line feed is a line too.
void ReadLastLine() {
  if (!pending_line.empty()) ReadLine(pending_line);
  pending_line.clear();
}

// The page a run ends on, for a run and for its replay: stopped in the running step, whose log
// then opens at its first error, or finished with every step done.
void ShowEnd(bool finished) {
  if (finished) {
    Begin(L"done");
    Show(Finished);
    return;
  }
  FailStep();
  Show(Stopped);
  error_view_waits = true;  // on the catch-up timer, after the log's last step
}

// Where a transcript's last line gives the run's exit code ("@exit N"), the code and where that
// line begins; nothing for a recorded output that has none.
std::optional<DWORD> ExitLine(HANDLE file, unsigned long long size, unsigned long long& at) {
  char tail[64];
  DWORD count = static_cast<DWORD>(std::min<unsigned long long>(size, sizeof tail));
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(size - count);
  where.OffsetHigh = static_cast<DWORD>((size - count) >> 32);
  DWORD read = 0;
  if (!ReadFile(file, tail, count, &read, &where) || read != count) return std::nullopt;
  std::string text(tail, count);
  if (text.empty() || text.back() != '\n') return std::nullopt;
  size_t end = text.size() - 1;
  if (end > 0 && text[end - 1] == '\r') --end;
  size_t start = text.rfind('\n', end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  if (start == 0 && count < size) return std::nullopt;  // the line is longer than an exit line
  std::string line = text.substr(start, end - start);
  if (line.compare(0, 6, "@exit ") != 0 || line.size() == 6 ||
      line.find_first_not_of("0123456789", 6) != std::string::npos) {
    return std::nullopt;
  }
  at = size - count + start;
  return static_cast<DWORD>(strtoul(line.c_str() + 6, nullptr, 10));
}

// VORLEN_SETUP_REPLAY names a transcript (or a recorded output) that is shown as its run was:
// read as the reader reads the pipe, a piece at a time, so that a line that never ends is cut
// where the pipe's reading cuts it. A transcript ends on the page its run ended on; a recorded
// output without an exit code on the installing page, or the finished one after "@step done".
// A replay writes no transcript of its own.
void Replay() {
  wchar_t path[260];
  DWORD length = GetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", path, 260);
  if (length < 1 || length > 259) return;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  install_dir = DefaultFolder();
  started = Now() - 420000;  // the run counts as started seven minutes ago
  TakeReplayed(path);
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  unsigned long long end = static_cast<unsigned long long>(size.QuadPart);
  std::optional<DWORD> exit_code = ExitLine(file, end, end);
  LARGE_INTEGER start = {};
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);  // the read at the end moved it there
  std::string carry;
  UINT oem = GetOEMCP();
  char buffer[kReadSize];
  std::wstring last;  // the last whole line
  unsigned long long at = 0;
  for (DWORD count = 0; at < end; at += count) {
    DWORD wanted = static_cast<DWORD>(std::min<unsigned long long>(sizeof buffer, end - at));
    if (!ReadFile(file, buffer, wanted, &count, nullptr) || count == 0) break;
    // A transcript's byte-order mark is no part of the output.
    size_t mark = at == 0 && count >= 3 && memcmp(buffer, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    size_t searched = pending_line.size();
    pending_line += Decode(carry, buffer + mark, count - mark, oem);
    if (pending_line.find(L'\n', searched) != std::wstring::npos) last = ReadPendingLines(searched);
  }
  CloseHandle(file);
  if (exit_code) {
    // As at the run's end: the bytes held back are its last line.
    pending_line += Decode(carry, nullptr, 0, oem, true);
    ReadLastLine();
    FlushLog();
    OnEnd(*exit_code);
    return;
  }
  // Text after the last line feed is not a complete line and is left (in `carry`).
  pending_line.clear();
  FlushLog();
  if (StartsWith(last, L"@step done")) {
    ShowEnd(true);
  } else {
    Show(Installing);
  }
}

// Whether a key or a click waits. Input waits in the queue behind every posted message, so
// while it does, output that comes is only gathered: the messages before the input are then
// quick to take, and the player's key is not kept waiting behind a flood of output.
bool InputWaits() { return HIWORD(GetQueueStatus(QS_INPUT)) != 0; }

// About this much output (some 6,000 lines, 10 ms of reading) is read in one turn.
constexpr size_t kTurnCharacters = 262144;

// Reads the blocks that wait, in order: a turn's share, which stops early when input comes,
// after `at_least` blocks (so that output is read however busy the keyboard and mouse are).
// Returns how many characters it read.
size_t ReadWaitingOutput(int at_least) {
  size_t read = 0;
  for (int blocks = 0; !waiting_output.empty() && read < kTurnCharacters && (blocks < at_least || !InputWaits());
       ++blocks) {
    read += waiting_output.front().size();
    size_t searched = pending_line.size();
    pending_line += waiting_output.front();
    waiting_output.pop_front();
    ReadPendingLines(searched);
  }
  if (read > 0) CountUnread(-static_cast<long long>(read));
  return read;
}

// What is left, output to read and the log's steps, is taken on a timer. Windows hands a window
// its timer messages only when no input, paint or posted message waits, so keys and clicks,
// the output still queued and the page's repaints all go first. (Steps that were posted messages
// each went before any input: while the log had text to take, a key waited as long as that took.)
void ScheduleCatchUp() {
  bool more = !waiting_output.empty() || LogPending() || error_view_waits;
  if (more && !catch_up_set) catch_up_set = SetTimer(window, kCatchUpTimer, USER_TIMER_MINIMUM, nullptr) != 0;
  if (!more && catch_up_set) {
    KillTimer(window, kCatchUpTimer);
    catch_up_set = false;
  }
}

// The log's steps in one turn of the catch-up timer take about this long: one step where a step
// costs more (under Wine, tens of milliseconds), several where they are cheap, so that the log
// is whole sooner without keeping a key waiting longer than a step would. None while input waits.
constexpr double kCatchUpTurn = 8;  // milliseconds

void CatchUpLog() {
  LARGE_INTEGER frequency, start, before, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  auto milliseconds = [&](const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return (to.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
  };
  do {
    QueryPerformanceCounter(&before);
    LogStep();
    QueryPerformanceCounter(&now);
    // Another step only where one like the last still fits in the turn.
  } while (LogPending() && !InputWaits() && milliseconds(start, now) + milliseconds(before, now) < kCatchUpTurn);
}

// Output pauses when none has come for this long: a flood comes in blocks a few milliseconds apart.
constexpr DWORD kOutputPause = 50;

// The log catches up only once the output pauses: a step costs tens of milliseconds (Windows lays
// out every line it takes), which output that keeps coming cannot spare. Stepping whenever the
// window had read what had come, it spent most of a flood on text that a later cut threw away.
// Meanwhile a shown log still moves on at its pace.
void OnCatchUpTimer() {
  size_t read = ReadWaitingOutput(1);
  if (waiting_output.empty() && end_waits) {
    end_waits = false;
    OnEnd(end_code);
    return;
  }
  if (waiting_output.empty() && Now() - output_came >= kOutputPause) {
    if (read == 0) CatchUpLog();  // else on the next turn: a turn that read holds no step too
  } else {
    PaceLog();
  }
  if (error_view_waits && !LogPending()) {
    error_view_waits = false;
    ShowFirstError();
  }
  ScheduleCatchUp();
}

// Blocks of output as the reader handed them over, in order.
LRESULT ReadOutput(std::deque<std::wstring> blocks) {
  for (std::wstring& block : blocks) waiting_output.push_back(std::move(block));
  output_came = Now();
  ReadWaitingOutput(0);
  PaceLog();
  ScheduleCatchUp();
  return 0;
}

LRESULT OnOutput() { return ReadOutput(TakeOver(handed_output)); }

// The end the reader handed over (its wake-up comes after every wake-up for the output before it).
LRESULT OnEndMessage() {
  for (DWORD exit_code : TakeOver(handed_ends)) OnEnd(exit_code);
  return 0;
}

// The script's end comes after all of its output: when some is still to read, it is taken on the
// catch-up timer first, a turn at a time, and the end after it.
LRESULT OnEnd(WPARAM exit_code) {
  if (!waiting_output.empty()) {
    end_waits = true;
    end_code = static_cast<DWORD>(exit_code);
    ScheduleCatchUp();
    return 0;
  }
  ReadLastLine();
  KillTimer(window, kProgressTimer);
  ForgetScript();
  RunEnded(exit_code == 0);
  ShowEnd(exit_code == 0);
  ScheduleCatchUp();
  FlashWindow(window, TRUE);
  return 0;
}

LRESULT OnClose() {
  if (!child) {
    DestroyWindow(window);
    return 0;
  }
  if (asking_stop) return 0;  // a second close while the question is open asks nothing more
  // No is the default: Yes throws away the running build, so a stray Enter must not choose it.
  asking_stop = true;
  int answer = Tell(L"Stop the installation?\n\nWhat is built so far is kept: installing again carries "
                    L"on from there.",
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  asking_stop = false;
  if (answer != IDYES) return 0;
  // The run may have ended while the question was open.
  if (child) {
    if (job) {
      TerminateJobObject(job, 1);
    } else {
      TerminateProcess(child, 1);
    }
    execution_state(ES_CONTINUOUS);
  }
  DestroyWindow(window);
  return 0;
}

void Play() {
  std::wstring runner = install_dir + L"\\vorlen.cmd";
  HINSTANCE result = ShellOpen(runner, install_dir.c_str(), SW_SHOWMINNOACTIVE);
  if (reinterpret_cast<INT_PTR>(result) <= 32) {
    // Closing without a word would leave the player wondering why nothing started.
    std::wstring message = L"Cannot start the game: " + runner + L" could not be opened.";
    Fail(message.c_str());
    return;
  }
  DestroyWindow(window);
}

// What the window was handed and has not taken, freed as the window goes; what comes later is
// dropped as it comes.
void DropHandedOver() {
  TakeOver(handed_output);
  TakeOver(handed_ends);
  TakeOver(handed_answers);
  TakeOver(handed_failures);
}

void SetInitialRun() {
  pending_line.clear();
  job = nullptr;
  script_wait = nullptr;
  catch_up_set = false;
  waiting_output.clear();
  unread_output = 0;
  TakeOver(handed_output);  // an earlier window's, never taken
  TakeOver(handed_ends);
  TakeOver(handed_failures);
  end_waits = false;
  end_code = 0;
  asking_stop = false;
  error_view_waits = false;
  output_came = 0;
  reader_transcript = nullptr;
  assign_to_job = AssignProcessToJobObject;
  create_thread = CreateThread;
  powershell_path = SystemPowerShell;
}

}  // namespace
