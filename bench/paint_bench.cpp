// One full paint of each page into a memory bitmap, as WM_PAINT composes it off screen (the
// bitmap made, the page drawn, both thrown away), at 96 and 144 DPI: median and worst of 200.
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
  install_dir = DefaultDir();
  started = Now() - 420000;
  if (on != Choices) Feed(kRunLines);
  if (on == Stopped) {
    ReadLine(L"[build] error: out of memory");
    steps[current].state = Failed;
  }
  if (on == Finished) Begin(L"done");
  page = on;
}

void Measure(const char* name, int at_dpi) {
  dpi = at_dpi;
  MakeScaledResources(GetModuleHandleW(nullptr));
  SIZE size = {Scale(880), Scale(740)};
  HDC screen = GetDC(nullptr);
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    Clock::time_point begin = Clock::now();
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
    HGDIOBJ old = SelectObject(memory, bitmap);
    PaintWindow(memory, size, Now());
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  }
  ReleaseDC(nullptr, screen);
  std::sort(times.begin(), times.end());
  printf("paint_%s_%d_median: %.2f ms\n", name, at_dpi, times[times.size() / 2]);
  printf("paint_%s_%d_worst: %.2f ms\n", name, at_dpi, times.back());
}

}  // namespace

int wmain() {
  tick_source = GetTickCount;
  MakeResources(GetModuleHandleW(nullptr));
  OpenWindow(GetModuleHandleW(nullptr), L"VorlenPaintBench");
  SetWindowTextW(nup_edit, L"C:\\Games\\game.nup");  // a choices page with its notes
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
  fflush(stdout);
  DestroyWindow(window);
  return 0;
}
