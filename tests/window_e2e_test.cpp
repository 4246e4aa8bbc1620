// The built installer under Xvfb: started with a replayed transcript, its window captured from
// the screen and judged by its pixels. The captures stay in build/artifacts for people to see.
#include "support.h"

namespace {

struct Launched {
  PROCESS_INFORMATION process = {};
  HWND found = nullptr;
};

HWND WindowOf(DWORD process_id) { return InstallerWindowOf(process_id, true); }

Launched StartInstaller(const std::wstring& transcript) {
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", transcript.c_str());
  std::wstring command = L"\"" VORLEN_BINARY_DIR L"/vorlen-setup.exe\"";
  STARTUPINFOW startup = {sizeof startup};
  Launched run;
  CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &run.process);
  SetEnvironmentVariableW(L"VORLEN_SETUP_REPLAY", nullptr);
  WaitFor([&] { return (run.found = WindowOf(run.process.dwProcessId)) != nullptr; }, 20000);
  return run;
}

// The window's client area as the screen shows it.
struct Capture {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  SIZE size = {};
  explicit Capture(HWND from) {
    RECT client;
    GetClientRect(from, &client);
    size = {client.right, client.bottom};
    HDC screen = GetDC(from);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, size.cx, size.cy, screen, 0, 0, SRCCOPY);
    ReleaseDC(from, screen);
  }
  ~Capture() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
  bool Has(COLORREF colour, int left, int top, int right, int bottom) const {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x)
        if (At(x, y) == colour) return true;
    return false;
  }
  void Save(const std::wstring& path) const {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size.cx, size.cy, 1, 24, BI_RGB};
    int stride = (size.cx * 3 + 3) & ~3;
    std::vector<char> pixels(stride * size.cy);
    GetDIBits(dc, bitmap, 0, size.cy, pixels.data(), &info, DIB_RGB_COLORS);
    BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + sizeof info.bmiHeader + pixels.size()), 0, 0,
                             sizeof file + sizeof info.bmiHeader};
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
    WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
  }
};

std::wstring WriteTranscript(const std::wstring& name, const std::string& bytes) {
  std::wstring folder = VORLEN_BINARY_DIR L"/artifacts";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"/" + name + L".txt";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

struct Scenario {
  const wchar_t* name;
  std::string transcript;
  bool finished_page;
  int done_rows;     // rows showing a green tick
  int running_row;   // row with the accent dot, or -1
};

void PrintTo(const Scenario& s, std::ostream* out) {
  for (const wchar_t* p = s.name; *p; ++p) *out << static_cast<char>(*p);
}

class ReplayedWindow : public ::testing::TestWithParam<Scenario> {};

TEST_P(ReplayedWindow, ShowsThePageItsTranscriptEndsOn) {
  const Scenario& s = GetParam();
  Launched run = StartInstaller(WriteTranscript(s.name, s.transcript));
  ASSERT_NE(run.found, nullptr) << "no window appeared";
  HDC screen = GetDC(nullptr);
  int at = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto px = [at](int units) { return MulDiv(units, at, 96); };
  // The first paint has happened once the header band shows.
  ASSERT_TRUE(WaitFor([&] { return Capture(run.found).At(px(700), px(5)) == kPanel; }));
  Capture shot(run.found);
  shot.Save(std::wstring(VORLEN_BINARY_DIR L"/artifacts/") + s.name + L".bmp");

  EXPECT_TRUE(shot.Has(kAccent, px(106), px(14), px(220), px(50))) << "title";
  if (s.finished_page) {
    EXPECT_TRUE(shot.Has(kGreen, px(52), px(116), px(400), px(150))) << "green title";
    EXPECT_EQ(shot.At(px(30), px(200)), kPanel);
  } else {
    EXPECT_TRUE(shot.Has(kBright, px(26), px(108), px(200), px(128))) << "Installing heading";
    EXPECT_FALSE(shot.Has(kGreen, px(52), px(116), px(400), px(150)));
    for (int i = 0; i < 10; ++i) {
      int top = 156 + 26 * i;
      bool tick = shot.Has(kGreen, px(28), px(top), px(43), px(top + 16));
      EXPECT_EQ(tick, i < s.done_rows) << "row " << i;
      EXPECT_EQ(shot.At(px(35), px(top + 8)) == kAccent, i == s.running_row) << "row " << i;
    }
    EXPECT_EQ(shot.At(px(853), px(432)), s.done_rows == 10 ? kAccent : kField) << "track end";
  }
  PostMessageW(run.found, WM_CLOSE, 0, 0);  // a replay runs nothing: it closes without a question
  EXPECT_EQ(WaitForSingleObject(run.process.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(run.process.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(run.process.hProcess);
  CloseHandle(run.process.hThread);
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

INSTANTIATE_TEST_SUITE_P(Transcripts, ReplayedWindow, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           std::string name;
                           for (const wchar_t* p = info.param.name; *p; ++p)
                             if (iswalnum(*p)) name += static_cast<char>(*p);
                           return name;
                         });

}  // namespace
