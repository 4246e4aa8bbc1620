// Stands in for powershell.exe in the end-to-end tests and the flood benchmark. It is built as
// "powershell.exe" and put beside the programs that run the installer's code: CreateProcessW
// without an application name looks in the starting program's own folder first, so this is
// what the installer starts. What it does comes from a plan file named by VORLEN_DOUBLE_PLAN,
// one command per line:
//   record            write what it was given (command line, arguments, folder, process ids)
//                     to VORLEN_DOUBLE_RECORD, and copy the script named after -File beside it
//                     (the record's path followed by ".ps1")
//   grandchild        start a copy of itself that only sleeps, as the script starts pacman or
//                     the compilers; it shares the output pipe as they do
//   write TEXT        write TEXT to standard output in one write; \n \r \t \\ and \xNN escapes
//   wait NAME         wait until the file NAME exists in the folder VORLEN_DOUBLE_SIGNALS
//   mark NAME         create the file NAME in that folder
//   runner            write the runner vorlen.cmd into the -Dir folder, as the script's last
//                     stage does; running it creates "played.txt" beside it
//   flood COUNT SEED  write COUNT lines of flood_lines.h, in writes of varied size
//   redraw MEGABYTES  write that many megabytes of winget's redraws (spinner, wipe, download bar)
//                     with no line feed, then its last frame, flood::kLastFrame
//   exit CODE         end with CODE (also the end of the plan ends with 0)
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "flood_lines.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[32768];
  DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

[[noreturn]] void GiveUp(int code, const char* why) {
  fprintf(stderr, "powershell double: %s\n", why);
  ExitProcess(code);
}

void Put(const char* bytes, size_t count) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr)) ExitProcess(90);
    bytes += written;
    count -= written;
  }
}

std::string Unescape(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n') {
      bytes += '\n';
    } else if (c == 'r') {
      bytes += '\r';
    } else if (c == 't') {
      bytes += '\t';
    } else if (c == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      bytes += c;
    }
  }
  return bytes;
}

std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments(list, list + count);
  LocalFree(list);
  return arguments;
}

// The value that follows `name` among the arguments, as PowerShell would bind it.
std::wstring After(const wchar_t* name) {
  std::vector<std::wstring> arguments = Arguments();
  for (size_t i = 1; i + 1 < arguments.size(); ++i) {
    if (_wcsicmp(arguments[i].c_str(), name) == 0) return arguments[i + 1];
  }
  return {};
}

DWORD grandchild_pid = 0;

void Record() {
  std::wstring path = Env(L"VORLEN_DOUBLE_RECORD");
  if (path.empty()) GiveUp(91, "VORLEN_DOUBLE_RECORD is not set");
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring text = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L"\n";
  if (grandchild_pid) text += L"grandchild=" + std::to_wstring(grandchild_pid) + L"\n";
  text += L"cwd=" + std::wstring(folder) + L"\n";
  text += L"cmd=" + std::wstring(GetCommandLineW()) + L"\n";
  for (const std::wstring& argument : Arguments()) text += L"arg=" + argument + L"\n";
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  text += L"self=" + std::wstring(self) + L"\n";
  // A handle of the test's, inheritable there: whether it reached this process too.
  std::wstring probe = Env(L"VORLEN_DOUBLE_PROBE");
  if (!probe.empty()) {
    DWORD flags = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoull(probe.c_str(), nullptr, 10)));
    text += std::wstring(L"probe=") + (GetHandleInformation(handle, &flags) ? L"1" : L"0") + L"\n";
  }
  // The copy first and the record last, by rename: a test that sees the record sees it whole.
  std::wstring script = After(L"-File");
  if (!script.empty()) CopyFileW(script.c_str(), (path + L".ps1").c_str(), FALSE);
  std::wstring partial = path + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) GiveUp(92, "cannot write the record");
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) GiveUp(93, "cannot rename the record");
}

void StartGrandchild() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" sleep";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    GiveUp(94, "cannot start the grandchild");
  }
  grandchild_pid = process.dwProcessId;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

std::wstring Signal(const std::string& name) { return Env(L"VORLEN_DOUBLE_SIGNALS") + L"\\" + Widen(name); }

void Wait(const std::string& name) {
  std::wstring path = Signal(name);
  // Long enough for any test step, short enough that a forgotten signal does not hang a run.
  for (int waited = 0; GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 5) {
    if (waited > 60000) GiveUp(95, "no signal");
    Sleep(5);
  }
}

void Mark(const std::string& name) {
  HANDLE file = CreateFileW(Signal(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) GiveUp(96, "cannot mark");
  CloseHandle(file);
}

void WriteRunner() {
  std::wstring folder = After(L"-Dir");
  for (size_t slash = folder.find(L'\\', 3); slash != std::wstring::npos; slash = folder.find(L'\\', slash + 1)) {
    CreateDirectoryW(folder.substr(0, slash).c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring marker = folder + L"\\played.txt";
  std::string body = "@echo off\r\necho played>\"";
  int length = WideCharToMultiByte(CP_ACP, 0, marker.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(length - 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, marker.c_str(), -1, &narrow[0], length, nullptr, nullptr);
  body += narrow + "\"\r\n";
  HANDLE file = CreateFileW((folder + L"\\vorlen.cmd").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) GiveUp(97, "cannot write the runner");
  DWORD written = 0;
  WriteFile(file, body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
  CloseHandle(file);
}

void Flood(int count, uint32_t seed) {
  std::string all;
  all.reserve(static_cast<size_t>(count) * 16);
  for (flood::Lines lines(seed, count); !lines.Done();) all += lines.Next().text;
  // Writes of 1 to 16384 bytes: lines cut at every kind of place, and several lines at once.
  flood::Lines sizes(seed ^ 0x5bd1e995u, 0);
  for (size_t at = 0; at < all.size();) {
    size_t piece = 1 + sizes.Random() % 16384;
    if (piece > all.size() - at) piece = all.size() - at;
    Put(all.data() + at, piece);
    at += piece;
  }
}

void Redraw(unsigned long megabytes) {
  std::string frames;
  for (const char* spinner : {"-", "\\", "|", "/"}) frames += std::string("\r   ") + spinner + " ";
  frames += "\r" + std::string(120, ' ') + "\r";
  for (int filled = 0; filled <= 30; ++filled) {
    frames += "\r  ";
    for (int i = 0; i < 30; ++i) frames += i < filled ? "\xE2\x96\x88" : "\xE2\x96\x92";
    frames += "  " + std::to_string(filled * 3) + ".0 MB / 86.1 MB";
  }
  unsigned long long total = megabytes * 1000000ull;
  for (unsigned long long written = 0; written < total; written += frames.size()) Put(frames.data(), frames.size());
  std::string last = std::string("\r") + flood::kLastFrame;
  Put(last.data(), last.size());
}

void Sleeper() {
  // Far longer than any test waits for it to be ended, short enough not to linger for ever
  // (it may hold the test runner's output open, as it holds the installer's pipe).
  for (int slept = 0; slept < 60000; slept += 50) Sleep(50);
  ExitProcess(0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"sleep") == 0) Sleeper();
  std::wstring plan_path = Env(L"VORLEN_DOUBLE_PLAN");
  if (plan_path.empty()) GiveUp(98, "VORLEN_DOUBLE_PLAN is not set");
  HANDLE file = CreateFileW(plan_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) GiveUp(99, "cannot read the plan");
  std::string plan(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!plan.empty()) ReadFile(file, &plan[0], static_cast<DWORD>(plan.size()), &read, nullptr);
  CloseHandle(file);
  plan.resize(read);

  size_t from = 0;
  while (from < plan.size()) {
    size_t end = plan.find('\n', from);
    if (end == std::string::npos) end = plan.size();
    std::string line = plan.substr(from, end - from);
    from = end + 1;
    size_t space = line.find(' ');
    std::string command = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (command == "record") {
      Record();
    } else if (command == "grandchild") {
      StartGrandchild();
    } else if (command == "write") {
      std::string bytes = Unescape(rest);
      Put(bytes.data(), bytes.size());
    } else if (command == "wait") {
      Wait(rest);
    } else if (command == "mark") {
      Mark(rest);
    } else if (command == "runner") {
      WriteRunner();
    } else if (command == "flood") {
      unsigned long count = 0, seed = 0;
      sscanf(rest.c_str(), "%lu %lu", &count, &seed);
      Flood(static_cast<int>(count), static_cast<uint32_t>(seed));
    } else if (command == "redraw") {
      Redraw(strtoul(rest.c_str(), nullptr, 10));
    } else if (command == "exit") {
      ExitProcess(static_cast<UINT>(strtoul(rest.c_str(), nullptr, 0)));
    } else if (!command.empty()) {
      GiveUp(89, "unknown command in the plan");
    }
  }
  return 0;
}
