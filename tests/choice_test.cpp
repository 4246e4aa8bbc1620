// Game and folder choice, on real files and folders: a profile made for each test in the
// temporary folder, files of exact sizes (sparse, so gigabytes cost nothing) with last-write
// times set by hand, and real edit controls for the two fields.
#include "support.h"

#include <winioctl.h>

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

// A drive letter this prefix does not have.
std::wstring MissingDrive() {
  DWORD drives = GetLogicalDrives();
  for (int letter = 'Z'; letter >= 'D'; --letter) {
    if (!(drives & (1u << (letter - 'A')))) return std::wstring(1, static_cast<wchar_t>(letter)) + L":";
  }
  ADD_FAILURE() << "every drive letter is in use";
  return L"";
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
    nup_edit = MakeControl(L"EDIT");
    dir_edit = MakeControl(L"EDIT");
    nup_browse = MakeControl(L"BUTTON");
    install_button = MakeControl(L"BUTTON");
    ASSERT_TRUE(nup_edit && dir_edit && install_button) << "no display for the controls";
  }

  void TearDown() override {
    for (HWND* control : {&nup_edit, &dir_edit, &nup_browse, &install_button}) {
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
    SetWindowTextW(nup_edit, game.c_str());
    SetWindowTextW(dir_edit, folder.c_str());
    EnableWindow(install_button, !expected_install);
    Check();
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
  SetWindowTextW(nup_edit, L"");
  FindGames();

  std::vector<std::wstring> expected;
  for (int hour = 15; hour >= 4; --hour) expected.push_back(by_hour[hour]);
  EXPECT_EQ(FoundPaths(), expected);
  for (const FoundGame& game : found_games) {
    FILETIME written = Hour(static_cast<int>(game.size) - 1000);
    EXPECT_EQ(CompareFileTime(&game.written, &written), 0) << game.path;
  }
  EXPECT_EQ(WindowText(nup_edit), L"");

  Check();
  EXPECT_EQ(nup_note, L"12" + std::wstring(kManyNote));
  EXPECT_FALSE(nup_ok);
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
  EXPECT_EQ(WindowText(nup_edit), L"");
}

TEST_F(ChoiceTest, TheOnlyGameFoundFillsTheField) {
  FindGames();
  EXPECT_TRUE(found_games.empty());
  EXPECT_EQ(WindowText(nup_edit), L"");
  Check();
  EXPECT_EQ(nup_note, L"Choose your .nup file.");

  MakeFile(root + L"\\only.nup", 1, 3);
  FindGames();
  EXPECT_EQ(found_games.size(), 1u);
  EXPECT_EQ(WindowText(nup_edit), root + L"\\only.nup");

  MakeFile(root + L"\\Desktop\\second.nup", 1, 4);
  SetWindowTextW(nup_edit, L"");
  FindGames();
  EXPECT_EQ(FoundPaths(), (std::vector<std::wstring>{root + L"\\Desktop\\second.nup", root + L"\\only.nup"}));
  EXPECT_EQ(WindowText(nup_edit), L"");
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
    SetWindowTextW(nup_edit, L"");
    found_games.push_back({L"left over", {}, 0});
    FindGames();
    EXPECT_EQ(found_games.size(), c.found) << (c.profile ? c.profile->size() : 0);
    if (c.found == 1) {
      EXPECT_EQ(WindowText(nup_edit), *c.profile + L"\\Downloads\\game.nup");
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

TEST(SpaceVerdict, RoomDecisionAndNotes) {
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
    Verdict v = SpaceVerdict(c.free, c.built);
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
  std::wstring nowhere = MissingDrive() + L"\\Games\\Vorlen";  // room never holds Install back

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
    CheckWith(c.field, nowhere, c.ok);
    EXPECT_EQ(nup_note, c.note) << c.field;
    EXPECT_EQ(nup_ok, c.ok) << c.field;
    EXPECT_TRUE(space_ok);
    EXPECT_EQ(space_note, L"");
    EXPECT_EQ(IsWindowEnabled(install_button) != FALSE, c.ok) << c.field;
    // The checks judge the fields; they never rewrite them.
    EXPECT_EQ(WindowText(nup_edit), c.field);
  }
}

// The real probe on real paths: a folder that does not exist yet is judged by the drive it
// would be made on; a path no level of which the system can answer for leaves no note and
// does not hold Install back.
TEST_F(ChoiceTest, FreeSpaceFromTheNearestExistingLevel) {
  MakeFile(root + L"\\exact.nup", 1073741824ull);
  std::wstring missing = MissingDrive();
  // Folders that cannot take the installation, whatever room their drive has.
  const std::wstring whole_drive = L"Choose a folder on the drive, not the whole drive: for example ";
  const std::wstring relative = L"Type the whole path of the folder, for example " + root + L"\\vorlen.";
  enum Judged { Room, NoAnswer, Refused };
  struct Case {
    std::wstring folder;
    std::optional<std::wstring> local;
    Judged judged;
    std::wstring refusal;
  } cases[] = {
      {root + L"\\new\\deeper\\Vorlen", std::nullopt, Room, L""},
      {Slashed(root) + L"/new/Vorlen/", std::nullopt, Room, L""},
      {L"\"" + root + L"\\new\" ", std::nullopt, Room, L""},
      {missing + L"\\Games\\Vorlen", std::nullopt, NoAnswer, L""},
      {L"\\\\vorlen-no-such-host.invalid\\share\\Vorlen", std::nullopt, NoAnswer, L""},
      {L"\\\\127.0.0.1\\vorlen-no-share\\Vorlen", std::nullopt, NoAnswer, L""},
      // An empty field is judged as the default folder.
      {L"", root, Room, L""},
      {L" \"\" ", root, Room, L""},
      {L"", missing + L"\\Local", NoAnswer, L""},
      // A drive's root would have the build spread over the drive and the drive opened to all.
      {L"C:\\", root, Refused, whole_drive + L"C:\\Games\\Vorlen."},
      {L"C:", root, Refused, whole_drive + L"C:\\Games\\Vorlen."},
      {L"D:/", root, Refused, whole_drive + L"D:\\Games\\Vorlen."},
      {missing + L"\\\\", root, Refused, whole_drive + missing + L"\\Games\\Vorlen."},
      {L"C:\\Games\\..", root, Refused, whole_drive + L"C:\\Games\\Vorlen."},
      {L"\\\\server\\share\\", root, Refused, whole_drive + L"\\\\server\\share\\Games\\Vorlen."},
      // A relative name would be read from the script's temporary folder.
      {L"relative\\Vorlen", root, Refused, relative},
      {L"Games", root, Refused, relative},
      {L"\\Games", root, Refused, relative},
      {L"C:Games", root, Refused, relative},
      {root + L"\\exact.nup", root, Refused, L"That is a file, not a folder: choose another name."},
  };
  for (const Case& c : cases) {
    SetVariable(L"LOCALAPPDATA", c.local);
    ULARGE_INTEGER before, after;
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &before, nullptr, nullptr));
    CheckWith(root + L"\\exact.nup", c.folder, c.judged != Refused);
    ASSERT_TRUE(GetDiskFreeSpaceExW(root.c_str(), &after, nullptr, nullptr));
    ASSERT_TRUE(nup_ok);
    if (c.judged == Refused) {
      EXPECT_EQ(space_note, c.refusal) << Narrow(c.folder);
      EXPECT_FALSE(space_ok) << Narrow(c.folder);
    } else if (c.judged == NoAnswer) {
      EXPECT_EQ(space_note, L"") << Narrow(c.folder);
      EXPECT_TRUE(space_ok) << Narrow(c.folder);
    } else {
      // The figure is the drive's own, read just before and just after.
      Verdict early = SpaceVerdict(before.QuadPart, false);
      Verdict late = SpaceVerdict(after.QuadPart, false);
      EXPECT_TRUE(space_note == early.note || space_note == late.note) << Narrow(c.folder + L": " + space_note);
      EXPECT_EQ(space_ok, early.ok) << Narrow(c.folder);
    }
    EXPECT_EQ(IsWindowEnabled(install_button) != FALSE, space_ok) << Narrow(c.folder);
  }
}

// A share whose server does not answer keeps every question about its paths waiting; the
// window does not wait with them. Each late answer, should it be waited for, would be a
// different verdict: a roomy drive, a large game file, an earlier build.
HANDLE slow_share_release;
bool SlowPath(LPCWSTR path) {
  if (wcsncmp(path, L"\\\\slow", 6) != 0) return false;
  WaitForSingleObject(slow_share_release, 20000);
  return true;
}
BOOL WINAPI SlowDrive(LPCWSTR path, PULARGE_INTEGER free, PULARGE_INTEGER total, PULARGE_INTEGER total_free) {
  if (wcsncmp(path, L"\\\\small", 7) == 0) {
    free->QuadPart = kGiB;  // answers at once: too little room, unless an earlier build is there
    return TRUE;
  }
  if (!SlowPath(path)) return GetDiskFreeSpaceExW(path, free, total, total_free);
  free->QuadPart = 100 * kGiB;
  return TRUE;
}
BOOL WINAPI SlowAttributes(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  // The small share's entries lie behind the slow server too.
  if (wcsncmp(path, L"\\\\small", 7) == 0) path = L"\\\\slow";
  if (!SlowPath(path)) return GetFileAttributesExW(path, level, data);
  WIN32_FILE_ATTRIBUTE_DATA* found = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(data);
  *found = {};
  found->nFileSizeHigh = 2;  // a file of 8 GB
  return TRUE;
}

TEST_F(ChoiceTest, DriveThatDoesNotAnswerDoesNotHoldTheWindow) {
  MakeFile(root + L"\\exact.nup", 1073741824ull);
  slow_share_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Scoped<decltype(disk_free_space)> slow_space(disk_free_space, SlowDrive);
  Scoped<decltype(file_attributes)> slow_files(file_attributes, SlowAttributes);
  // Free space: judged as a drive that could not be asked.
  CheckWith(root + L"\\exact.nup", L"\\\\slow\\share\\Vorlen", true);
  EXPECT_EQ(space_note, L"");
  EXPECT_TRUE(space_ok);
  EXPECT_TRUE(IsWindowEnabled(install_button));
  // The game file: not taken for a game.
  CheckWith(L"\\\\slow\\share\\game.nup", root, false);
  EXPECT_FALSE(nup_ok);
  EXPECT_EQ(nup_note, L"The drive of that file does not answer: copy the file to this PC.");
  // An earlier build that cannot be looked for is not counted.
  CheckWith(root + L"\\exact.nup", L"\\\\small\\share\\Vorlen", false);
  EXPECT_FALSE(space_ok);
  EXPECT_EQ(space_note, L"Only 1.0 GB free: about 16 GB are needed while building.");
  // The late answers land in questions nobody waits for any more; a fast drive still answers.
  SetEvent(slow_share_release);
  CheckWith(root + L"\\exact.nup", root + L"\\Vorlen", true);
  EXPECT_FALSE(space_note.empty());
  CloseHandle(slow_share_release);
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
  window = nullptr;
  CheckWith(L"", MissingDrive() + L"\\x", false);
  EXPECT_EQ(nup_note, L"Choose your .nup file.");
  EXPECT_FALSE(nup_ok);
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
    SetWindowTextW(nup_edit, L"as it was");
    EXPECT_EQ(TakeGame(c.command), c.dialog) << c.command;
    EXPECT_EQ(WindowText(nup_edit), c.field ? root + c.field : L"as it was") << c.command;
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
    EXPECT_EQ(DefaultDir(), c.folder) << (c.local ? c.local->size() : 0);
  }
}

}  // namespace
