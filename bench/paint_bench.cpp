// One full paint of each page into the window's off-screen bitmap, as WM_PAINT composes it, at
// 96 and 144 DPI: median and worst of 200, and apart from them the first paint after the fonts
// and the bitmap were made, which makes the bitmap and first draws each letter. And one check
// of the choices page's fields, as every keystroke in them runs it: median and worst of 200.
// Prints "name: value unit" lines.
#include "module.h"

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

void Feed(const wchar_t* const* lines) {
  for (; *lines; ++lines) ReadLine(*lines);
}

const wchar_t* const kRunLines[] = {L"@step msys", L"@step packages", L"@step source", L"@step tools",
                                    L"@step check", L"@step translate", L"@step compile",
                                    L"[600/1200] Building CXX object src/overlays/z_actor.cpp.obj", nullptr};

// The page `on` as a run would leave it: half-way through compiling, stopped there, or done.
void Prepare(Page on) {
  ResetProgress();
  install_dir = DefaultFolder();
  started = Now() - 420000;
  if (on != Choices) Feed(kRunLines);
  if (on == Stopped) {
    ReadLine(L"[build] error: out of memory");
    FailStep();
  }
  if (on == Finished) Begin(L"done");
  page = on;
}

void Report(const std::string& name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  printf("%s_median: %.2f ms\n", name.c_str(), times[times.size() / 2]);
  printf("%s_worst: %.2f ms\n", name.c_str(), times.back());
}

double Since(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

void Measure(const char* name, int at_dpi) {
  dpi = at_dpi;
  MakeScaledResources(GetModuleHandleW(nullptr));
  DropPage();
  SIZE size = {Scale(880), Scale(740)};
  HDC screen = GetDC(nullptr);
  std::string figure = "paint_" + std::string(name) + "_" + std::to_string(at_dpi);
  Clock::time_point first = Clock::now();
  ComposePage(screen, size);
  printf("%s_first: %.2f ms\n", figure.c_str(), Since(first));
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    Clock::time_point begin = Clock::now();
    ComposePage(screen, size);
    times.push_back(Since(begin));
  }
  ReleaseDC(nullptr, screen);
  Report(figure, times);
}

// The folder left to its default, which does not exist yet: its free space is asked of the
// level above, as on a first start.
void MeasureCheck() {
  page = Choices;
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    Clock::time_point begin = Clock::now();
    Check();
    times.push_back(Since(begin));
  }
  Report("check_fields", times);
}

}  // namespace

int wmain() {
  tick_source = GetTickCount;
  MakeResources(GetModuleHandleW(nullptr));
  OpenWindow(GetModuleHandleW(nullptr), L"VorlenPaintBench");
  SetWindowTextW(game_edit, L"C:\\Games\\game.nup");  // a choices page with its notes
  const struct {
    const char* name;
    Page page;
  } pages[] = {{"choices", Choices}, {"installing", Installing}, {"finished", Finished}, {"stopped", Stopped}};
  for (int at_dpi : {96, 144}) {
    for (const auto& p : pages) {
      Prepare(p.page);
      Measure(p.name, at_dpi);
    }
  }
  MeasureCheck();
  fflush(stdout);
  DestroyWindow(window);
  return 0;
}
