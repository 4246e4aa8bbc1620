// Game and folder choice: finding game files in the profile folders, the checks that decide
// whether Install may be pressed, the game-file menu and file dialog, the folder chooser and
// the default folder.

#include <algorithm>
#include <optional>

namespace {

constexpr unsigned long long kGiB = 1ull << 30;
constexpr unsigned long long kMiB = 1ull << 20;
constexpr unsigned long long kSmallestGame = kGiB;       // a file of exactly this size passes
constexpr unsigned long long kBuildRoom = 16ull * kGiB;  // free space that passes outright
constexpr size_t kMostGames = 12;
// Builds fail past Windows' path limit (CMake warns at 250 characters), and the deepest paths are
// the object files: the folder, a build folder with the target's own ("\build\CMakeFiles\x.dir\",
// with ".obj": 48), a source file's path in the tree, and a margin. The install script checks
// the real tree once it has it; here a typical tree's deepest file stands in for it.
constexpr size_t kPathLimit = 250;
constexpr size_t kObjectDepth = 48;
constexpr size_t kPathMargin = 10;
constexpr size_t kTypicalDeepest = 100;
constexpr size_t kLongFolder = kPathLimit - kPathMargin - kObjectDepth - kTypicalDeepest;  // 92
// CreateDirectoryW, and so the script, makes no folder whose path is longer than this (MAX_PATH
// less room for an 8.3 name, less the terminating null).
constexpr size_t kLongestFolder = 247;
constexpr DWORD kEnvBuffer = 260;
constexpr UINT kOtherFile = 1000;  // menu id of "Browse for another file..."

struct FoundGame {
  std::wstring path;
  FILETIME written;
  unsigned long long size;
};

std::vector<FoundGame> found_games;

// A field of the page as judged: its note and what the paint, the screen reader and Install read
// of it, and the question to the disk whose answer it waits for. Written here only.
struct ChoiceField {
  std::wstring note;
  bool ok = false;        // Install may go ahead on what the field holds
  bool warned = false;    // it passes, but its note warns
  bool checking = false;  // the note says that the field is being checked
  bool empty = false;     // it holds nothing to judge (as the last check read it): the note asks for
                          // a choice. The paint does not ask the field, which costs a quarter of a
                          // millisecond a time.
  bool pending = false;   // the answer for what it holds now is still to come
  DWORD asked_at = 0;     // when it was last read for its question
};

ChoiceField game_field;
ChoiceField folder_field;  // never empty: left empty, it is judged as the default folder

// The colour of a field's note: muted while it is checked or asks for a choice, green where it
// passes, the accent where it passes with a warning, red where it does not pass.
COLORREF VerdictColour(const ChoiceField& field) {
  if (field.checking) return palette.muted;
  if (field.ok) return field.warned ? palette.accent : palette.green;
  return field.empty ? palette.muted : palette.red;
}

bool focus_waits;     // the page has just opened: once both answers are in, Install takes the
                      // keyboard from the game-file field if it can be pressed
std::wstring usable_folder;  // the folder as judged, when the last answer found that the
                             // installation could begin there; empty otherwise

// A variable of the environment, or nothing when it is missing, empty or does not fit the
// buffer of 260 characters (the call then reports the size it would need, terminator included).
std::optional<std::wstring> Environment(const wchar_t* name) {
  wchar_t buffer[kEnvBuffer];
  DWORD length = GetEnvironmentVariableW(name, buffer, kEnvBuffer);
  if (length == 0 || length >= kEnvBuffer) return std::nullopt;
  return std::wstring(buffer, length);
}

// Where the installation goes when the folder field is left empty; the install script falls
// back to the same folder on its own.
std::wstring DefaultFolder() {
  std::optional<std::wstring> base = Environment(L"LOCALAPPDATA");
  return (base ? *base : std::wstring(L"C:")) + L"\\vorlen";
}

// Sizes as people read them on this page: powers of two, one decimal from 1 GB up.
std::wstring SizeText(unsigned long long bytes) {
  wchar_t buffer[32];
  if (bytes >= kGiB) {
    swprintf(buffer, 32, L"%.1f GB", static_cast<double>(bytes) / kGiB);
  } else {
    swprintf(buffer, 32, L"%.0f MB", static_cast<double>(bytes) / kMiB);
  }
  return buffer;
}

// The last part of a path; both separators count, as people paste either.
std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"/\\");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The path one level up, without the separator; empty when there is no level left.
std::wstring Parent(const std::wstring& path) {
  size_t slash = path.find_last_of(L"/\\");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return path;
}

// A whole drive: "C:", "C:\", "D:/", "\\server\share", "\\server\share\" (and a server alone).
bool IsDriveRoot(const std::wstring& path) {
  std::wstring bare = WithoutTrailingSeparators(path);
  if (bare.size() == 2 && bare[1] == L':' && iswalpha(bare[0])) return true;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  size_t server_end = bare.find_first_of(L"/\\", 2);
  return server_end == std::wstring::npos || bare.find_first_of(L"/\\", server_end + 1) == std::wstring::npos;
}

// The next level for the free-space and write probes; nothing past a drive's root. A root comes
// with its closing backslash, as the system wants it asked: "C:" alone names the drive's current
// folder, and the free space of "\\server\share" is not given without it. A network path stops at
// its share: shortened further it becomes "\\server" and then "\", and the system answers "\"
// with the figure of the current drive, which says nothing about the share.
std::wstring ProbeParent(const std::wstring& probe) {
  if (IsDriveRoot(probe)) return std::wstring();
  std::wstring up = Parent(probe);
  return IsDriveRoot(up) ? WithoutTrailingSeparators(up) + L"\\" : up;
}

// --- Discovery --------------------------------------------------------------------------------

// Whether a file name really ends in ".nup". The listing's pattern also matches on the short
// 8.3 names, so "pack.nupkg" (short name "PACK~1.NUP") would pass for a game file.
bool IsGameName(const wchar_t* name) {
  size_t length = wcslen(name);
  return length >= 4 && CompareStringOrdinal(name + length - 4, 4, L".nup", 4, TRUE) == CSTR_EQUAL;
}

// Every ".nup" file directly inside one folder, directories named "*.nup" left out.
void ListGames(const std::wstring& folder, std::vector<FoundGame>& into) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((folder + L"\\*.nup").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsGameName(entry.cFileName)) continue;
    unsigned long long size = (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    into.push_back({folder + L"\\" + entry.cFileName, entry.ftLastWriteTime, size});
  } while (FindNextFileW(listing, &entry));
  FindClose(listing);
}

// Looks for dumps where people usually leave them; the only one found fills the field.
void FindGames() {
  found_games.clear();
  std::optional<std::wstring> profile = Environment(L"USERPROFILE");
  if (profile) {
    for (const wchar_t* suffix : {L"\\Downloads", L"\\Desktop", L"\\Documents", L""}) {
      ListGames(*profile + suffix, found_games);
    }
    std::sort(found_games.begin(), found_games.end(), [](const FoundGame& a, const FoundGame& b) {
      return CompareFileTime(&a.written, &b.written) > 0;
    });
    if (found_games.size() > kMostGames) found_games.resize(kMostGames);
  }
  if (found_games.size() == 1) SetWindowTextW(game_edit, found_games[0].path.c_str());
}

// --- Checks -----------------------------------------------------------------------------------

struct Verdict {
  bool ok;
  std::wstring note;
  bool warned = false;  // passes, but the note warns
};

// How a path is asked about; tests put a slow drive or share in their place, and a folder that
// refuses new folders (Wine has no access rights to refuse with).
BOOL(WINAPI* disk_free_space)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
BOOL(WINAPI* file_attributes)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
HANDLE(WINAPI* make_probe)(LPCWSTR);

constexpr DWORD kCheckingTick = 100;  // how often kCheckingTimer looks at the waiting fields

// A field whose answer takes longer than this says that it is being checked. A local drive
// answers well within it, so the notes do not flicker while the player types.
constexpr DWORD kCheckingDelay = 300;

// After this long a drive is taken for one that does not answer: a share on a server that does
// not answer can keep a call waiting for the system's network timeout, tens of seconds.
constexpr DWORD kDriveWait = 1500;

const wchar_t kCannotMake[] = L"Folders cannot be made there: choose one in your user folder, such as the default.";

// The full path a typed one names, as the system resolves it (a relative name against the
// installer's current folder); the text itself when the system cannot say.
std::wstring FullPath(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return full;
}

// The game-file field judged by a fresh look at the file it names. The size is a first
// judgement only; the dump itself is read and checked during the installation.
Verdict GameVerdict(const std::wstring& text, size_t found) {
  if (text.empty()) {
    if (found < 2) return {false, L"Choose your .nup file."};
    return {false, std::to_wstring(found) +
                       L" game files were found on this PC: press Browse to choose which one to build."};
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!file_attributes(FullPath(text).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {false, L"There is no such file."};
  }
  unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  std::wstring name = NameOf(text);
  if (size < kSmallestGame) return {false, name + L" is too small to be the game (" + SizeText(size) + L")."};
  return {true, name + L"  (" + SizeText(size) + L"). It is checked exactly when the installation starts."};
}

// Free bytes for the caller on the drive of a folder that need not exist yet, asked of the
// nearest level of its path that the system can answer for. Nothing when no level answers.
std::optional<unsigned long long> FreeSpace(std::wstring probe) {
  for (; !probe.empty(); probe = ProbeParent(probe)) {
    ULARGE_INTEGER free;
    if (disk_free_space(probe.c_str(), &free, nullptr, nullptr)) return free.QuadPart;
  }
  return std::nullopt;
}

// Whether the folder holds an earlier build ("build", a folder or a file).
bool HoldsBuild(const std::wstring& folder) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return file_attributes((folder + L"\\build").c_str(), GetFileExInfoStandard, &data) != FALSE;
}

// A path that names the same folder whatever the current folder: "X:\..." or "\\server\share\...".
bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// A character that Windows allows in no file or folder name; ':' only as the drive's.
bool HasForbiddenCharacter(const std::wstring& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    wchar_t c = path[i];
    bool drive_colon = c == L':' && i == 1 && iswalpha(path[0]);
    if (c < 32 || (!drive_colon && wcschr(L"\"<>|*?:", c))) return true;
  }
  return false;
}

// Why a folder cannot take the installation by its name alone, or nothing when it can. A name
// Windows forbids could never be made; a drive's root would have the build spread over it and
// the whole drive opened to every user; a relative name would be read from the script's
// temporary folder.
std::optional<Verdict> FolderRefusal(const std::wstring& folder) {
  if (HasForbiddenCharacter(folder)) {
    return Verdict{false, L"A folder name cannot hold \" < > | * ? or a colon past the drive: choose another name."};
  }
  std::wstring full = IsAbsolute(folder) ? FullPath(folder) : std::wstring();
  const std::wstring* root = IsDriveRoot(folder) ? &folder : !full.empty() && IsDriveRoot(full) ? &full : nullptr;
  if (root) {
    return Verdict{false, L"Choose a folder on the drive, not the whole drive: for example " +
                              WithoutTrailingSeparators(*root) + L"\\Games\\Vorlen."};
  }
  if (full.empty()) return Verdict{false, L"Type the whole path of the folder, for example " + DefaultFolder() + L"."};
  size_t length = WithoutTrailingSeparators(full).size();
  if (length > kLongestFolder) {
    return Verdict{false, L"This path is too long (" + std::to_wstring(length) + L" characters): Windows makes no "
                              L"folder longer than " + std::to_wstring(kLongestFolder) +
                              L". Choose a shorter one, such as the default."};
  }
  return std::nullopt;
}

LONG probes;  // probe folders made by this process, for their names

// The system's own name of a full path, as its calls give it to the file system.
std::wstring NtName(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) return L"\\??\\" + path.substr(4);
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return L"\\??\\UNC\\" + path.substr(2);
  return L"\\??\\" + path;
}

// A new folder at `path` (a full path), made and marked to be removed when its handle closes in
// one request to the file system, so that it goes also when the process ends first: closing the
// installer does not wait for a question on a slow drive, and a folder made and then removed
// stayed when the process ended in between. The handle; INVALID_HANDLE_VALUE, with the error,
// when no folder was made. (CreateDirectoryW cannot mark a folder; the native call can.)
HANDLE WINAPI MakeProbe(LPCWSTR path) {
  LONG(NTAPI * create)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                       ULONG, PVOID, ULONG);
  ULONG(NTAPI * error_of)(LONG);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // in every process from its start
  std::wstring name = NtName(path);
  if (!FindCall(ntdll, "NtCreateFile", create) || !FindCall(ntdll, "RtlNtStatusToDosError", error_of) ||
      name.size() > 32767) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text = {static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                         static_cast<USHORT>(name.size() * sizeof(wchar_t)), &name[0]};
  OBJECT_ATTRIBUTES named;
  InitializeObjectAttributes(&named, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io = {};
  HANDLE made = nullptr;
  LONG status = create(&made, DELETE | SYNCHRONIZE, &named, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_CREATE,
                       FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_DELETE_ON_CLOSE, nullptr, 0);
  if (status >= 0) return made;
  SetLastError(error_of(status));
  return INVALID_HANDLE_VALUE;
}

// Makes a folder of the installer's own name inside `level` that goes again as it is let go: the
// error that refused it, or ERROR_SUCCESS. An entry that happens to have the name is left alone.
DWORD ProbeFolder(const std::wstring& level) {
  std::wstring inside = IsSeparator(level.back()) ? level : level + L"\\";
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::wstring probe = inside + L"vorlen-write-check-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                         std::to_wstring(InterlockedIncrement(&probes));
    HANDLE made = make_probe(probe.c_str());
    if (made != INVALID_HANDLE_VALUE) {
      CloseHandle(made);
      return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_ALREADY_EXISTS;
}

// Why the installation could not begin in a full path, judged by doing what it does first:
// making a folder in the nearest level that exists (inside the folder itself when it exists).
// Without administrator rights, on a read-only drive or share, that fails only after MSYS2 and
// the download otherwise. A test file would not do: a player may make folders, but not files, at
// the root of C:.
std::optional<Verdict> WriteRefusal(const std::wstring& folder) {
  std::wstring level = folder;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  while (!level.empty() && !file_attributes(level.c_str(), GetFileExInfoStandard, &data)) level = ProbeParent(level);
  bool directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  if (level == folder && !directory) return Verdict{false, L"That is a file, not a folder: choose another name."};
  DWORD error = level.empty() || !directory ? ERROR_PATH_NOT_FOUND : ProbeFolder(level);
  if (error == ERROR_SUCCESS) return std::nullopt;
  if (error != ERROR_ACCESS_DENIED) return Verdict{false, kCannotMake};
  return Verdict{false,
                 L"You cannot write to this folder without administrator rights: choose one in your user folder, "
                 L"such as the default."};
}

// Whether OneDrive syncs the folder (a full path): it lies in a folder its variables name,
// compared by whole names, case ignored.
bool Synced(const std::wstring& folder) {
  for (const wchar_t* name : {L"OneDrive", L"OneDriveConsumer", L"OneDriveCommercial"}) {
    std::optional<std::wstring> synced = Environment(name);
    if (!synced || !IsAbsolute(*synced)) continue;
    std::wstring top = WithoutTrailingSeparators(FullPath(*synced));
    int length = static_cast<int>(top.size());
    if (folder.size() >= top.size() &&
        CompareStringOrdinal(folder.c_str(), length, top.c_str(), length, TRUE) == CSTR_EQUAL &&
        (folder.size() == top.size() || IsSeparator(folder[top.size()]))) {
      return true;
    }
  }
  return false;
}

// The room decision and its note. A drive that cannot be asked does not hold the installation
// back; a folder holding an earlier build passes with less room, since most of it is reused.
Verdict RoomVerdict(std::optional<unsigned long long> free, bool built) {
  if (!free) return {true, L""};
  if (*free >= kBuildRoom || built) return {true, SizeText(*free) + L" free (about 16 GB are used while building)."};
  return {false, L"Only " + SizeText(*free) + L" free: about 16 GB are needed while building."};
}

// The folder field's verdict from the disk, for a folder whose name FolderRefusal lets
// through. `usable`: the installation could begin there (Install holds that, not the room).
Verdict FolderVerdict(const std::wstring& folder, bool& usable) {
  std::wstring full = WithoutTrailingSeparators(FullPath(folder));
  std::optional<Verdict> refused = WriteRefusal(full);
  usable = !refused;
  if (refused) return *refused;
  std::optional<unsigned long long> free = FreeSpace(full);
  bool built = free && *free < kBuildRoom && HoldsBuild(full);
  Verdict room = RoomVerdict(free, built);
  if (!room.ok) return room;
  if (full.size() > kLongFolder) {
    return {true,
            L"This path is long (" + std::to_wstring(full.size()) + L" characters): the build may pass Windows' path "
                L"limit. A folder of at most " + std::to_wstring(kLongFolder) + L" characters, such as the default, is safer.",
            true};
  }
  if (!Synced(full)) return room;
  // The sync client uploads the build's tens of thousands of files and holds them open.
  return {true,
          L"OneDrive syncs this folder: it would upload the tens of thousands of files of the build and can "
          L"hold them open while they are built. A folder outside it, such as the default, is better.",
          true};
}

// One field's question, answered from the disk on the system's thread pool: every keystroke
// asks one, a drive that does not answer must not hold the window, and a thread of its own for
// each cost more than the questions (milliseconds each under Wine). The answer is handed to the
// window; Install waits for one of its own (answered_event), and then whichever of it and the
// pool thread lets go last frees it. A pool thread held up by a drive that does not answer is
// not reused; the pool makes others.
struct Question {
  bool folder;
  std::wstring text;  // the field as judged (the folder: the default when the field is empty)
  Verdict verdict = {false, L""};
  bool usable = false;
  HANDLE answered_event = nullptr;
  LONG holders = 1;
};

Handover<std::unique_ptr<Question>> handed_answers;

void Answer(Question& question) {
  question.verdict = question.folder ? FolderVerdict(question.text, question.usable) : GameVerdict(question.text, 0);
}

void LetGo(Question* question) {
  if (InterlockedDecrement(&question->holders) != 0) return;
  if (question->answered_event) CloseHandle(question->answered_event);
  delete question;
}

void CALLBACK AnswerInPool(PTP_CALLBACK_INSTANCE, void* data) {
  Question* question = static_cast<Question*>(data);
  Answer(*question);
  if (question->answered_event) {
    SetEvent(question->answered_event);
    LetGo(question);
  } else if (window) {
    HandOver(handed_answers, std::unique_ptr<Question>(question), kAnswerMessage);
  } else {
    delete question;
  }
}

void TakeAnswer(const Question& question);

// Asks on the pool; where no pool can be had, here and now, however long it takes.
void Ask(bool folder, const std::wstring& text) {
  Question* question = new Question{folder, text};
  if (TrySubmitThreadpoolCallback(AnswerInPool, question, nullptr)) return;
  std::unique_ptr<Question> here(question);
  Answer(*here);
  TakeAnswer(*here);
}

// Whether the installation could begin in `folder`, asked again and waited for up to
// kDriveWait: for Install, when the field's own answer is not in.
bool UsableNow(const std::wstring& folder) {
  Question* question = new Question{true, folder};
  question->holders = 2;
  question->answered_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool pooled = question->answered_event && TrySubmitThreadpoolCallback(AnswerInPool, question, nullptr);
  if (!pooled) {
    Answer(*question);
    LetGo(question);
  }
  bool in_time = !pooled || WaitForSingleObject(question->answered_event, kDriveWait) == WAIT_OBJECT_0;
  bool usable = in_time && question->usable;
  LetGo(question);
  return usable;
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

// The game file as the field names it.
std::wstring ChosenGame() { return Text(game_edit); }

// The folder as judged: the field's text, or the default folder when it is left empty.
std::wstring ChosenFolder() {
  std::wstring folder = Text(folder_edit);
  return folder.empty() ? DefaultFolder() : folder;
}

void TakeVerdict(ChoiceField& field, const Verdict& verdict) {
  field.pending = field.checking = false;
  field.ok = verdict.ok;
  field.warned = verdict.warned;
  field.note = verdict.note;
}

void TakeFolderVerdict(const Verdict& verdict, bool usable, const std::wstring& folder) {
  TakeVerdict(folder_field, verdict);
  usable_folder = usable ? folder : std::wstring();
}

// Install can be pressed only when both fields pass on answers for what they hold now.
void ShowVerdicts() {
  bool answered = !game_field.pending && !folder_field.pending;
  EnableWindow(install_button, game_field.ok && folder_field.ok && answered);
  if (focus_waits && answered) {
    focus_waits = false;
    if (IsWindowEnabled(install_button) && GetFocus() == game_edit) SetFocus(install_button);
  }
  if (!window) return;  // a null handle would repaint every window on the desktop
  if (!answered) {
    SetTimer(window, kCheckingTimer, kCheckingTick, nullptr);
  } else {
    KillTimer(window, kCheckingTimer);
  }
  InvalidateRect(window, nullptr, TRUE);
  Announce();
}

// Judges the fields named (both unless told), each only when its own text changed: at once what
// their texts alone decide, the rest on the pool. Neither verdict depends on the other field.
// Until a field's answer comes, Install cannot be pressed and the field's note stays as it was.
void Check(bool game = true, bool folder = true) {
  focus_waits = false;  // the player is typing
  if (game) {
    std::wstring text = ChosenGame();
    game_field.empty = text.empty();
    game_field.asked_at = Now();
    if (text.empty()) {
      TakeVerdict(game_field, GameVerdict(text, found_games.size()));
    } else {
      game_field.pending = true;
      Ask(false, text);
    }
  }
  if (folder) {
    std::wstring chosen = ChosenFolder();
    folder_field.asked_at = Now();
    if (std::optional<Verdict> refused = FolderRefusal(chosen)) {
      TakeFolderVerdict(*refused, false, chosen);
    } else {
      folder_field.pending = true;
      Ask(true, chosen);
    }
  }
  ShowVerdicts();
}

// The page has just opened: both fields are judged, and once both answers are in, Install takes
// the keyboard from the game-file field if it can be pressed.
void CheckOpenedPage() {
  Check();
  focus_waits = true;
}

// A field's answer, taken only while the field still holds what was asked and waits for it.
void TakeAnswer(const Question& question) {
  if (question.folder && folder_field.pending && question.text == ChosenFolder()) {
    TakeFolderVerdict(question.verdict, question.usable, question.text);
    ShowVerdicts();
  } else if (!question.folder && game_field.pending && question.text == ChosenGame()) {
    TakeVerdict(game_field, question.verdict);
    ShowVerdicts();
  }
}

LRESULT OnAnswers() {
  for (const std::unique_ptr<Question>& question : TakeOver(handed_answers)) TakeAnswer(*question);
  return 0;
}

// The note of a field still waiting, at `now`: as it was for kCheckingDelay after it was asked,
// then saying that the field is being checked, and after kDriveWait that its drive does not
// answer. True while the note has still to change.
bool NoteWaiting(ChoiceField& field, DWORD now, const wchar_t* checking_text, const wchar_t* silent_text) {
  DWORD waited = now - field.asked_at;
  if (waited < kCheckingDelay) return true;
  bool silent = waited >= kDriveWait;
  field.ok = false;
  field.checking = !silent;
  field.note = silent ? silent_text : checking_text;
  return !silent;
}

void OnCheckingTimer() {
  DWORD now = Now();
  std::wstring game_was = game_field.note;
  std::wstring folder_was = folder_field.note;
  bool more = false;
  if (game_field.pending) {
    more |= NoteWaiting(game_field, now, L"Checking the file...",
                        L"The drive of that file does not answer: copy the file to this PC.");
  }
  if (folder_field.pending) {
    more |= NoteWaiting(folder_field, now, L"Checking the folder...",
                        L"The drive of that folder does not answer: choose one on this PC, such as the default.");
  }
  if (!more) KillTimer(window, kCheckingTimer);
  if (game_field.note == game_was && folder_field.note == folder_was) return;
  InvalidateRect(window, nullptr, TRUE);
  Announce();
}

// --- Menu, file dialog, folder chooser ------------------------------------------------------

// A menu shows "&" as the underline of the next letter; doubled, it shows itself, so a dump
// named "Mario & Luigi.nup" reads as it is named.
std::wstring MenuText(const std::wstring& name) {
  std::wstring text;
  for (wchar_t c : name) {
    text += c;
    if (c == L'&') text += L'&';
  }
  return text;
}

// The found files, newest first, then the way out to the file dialog. The caller owns the menu.
HMENU GameMenu() {
  HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < found_games.size(); ++i) {
    std::wstring item = MenuText(NameOf(found_games[i].path)) + L"   (" + SizeText(found_games[i].size) + L")";
    AppendMenuW(menu, MF_STRING, i + 1, item.c_str());
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kOtherFile, L"Browse for another file...");
  return menu;
}

// Acts on the menu's answer; true when the user asked for the file dialog.
bool TakeGame(int command) {
  if (command >= 1 && static_cast<size_t>(command) <= found_games.size()) {
    SetWindowTextW(game_edit, found_games[command - 1].path.c_str());
    return false;
  }
  return command == static_cast<int>(kOtherFile);
}

void BrowseGame() {
  if (found_games.size() >= 2) {
    HMENU menu = GameMenu();
    RECT button;
    GetWindowRect(game_browse, &button);
    int command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTALIGN, button.right, button.bottom, 0, window, nullptr);
    DestroyMenu(menu);
    if (!TakeGame(command)) return;
  }
  wchar_t name[260] = L"";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window;
  dialog.lpstrFilter = L"Switch 2 package (*.nup)\0*.nup\0All files\0*.*\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name;
  dialog.nMaxFile = 260;
  dialog.lpstrTitle = L"Your dump of the game";
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  BOOL(WINAPI * open_file)(OPENFILENAMEW*);
  if (FindCall(SystemLibrary(L"comdlg32.dll"), "GetOpenFileNameW", open_file) && open_file(&dialog)) {
    SetWindowTextW(game_edit, name);
  }
}

// The install folder made inside the folder picked: "D:\Games" gives "D:\Games\Vorlen", a drive
// root "D:\" gives "D:\Vorlen".
std::wstring InstallFolder(std::wstring picked) {
  if (!picked.empty() && picked.back() != L'\\') picked += L'\\';
  return picked + L"Vorlen";
}

void BrowseFolder() {
  BROWSEINFOW info = {};
  info.hwndOwner = window;
  info.lpszTitle = L"Install into (a Vorlen folder is made there)";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE(WINAPI * browse)(BROWSEINFOW*);
  BOOL(WINAPI * path_of)(PCIDLIST_ABSOLUTE, LPWSTR);
  HMODULE shell = Shell32();
  if (!FindCall(shell, "SHBrowseForFolderW", browse) || !FindCall(shell, "SHGetPathFromIDListW", path_of)) return;
  PIDLIST_ABSOLUTE item = browse(&info);
  if (!item) return;
  wchar_t path[260];
  if (path_of(item, path)) SetWindowTextW(folder_edit, InstallFolder(path).c_str());
  CoTaskMemFree(item);
}

// The choices as they are before the window opens.
void SetInitialChoices() {
  found_games.clear();
  game_field = ChoiceField();
  game_field.empty = true;  // as the field is before its first check
  folder_field = ChoiceField();
  TakeOver(handed_answers);  // answers of an earlier window, never taken
  focus_waits = false;
  usable_folder.clear();
  disk_free_space = GetDiskFreeSpaceExW;
  file_attributes = GetFileAttributesExW;
  make_probe = MakeProbe;
}

}  // namespace
