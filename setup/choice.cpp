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
constexpr DWORD kEnvBuffer = 260;
constexpr UINT kOtherFile = 1000;  // menu id of "Browse for another file..."

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
std::wstring DefaultDir() {
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

// The next level for the free-space probe. A network path stops at its share: shortened
// further it becomes "\\server" and then "\", and the system answers "\" with the figure of
// the current drive, which says nothing about the share and could hold Install back.
std::wstring ProbeParent(const std::wstring& probe) {
  std::wstring up = Parent(probe);
  bool network = probe.size() >= 2 && IsSeparator(probe[0]) && IsSeparator(probe[1]);
  if (network && up.find_first_of(L"/\\", 2) == std::wstring::npos) return std::wstring();
  return up;
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
  if (found_games.size() == 1) SetWindowTextW(nup_edit, found_games[0].path.c_str());
}

// --- Checks -----------------------------------------------------------------------------------

struct Verdict {
  bool ok;
  std::wstring note;
};

// How a path is asked about; tests put a slow drive or share in their place.
BOOL(WINAPI* disk_free_space)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
BOOL(WINAPI* file_attributes)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);

// The longest the window waits for one drive to answer. Check runs on every keystroke in the
// fields, and a share on a server that does not answer can keep a call waiting for the
// system's network timeout, tens of seconds.
constexpr DWORD kDriveWait = 1500;

// One question about a path (its drive's free space, or its attributes), shared by the window
// thread and the pool thread that asks: whichever lets go last frees it, so a question that
// came too late answers into nothing, and nobody reads it.
struct PathQuestion {
  std::wstring path;
  bool space;
  ULARGE_INTEGER free = {};
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  BOOL answered = FALSE;
  HANDLE answered_event = nullptr;
  LONG holders = 2;
};

void Answer(PathQuestion& question) {
  question.answered = question.space
                          ? disk_free_space(question.path.c_str(), &question.free, nullptr, nullptr)
                          : file_attributes(question.path.c_str(), GetFileExInfoStandard, &question.data);
}

void LetGo(PathQuestion* question) {
  if (InterlockedDecrement(&question->holders) != 0) return;
  if (question->answered_event) CloseHandle(question->answered_event);
  delete question;
}

void CALLBACK AskInPool(PTP_CALLBACK_INSTANCE, void* data) {
  PathQuestion* question = static_cast<PathQuestion*>(data);
  Answer(*question);
  SetEvent(question->answered_event);
  LetGo(question);
}

// The question as answered within kDriveWait; nothing when the drive kept the window waiting.
// Asked on the system's thread pool: every check asks several questions on every keystroke,
// and a thread of its own for each cost more than the questions (milliseconds each under Wine).
// A pool thread held up by a drive that does not answer is not reused; the pool makes others.
std::optional<PathQuestion> Ask(const std::wstring& path, bool space) {
  PathQuestion* question = new PathQuestion{path, space};
  question->answered_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool pooled = question->answered_event && TrySubmitThreadpoolCallback(AskInPool, question, nullptr);
  if (!pooled) {  // no pool to be had: ask here, however long it takes, and let go as the pool would
    Answer(*question);
    LetGo(question);
  }
  bool in_time = !pooled || WaitForSingleObject(question->answered_event, kDriveWait) == WAIT_OBJECT_0;
  std::optional<PathQuestion> answer;
  if (in_time) answer = *question;  // the pool thread is done with it
  LetGo(question);
  return answer;
}

// The game-file field judged by a fresh look at the file it names. The size is a first
// judgement only; the dump itself is read and checked during the installation.
Verdict GameVerdict(const std::wstring& text, size_t found) {
  if (text.empty()) {
    if (found < 2) return {false, L"Choose your .nup file."};
    return {false, std::to_wstring(found) +
                       L" game files were found on this PC: press Browse to choose which one to build."};
  }
  std::optional<PathQuestion> file = Ask(text, false);
  if (!file) return {false, L"The drive of that file does not answer: copy the file to this PC."};
  const WIN32_FILE_ATTRIBUTE_DATA& data = file->data;
  if (!file->answered || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {false, L"There is no such file."};
  unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  std::wstring name = NameOf(text);
  if (size < kSmallestGame) return {false, name + L" is too small to be the game (" + SizeText(size) + L")."};
  return {true, name + L"  (" + SizeText(size) + L"). It is checked exactly when the installation starts."};
}

// Free bytes for the caller on the drive of a folder that need not exist yet, asked of the
// nearest level of its path that the system can answer for. Nothing when no level answers (a
// drive that does not exist) or a drive keeps the window waiting too long.
std::optional<unsigned long long> FreeSpace(std::wstring probe) {
  while (!probe.empty()) {
    std::optional<PathQuestion> answer = Ask(probe, true);
    if (!answer) return std::nullopt;
    if (answer->answered) return answer->free.QuadPart;
    probe = ProbeParent(probe);
  }
  return std::nullopt;
}

// Whether the folder holds an earlier build ("build", a folder or a file).
bool HoldsBuild(const std::wstring& folder) {
  std::optional<PathQuestion> entry = Ask(folder + L"\\build", false);
  return entry && entry->answered;
}

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

// A path that names the same folder whatever the current folder: "X:\..." or "\\server\share\...".
bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// Why a folder cannot take the installation, or nothing when it can. A drive's root would have
// the build spread over it and the whole drive opened to every user; a relative name would be
// read from the script's temporary folder; a file cannot hold the game.
std::optional<Verdict> FolderRefusal(const std::wstring& folder) {
  std::wstring full;
  if (IsAbsolute(folder)) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, buffer, nullptr);
    full = length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : folder;
  }
  const std::wstring* root = IsDriveRoot(folder) ? &folder : !full.empty() && IsDriveRoot(full) ? &full : nullptr;
  if (root) {
    return Verdict{false, L"Choose a folder on the drive, not the whole drive: for example " +
                              WithoutTrailingSeparators(*root) + L"\\Games\\Vorlen."};
  }
  if (full.empty()) return Verdict{false, L"Type the whole path of the folder, for example " + DefaultDir() + L"."};
  std::optional<PathQuestion> entry = Ask(folder, false);
  if (entry && entry->answered && !(entry->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Verdict{false, L"That is a file, not a folder: choose another name."};
  }
  return std::nullopt;
}

// The room decision and its note. A drive that cannot be asked does not hold the installation
// back; a folder holding an earlier build passes with less room, since most of it is reused.
Verdict SpaceVerdict(std::optional<unsigned long long> free, bool built) {
  if (!free) return {true, L""};
  if (*free >= kBuildRoom || built) return {true, SizeText(*free) + L" free (about 16 GB are used while building)."};
  return {false, L"Only " + SizeText(*free) + L" free: about 16 GB are needed while building."};
}

// Judges both fields, writes their notes and lets Install be pressed only when both pass.
void Check() {
  std::wstring nup = Text(nup_edit);
  Verdict game = GameVerdict(nup, found_games.size());
  nup_empty = nup.empty();
  nup_ok = game.ok;
  nup_note = game.note;

  std::wstring folder = Text(dir_edit);
  if (folder.empty()) folder = DefaultDir();
  std::optional<Verdict> refused = FolderRefusal(folder);
  Verdict space = refused ? *refused : Verdict{};
  if (!refused) {
    std::optional<unsigned long long> free = FreeSpace(folder);
    bool built = free && *free < kBuildRoom && HoldsBuild(folder);
    space = SpaceVerdict(free, built);
  }
  space_ok = space.ok;
  space_note = space.note;

  EnableWindow(install_button, nup_ok && space_ok);
  // A null handle would repaint every window on the desktop.
  if (window) InvalidateRect(window, nullptr, TRUE);
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
    SetWindowTextW(nup_edit, found_games[command - 1].path.c_str());
    return false;
  }
  return command == static_cast<int>(kOtherFile);
}

void BrowseNup() {
  if (found_games.size() >= 2) {
    HMENU menu = GameMenu();
    RECT button;
    GetWindowRect(nup_browse, &button);
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
    SetWindowTextW(nup_edit, name);
  }
}

// The install folder made inside the folder picked: "D:\Games" gives "D:\Games\Vorlen", a drive
// root "D:\" gives "D:\Vorlen".
std::wstring InstallFolder(std::wstring picked) {
  if (!picked.empty() && picked.back() != L'\\') picked += L'\\';
  return picked + L"Vorlen";
}

void BrowseDir() {
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
  if (path_of(item, path)) SetWindowTextW(dir_edit, InstallFolder(path).c_str());
  CoTaskMemFree(item);
}

}  // namespace
