// The built installer under Xvfb: started with a replayed transcript, its window captured from
// the screen and judged by its pixels. The captures stay in build/artifacts for people to see.
// The screen is this program's alone while it runs (the screen lock of tests/CMakeLists.txt).
#include "support.h"

#include <set>

namespace {

struct Scenario {
  const wchar_t* name;
  std::string transcript;
  bool finished_page;
  int done_rows;     // rows showing a green tick
  int running_row;   // row with the accent dot, or -1
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << Narrow(s.name); }

class ReplayedWindow : public ::testing::TestWithParam<Scenario> {};

TEST_P(ReplayedWindow, ShowsThePageItsTranscriptEndsOn) {
  const Scenario& s = GetParam();
  Installer run;
  {
    ScopedVariable replay(L"VORLEN_SETUP_REPLAY", WriteTranscript(s.name, s.transcript));
    ASSERT_TRUE(run.Start()) << "no window appeared";
  }
  HDC screen = GetDC(nullptr);
  int at = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto shot_of = [&] {
    auto shot = std::make_unique<Canvas>(run.window);
    shot->unit_dpi = at;
    return shot;
  };
  // The first paint has happened once the header band shows.
  ASSERT_TRUE(WaitFor([&] { return shot_of()->At(700, 5) == kPanel; }));
  auto shot = shot_of();
  shot->Save(std::wstring(VORLEN_BINARY_DIR L"\\artifacts\\") + s.name + L".bmp");

  EXPECT_TRUE(shot->Has(kAccent, 106, 14, 220, 50)) << "title";
  if (s.finished_page) {
    EXPECT_TRUE(shot->Has(kGreen, 52, 116, 400, 150)) << "green title";
    EXPECT_EQ(shot->At(30, 200), kPanel);
  } else {
    EXPECT_TRUE(shot->Has(kBright, 26, 108, 200, 128)) << "Installing heading";
    EXPECT_FALSE(shot->Has(kGreen, 52, 116, 400, 150));
    for (int i = 0; i < 10; ++i) {
      int top = 156 + 26 * i;
      bool tick = shot->Has(kGreen, 28, top, 43, top + 16);
      EXPECT_EQ(tick, i < s.done_rows) << "row " << i;
      EXPECT_EQ(shot->At(35, top + 8) == kAccent, i == s.running_row) << "row " << i;
    }
    EXPECT_EQ(shot->At(853, 432), s.done_rows == 10 ? kAccent : kField) << "track end";
  }
  // Start-up leaves the keyboard on the page's main button: Play, or "Show details".
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  EXPECT_TRUE(WaitFor([&] { return GetGUIThreadInfo(run.process.dwThreadId, &gui) && gui.hwndFocus; }));
  EXPECT_EQ(gui.hwndFocus, run.Control(s.finished_page ? kPlayId : kDetailsId));
  PostMessageW(run.window, WM_CLOSE, 0, 0);  // a replay runs nothing: it closes without a question
  EXPECT_TRUE(run.EndsWith(0));
}

const Scenario kScenarios[] = {
    {L"finished",
     "@step msys\n@step packages\n@step source\n@step tools\n@step dlss\n@step check\n@step translate\n"
     "@step compile\n[1200/1200] Linking CXX executable vorlen.exe\n@step runtime\n@step shortcuts\n"
     "[Vorlen] installed. Start the game from the Start menu or the desktop shortcut.\n@step done\n",
     true, 10, -1},
    {L"stopped_in_compile",
     "@step msys\n@step packages\n@step source\n@step tools\n@step check\n@step translate\n@step compile\n"
     "[600/1200] Building CXX object src/z_actor.cpp.obj\n[build] error: out of memory\n",
     false, 7, 7},
    {L"empty", "", false, 0, -1},
    {L"last_line_without_line_feed", "@step msys\n@step check\n@step compile", false, 5, 5},
    {L"done_then_empty_line", "@step compile\n@step done\n\n", false, 10, -1},
};

INSTANTIATE_TEST_SUITE_P(Transcripts, ReplayedWindow, ::testing::ValuesIn(kScenarios), CaseName<Scenario>);

// --- What the program loads -------------------------------------------------------------------

// The DLLs a program names in its import table (and in its table of delayed imports), in lower
// case, read from its file.
std::vector<std::string> ImportedDlls(const std::string& image) {
  std::vector<std::string> names;
  auto at = [&](size_t offset, size_t size) -> const char* {
    return offset + size <= image.size() ? image.data() + offset : nullptr;
  };
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
  if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS64)));
  if (!nt || nt->Signature != IMAGE_NT_SIGNATURE) return names;
  size_t first_section = dos->e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader;
  auto offset_of = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
          at(first_section + i * sizeof(IMAGE_SECTION_HEADER), sizeof(IMAGE_SECTION_HEADER)));
      if (!section) break;
      DWORD size = std::max(section->SizeOfRawData, section->Misc.VirtualSize);
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
        return rva - section->VirtualAddress + section->PointerToRawData;
      }
    }
    return image.size();
  };
  auto name_at = [&](DWORD rva) {
    std::string name;
    for (size_t i = offset_of(rva); i < image.size() && image[i]; ++i) name += static_cast<char>(tolower(image[i]));
    return name;
  };
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (size_t d = offset_of(imports.VirtualAddress);; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(d, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
    if (!entry || !entry->Name) break;
    names.push_back(name_at(entry->Name));
  }
  const IMAGE_DATA_DIRECTORY& delayed = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  for (size_t d = delayed.Size ? offset_of(delayed.VirtualAddress) : image.size();; d += 32) {
    const char* entry = at(d, 32);  // a delayed-import descriptor: its DLL's name at byte 4
    DWORD name = entry ? *reinterpret_cast<const DWORD*>(entry + 4) : 0;
    if (!name) break;
    names.push_back(name_at(name));
  }
  return names;
}

// Only DLLs that Windows loads from its own folder whatever lies beside the program (its known
// DLLs, and the common controls that the manifest names): nothing can be planted for them.
TEST(BuiltProgram, ImportsOnlyDllsThatCannotBePlanted) {
  const std::set<std::string> known = {"kernel32.dll", "user32.dll",  "gdi32.dll",    "advapi32.dll",
                                       "comdlg32.dll", "ole32.dll",   "oleaut32.dll", "shell32.dll",
                                       "shlwapi.dll",  "msvcrt.dll",  "comctl32.dll"};
  std::vector<std::string> imported = ImportedDlls(ReadBytes(VORLEN_BINARY_DIR L"\\vorlen-setup.exe"));
  EXPECT_GE(imported.size(), 3u) << "the import table was not read";
  for (const std::string& name : imported) EXPECT_TRUE(known.count(name)) << name << " could be planted";
  // The file dialogs' libraries pull a dozen more into every start; they are loaded when a
  // Browse button first wants them.
  for (const char* late : {"comdlg32.dll", "shell32.dll"}) {
    EXPECT_EQ(std::count(imported.begin(), imported.end(), late), 0) << late << " is loaded at start-up";
  }
}

// Windows' file properties name the program and its version, the one CMakeLists.txt sets, which
// the report's header says too.
TEST(BuiltProgram, CarriesItsNameAndVersion) {
  DWORD(WINAPI * info_size)(LPCWSTR, LPDWORD);
  BOOL(WINAPI * get_info)(LPCWSTR, DWORD, DWORD, LPVOID);
  BOOL(WINAPI * query)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  HMODULE version = SystemLibrary(L"version.dll");
  ASSERT_TRUE(FindCall(version, "GetFileVersionInfoSizeW", info_size) && FindCall(version, "GetFileVersionInfoW", get_info) &&
              FindCall(version, "VerQueryValueW", query));
  const wchar_t* program = VORLEN_BINARY_DIR L"\\vorlen-setup.exe";
  std::string info(info_size(program, nullptr), '\0');
  ASSERT_FALSE(info.empty()) << "no version resource";
  ASSERT_TRUE(get_info(program, 0, static_cast<DWORD>(info.size()), &info[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(query(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  const unsigned numbers[] = {VORLEN_VERSION_NUMBERS};
  EXPECT_EQ(fixed->dwFileVersionMS, numbers[0] << 16 | numbers[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, numbers[2] << 16 | numbers[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  const std::pair<const wchar_t*, std::wstring> strings[] = {
      {L"FileDescription", L"Vorlen Installer"}, {L"ProductName", L"Vorlen Installer"},
      {L"OriginalFilename", L"vorlen-setup.exe"}, {L"FileVersion", InstallerVersion()},
      {L"ProductVersion", InstallerVersion()}};
  for (const auto& [name, expected] : strings) {
    wchar_t* value = nullptr;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    ASSERT_TRUE(query(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &size)) << Narrow(name);
    EXPECT_EQ(std::wstring(value), expected) << Narrow(name);
  }
  EXPECT_EQ(Narrow(InstallerVersion()), std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                                            std::to_string(numbers[2]));
}

}  // namespace
