// What a run leaves to hand over: its transcript in the setup folder, written as the output
// comes; the report of a failed run put on the clipboard; and opening the transcript.

namespace {

// --- The transcript ----------------------------------------------------------------------------
//
// The decoded output, line by line as UTF-8 with a byte-order mark and CR LF line ends (so that
// Notepad shows it as the log did), and the exit code last as "@exit N", which a replay takes as
// the end of the run. A transcript is written by a thread of its own: the reader only hands it
// a copy of each batch, so neither the reader nor the window ever waits for the disk. The reader
// and the writer share it through its lock; the writer frees it once it is closed and written.

struct Transcript {
  HANDLE file;
  std::wstring path;
  SRWLOCK lock;
  CONDITION_VARIABLE wake;
  std::deque<std::wstring> waiting;  // output the writer has still to take
  bool closing;                      // the run is over: nothing more comes
  // The writer's own.
  unsigned long long head;        // bytes at the start of the file that stay whatever follows
  bool head_full;
  unsigned long long tail;        // bytes written after the head, those written over included
  unsigned long long tail_lines;  // lines in them
  bool failed;
};

// How long a transcript may grow, and how much of its start it keeps once it is longer; tests
// make them small.
unsigned long long transcript_most;
unsigned long long transcript_head;

constexpr size_t kKeptTranscripts = 5;

// The transcript's writes; tests make them fail as a full disk does.
BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// The writer of the last transcript, waited for a moment when the installer ends.
HANDLE transcript_writer;

// "transcript-YYYYMMDD-HHMMSS.txt", or with "-2" to "-9" before ".txt" for a second run in the
// same second.
bool IsTranscriptName(const std::wstring& name) {
  bool numbered = name.size() == 32 && name[26] == L'-' && name[27] >= L'2' && name[27] <= L'9';
  return (name.size() == 30 || numbered) && _wcsnicmp(name.c_str(), L"transcript-", 11) == 0 &&
         _wcsicmp(name.c_str() + name.size() - 4, L".txt") == 0;
}

// Transcripts' names in the order of their runs.
std::wstring RunOrder(const std::wstring& name) { return name.substr(0, 26) + (name.size() == 32 ? name.substr(26, 2) : L"-1"); }

// The newest five transcripts stay; older ones are removed.
void RemoveOldTranscripts(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((folder + L"\\transcript-*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsTranscriptName(entry.cFileName)) {
      names.push_back(entry.cFileName);
    }
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return RunOrder(a) < RunOrder(b); });
  for (size_t i = 0; i + kKeptTranscripts < names.size(); ++i) DeleteFileW((folder + L"\\" + names[i]).c_str());
}

bool PutAt(Transcript& transcript, const char* bytes, size_t count, unsigned long long at) {
  while (count > 0) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD written = 0;
    DWORD some = static_cast<DWORD>(std::min<size_t>(count, 1 << 20));
    if (!write_file(transcript.file, bytes, some, &written, &where) || written == 0) return false;
    bytes += written;
    count -= written;
    at += written;
  }
  return true;
}

// What follows the head: up to the bound, straight after it; past the bound, the room after the
// head is a ring whose oldest bytes the newest write over, put in order when the run is over.
bool PutTail(Transcript& transcript, const char* bytes, size_t count) {
  unsigned long long room = transcript_most - transcript.head;
  for (size_t done = 0; done < count;) {
    unsigned long long at = transcript.tail % room;
    size_t some = static_cast<size_t>(std::min<unsigned long long>(count - done, room - at));
    if (!PutAt(transcript, bytes + done, some, transcript.head + at)) return false;
    done += some;
    transcript.tail += some;
  }
  return true;
}

// One character as UTF-8; `text[i]` may begin a surrogate pair, whose second half it takes too.
void AppendUtf8(std::string& into, const std::wstring& text, size_t& i) {
  unsigned c = text[i];
  if (IS_HIGH_SURROGATE(c) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
  } else if (c >= 0xD800 && c <= 0xDFFF) {
    c = 0xFFFD;  // half of a pair: as Windows' own conversion writes it
  }
  if (c < 0x80) {
    into += static_cast<char>(c);
  } else if (c < 0x800) {
    into += static_cast<char>(0xC0 | c >> 6);
    into += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    into += static_cast<char>(0xE0 | c >> 12);
    into += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    into += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    into += static_cast<char>(0xF0 | c >> 18);
    into += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    into += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    into += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A block of decoded output, whole lines ended by line feeds (the last block's last line may
// have none). A line keeps no carriage return at its end: the interpreter drops those anyway,
// and Notepad would show a blank line for each. Converted in one pass, as a flood of output
// comes a million lines at a time.
bool Put(Transcript& transcript, const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 8);
  size_t head = transcript.head_full ? 0 : std::string::npos;  // bytes of the block for the head
  size_t line = 0;
  for (size_t i = 0; i < text.size() || (i == text.size() && line < bytes.size()); ++i) {
    if (i < text.size() && text[i] != L'\n') {
      AppendUtf8(bytes, text, i);
      continue;
    }
    while (bytes.size() > line && bytes.back() == '\r') bytes.pop_back();
    bytes += "\r\n";
    line = bytes.size();
    if (head != std::string::npos) {
      ++transcript.tail_lines;
    } else if (transcript.head + bytes.size() >= transcript_head) {
      head = bytes.size();
    }
  }
  if (head == std::string::npos) head = bytes.size();
  bool ok = PutAt(transcript, bytes.data(), head, transcript.head);
  transcript.head += head;
  transcript.head_full = transcript.head >= transcript_head;
  return ok && PutTail(transcript, bytes.data() + head, bytes.size() - head);
}

// Reads `count` bytes at `at`.
bool GetAt(HANDLE file, char* bytes, DWORD count, unsigned long long at) {
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD read = 0;
  return ReadFile(file, bytes, count, &read, &where) && read == count;
}

// A transcript that went past its bound, made whole: its head, one line that says how many
// lines were left out, and the newest output in order from the first line that is kept whole.
// It is written to a second file, which then takes the transcript's place.
bool PutInOrder(Transcript& transcript) {
  unsigned long long room = transcript_most - transcript.head;
  unsigned long long oldest = transcript.tail % room;
  std::vector<char> buffer(1 << 20);
  // Calls `take` with the ring's bytes, oldest first.
  auto read_ring = [&](auto take) {
    for (unsigned long long done = 0; done < room;) {
      unsigned long long at = (oldest + done) % room;
      DWORD count = static_cast<DWORD>(std::min<unsigned long long>({buffer.size(), room - done, room - at}));
      if (!GetAt(transcript.file, buffer.data(), count, transcript.head + at)) return false;
      take(buffer.data(), count);
      done += count;
    }
    return true;
  };
  unsigned long long skip = 0;  // bytes of the oldest line, which was partly written over
  bool skipped = false;
  unsigned long long kept_lines = 0;
  bool counted = read_ring([&](const char* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
      if (!skipped) ++skip;
      if (bytes[i] != '\n') continue;
      if (skipped) ++kept_lines;
      skipped = true;
    }
  });
  if (!counted) return false;

  std::wstring whole = transcript.path + L".part";
  HANDLE file = CreateFileW(whole.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  Transcript out = {};
  out.file = file;
  unsigned long long at = 0;
  bool ok = true;
  for (unsigned long long done = 0; ok && done < transcript.head;) {
    DWORD count = static_cast<DWORD>(std::min<unsigned long long>(buffer.size(), transcript.head - done));
    ok = GetAt(transcript.file, buffer.data(), count, done) && PutAt(out, buffer.data(), count, at);
    done += count;
    at += count;
  }
  std::string note = "... " + std::to_string(transcript.tail_lines - kept_lines) + " lines left out here ...\r\n";
  ok = ok && PutAt(out, note.data(), note.size(), at);
  at += note.size();
  unsigned long long seen = 0;
  ok = ok && read_ring([&](const char* bytes, DWORD count) {
    unsigned long long from = seen < skip ? std::min<unsigned long long>(skip - seen, count) : 0;
    seen += count;
    if (!ok || from == count) return;
    ok = PutAt(out, bytes + from, static_cast<size_t>(count - from), at);
    at += count - from;
  });
  ok = CloseHandle(file) && ok;
  CloseHandle(transcript.file);
  transcript.file = nullptr;
  ok = ok && MoveFileExW(whole.c_str(), transcript.path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!ok) DeleteFileW(whole.c_str());
  return ok;
}

// Said once in the log when the transcript cannot be written; the run goes on.
const wchar_t kNoTranscript[] =
    L"The log file of this run cannot be written: copy what you need from here before you close the installer.";

DWORD WINAPI TranscriptWriter(void* of) {
  Transcript& transcript = *static_cast<Transcript*>(of);
  RemoveOldTranscripts(transcript.path.substr(0, transcript.path.find_last_of(L'\\')));
  bool ok = PutAt(transcript, "\xEF\xBB\xBF", 3, 0);
  transcript.head = 3;
  bool said = false;
  for (bool closing = false; !closing;) {
    std::deque<std::wstring> blocks;
    AcquireSRWLockExclusive(&transcript.lock);
    while (transcript.waiting.empty() && !transcript.closing) {
      SleepConditionVariableSRW(&transcript.wake, &transcript.lock, INFINITE, 0);
    }
    blocks.swap(transcript.waiting);
    closing = transcript.closing;
    ReleaseSRWLockExclusive(&transcript.lock);
    for (const std::wstring& block : blocks) ok = ok && Put(transcript, block);
    if (!ok && !said && window) HandOver(handed_failures, true, kTranscriptMessage);
    said = !ok;
  }
  if (ok && transcript.tail > transcript_most - transcript.head) ok = PutInOrder(transcript);
  if (transcript.file) CloseHandle(transcript.file);
  if (!ok && !said && window) HandOver(handed_failures, true, kTranscriptMessage);
  delete &transcript;
  return 0;
}

// The transcript of the run about to start, in the setup folder, named by the local time; null
// when it cannot be written.
Transcript* OpenTranscript(const std::wstring& folder) {
  transcript_path.clear();
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[40];
  swprintf(name, 40, L"\\transcript-%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond);
  // A run that follows another within the same second keeps the other's transcript.
  std::wstring path;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int second_run = 1; second_run <= 9 && file == INVALID_HANDLE_VALUE; ++second_run) {
    path = folder + name + (second_run > 1 ? L"-" + std::to_wstring(second_run) : L"") + L".txt";
    file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  Transcript* transcript = new Transcript{file, path, SRWLOCK_INIT, CONDITION_VARIABLE_INIT, {}, false, 0, false, 0, 0,
                                          false};
  HANDLE writer = create_thread(nullptr, 0, TranscriptWriter, transcript, 0, nullptr);
  if (!writer) {
    CloseHandle(file);
    DeleteFileW(path.c_str());
    delete transcript;
    return nullptr;
  }
  if (transcript_writer) CloseHandle(transcript_writer);
  transcript_writer = writer;
  transcript_path = path;
  return transcript;
}

// A replayed transcript stands for its run's: "Open the log" opens it.
void TakeReplayed(const std::wstring& path) { transcript_path = FullPath(path); }

// For the reader: a batch of decoded output, whole lines.
void Transcribe(Transcript* transcript, const std::wstring& text) {
  if (!transcript || text.empty()) return;
  AcquireSRWLockExclusive(&transcript->lock);
  transcript->waiting.push_back(text);
  ReleaseSRWLockExclusive(&transcript->lock);
  WakeConditionVariable(&transcript->wake);
}

// For the reader, once all the output is read: the exit code, and the end.
void CloseTranscript(Transcript* transcript, DWORD exit_code) {
  if (!transcript) return;
  AcquireSRWLockExclusive(&transcript->lock);
  transcript->waiting.push_back(L"@exit " + std::to_wstring(exit_code) + L"\n");
  transcript->closing = true;
  ReleaseSRWLockExclusive(&transcript->lock);
  WakeConditionVariable(&transcript->wake);
}

void SayNoTranscript() {
  AppendLog(kNoTranscript);
  ScheduleCatchUp();
}

LRESULT OnTranscriptFailed() {
  if (!TakeOver(handed_failures).empty()) SayNoTranscript();
  return 0;
}

// A transcript that is being put in order when the installer is closed is given a moment to
// be whole.
void FinishTranscript() {
  if (transcript_writer) WaitForSingleObject(transcript_writer, 2000);
}

// --- The report ----------------------------------------------------------------------------------

constexpr size_t kReportLines = 300;
constexpr size_t kReportMost = 60000;  // issue forms refuse longer texts

std::wstring InstallerVersion() {
  const wchar_t* number = L"" VORLEN_VERSION_TEXT;
  return *number ? std::wstring(number) : L"built " + std::wstring(L"" __DATE__);
}

std::wstring WindowsVersion() {
  LONG(WINAPI * get_version)(OSVERSIONINFOW*);
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!FindCall(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion", get_version) || get_version(&version) != 0) {
    return L"not known";
  }
  return std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion) + L", build " +
         std::to_wstring(version.dwBuildNumber);
}

bool IsNameCharacter(wchar_t c) { return IsCharAlphaNumericW(c) || c == L'_' || c == L'-'; }

// Upper case, with forward slashes as backslashes: the same length as the text.
std::wstring Folded(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  std::replace(text.begin(), text.end(), L'/', L'\\');
  return text;
}

// The player's profile folder written as %USERPROFILE% wherever a path begins with it, in any
// case: with backslashes, with the forward slashes clang prints, and as MSYS2's tools write it
// (/c/Users/...). Only a whole folder name is taken: C:\Users\Ann is not the start of C:\Users\Anna.
std::wstring HideProfile(const std::wstring& text, std::wstring profile) {
  while (!profile.empty() && IsSeparator(profile.back())) profile.pop_back();
  if (profile.size() < 4) return text;  // no drive's root, nor nothing, is anyone's profile
  std::wstring folded_text = Folded(text);
  std::vector<std::wstring> forms = {Folded(profile)};
  if (forms[0][1] == L':') forms.push_back(L"\\" + forms[0].substr(0, 1) + forms[0].substr(2));
  std::wstring hidden;
  size_t copied = 0;
  for (size_t i = 0; i < text.size();) {
    size_t matched = 0;
    for (const std::wstring& form : forms) {
      size_t end = i + form.size();
      if (matched == 0 && (i == 0 || !IsNameCharacter(text[i - 1])) && folded_text.compare(i, form.size(), form) == 0 &&
          (end == text.size() || !IsNameCharacter(text[end]))) {
        matched = form.size();
      }
    }
    if (matched == 0) {
      ++i;
      continue;
    }
    hidden.append(text, copied, i - copied);
    hidden += L"%USERPROFILE%";
    i += matched;
    copied = i;
  }
  return hidden.append(text, copied, std::wstring::npos);
}

// The header, then as many of the newest `lines` as keep the whole within kReportMost
// characters; a header longer than that alone is cut.
std::wstring BoundReport(const std::wstring& header, const std::vector<std::wstring>& lines) {
  size_t size = header.size();
  size_t first = lines.size();
  while (first > 0 && size + lines[first - 1].size() + 2 <= kReportMost) size += lines[--first].size() + 2;
  std::wstring report = header;
  for (size_t i = first; i < lines.size(); ++i) report += lines[i] + L"\r\n";
  if (report.size() > kReportMost) {
    report.resize(kReportMost);
    if (IS_HIGH_SURROGATE(report.back())) report.pop_back();
  }
  return report;
}

// Free space on the install drive and on the system drive, asked on the pool and waited for up
// to kDriveWait: a drive that does not answer makes the report say so rather than hold the window.
struct SpaceQuestion {
  std::wstring install;
  std::wstring system;
  std::optional<unsigned long long> install_free;
  std::optional<unsigned long long> system_free;
  HANDLE answered = nullptr;
  LONG holders = 2;
};

void LetGo(SpaceQuestion* question) {
  if (InterlockedDecrement(&question->holders) != 0) return;
  if (question->answered) CloseHandle(question->answered);
  delete question;
}

void CALLBACK AnswerSpace(PTP_CALLBACK_INSTANCE, void* data) {
  SpaceQuestion* question = static_cast<SpaceQuestion*>(data);
  question->install_free = FreeSpace(question->install);
  question->system_free = FreeSpace(question->system);
  SetEvent(question->answered);
  LetGo(question);
}

std::wstring SpaceWords(const std::optional<unsigned long long>& free) {
  return free ? SizeText(*free) : std::wstring(L"not known");
}

std::wstring SystemDrive() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
  return length >= 3 && length < MAX_PATH ? std::wstring(folder, 3) : std::wstring();
}

std::wstring SpaceLine() {
  SpaceQuestion* question = new SpaceQuestion{install_dir, SystemDrive(), std::nullopt, std::nullopt};
  question->answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool pooled = question->answered && TrySubmitThreadpoolCallback(AnswerSpace, question, nullptr);
  bool in_time = pooled && WaitForSingleObject(question->answered, kDriveWait) == WAIT_OBJECT_0;
  if (!pooled) LetGo(question);
  std::wstring line = L"Free space: " + (in_time ? SpaceWords(question->install_free) : L"not known") +
                      L" on the install drive, " + (in_time ? SpaceWords(question->system_free) : L"not known") +
                      L" on the system drive\r\n";
  LetGo(question);
  return line;
}

// The kept log's line that begins at `at`.
std::wstring LineAt(const std::wstring& log, size_t at) {
  if (at >= log.size()) return std::wstring();
  return log.substr(at, log.find(L"\r\n", at) - at);
}

// The report of a failed run as the player hands it over: what ran where, how it failed, and
// the failed step's last lines, with the player's profile folder hidden.
std::wstring Report() {
  std::wstring log = KeptLog();
  const wchar_t* step = current >= 0 ? steps[current].label : L"none";
  std::wstring name = transcript_path.substr(transcript_path.find_last_of(L'\\') + 1);
  std::wstring header = L"Vorlen Installer " + InstallerVersion() + L"\r\n" +
                        L"Windows " + WindowsVersion() + L"\r\n" +
                        L"Code pages: OEM " + std::to_wstring(GetOEMCP()) + L", ANSI " + std::to_wstring(GetACP()) +
                        L"\r\n" +
                        L"Failed step: " + step + L"\r\n" +
                        L"Failure: " + (failure.empty() ? L"not said" : failure) + L"\r\n" +
                        L"First error: " + (first_error == kNoError ? L"none" : LineAt(log, first_error)) + L"\r\n" +
                        SpaceLine() +
                        L"Install folder: " + install_dir + L"\r\n" +
                        L"Transcript: " + (name.empty() ? L"none" : name) + L"\r\n\r\n" +
                        L"The step's last lines:\r\n";
  std::vector<std::wstring> lines;
  for (size_t from = std::min(step_from, log.size()), end; from < log.size(); from = end + 2) {
    end = std::min(log.find(L"\r\n", from), log.size());
    lines.push_back(log.substr(from, end - from));
  }
  if (lines.size() > kReportLines) lines.erase(lines.begin(), lines.end() - kReportLines);
  std::wstring profile = Environment(L"USERPROFILE").value_or(L"");
  for (std::wstring& line : lines) line = HideProfile(line, profile);
  return BoundReport(HideProfile(header, profile), lines);
}

// Plain text on the clipboard; false when another program holds it open.
bool PutOnClipboard(const std::wstring& text) {
  if (!OpenClipboard(window)) return false;
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  void* at = memory ? GlobalLock(memory) : nullptr;
  bool put = false;
  if (at) {
    memcpy(at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    put = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  }
  if (!put && memory) GlobalFree(memory);
  CloseClipboard();
  return put;
}

// The button says "Copied" for a moment, which a screen reader hears as its new name.
constexpr DWORD kCopiedFor = 2000;

void CopyReport() {
  if (!PutOnClipboard(Report())) {
    Tell(L"The report could not be copied: another program is using the clipboard. Try again.", MB_ICONWARNING);
    return;
  }
  SetWindowTextW(copy_button, L"Copied");
  SetTimer(window, kCopiedTimer, kCopiedFor, nullptr);
  Announce();
}

void OnCopiedTimer() {
  KillTimer(window, kCopiedTimer);
  SetWindowTextW(copy_button, kCopyCaption);
  Announce();
}

// How the transcript is opened: by the shell, with the program the player opens text files
// with. Tests see what would be opened.
HINSTANCE(*shell_open)(const std::wstring& file, const wchar_t* directory, int show);

void OpenLog() {
  if (transcript_path.empty()) return;
  if (reinterpret_cast<INT_PTR>(shell_open(transcript_path, nullptr, SW_SHOWNORMAL)) <= 32) {
    Fail((L"Cannot open the log: " + transcript_path + L" could not be opened.").c_str());
  }
}

void SetInitialReport() {
  transcript_most = 64ull << 20;
  transcript_head = 8ull << 20;
  write_file = WriteFile;
  transcript_writer = nullptr;
  shell_open = ShellOpen;
}

}  // namespace
