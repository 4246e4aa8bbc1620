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
  ForgetLog();
  catch_up_set = false;  // the catch-up timer of a window before this one ended with it
}

// The installer's own window, made as start-up makes it, with its log open.
void MakeWindow(bool shown) {
  static bool made = false;
  if (!made) MakeResources(GetModuleHandleW(nullptr));
  made = true;
  OpenWindow(GetModuleHandleW(nullptr), L"VorlenBench");
  details = true;
  Show(Installing);
  if (shown) ShowWindow(window, SW_SHOW);
}

// The whole transcript arrives as pipe-sized blocks faster than the window takes them (every
// block is queued before the first is handled), the log already full. Measures the time until
// the log control holds its final text, and the longest single message the window handled.
void Flood(const char* name, const std::vector<std::wstring>& lines, bool shown) {
  MakeWindow(shown);
  Reset();
  std::wstring full;
  while (full.size() < 380000) full += L"[build] earlier output that fills the log to its working size\r\n";
  SetWindowTextW(log_edit, full.c_str());
  log_shown = full.size();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);

  Clock::time_point begin = Clock::now();
  std::wstring block;
  for (const std::wstring& line : lines) {
    block += line + L"\n";
    if (block.size() < 4096) continue;
    DeliverText(block);
    block.clear();
  }
  double slowest = 0;
  // Until the output is read and the log holds it: the rest of both is taken on a timer.
  for (;;) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!LogPending() && waiting_output.empty()) break;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      continue;
    }
    Clock::time_point t = Clock::now();
    DispatchMessageW(&message);
    slowest = std::max(slowest, Seconds(Clock::now() - t));
  }
  double total = Seconds(Clock::now() - begin);
  printf("%s_lines_per_second: %.0f lines/s\n", name, lines.size() / total);
  printf("%s_slowest_message: %.1f ms\n", name, slowest * 1000);
  printf("%s_log_length: %d characters\n", name, GetWindowTextLengthW(log_edit));
  DestroyWindow(window);
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
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

  Flood("log_hidden", lines, false);
  Flood("log_shown", lines, true);
  return 0;
}
