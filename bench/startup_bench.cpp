// Start-up to the first paint: the built installer, and beside it a bare window that does
// nothing but paint, each started the same way several times over, in turns; also the bare
// window with the installer's manifest, the share of any program of the same kind. Measured from
// CreateProcessW until the screen shows the header colour at (700, 5) of the window's client
// area. Also the size of the built installer. Prints "name: value unit" lines.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
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

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times.empty() ? 0 : times[times.size() / 2];
}

struct Program {
  const char* name;
  std::wstring path;
  std::vector<double> times;
};

}  // namespace

int wmain() {
  const std::wstring installer = VORLEN_INSTALLER;
  // The installer first: the ratios below are its median over each of the others.
  Program programs[] = {{"installer", installer, {}},
                        {"bare_window", VORLEN_BARE_WINDOW, {}},
                        {"manifest_window", VORLEN_MANIFEST_WINDOW, {}}};
  const int starts = 21;
  for (const Program& program : programs) FirstPaint(program.path);  // the first start also reads the files
  int failed = 0;
  for (int i = 0; i < starts; ++i) {
    for (Program& program : programs) {
      double took = FirstPaint(program.path);
      if (took >= 0) program.times.push_back(took);
      else ++failed;
    }
  }
  printf("startup_starts: %d starts each\n", starts);
  printf("startup_failed_starts: %d starts\n", failed);
  for (const Program& program : programs) {
    double worst = program.times.empty() ? 0 : *std::max_element(program.times.begin(), program.times.end());
    printf("%s_first_paint_median: %.1f ms\n", program.name, Median(program.times));
    printf("%s_first_paint_worst: %.1f ms\n", program.name, worst);
  }
  double installer_median = Median(programs[0].times);
  for (const Program* other = programs + 1; other != std::end(programs); ++other) {
    double median = Median(other->times);
    printf("installer_to_%s_first_paint: %.2f times\n", other->name, median > 0 ? installer_median / median : 0);
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (GetFileAttributesExW(installer.c_str(), GetFileExInfoStandard, &data)) {
    printf("installer_size: %lu bytes\n", data.nFileSizeLow);
  }
  fflush(stdout);
  return 0;
}
