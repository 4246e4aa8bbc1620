// Start-up to the first paint: the built installer, and beside it a bare window that does
// nothing but paint, each started the same way several times over, in turns. Measured from
// CreateProcessW until the screen shows the header colour at (700, 5) of the window's client
// area. Also the size of the built installer. Prints "name: value unit" lines.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr COLORREF kHeader = RGB(27, 32, 43);

struct Search {
  DWORD process;
  HWND found;
};

HWND VisibleWindowOf(DWORD process) {
  Search search = {process, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        Search* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->process || !IsWindowVisible(window)) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Milliseconds from the start of `program` to its first paint, or -1 when none came in 20 s.
double FirstPaint(const std::wstring& program) {
  std::wstring command = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  Clock::time_point begin = Clock::now();
  if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  double took = -1;
  while (Clock::now() - begin < std::chrono::seconds(20)) {
    if (HWND window = VisibleWindowOf(process.dwProcessId)) {
      HDC dc = GetDC(window);
      COLORREF seen = GetPixel(dc, 700, 5);
      ReleaseDC(window, dc);
      if (seen == kHeader) {
        took = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        PostMessageW(window, WM_CLOSE, 0, 0);
        break;
      }
    }
    Sleep(1);  // polling leaves the processor to the program that starts
  }
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return took;
}

void Print(const char* name, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  printf("%s_first_paint_median: %.1f ms\n", name, times.empty() ? 0 : times[times.size() / 2]);
  printf("%s_first_paint_worst: %.1f ms\n", name, times.empty() ? 0 : times.back());
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times.empty() ? 0 : times[times.size() / 2];
}

}  // namespace

int wmain() {
  const std::wstring installer = VORLEN_INSTALLER;
  const std::wstring bare = VORLEN_BARE_WINDOW;
  const int starts = 21;
  std::vector<double> installer_times, bare_times;
  FirstPaint(installer);  // the first start of each also reads the files from disk
  FirstPaint(bare);
  for (int i = 0; i < starts; ++i) {
    double a = FirstPaint(installer);
    double b = FirstPaint(bare);
    if (a >= 0) installer_times.push_back(a);
    if (b >= 0) bare_times.push_back(b);
  }
  printf("startup_starts: %d starts each\n", starts);
  printf("startup_failed_starts: %d starts\n",
         static_cast<int>(2 * starts - installer_times.size() - bare_times.size()));
  Print("installer", installer_times);
  Print("bare_window", bare_times);
  double bare_median = Median(bare_times);
  printf("installer_to_bare_window_first_paint: %.2f times\n",
         bare_median > 0 ? Median(installer_times) / bare_median : 0);
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (GetFileAttributesExW(installer.c_str(), GetFileExInfoStandard, &data)) {
    printf("installer_size: %lu bytes\n", data.nFileSizeLow);
  }
  fflush(stdout);
  return 0;
}
