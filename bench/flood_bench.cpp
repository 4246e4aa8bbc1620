// A million lines of output through the real pipe, reader thread and window, and 100 MB of a
// spinner's and a download bar's redraws without a line feed: how fast they go through end to
// end, and how quickly the window answers meanwhile: a WM_NULL sent from another thread with
// SendMessageTimeoutW (as the system does to decide whether a window hangs), and a key pressed
// with SendInput, which waits in the queue behind every posted message, from its sending to the
// moment the message loop takes it; those sent before the first output, while the click on
// Install starts the script, are counted apart. With the log shown, what the screen shows: the
// run lasts until the log shows the last line, painted, and how long the log stands still on the
// screen from the first output until then, seen from outside every 100 ms; then how long until
// the log holds every line (the script double waits until then).
// After the redraws, the memory the process holds; after each run, the processor time of the
// window's thread, the reader's and the transcript writer's. Each run writes its transcript, as
// the installer does, except the one named "without_transcript", which shows what writing it
// costs. Prints "name: value unit" lines.
#include "module.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "doubles/flood_lines.h"
#include "waits.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The installer's own window, shown, as start-up opens it.
void MakeWindow() {
  static bool made = false;
  if (!made) MakeResources(GetModuleHandleW(nullptr));
  made = true;
  // The catch-up timer of a window before this one ended with it.
  catch_up_set = false;
  OpenWindow(GetModuleHandleW(nullptr), L"VorlenFloodBench");
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);  // the keyboard's input goes to the foreground window's thread
}

// FNV-1a over the characters, so that the text the window received can be compared with the
// text the double wrote without keeping either.
struct Hash {
  unsigned long long value = 1469598103934665603ull;
  void Add(unsigned c) {
    value ^= c;
    value *= 1099511628211ull;
  }
};

struct Result {
  double seconds;
  long long lines_delivered;
  bool text_intact;
  std::vector<double> responses;  // milliseconds, from the first output on
  std::vector<double> key_waits;  // milliseconds, from the first output on
  std::vector<double> start_responses, start_key_waits;  // before it
  double log_still;               // the longest the shown log stood still until it showed the last line, ms
  double log_last_after_output;   // seconds from the window's taking the last output to the log's showing it
  double log_after_output;        // and to the log's holding every line
  double window_cpu, reader_cpu, transcript_cpu;  // seconds of processor time
  double transcript_lag;          // seconds from the run's end to its transcript's being whole
  SIZE_T private_growth;          // bytes the process holds more at the end than at the start
  SIZE_T private_at_end;
};

// One run of the double: its plan, and what the window must receive of it.
struct Run {
  const char* name;
  std::string plan;
  unsigned long long expected;  // hash of the text
  long long lines;              // line feeds in it
  bool show_log;
  bool transcript;
};

// The reader and the transcript's writer of the run, kept to read their processor time (Wine
// says none for a thread that has ended, so it is read while they run); and whether the writer
// may start (without it, the run goes on without a transcript).
std::atomic<HANDLE> reader_thread;
std::atomic<HANDLE> writer_thread;
bool with_transcript;

HANDLE WINAPI KeepingThreads(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID data,
                             DWORD flags, LPDWORD id) {
  if (start == TranscriptWriter && !with_transcript) return nullptr;
  HANDLE thread = CreateThread(security, stack, start, data, flags, id);
  HANDLE kept = nullptr;
  if (thread && (start == Reader || start == TranscriptWriter)) {
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &kept, 0, FALSE, DUPLICATE_SAME_ACCESS);
    (start == Reader ? reader_thread : writer_thread) = kept;
  }
  return thread;
}

// Seconds of processor time a thread has had, in user and kernel mode.
double ProcessorTime(HANDLE thread) {
  FILETIME created, ended, kernel, user;
  if (!thread || !GetThreadTimes(thread, &created, &ended, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// The memory committed to the process alone (Wine leaves PrivateUsage at 0; PagefileUsage is the
// same figure on Windows).
SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage;
}

// What the screen shows where `control` is, as a hash of its pixels.
unsigned long long ScreenPixels(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<unsigned> pixels(static_cast<size_t>(width) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  Hash hash;
  for (unsigned pixel : pixels) hash.Add(pixel);
  return hash.value;
}

// A key that the installer does nothing with.
constexpr WORD kProbeKey = VK_F24;

void PressProbeKey() {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = kProbeKey;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

Result Flood(const Run& run, const std::wstring& folder) {
  WriteFileBytes(folder + L"\\plan.txt", run.plan);
  with_transcript = run.transcript;
  reader_thread = nullptr;
  writer_thread = nullptr;
  create_thread = KeepingThreads;
  SIZE_T private_at_start = PrivateBytes();
  MakeWindow();
  SetWindowTextW(game_edit, L"C:\\Games\\game.nup");
  std::atomic<bool> running{true};
  std::vector<double> responses, start_responses;
  std::atomic<bool> output_begins{false};
  HWND target = window;
  std::atomic<bool> pinging{true};
  double reader_cpu = 0;
  double transcript_cpu = 0;
  std::thread pinger([&] {
    while (running) {
      reader_cpu = std::max(reader_cpu, ProcessorTime(reader_thread));
      transcript_cpu = std::max(transcript_cpu, ProcessorTime(writer_thread));
      Clock::time_point sent = Clock::now();
      DWORD_PTR result = 0;
      bool in_flood = output_begins;
      SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
      (in_flood ? responses : start_responses).push_back(Milliseconds(Clock::now() - sent));
      Sleep(5);
    }
    pinging = false;
  });

  // One key at a time: the next is pressed 20 ms after the loop took the last.
  std::atomic<long long> key_sent{0};  // steady-clock ticks; 0 while none waits
  std::atomic<bool> key_in_flood{false};
  std::vector<double> key_waits, start_key_waits;
  std::thread presser([&] {
    while (running) {
      key_in_flood = output_begins.load();
      key_sent = Clock::now().time_since_epoch().count();
      PressProbeKey();
      while (key_sent != 0 && running) Sleep(1);
      Sleep(20);
    }
  });

  // The log seen from outside: the longest it stood still on the screen from the first output
  // the window took (the double takes a while to start writing) until it showed the last line.
  std::atomic<bool> log_shows_last{false};
  bool log_whole = false;
  double log_still = 0;
  std::thread watcher([&] {
    if (!run.show_log) return;
    while (running && !output_begins) Sleep(1);
    unsigned long long before = ScreenPixels(log_edit);
    Clock::time_point changed = Clock::now();
    while (running && !log_shows_last) {
      Sleep(100);
      unsigned long long now = ScreenPixels(log_edit);
      log_still = std::max(log_still, Milliseconds(Clock::now() - changed));
      if (now != before) changed = Clock::now();
      before = now;
    }
  });

  Hash received;
  long long lines = 0;
  Clock::time_point last_output;
  Clock::time_point shows_last;
  Clock::time_point whole;
  double window_cpu = ProcessorTime(GetCurrentThread());
  Clock::time_point begin = Clock::now();
  SendMessageW(window, WM_COMMAND, 106, 0);
  if (run.show_log) SendMessageW(window, WM_COMMAND, 109, 0);
  while (child) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == kOutputMessage) {
        // Taken here as OnOutput takes it, so that the text is seen on its way in.
        output_begins = true;
        last_output = Clock::now();
        std::deque<std::wstring> blocks = TakeOver(handed_output);
        for (const std::wstring& block : blocks) {
          for (wchar_t c : block) {
            received.Add(c);
            lines += c == L'\n';
          }
        }
        ReadOutput(std::move(blocks));
        continue;
      }
      if (message.message == WM_KEYDOWN && message.wParam == kProbeKey) {
        long long sent = key_sent.exchange(0);
        double wait = Milliseconds(Clock::now() - Clock::time_point(Clock::duration(sent)));
        if (sent) (key_in_flood ? key_waits : start_key_waits).push_back(wait);
      }
      if (message.message == WM_QUIT) continue;
      if (!IsDialogMessageW(window, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      // Every line has come and is read, the log's text ends with the last and is painted: the
      // screen shows it (the log's view stays at its end). Asked after each message: the next
      // step may make the log to paint again before the loop runs dry.
      if (run.show_log && !log_shows_last && lines == run.lines && waiting_output.empty() && log_drop == 0 &&
          log_tail.empty() && !GetUpdateRect(log_edit, nullptr, FALSE)) {
        shows_last = Clock::now();
        log_shows_last = true;
      }
    }
    bool all_read = lines == run.lines && waiting_output.empty();
    // Every line is in the log: the double may end.
    if (run.show_log && !log_whole && all_read && !LogPending()) {
      whole = Clock::now();
      log_whole = true;
      HANDLE signal = CreateFileW((folder + L"\\log-whole").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr);
      CloseHandle(signal);
    }
  }
  Clock::time_point run_end = Clock::now();
  Clock::time_point end = log_shows_last ? shows_last : run_end;
  window_cpu = ProcessorTime(GetCurrentThread()) - window_cpu;
  double seconds = std::chrono::duration<double>(end - begin).count();
  running = false;
  // A WM_NULL sent as the run ended waits for this thread: answer it rather than wait in join
  // until it times out.
  while (pinging) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(1);
  }
  pinger.join();
  presser.join();
  watcher.join();
  double transcript_lag = 0;
  if (run.transcript && transcript_writer) {
    WaitForSingleObject(transcript_writer, INFINITE);
    transcript_lag = std::chrono::duration<double>(Clock::now() - run_end).count();
  }
  for (HANDLE thread : {reader_thread.load(), writer_thread.load()}) {
    if (thread) CloseHandle(thread);
  }
  DeleteFileW((folder + L"\\log-whole").c_str());
  SIZE_T private_at_end = PrivateBytes();
  DestroyWindow(window);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  return {seconds,
          lines,
          received.value == run.expected && page == Finished,
          responses,
          key_waits,
          start_responses,
          start_key_waits,
          log_still,
          log_shows_last ? std::chrono::duration<double>(shows_last - last_output).count() : 0,
          log_whole ? std::chrono::duration<double>(whole - last_output).count() : 0,
          window_cpu,
          reader_cpu,
          transcript_cpu,
          transcript_lag,
          private_at_end > private_at_start ? private_at_end - private_at_start : 0,
          private_at_end};
}

void Print(const Run& run, const Result& result) {
  const char* name = run.name;
  if (run.lines > 1) printf("%s_lines_per_second: %.0f lines/s\n", name, run.lines / result.seconds);
  printf("%s_seconds: %.2f s\n", name, result.seconds);
  PrintWaits(name, "response", result.responses, 100);
  PrintWaits(name, "key_wait", result.key_waits, 100);
  PrintWaits(name, "start_response", result.start_responses, 100);
  PrintWaits(name, "start_key_wait", result.start_key_waits, 100);
  printf("%s_lines_lost: %lld lines\n", name, run.lines - result.lines_delivered);
  printf("%s_runs_with_text_changed: %d runs\n", name, result.text_intact ? 0 : 1);
  if (run.show_log) printf("%s_log_still_worst: %.0f ms\n", name, result.log_still);
  if (run.show_log) printf("%s_log_shows_last_line_after_output: %.2f s\n", name, result.log_last_after_output);
  if (run.show_log) printf("%s_log_whole_after_output: %.2f s\n", name, result.log_after_output);
  printf("%s_window_cpu: %.2f s\n", name, result.window_cpu);
  printf("%s_reader_cpu: %.2f s\n", name, result.reader_cpu);
  if (run.transcript) printf("%s_transcript_cpu: %.2f s\n", name, result.transcript_cpu);
  if (run.transcript) printf("%s_transcript_whole_after_end: %.2f s\n", name, result.transcript_lag);
  printf("%s_private_bytes_at_end: %.1f MB\n", name, result.private_at_end / 1048576.0);
  printf("%s_private_bytes_growth: %.1f MB\n", name, result.private_growth / 1048576.0);
  fflush(stdout);
}

}  // namespace

int wmain() {
#ifndef VORLEN_DOUBLE_DIR
  printf("flood_bench: built without the script double (tests disabled); nothing measured\n");
  return 0;
#else
  // The double stands in for Windows PowerShell.
  powershell_path = [] { return std::wstring(VORLEN_DOUBLE_DIR) + L"\\powershell.exe"; };

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"vorlen-flood-bench";
  CreateDirectoryW(folder.c_str(), nullptr);
  const int count = flood::kTotal;
  const uint32_t seed = 7;
  std::wstring plan = folder + L"\\plan.txt";
  SetEnvironmentVariableW(L"VORLEN_DOUBLE_PLAN", plan.c_str());
  SetEnvironmentVariableW(L"VORLEN_DOUBLE_SIGNALS", folder.c_str());
  SetEnvironmentVariableW(L"LOCALAPPDATA", folder.c_str());

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  tick_source = GetTickCount;
  printf("flood_lines: %d lines\n", count);
  fflush(stdout);
  Hash lines;
  for (flood::Lines source(seed, count); !source.Done();) {
    for (char c : source.Next().text) lines.Add(static_cast<unsigned char>(c));
  }
  // All the redraws come to one line, their last frame, handed on at the end of the output.
  Hash frame;
  for (const char* c = flood::kLastFrame; *c; ++c) frame.Add(static_cast<unsigned char>(*c));
  std::string flood = "flood " + std::to_string(count) + " " + std::to_string(seed) + "\n";
  const Run runs[] = {
      {"redraw_100MB", "redraw 100\nexit 0\n", frame.value, 0, false, true},
      {"flood_log_hidden", flood + "exit 0\n", lines.value, count, false, true},
      {"flood_log_hidden_without_transcript", flood + "exit 0\n", lines.value, count, false, false},
      // The installing page stays until the log holds the last line, as a script still running would.
      {"flood_log_shown", flood + "wait log-whole\nexit 0\n", lines.value, count, true, true},
  };
  for (const Run& run : runs) Print(run, Flood(run, folder));
  DeleteFileW(plan.c_str());
  RemoveDirectoryW((folder + L"\\vorlen").c_str());
  RemoveDirectoryW(folder.c_str());
  return 0;
#endif
}
