// Game and folder choice, on real files and folders: a profile made for each test in the
// temporary folder, files of exact sizes (sparse, so gigabytes cost nothing) with last-write
// times set by hand, and real edit controls for the two fields.
#include "support.h"

#include <winioctl.h>

#include <mutex>

namespace {

constexpr wchar_t kManyNote[] = L" game files were found on this PC: press Browse to choose which one to build.";
constexpr wchar_t kLargeTail[] = L"). It is checked exactly when the installation starts.";

// An hour on 1 January 2024 as a file time; a larger hour is newer.
FILETIME Hour(int hour) {
  ULARGE_INTEGER t;
  t.QuadPart = 133485408000000000ull + hour * 36000000000ull;
  return {t.LowPart, t.HighPart};
}

// A file of exactly `size` bytes written at `hour`. Sparse, so the large dumps take no room.
void MakeFile(const std::wstring& path, unsigned long long size, int hour = 0) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD returned;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)) << path;
  FILETIME written = Hour(hour);
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written)) << path;
  CloseHandle(file);
}

HWND MakeControl(const wchar_t* kind) {
  return CreateWindowExW(0, kind, L"", WS_POPUP, 0, 0, 300, 30, nullptr, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

std::wstring Slashed(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return path;
}

// The window the fields' answers are posted to: the installer's window procedure for them and
// for the checking timer, and nothing else (the tests make their own fields).
LRESULT CALLBACK AnswersOnly(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kAnswerMessage || message == WM_TIMER) return Proc(hwnd, message, wparam, lparam);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

HWND MakeAnswersWindow() {
  static const ATOM registered = [] {
    WNDCLASSW kind = {};
    kind.lpfnWndProc = AnswersOnly;
    kind.hInstance = GetModuleHandleW(nullptr);
    kind.lpszClassName = L"VorlenChoiceAnswers";
    return RegisterClassW(&kind);
  }();
  return registered ? CreateWindowExW(0, L"VorlenChoiceAnswers", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr)
                    : nullptr;
}

// Each test gets a fresh profile folder with its three usual subfolders, real fields and an
// Install button, and gets the environment back as it was.
struct ChoiceTest : StateTest {
  std::wstring root;
  ScopedVariable profile{L"USERPROFILE", Variable(L"USERPROFILE")};
  ScopedVariable local{L"LOCALAPPDATA", Variable(L"LOCALAPPDATA")};

  void SetUp() override {
    StateTest::SetUp();
    static int made = 0;
    root = FreshFolder(TempPath(L"vorlen-choice-" + std::to_wstring(++made)));
    ASSERT_TRUE(Exists(root)) << Narrow(root);
    for (const wchar_t* sub : {L"\\Downloads", L"\\Desktop", L"\\Documents"}) {
      ASSERT_TRUE(CreateDirectoryW((root + sub).c_str(), nullptr));
    }
    SetEnvironmentVariableW(L"USERPROFILE", root.c_str());
    game_edit = MakeControl(L"EDIT");
    folder_edit = MakeControl(L"EDIT");
    game_browse = MakeControl(L"BUTTON");
    install_button = MakeControl(L"BUTTON");
    window = MakeAnswersWindow();
    ASSERT_TRUE(game_edit && folder_edit && install_button && window) << "no display for the controls";
  }

  void TearDown() override {
    for (HWND* control : {&game_edit, &folder_edit, &game_browse, &install_button, &window}) {
      DestroyWindow(*control);
      *control = nullptr;
    }
    RemoveTree(root);
  }

  std::vector<std::wstring> FoundPaths() const {
    std::vector<std::wstring> paths;
    for (const FoundGame& game : found_games) paths.push_back(game.path);
    return paths;
  }

  // Check with both fields set; the Install button starts in the state Check must not leave.
  void CheckWith(const std::wstring& game, const std::wstring& folder, bool expected_install) {
    SetWindowTextW(game_edit, game.c_str());
    SetWindowTextW(folder_edit, folder.c_str());
    EnableWindow(install_button, !expected_install);
    Check();
    ASSERT_TRUE(PumpUntil(Answered, 10000)) << "no answer";
  }
};

// --- Discovery --------------------------------------------------------------------------------

TEST_F(ChoiceTest, KeepsTheTwelveNewestFromAllFourFolders) {
  const std::wstring folders[] = {root + L"\\Downloads", root + L"\\Desktop", root + L"\\Documents", root};
  // Fifteen files; names, folders and times shuffled so that neither the listing order nor the
  // folder order is the age order.
  std::wstring by_hour[16];
  for (int i = 0; i < 15; ++i) {
    int hour = (i * 7) % 15 + 1;
    std::wstring path = folders[(i * 3) % 4] + L"\\g" + std::to_wstring(100 + i) + L".nup";
    MakeFile(path, 1000 + hour, hour);
    by_hour[hour] = path;
  }
  SetWindowTextW(game_edit, L"");
  FindGames();

  std::vector<std::wstring> expected;
  for (int hour = 15; hour >= 4; --hour) expected.push_back(by_hour[hour]);
  EXPECT_EQ(FoundPaths(), expected);
  for (const FoundGame& game : found_games) {
    FILETIME written = Hour(static_cast<int>(game.size) - 1000);
    EXPECT_EQ(CompareFileTime(&game.written, &written), 0) << game.path;
  }
  EXPECT_EQ(WindowText(game_edit), L"");

  Check();
  EXPECT_EQ(game_field.note, L"12" + std::wstring(kManyNote));
  EXPECT_FALSE(game_field.ok);
}

TEST_F(ChoiceTest, ListsOnlyGameFilesDirectlyInsideTheFolders) {
  std::wstring downloads = root + L"\\Downloads";
  ASSERT_TRUE(CreateDirectoryW((downloads + L"\\x.nup").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((downloads + L"\\old").c_str(), nullptr));
  MakeFile(downloads + L"\\old\\deep.nup", 100, 9);
  MakeFile(downloads + L"\\notes.txt", 100, 9);
  // Matched by the pattern through its short name only.
  MakeFile(downloads + L"\\tools.nupkg", 100, 9);
  MakeFile(downloads + L"\\Game [0100A1B2][v0].nup", 5905580032ull, 2);
  MakeFile(root + L"\\Documents\\OLD.NUP", 734003200ull, 1);
  FindGames();

  ASSERT_EQ(FoundPaths(), (std::vector<std::wstring>{downloads + L"\\Game [0100A1B2][v0].nup",
                                                     root + L"\\Documents\\OLD.NUP"}));
  EXPECT_EQ(found_games[0].size, 5905580032ull);
  EXPECT_EQ(found_games[1].size, 734003200ull);
  EXPECT_EQ(WindowText(game_edit), L"");
}

TEST_F(ChoiceTest, TheOnlyGameFoundFillsTheField) {
  FindGames();
  EXPECT_TRUE(found_games.empty());
  EXPECT_EQ(WindowText(game_edit), L"");
  Check();
  EXPECT_EQ(game_field.note, L"Choose your .nup file.");

  MakeFile(root + L"\\only.nup", 1, 3);
  FindGames();
  EXPECT_EQ(found_games.size(), 1u);
  EXPECT_EQ(WindowText(game_edit), root + L"\\only.nup");

  MakeFile(root + L"\\Desktop\\second.nup", 1, 4);
  SetWindowTextW(game_edit, L"");
  FindGames();
  EXPECT_EQ(FoundPaths(), (std::vector<std::wstring>{root + L"\\Desktop\\second.nup", root + L"\\only.nup"}));
  EXPECT_EQ(WindowText(game_edit), L"");
}

// The profile is searched only when its value fits 259 characters. Padding with "\." keeps the
// long values pointing at real folders, so a search that should not happen would find a game.
TEST_F(ChoiceTest, ProfileMissingEmptyOrTooLongMeansNoSearch) {
  auto padded = [&](size_t length) {
    std::wstring value = root;
    while (value.size() + 1 + 9 < length) value += L"\\.";
    std::wstring name(length - value.size() - 1, L'p');
    CreateDirectoryW((root + L"\\" + name).c_str(), nullptr);
    CreateDirectoryW((root + L"\\" + name + L"\\Downloads").c_str(), nullptr);
    MakeFile(root + L"\\" + name + L"\\Downloads\\game.nup", 1, 1);
    value += L"\\" + name;
    EXPECT_EQ(value.size(), length);
    return value;
  };
  struct Case {
    std::optional<std::wstring> profile;
    size_t found;
  } cases[] = {{padded(259), 1}, {padded(260), 0}, {std::nullopt, 0}, {std::wstring(), 0}};
  MakeFile(root + L"\\Downloads\\here.nup", 1, 1);
  for (const Case& c : cases) {
    SetVariable(L"USERPROFILE", c.profile);
    SetWindowTextW(game_edit, L"");
    found_games.push_back({L"left over", {}, 0});
    FindGames();
    EXPECT_EQ(found_games.size(), c.found) << (c.profile ? c.profile->size() : 0);
    if (c.found == 1) {
      EXPECT_EQ(WindowText(game_edit), *c.profile + L"\\Downloads\\game.nup");
    }
  }
}

// --- Checks -----------------------------------------------------------------------------------

TEST(SizeText, PowersOfTwoWithGigabytesFromTwoToTheThirty) {
  struct Case {
    unsigned long long bytes;
    const wchar_t* text;
  } cases[] = {{0, L"0 MB"},
               {524288000ull, L"500 MB"},
               {734003200ull, L"700 MB"},
               {1073741823ull, L"1024 MB"},
               {1073741824ull, L"1.0 GB"},
               {5905580032ull, L"5.5 GB"},
               {17179869183ull, L"16.0 GB"},
               {20 * kGiB, L"20.0 GB"}};
  for (const Case& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(RoomVerdict, RoomDecisionAndNotes) {
  struct Case {
    std::optional<unsigned long long> free;
    bool built;
    bool ok;
    const wchar_t* note;
  } cases[] = {
      {20 * kGiB, false, true, L"20.0 GB free (about 16 GB are used while building)."},
      {10 * kGiB, false, false, L"Only 10.0 GB free: about 16 GB are needed while building."},
      {10 * kGiB, true, true, L"10.0 GB free (about 16 GB are used while building)."},
      {500 * kMiB, false, false, L"Only 500 MB free: about 16 GB are needed while building."},
      {16 * kGiB, false, true, L"16.0 GB free (about 16 GB are used while building)."},
      {16 * kGiB - 1, false, false, L"Only 16.0 GB free: about 16 GB are needed while building."},
      {0, true, true, L"0 MB free (about 16 GB are used while building)."},
      {std::nullopt, false, true, L""},
  };
  for (const Case& c : cases) {
    Verdict v = RoomVerdict(c.free, c.built);
    EXPECT_EQ(v.ok, c.ok) << c.note;
    EXPECT_EQ(v.note, c.note);
  }
}

TEST_F(ChoiceTest, GameFileNotes) {
  MakeFile(root + L"\\small.nup", 1073741823ull);
  MakeFile(root + L"\\exact.nup", 1073741824ull);
  MakeFile(root + L"\\Game [0100A1B2][v0].nup", 5905580032ull);
  ASSERT_TRUE(CreateDirectoryW((root + L"\\games").c_str(), nullptr));
  MakeFile(root + L"\\games\\x.nup", 524288000ull);
  ASSERT_TRUE(CreateDirectoryW((root + L"\\folder.nup").c_str(), nullptr));
  Scoped<decltype(disk_free_space)> roomy(disk_free_space, RoomyDrive);  // room never holds Install back

  struct Case {
    std::wstring field;
    size_t found;
    bool ok;
    std::wstring note;
  } cases[] = {
      {L"", 0, false, L"Choose your .nup file."},
      {L"", 1, false, L"Choose your .nup file."},
      {L"", 2, false, L"2" + std::wstring(kManyNote)},
      {L"", 12, false, L"12" + std::wstring(kManyNote)},
      {L" \"\" \" ", 3, false, L"3" + std::wstring(kManyNote)},
      {root + L"\\folder.nup", 0, false, L"There is no such file."},
      {root + L"\\missing.nup", 0, false, L"There is no such file."},
      {root + L"\\small.nup", 0, false, L"small.nup is too small to be the game (1024 MB)."},
      {root + L"\\exact.nup", 0, true, L"exact.nup  (1.0 GB" + std::wstring(kLargeTail)},
      {L"\"" + root + L"\\exact.nup\" ", 2, true, L"exact.nup  (1.0 GB" + std::wstring(kLargeTail)},
      {Slashed(root) + L"/games/x.nup", 0, false, L"x.nup is too small to be the game (500 MB)."},
      {root + L"\\Game [0100A1B2][v0].nup", 0, true,
       L"Game [0100A1B2][v0].nup  (5.5 GB" + std::wstring(kLargeTail)},
  };
  for (const Case& c : cases) {
    found_games.assign(c.found, FoundGame{});
    CheckWith(c.field, root + L"\\Vorlen", c.ok);
    EXPECT_EQ(game_field.note, c.note) << c.field;
    EXPECT_EQ(game_field.ok, c.ok) << c.field;
    EXPECT_TRUE(folder_field.ok);
    EXPECT_EQ(folder_field.note, L"100.0 GB free (about 16 GB are used while building).");
    EXPECT_EQ(IsWindowEnabled(install_button) != FALSE, c.ok) << c.field;
    // The checks judge the fields; they never rewrite them.
    EXPECT_EQ(WindowText(game_edit), c.field);
  }
}

// A share, \\vorlen-server\share, that is a folder of the test's (Wine has no shares), and
// the free space of a drive's or share's root answered only when asked with its closing
// backslash, as the system answers it: "C:" alone names the drive's current folder, and a share
// without it is not answered.
const std::wstring kShare = L"\\\\vorlen-server\\share";
std::wstring share_folder;
std::wstring OnShare(const std::wstring& path) {
  bool on_share = _wcsnicmp(path.c_str(), kShare.c_str(), kShare.size()) == 0 &&
                  (path.size() == kShare.size() || path[kShare.size()] == L'\\');
  return on_share ? share_folder + path.substr(kShare.size()) : path;
}
BOOL WINAPI SharedAttributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  return GetFileAttributesExW(OnShare(path).c_str(), level, data);
}
BOOL WINAPI RootsWithBackslash(LPCWSTR path, PULARGE_INTEGER free, PULARGE_INTEGER total, PULARGE_INTEGER total_free) {
  if (IsDriveRoot(path) && !IsSeparator(path[wcslen(path) - 1])) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  return GetDiskFreeSpaceExW(OnShare(path).c_str(), free, total, total_free);
}

// Folders made by the folder check, and refusals where Wine has no access rights to refuse
// with: below `locked` as without administrator rights, below `read_only` as on a read-only drive.
std::mutex probes_lock;
std::vector<std::wstring> probes_made;
std::wstring locked, read_only;
HANDLE WINAPI RecordedProbe(LPCWSTR path) {
  std::wstring made = path;
  {
    std::lock_guard<std::mutex> hold(probes_lock);
    probes_made.push_back(made);
  }
  const struct {
    const std::wstring* below;
    DWORD error;
  } refusals[] = {{&locked, ERROR_ACCESS_DENIED}, {&read_only, ERROR_WRITE_PROTECT}};
  for (const auto& refusal : refusals) {
    if (made.compare(0, refusal.below->size() + 1, *refusal.below + L"\\") == 0) {
      SetLastError(refusal.error);
      return INVALID_HANDLE_VALUE;
    }
  }
  return MakeProbe(OnShare(made).c_str());
}

// Real paths: a folder is refused by a name Windows forbids and where no folder can be made in
// the nearest level of its path that exists (the folder itself when it exists); a folder that
// does not exist yet is judged by the drive it would be made on; one that OneDrive syncs is
// warned of.
TEST_F(ChoiceTest, FolderJudgedFromTheNearestExistingLevel) {
  MakeFile(root + L"\\exact.nup", 1073741824ull);
  locked = root + L"\\locked";
  read_only = root + L"\\read-only";
  for (const std::wstring& folder : {locked, read_only, root + L"\\full"}) CreateDirectoryW(folder.c_str(), nullptr);
  MakeFile(root + L"\\full\\kept", 1);
  share_folder = root;
  Scoped<decltype(make_probe)> recorded(make_probe, RecordedProbe);
  Scoped<decltype(file_attributes)> shared(file_attributes, SharedAttributes);
  Scoped<decltype(disk_free_space)> asked_of_roots(disk_free_space, RootsWithBackslash);
  ScopedVariable one_drive(L"OneDrive", root + L"\\OneDrive\\");
  ScopedVariable consumer(L"OneDriveConsumer", std::nullopt);
  ScopedVariable commercial(L"OneDriveCommercial", Slashed(root) + L"/OneDrive - Contoso");
  std::wstring missing = MissingDrive();
  // Folders that cannot take the installation, whatever room their drive has.
  const std::wstring whole_drive = L"Choose a folder on the drive, not the whole drive: for example ";
  const std::wstring relative = L"Type the whole path of the folder, for example " + root + L"\\vorlen.";
  const std::wstring forbidden =
      L"A folder name cannot hold \" < > | * ? or a colon past the drive: choose another name.";
  const std::wstring no_folders =
      L"Folders cannot be made there: choose one in your user folder, such as the default.";
  const std::wstring no_rights =
      L"You cannot write to this folder without administrator rights: choose one in your user folder, such as "
      L"the default.";
  auto too_long = [](size_t length) {
    return L"This path is too long (" + std::to_wstring(length) + L" characters): Windows makes no folder longer "
           L"than 247. Choose a shorter one, such as the default.";
  };
  auto long_path = [](size_t length) {
    return L"This path is long (" + std::to_wstring(length) + L" characters): the build may pass Windows' path "
           L"limit. A folder of at most 92 characters, such as the default, is safer.";
  };
  const std::wstring synced =
      L"OneDrive syncs this folder: it would upload the tens of thousands of files of the build and can hold "
      L"them open while they are built. A folder outside it, such as the default, is better.";
  enum Judged { Room, Warned, Refused };
  struct Case {
    std::wstring folder;
    std::optional<std::wstring> local;
    Judged judged;
    std::wstring refusal;
    std::wstring probed;  // the folder a probe must have been made in; empty: none
  } cases[] = {
      {root + L"\\new\\deeper\\Vorlen", std::nullopt, Room, L"", root},
      {Slashed(root) + L"/new/Vorlen/", std::nullopt, Room, L"", root},
      {L"\"" + root + L"\\new\" ", std::nullopt, Room, L"", root},
      {root + L"\\full", std::nullopt, Room, L"", root + L"\\full"},
      // An empty field is judged as the default folder.
      {L"", root, Room, L"", root},
      {L" \"\" ", root, Room, L"", root},
      // Straight under a drive's or a share's root: the root is asked with its backslash.
      {L"C:\\vorlen-choice-new-" + std::to_wstring(GetCurrentProcessId()), std::nullopt, Room, L"", L"C:\\"},
      {kShare + L"\\Vorlen", std::nullopt, Room, L"", kShare + L"\\"},
      // No folder can be made where no level exists, in a file or where Windows refuses it.
      {missing + L"\\Games\\Vorlen", std::nullopt, Refused, no_folders, L""},
      {L"\\\\vorlen-no-such-host.invalid\\share\\Vorlen", std::nullopt, Refused, no_folders, L""},
      {L"", missing + L"\\Local", Refused, no_folders, L""},
      {root + L"\\exact.nup\\Vorlen", std::nullopt, Refused, no_folders, L""},
      {locked + L"\\Vorlen", std::nullopt, Refused, no_rights, locked},
      {locked, std::nullopt, Refused, no_rights, locked},
      {read_only + L"\\Games\\Vorlen", std::nullopt, Refused, no_folders, read_only},
      // A drive's root would have the build spread over the drive and the drive opened to all.
      {L"C:\\", root, Refused, whole_drive + L"C:\\Games\\Vorlen.", L""},
      {L"C:", root, Refused, whole_drive + L"C:\\Games\\Vorlen.", L""},
      {L"D:/", root, Refused, whole_drive + L"D:\\Games\\Vorlen.", L""},
      {missing + L"\\\\", root, Refused, whole_drive + missing + L"\\Games\\Vorlen.", L""},
      {L"C:\\Games\\..", root, Refused, whole_drive + L"C:\\Games\\Vorlen.", L""},
      {L"\\\\server\\share\\", root, Refused, whole_drive + L"\\\\server\\share\\Games\\Vorlen.", L""},
      // A relative name would be read from the script's temporary folder.
      {L"relative\\Vorlen", root, Refused, relative, L""},
      {L"Games", root, Refused, relative, L""},
      {L"\\Games", root, Refused, relative, L""},
      {L"C:Games", root, Refused, relative, L""},
      {root + L"\\exact.nup", root, Refused, L"That is a file, not a folder: choose another name.", L""},
      // Names Windows forbids.
      {root + L"\\a|b", root, Refused, forbidden, L""},
      {root + L"\\new\\<Vorlen>", root, Refused, forbidden, L""},
      {root + L"\\what?", root, Refused, forbidden, L""},
      {root + L"\\*", root, Refused, forbidden, L""},
      {root + L"\\say \"hi\"", root, Refused, forbidden, L""},
      {root + L"\\new:stream", root, Refused, forbidden, L""},
      {root + L"\\tab\there", root, Refused, forbidden, L""},
      // Inside a folder OneDrive syncs: warned, not refused. Whole names count, case ignored.
      {root + L"\\OneDrive\\Games\\Vorlen", std::nullopt, Warned, synced, root},
      {root + L"\\onedrive", std::nullopt, Warned, synced, root},
      {Slashed(root) + L"/x/../OneDrive - CONTOSO/Vorlen", std::nullopt, Warned, synced, root},
      {root + L"\\OneDriveX\\Vorlen", std::nullopt, Room, L"", root},
      {root + L"\\OneDrive - Contoso.old", std::nullopt, Room, L"", root},
      // A path long enough that the build may pass Windows' path limit: warned, not refused.
      {root + L"\\" + std::wstring(92 - root.size() - 1, L'l'), std::nullopt, Room, L"", root},
      {root + L"\\" + std::wstring(93 - root.size() - 1, L'l'), std::nullopt, Warned, long_path(93), root},
      // Longer than Windows makes a folder: refused before any probe.
      {root + L"\\" + std::wstring(247 - root.size() - 1, L'l'), std::nullopt, Warned, long_path(247), root},
      {root + L"\\" + std::wstring(248 - root.size() - 1, L'l'), std::nullopt, Refused, too_long(248), L""},
      {root + L"\\new\\" + std::wstring(300 - root.size() - 5, L'l') + L"\\", std::nullopt, Refused, too_long(300),
       L""},
  };
  for (const Case& c : cases) {
    SetVariable(L"LOCALAPPDATA", c.local);
    probes_made.clear();
    ULARGE_INTEGER before, after;
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &before, nullptr, nullptr));
    CheckWith(root + L"\\exact.nup", c.folder, c.judged != Refused);
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &after, nullptr, nullptr));
    ASSERT_TRUE(game_field.ok);
    if (c.judged == Room) {
      // The figure is the drive's own, read just before and just after.
      Verdict early = RoomVerdict(before.QuadPart, false);
      Verdict late = RoomVerdict(after.QuadPart, false);
      EXPECT_TRUE(folder_field.note == early.note || folder_field.note == late.note) << Narrow(c.folder + L": " + folder_field.note);
      EXPECT_EQ(folder_field.ok, early.ok) << Narrow(c.folder);
    } else {
      EXPECT_EQ(folder_field.note, c.refusal) << Narrow(c.folder);
      EXPECT_EQ(folder_field.ok, c.judged == Warned) << Narrow(c.folder);
    }
    EXPECT_EQ(folder_field.warned, c.judged == Warned) << Narrow(c.folder);
    EXPECT_EQ(IsWindowEnabled(install_button) != FALSE, folder_field.ok) << Narrow(c.folder);
    // One probe, made in the nearest level that exists, and gone again.
    std::vector<std::wstring> made = probes_made;
    EXPECT_EQ(made.size(), c.probed.empty() ? 0u : 1u) << Narrow(c.folder);
    for (const std::wstring& probe : made) {
      EXPECT_EQ(Parent(probe), WithoutTrailingSeparators(c.probed)) << Narrow(probe);
      EXPECT_EQ(NameOf(probe).rfind(L"vorlen-write-check-", 0), 0u) << Narrow(probe);
      EXPECT_FALSE(Exists(OnShare(probe))) << Narrow(probe);
    }
  }
  // A key in the game-file field asks nothing about the folder.
  probes_made.clear();
  SetWindowTextW(game_edit, (root + L"\\other.nup").c_str());
  OnCommand(WM_COMMAND, MAKEWPARAM(kGameEditId, EN_CHANGE), 0);
  ASSERT_TRUE(PumpUntil(Answered, 10000));
  EXPECT_EQ(game_field.note, L"There is no such file.");
  EXPECT_TRUE(probes_made.empty());
  // What was there before is left as it was.
  EXPECT_TRUE(Exists(root + L"\\full\\kept"));
  EXPECT_TRUE(Exists(locked));
}

// A share whose server does not answer keeps every question about its paths waiting; the
// window does not wait with them. Each answer, once it comes, would be a different verdict: a
// roomy drive, a large game file.
HANDLE slow_share_release;
bool SlowPath(LPCWSTR path) {
  if (wcsncmp(path, L"\\\\slow", 6) != 0) return false;
  WaitForSingleObject(slow_share_release, 20000);
  return true;
}
BOOL WINAPI SlowDrive(LPCWSTR path, PULARGE_INTEGER free, PULARGE_INTEGER total, PULARGE_INTEGER total_free) {
  if (!SlowPath(path)) return GetDiskFreeSpaceExW(path, free, total, total_free);
  free->QuadPart = 100 * kGiB;
  return TRUE;
}
BOOL WINAPI SlowAttributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  if (!SlowPath(path)) return GetFileAttributesExW(path, level, data);
  WIN32_FILE_ATTRIBUTE_DATA* found = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(data);
  *found = {};
  found->nFileSizeHigh = 2;  // a file of 8 GB
  return TRUE;
}

// Answers handed over to the window and not taken yet.
size_t Handed() {
  AcquireSRWLockExclusive(&handed_answers.lock);
  size_t count = handed_answers.items.size();
  ReleaseSRWLockExclusive(&handed_answers.lock);
  return count;
}

TEST_F(ChoiceTest, DriveThatDoesNotAnswerDoesNotHoldTheWindow) {
  slow_share_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Scoped<decltype(disk_free_space)> slow_space(disk_free_space, SlowDrive);
  Scoped<decltype(file_attributes)> slow_files(file_attributes, SlowAttributes);
  SetWindowTextW(game_edit, L"\\\\slow\\share\\game.nup");
  SetWindowTextW(folder_edit, L"\\\\slow\\share\\Vorlen");
  game_field.note = folder_field.note = L"as it was";
  EnableWindow(install_button, TRUE);
  test_now = 1000;
  Check();  // returns with both answers still to come
  EXPECT_TRUE(game_field.pending && folder_field.pending);
  EXPECT_FALSE(IsWindowEnabled(install_button));
  // The notes stay as they were for a moment, then say that the fields are being checked,
  // then that the drive does not answer.
  const std::wstring as_it_was = L"as it was";
  const std::wstring file_checking = L"Checking the file...", folder_checking = L"Checking the folder...";
  const std::wstring file_silent = L"The drive of that file does not answer: copy the file to this PC.";
  const std::wstring folder_silent =
      L"The drive of that folder does not answer: choose one on this PC, such as the default.";
  struct Stage {
    DWORD waited;
    const std::wstring& game;
    const std::wstring& folder;
    bool checking;
  } stages[] = {{299, as_it_was, as_it_was, false},
                {300, file_checking, folder_checking, true},
                {1499, file_checking, folder_checking, true},
                {1500, file_silent, folder_silent, false}};
  for (const Stage& stage : stages) {
    test_now = 1000 + stage.waited;
    OnCheckingTimer();
    EXPECT_EQ(game_field.note, stage.game) << stage.waited;
    EXPECT_EQ(folder_field.note, stage.folder) << stage.waited;
    EXPECT_EQ(game_field.checking, stage.checking) << stage.waited;
    EXPECT_EQ(folder_field.checking, stage.checking) << stage.waited;
    EXPECT_FALSE(IsWindowEnabled(install_button)) << stage.waited;
  }
  // A folder on a drive that answers is judged while the share still keeps its questions; the
  // game file is not asked again, and its note keeps the time of its own question.
  SetWindowTextW(folder_edit, (root + L"\\Vorlen").c_str());
  OnCommand(WM_COMMAND, MAKEWPARAM(kFolderEditId, EN_CHANGE), 0);
  ASSERT_TRUE(PumpUntil([] { return !folder_field.pending; }, 10000));
  std::wstring local_note = folder_field.note;
  EXPECT_NE(local_note.find(L" free (about 16 GB"), std::wstring::npos) << Narrow(local_note);
  EXPECT_TRUE(game_field.pending);
  EXPECT_FALSE(IsWindowEnabled(install_button));
  test_now = 1000 + 1800;
  OnCheckingTimer();
  EXPECT_EQ(game_field.note, file_silent);
  // Once the share answers (two answers: one question each), the game file's is taken, as the
  // field still holds what was asked; the folder's, of a text the field no longer holds, is not.
  SetEvent(slow_share_release);
  ASSERT_TRUE(WaitFor([] { return Handed() == 2; }, 10000));
  ASSERT_TRUE(PumpUntil([] { return Handed() == 0; }, 10000));
  EXPECT_TRUE(game_field.ok);
  EXPECT_EQ(game_field.note, L"game.nup  (8.0 GB" + std::wstring(kLargeTail));
  EXPECT_EQ(folder_field.note, local_note);
  EXPECT_TRUE(IsWindowEnabled(install_button));
  CloseHandle(slow_share_release);
}

// The process ends while the folder's question is on the pool, between the probe's making and
// its letting go, as when the installer is closed while a slow drive answers: the probe goes all
// the same. The process that ends is a copy of this test; the level it probes in is named by
// the same path in both.
HANDLE WINAPI ProbeThenEnd(LPCWSTR path) {
  HANDLE made = MakeProbe(path);
  if (made != INVALID_HANDLE_VALUE && Exists(path)) {
    fputs("the probe is made\n", stderr);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 7);
  }
  return made;
}

TEST(Probe, GoesWhenTheProcessEndsMidQuestion) {
  std::optional<std::wstring> temp = Variable(L"TEMP");
  ASSERT_TRUE(temp);
  const std::wstring level = *temp + L"\\vorlen-probe-level";
  EXPECT_EXIT(
      {
        ResetState();
        FreshFolder(level);
        folder_edit = MakeControl(L"EDIT");
        SetWindowTextW(folder_edit, (level + L"\\Vorlen").c_str());
        make_probe = ProbeThenEnd;
        Check(false, true);
        WaitForSingleObject(GetCurrentProcess(), 10000);  // ended by the probe's stand-in
      },
      ::testing::ExitedWithCode(7), "the probe is made");
  auto probe_left = [&] {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((level + L"\\vorlen-write-check-*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
    return listing != INVALID_HANDLE_VALUE;
  };
  EXPECT_TRUE(WaitFor([&] { return !probe_left(); }, 5000)) << "a probe folder was left behind";
  RemoveTree(level);
}

TEST_F(ChoiceTest, AnEarlierBuildIsAnyEntryNamedBuild) {
  std::wstring with_folder = root + L"\\a", with_file = root + L"\\b", without = root + L"\\c";
  for (const std::wstring& folder : {with_folder, with_file, without}) CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((with_folder + L"\\build").c_str(), nullptr);
  MakeFile(with_file + L"\\build", 0);
  MakeFile(without + L"\\build.txt", 0);
  EXPECT_TRUE(HoldsBuild(with_folder));
  EXPECT_TRUE(HoldsBuild(with_file));
  EXPECT_TRUE(HoldsBuild(with_folder + L"\\"));
  EXPECT_FALSE(HoldsBuild(without));
  EXPECT_FALSE(HoldsBuild(root + L"\\d"));
}

// Without a main window Check works, and does not ask every window on the desktop to repaint
// (what a null window handle would do): a window of this program's own on the screen tells.
TEST_F(ChoiceTest, ChecksWithoutWindowOrButton) {
  HWND other = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 2400,
                               1500, 40, 40, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return !GetUpdateRect(other, nullptr, FALSE); }));
  DestroyWindow(install_button);
  install_button = nullptr;
  DestroyWindow(window);
  window = nullptr;
  SetWindowTextW(folder_edit, (MissingDrive() + L"\\x").c_str());
  Check();  // its answers have nowhere to go
  EXPECT_EQ(game_field.note, L"Choose your .nup file.");
  EXPECT_FALSE(game_field.ok);
  EXPECT_FALSE(GetUpdateRect(other, nullptr, FALSE)) << "Check repainted the whole desktop";
  // The window does see a repaint of the whole desktop, so the check above can fail.
  InvalidateRect(nullptr, nullptr, TRUE);
  EXPECT_TRUE(GetUpdateRect(other, nullptr, FALSE));
  DestroyWindow(other);
}

// --- Menu, dialog, chooser, default folder ----------------------------------------------------

TEST_F(ChoiceTest, MenuListsTheFoundFilesNewestFirst) {
  MakeFile(root + L"\\Downloads\\game.nup", 5905580032ull, 30);
  MakeFile(root + L"\\Desktop\\demo [v1].nup", 734003200ull, 20);
  MakeFile(root + L"\\Mario & Luigi.nup", 1073741824ull, 10);
  FindGames();
  ASSERT_EQ(found_games.size(), 3u);

  HMENU menu = GameMenu();
  struct Item {
    int id;
    const wchar_t* text;  // null for the separator
  } items[] = {{1, L"game.nup   (5.5 GB)"},
               {2, L"demo [v1].nup   (700 MB)"},
               {3, L"Mario && Luigi.nup   (1.0 GB)"},  // "&&" shows one "&"
               {0, nullptr},
               {1000, L"Browse for another file..."}};
  ASSERT_EQ(GetMenuItemCount(menu), 5);
  for (int i = 0; i < 5; ++i) {
    UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    if (!items[i].text) {
      EXPECT_TRUE(state & MF_SEPARATOR) << i;
      continue;
    }
    EXPECT_FALSE(state & (MF_SEPARATOR | MF_POPUP | MF_GRAYED | MF_DISABLED)) << i;
    EXPECT_EQ(static_cast<int>(GetMenuItemID(menu, i)), items[i].id) << i;
    wchar_t text[128];
    int length = GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text, length), items[i].text) << i;
  }
  DestroyMenu(menu);
}

TEST_F(ChoiceTest, MenuAnswers) {
  for (int i = 0; i < 3; ++i) found_games.push_back({root + L"\\g" + std::to_wstring(i) + L".nup", Hour(9 - i), 1});
  struct Case {
    int command;
    const wchar_t* field;  // null: left as it was
    bool dialog;
  } cases[] = {{1, L"\\g0.nup", false}, {2, L"\\g1.nup", false}, {3, L"\\g2.nup", false},
               {0, nullptr, false},     {-1, nullptr, false},      {4, nullptr, false},
               {999, nullptr, false},   {1000, nullptr, true}};
  for (const Case& c : cases) {
    SetWindowTextW(game_edit, L"as it was");
    EXPECT_EQ(TakeGame(c.command), c.dialog) << c.command;
    EXPECT_EQ(WindowText(game_edit), c.field ? root + c.field : L"as it was") << c.command;
  }
}

TEST(InstallFolder, AlwaysAVorlenFolderInsideThePick) {
  struct Case {
    const wchar_t* picked;
    const wchar_t* folder;
  } cases[] = {{L"D:\\Games", L"D:\\Games\\Vorlen"},
               {L"D:\\", L"D:\\Vorlen"},
               {L"C:\\Users\\me\\Games", L"C:\\Users\\me\\Games\\Vorlen"},
               {L"C:\\Games\\Vorlen", L"C:\\Games\\Vorlen\\Vorlen"},
               {L"\\\\server\\share", L"\\\\server\\share\\Vorlen"}};
  for (const Case& c : cases) EXPECT_EQ(InstallFolder(c.picked), c.folder) << c.picked;
}

TEST_F(ChoiceTest, DefaultFolderFromLocalAppData) {
  std::wstring longest = L"C:\\" + std::wstring(256, L'a');  // 259 characters
  struct Case {
    std::optional<std::wstring> local;
    std::wstring folder;
  } cases[] = {{L"C:\\Users\\me\\AppData\\Local", L"C:\\Users\\me\\AppData\\Local\\vorlen"},
               {std::nullopt, L"C:\\vorlen"},
               {L"", L"C:\\vorlen"},
               {longest, longest + L"\\vorlen"},
               {longest + L"a", L"C:\\vorlen"}};
  for (const Case& c : cases) {
    SetVariable(L"LOCALAPPDATA", c.local);
    EXPECT_EQ(DefaultFolder(), c.folder) << (c.local ? c.local->size() : 0);
  }
}

}  // namespace
