// Throughput of the output line interpreter and of the details log under a build-sized
// transcript. Prints "name: value unit" lines.
#include "module.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A synthetic transcript shaped like a real run: pacman chatter, script and launcher messages,
// step and progress markers, and the build tool's status lines that make up most of it.
std::vector<std::wstring> Transcript(int count) {
  std::vector<std::wstring> lines;
  const wchar_t* keys[] = {L"msys", L"packages", L"source", L"tools", L"dlss",
                           L"check", L"translate", L"compile", L"runtime", L"shortcuts"};
  int per_step = count / 10;
  for (int step = 0; step < 10; ++step) {
    lines.push_back(std::wstring(L"@step ") + keys[step]);
    for (int i = 0; i < per_step; ++i) {
      int kind = i % 50;
      if (step == 1 && kind < 40) {
        lines.push_back(L"(" + std::to_wstring(i % 300) + L"/300) installing mingw-w64-clang-x86_64-package-" +
                        std::to_wstring(i) + L"           [####################] 100%");
      } else if (kind == 0) {
        lines.push_back(L"[build] configuring part " + std::to_wstring(i) + L" ...");
      } else if (kind == 1) {
        lines.push_back(L"[Vorlen] working on item " + std::to_wstring(i));
      } else if (kind == 2) {
        lines.push_back(L"@progress " + std::to_wstring(i * 100 / per_step) + L" Unpacking part " +
                        std::to_wstring(i));
      } else {
        lines.push_back(L"[" + std::to_wstring(i) + L"/" + std::to_wstring(per_step) +
                        L"] Building CXX object CMakeFiles/game.dir/src/overlays/actors/z_actor_" +
                        std::to_wstring(i) + L".cpp.obj");
      }
    }
  }
  lines.push_back(L"@step done");
  return lines;
}

void Reset() {
  for (int i = 0; i < kStepCount; ++i) steps[i] = kSteps[i];
  current = -1;
  fraction = 0;
  log_shown = 0;
  log_drop = 0;
  log_tail.clear();
}

void Preload(HWND edit) {
  std::wstring full;
  while (full.size() < 380000) full += L"[build] earlier output that fills the log to its working size\r\n";
  SetWindowTextW(edit, full.c_str());
  log_shown = full.size();
}

// Feeds the lines in pipe-sized blocks (about 4096 bytes each); `flush_interval` 0 hands the log
// to the control after every block, otherwise at most that often (and once at the end).
void FeedIntoControl(const char* name, const std::vector<std::wstring>& lines, bool shown,
                     double flush_interval) {
  HWND frame = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW | (shown ? WS_VISIBLE : 0), 0, 0, 900,
                               700, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  log_edit = CreateWindowExW(0, L"EDIT", L"",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                             10, 10, 860, 600, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(log_edit, EM_LIMITTEXT, 0, 0);
  Reset();
  Preload(log_edit);
  double slowest = 0;
  size_t block = 0;
  Clock::time_point last_flush = Clock::now();
  Clock::time_point begin = Clock::now();
  for (const std::wstring& line : lines) {
    ReadLine(line);
    block += line.size() + 1;
    if (block < 4096) continue;
    block = 0;
    if (flush_interval > 0 && Seconds(Clock::now() - last_flush) < flush_interval) continue;
    Clock::time_point t = Clock::now();
    FlushLog();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    last_flush = Clock::now();
    slowest = std::max(slowest, Seconds(last_flush - t));
  }
  FlushLog();
  double total = Seconds(Clock::now() - begin);
  printf("%s_lines_per_second: %.0f lines/s\n", name, lines.size() / total);
  printf("%s_slowest_update: %.1f ms\n", name, slowest * 1000);
  printf("%s_log_length: %d characters\n", name, GetWindowTextLengthW(log_edit));
  DestroyWindow(frame);
}

}  // namespace

int wmain() {
  tick_source = GetTickCount;
  std::vector<std::wstring> lines = Transcript(200000);

  Reset();
  Clock::time_point begin = Clock::now();
  for (const std::wstring& line : lines) {
    ReadLine(line);
    if (log_tail.size() > 1000000) {  // what a flush would take away, without a control
      log_shown += log_tail.size();
      log_tail.clear();
      log_drop = 0;
    }
  }
  double alone = Seconds(Clock::now() - begin);
  printf("transcript_lines: %zu lines\n", lines.size());
  printf("interpret_lines_per_second: %.0f lines/s\n", lines.size() / alone);

  FeedIntoControl("log_hidden_per_block", lines, false, 0);
  FeedIntoControl("log_shown_per_block", lines, true, 0);
  FeedIntoControl("log_shown_every_100ms", lines, true, 0.1);
  return 0;
}
