// Real runs: the installer's window starts the script double (powershell.exe beside this
// program, see doubles/powershell_double.cpp) through a real pipe, and is driven only by the
// messages a user's actions send. Most tests make the window in this process, so its state can
// be read directly; the BuiltInstaller tests run a copy of vorlen-setup.exe as the user would.
#include "support.h"

#include <atomic>
#include <functional>
#include <thread>

#include "doubles/flood_lines.h"

namespace {

// The log's text once it has caught up with the output read so far: it takes its steps on a
// timer, behind everything else the window has to do.
std::wstring Logged() {
  PumpUntil([] { return !LogPending(); }, 10000);
  return WindowText(log_edit);
}

// --- Files and folders ------------------------------------------------------------------------

std::wstring root;      // everything the runs write, this program's own
std::wstring local;     // LOCALAPPDATA during the tests

struct TestFolders : ::testing::Environment {
  std::optional<ScopedVariable> tmp, temp, local_app_data;
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    root = FreshFolder(TempPath(L"vorlen-e2e"));
    // A temporary folder and a local application data folder of the tests' own, so that the
    // setup folder and the default install folder are known and nothing else is touched.
    std::wstring temp_folder = FreshFolder(root + L"\\temp");
    tmp.emplace(L"TMP", temp_folder);
    temp.emplace(L"TEMP", temp_folder);
    local = FreshFolder(root + L"\\local");
    local_app_data.emplace(L"LOCALAPPDATA", local);
  }
  void TearDown() override {
    tmp.reset();
    temp.reset();
    local_app_data.reset();
    RemoveTree(root);
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new TestFolders);

// --- The double's record ----------------------------------------------------------------------

struct Record {
  bool found = false;
  DWORD pid = 0;
  DWORD grandchild = 0;
  std::wstring cwd;
  std::wstring command;
  std::wstring self;   // the program that ran
  std::wstring probe;  // "1" when the test's inheritable probe handle reached it
  std::vector<std::wstring> arguments;
};

Record ReadRecord(const std::wstring& path) {
  Record record;
  std::string bytes = ReadBytes(path);
  if (bytes == "<missing>") return record;
  record.found = true;
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  size_t from = 0;
  for (size_t end; (end = text.find(L'\n', from)) != std::wstring::npos; from = end + 1) {
    std::wstring field = text.substr(from, end - from);
    size_t equals = field.find(L'=');
    std::wstring name = field.substr(0, equals);
    std::wstring value = field.substr(equals + 1);
    if (name == L"pid") record.pid = wcstoul(value.c_str(), nullptr, 10);
    if (name == L"grandchild") record.grandchild = wcstoul(value.c_str(), nullptr, 10);
    if (name == L"cwd") record.cwd = value;
    if (name == L"cmd") record.command = value;
    if (name == L"arg") record.arguments.push_back(value);
    if (name == L"self") record.self = value;
    if (name == L"probe") record.probe = value;
  }
  return record;
}

std::vector<std::wstring> ExpectedArguments(const std::wstring& nup, const std::wstring& dir, bool dlss) {
  std::vector<std::wstring> arguments = {L"powershell.exe", L"-NoProfile", L"-NonInteractive",
                                         L"-ExecutionPolicy", L"Bypass", L"-File",
                                         SetupFolder() + L"\\install.ps1", L"-Nup", nup, L"-Dir", dir};
  if (dlss) arguments.push_back(L"-Dlss");
  return arguments;
}

// --- The window in this process ---------------------------------------------------------------

std::atomic<int> end_posts{0};

// Posting as the installer does; counting the end messages tells when a run's reader is done
// with the window handle (it reads the shared `window`, which the next test's window replaces).
// Counted before the post: the window thread may handle the message before this thread would
// get to count it afterwards. A post that failed counts too once the window is gone (the reader
// gives up then), but not while the window still exists (the reader will post again).
BOOL WINAPI CountingPost(HWND to, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kEndMessage) ++end_posts;
  BOOL posted = PostMessageW(to, message, wparam, lparam);
  if (!posted && message == kEndMessage && IsWindow(to)) --end_posts;
  return posted;
}

const wchar_t* const kGame = L"C:\\Games\\Zelda [v1.0] (EU).nup";

struct RunTest : ::testing::Test {
  std::wstring folder;  // this run's plan, record and signals
  int runs = 0;         // runs started in this test
  std::optional<ScopedVariable> plan_variable, record_variable, signals_variable;

  void SetUp() override {
    end_posts = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) c = isalnum(static_cast<unsigned char>(c)) ? c : '-';
    folder = FreshFolder(root + L"\\" + std::wstring(name.begin(), name.end()));
    plan_variable.emplace(L"VORLEN_DOUBLE_PLAN", folder + L"\\plan.txt");
    record_variable.emplace(L"VORLEN_DOUBLE_RECORD", folder + L"\\record.txt");
    signals_variable.emplace(L"VORLEN_DOUBLE_SIGNALS", folder);
    Fresh();
    ASSERT_TRUE(IsWindow(window));
  }

  // A new window on the state a new start has, as after the installer's process begins again.
  void Fresh() {
    DropMessages();
    ResetState();
    tick_source = GetTickCount;
    post_message = CountingPost;
    powershell_path = PowerShellDouble;
    MakeWindow();
  }

  void TearDown() override {
    // A test that failed half-way may leave its script waiting: end it as the window would.
    if (child && IsWindow(window)) {
      if (job) TerminateJobObject(job, 1);
      PumpUntil([] { return child == nullptr; }, 20000);
    }
    if (IsWindow(window)) DestroyWindow(window);
    // Every reader must have made its last post before the next test's window appears.
    EXPECT_TRUE(WaitFor([this] { return end_posts >= runs; }, 20000)) << "a reader is still running";
    ForgetRun();
    DropMessages();
    ResetState();
  }

  // What a run closed by "Yes" leaves (the process ends then): ended and let go here.
  void ForgetRun() {
    if (job) TerminateJobObject(job, 1);
    if (script_wait) UnregisterWaitEx(script_wait, INVALID_HANDLE_VALUE);
    script_wait = nullptr;
    if (child) CloseHandle(child);
    child = nullptr;
    if (job) CloseHandle(job);
    job = nullptr;
  }

  void Use(const Plan& plan) { WriteBytes(folder + L"\\plan.txt", plan.text); }
  void Signal(const char* name) { WriteBytes(folder + L"\\" + std::wstring(name, name + strlen(name)), ""); }
  Record Recorded() { return ReadRecord(folder + L"\\record.txt"); }

  // Install, and the checks that hold right after every start.
  void Install() {
    Press(install_button);
    ASSERT_NE(child, nullptr) << "the script did not start";
    ++runs;
    EXPECT_EQ(page, Installing);
    EXPECT_EQ(WindowText(close_button), L"Cancel");
  }

  bool RunEnds(DWORD limit_ms = 30000) { return PumpUntil([] { return child == nullptr; }, limit_ms); }

  // Cancel pressed, or the title bar's close.
  void AskToStop(bool by_cancel) {
    if (by_cancel) Press(close_button);
    else SendMessageW(window, WM_CLOSE, 0, 0);
  }
};

// --- Arguments and the script file -----------------------------------------------------------

struct TypedCase {
  const wchar_t* game_typed;
  const wchar_t* folder_typed;
  bool dlss;
  std::wstring nup;  // what the script must get
  std::wstring dir;
};

std::wstring CurrentFolder() {
  wchar_t current[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
  if (length > 3 && current[length - 1] == L'\\') --length;
  return std::wstring(current, length);
}

TEST_F(RunTest, ChoicesReachTheScriptExactlyAsTyped) {
  const std::wstring fallback = local + L"\\vorlen";
  const TypedCase cases[] = {
      {L"  \"C:\\Games\\Zelda [v1.0] (EU).nup\"  ", L"C:\\Games\\", false, kGame, L"C:\\Games\\"},
      {kGame, L"\"C:\\My Games\\Vorlen\\\\\\\"", true, kGame, L"C:\\My Games\\Vorlen\\\\\\"},
      {L"C:\\dumps\\game (1).nup", L"  C:\\Program Files\\Vorlen  ", true, L"C:\\dumps\\game (1).nup",
       L"C:\\Program Files\\Vorlen"},
      {kGame, L"", false, kGame, fallback},
      {kGame, L"   ", true, kGame, fallback},
      // A relative name is passed as the file it names from the installer's current folder.
      {L"dumps\\..\\game.nup", L"", false, CurrentFolder() + L"\\game.nup", fallback},
  };
  Use(Plan().Do("record").Do("exit 0"));
  for (const TypedCase& c : cases) {
    SCOPED_TRACE(Narrow(c.folder_typed));
    DeleteFileW((folder + L"\\record.txt").c_str());
    DeleteFileW((folder + L"\\record.txt.ps1").c_str());
    Type(game_edit, c.game_typed);
    Type(folder_edit, c.folder_typed);
    SendMessageW(dlss_check, BM_SETCHECK, c.dlss ? BST_CHECKED : BST_UNCHECKED, 0);
    Install();
    EXPECT_EQ(install_dir, c.dir);
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(page, Finished);

    Record record = Recorded();
    ASSERT_TRUE(record.found);
    EXPECT_EQ(record.arguments, ExpectedArguments(c.nup, c.dir, c.dlss));
    EXPECT_EQ(record.cwd, SetupFolder());
    std::string script(kInstallScript, kInstallScriptSize);
    EXPECT_TRUE(ReadBytes(SetupFolder() + L"\\install.ps1") == script) << "install.ps1 differs from the script";
    EXPECT_TRUE(ReadBytes(folder + L"\\record.txt.ps1") == script) << "the script given by -File differs";
    EXPECT_TRUE(ReadBytes(SetupFolder() + L"\\uninstall.ps1") == std::string(kUninstallScript, kUninstallScriptSize))
        << "the uninstaller is not beside the script, where it copies it from";
    Press(back_button);  // not on this page, but the command works anywhere: back to a fresh start
  }
}

TEST_F(RunTest, CommandLineIsTheOneWindowsPowerShellExpects) {
  Use(Plan().Do("record").Do("exit 0"));
  Type(game_edit, kGame);
  Type(folder_edit, L"C:\\Games\\");
  SendMessageW(dlss_check, BM_SETCHECK, BST_CHECKED, 0);
  Install();
  ASSERT_TRUE(RunEnds());
  EXPECT_EQ(Recorded().command, L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" +
                                    SetupFolder() + L"\\install.ps1\" -Nup \"" + kGame +
                                    L"\" -Dir \"C:\\Games\\\\\" -Dlss");
}

// --- Output, pieces and the end of a run ------------------------------------------------------

TEST_F(RunTest, OutputInPiecesReachesTheInterpreterLineByLine) {
  std::wstring greeting = L"Gr\u00fc\u00dfe aus Z\u00fcrich";
  char unused = 0;
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_OEMCP, 0, greeting.c_str(), -1, &unused, 0, nullptr, &lossy);
  std::string oem(length - 1, '\0');
  WideCharToMultiByte(CP_OEMCP, 0, greeting.c_str(), -1, &oem[0], length, nullptr, &lossy);
  ASSERT_FALSE(lossy) << "the OEM code page cannot write the sample";
  ASSERT_NE(oem, Narrow(greeting)) << "the sample must have bytes that differ from UTF-8";

  Use(Plan()
          .Write("@step msys\n[Vorlen] hal")
          .Do("wait a")
          .Write("lo\n@step pack")
          .Do("wait b")
          .Write("ages\r\n[Vorlen] one\n[Vorlen] two\r\n@progress 40 Fetching\n")
          .Do("wait c")
          .Write("[Vorlen] " + oem + "\n@step compile\n[12/345] Building CXX object a/z_actor.cpp.obj\n")
          .Do("wait d")
          .Write("[Vorlen] last words")
          .Do("exit 0"));
  Type(game_edit, kGame);
  Install();
  // The progress band's timer ticks while the script runs.
  progress_ticks = 0;
  EXPECT_TRUE(PumpUntil([] { return progress_ticks > 0; }, 5000));

  // Half a line waits for its line feed, unread; the step before it has started.
  ASSERT_TRUE(PumpUntil([] { return current == 0; }));
  EXPECT_EQ(doing, L"Starting...");
  EXPECT_EQ(Logged(), L"");
  // The log is shown and hidden on request while the run goes on.
  Press(details_button);
  EXPECT_TRUE(details);
  EXPECT_TRUE(Showing(log_edit));
  EXPECT_EQ(WindowText(details_button), L"Hide details");
  Press(details_button);
  EXPECT_FALSE(Showing(log_edit));
  EXPECT_EQ(WindowText(details_button), L"Show details");
  Signal("a");

  ASSERT_TRUE(PumpUntil([] { return doing == L"hallo"; }));
  EXPECT_EQ(Logged(), L"[Vorlen] hallo\r\n");
  EXPECT_EQ(current, 0);
  Signal("b");

  ASSERT_TRUE(PumpUntil([] { return doing == L"Fetching"; }));
  EXPECT_EQ(current, 1);
  EXPECT_DOUBLE_EQ(fraction, 0.4);
  EXPECT_EQ(steps[0].state, Done);
  EXPECT_EQ(Logged(), L"[Vorlen] hallo\r\n[Vorlen] one\r\n[Vorlen] two\r\n");
  EXPECT_EQ(pending_line, L"");
  Signal("c");

  // Bytes of the OEM code page come out as the characters they stand for.
  ASSERT_TRUE(PumpUntil([] { return current == 7 && fraction > 0; }));
  EXPECT_DOUBLE_EQ(fraction, 12.0 / 345);
  EXPECT_EQ(Logged(), L"[Vorlen] hallo\r\n[Vorlen] one\r\n[Vorlen] two\r\n[Vorlen] " + greeting +
                           L"\r\n[12/345] Building CXX object a/z_actor.cpp.obj\r\n")
      << Narrow(Logged());
  Signal("d");

  // The last line has no line feed: it is read when the process ends, before the page changes.
  ASSERT_TRUE(RunEnds());
  EXPECT_EQ(page, Finished);
  EXPECT_EQ(doing, L"last words");
  EXPECT_EQ(pending_line, L"");
  EXPECT_EQ(Logged(), L"[Vorlen] hallo\r\n[Vorlen] one\r\n[Vorlen] two\r\n[Vorlen] " + greeting +
                           L"\r\n[12/345] Building CXX object a/z_actor.cpp.obj\r\n[Vorlen] last words\r\n");
  for (const InstallStep& step : steps) EXPECT_EQ(step.state, Done) << Narrow(step.key);
  EXPECT_EQ(current, -1);
  EXPECT_FALSE(KillTimer(window, kProgressTimer)) << "the progress timer is still running";
  EXPECT_EQ(WindowText(close_button), L"Close");
  EXPECT_TRUE(Showing(play_button));
  EXPECT_TRUE(Showing(folder_button));
}

struct FailedRunCase {
  const char* name;
  std::string output;
  const char* exit_code;
  int failed;  // the step that must be marked Failed, -1 for none
  std::wstring failure;
};

TEST_F(RunTest, FailedRunShowsTheStoppedPageWithTheLog) {
  const FailedRunCase cases[] = {
      {"before any step", "[Vorlen] error: no network\n", "1", -1, L"no network"},
      {"during compile",
       "@step msys\n@step packages\n@step source\n@step tools\n@step check\n@step translate\n@step compile\n"
       "[3/9] Building CXX object z_en.cpp.obj\n[build] error: z_en.cpp: boom\n",
       "2", 7, L"z_en.cpp: boom"},
      {"crash during runtime", "@step runtime\n[Vorlen] building", "0xC0000005", 8, L""},
      // A NUL in one 4 KB piece of output loses nothing of what follows it.
      {"NUL in the second line",
       "@step msys\n[Vorlen] installing MSYS2 (bui" + std::string(1, '\0') + "ld tools)\n@step packages\n@step source\n"
       "@step tools\n@step check\n@step translate\n@step compile\n[build] error: out of memory\n" +
           std::string(3800, '.') + "\n",
       "1", 7, L"out of memory"},
  };
  for (const FailedRunCase& c : cases) {
    SCOPED_TRACE(c.name);
    Use(Plan().Write(c.output).Do(std::string("exit ") + c.exit_code));
    Type(game_edit, kGame);
    Type(folder_edit, L"C:\\Games\\Vorlen");
    Install();
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(page, Stopped);
    EXPECT_TRUE(details);
    EXPECT_TRUE(Showing(log_edit));
    EXPECT_TRUE(Showing(back_button));
    EXPECT_EQ(failure, c.failure);
    for (int i = 0; i < kStepCount; ++i) {
      int expected = i == c.failed ? Failed : c.failed < 0 || i > c.failed ? Pending : Done;
      EXPECT_EQ(steps[i].state, expected) << Narrow(steps[i].key);
    }
    EXPECT_FALSE(Logged().empty());

    // Back keeps the choices for the next attempt.
    Press(back_button);
    EXPECT_EQ(page, Choices);
    EXPECT_EQ(WindowText(game_edit), kGame);
    EXPECT_EQ(WindowText(folder_edit), L"C:\\Games\\Vorlen");
    EXPECT_TRUE(Showing(install_button));
  }
}

DWORD stepping_tick = 0;
DWORD WINAPI SteppingTick() { return stepping_tick += 1000; }

TEST_F(RunTest, SecondInstallStartsFromAFreshModelAndPipe) {
  tick_source = SteppingTick;  // so that a finished step has a time of its own to forget
  Use(Plan().Write("@step msys\n@step compile\n[5/10] x\n[build] error: first\npartial").Do("record").Do("exit 1"));
  Type(game_edit, kGame);
  Install();
  ASSERT_TRUE(RunEnds());
  ASSERT_EQ(page, Stopped);
  // What the first run leaves behind, for the second to clear.
  ASSERT_GT(steps[0].elapsed, 0u);
  ASSERT_EQ(steps[7].state, Failed);
  ASSERT_EQ(current, 7);
  ASSERT_EQ(fraction, 0.5);
  ASSERT_EQ(failure, L"first");
  ASSERT_EQ(doing, L"error: first");
  ASSERT_EQ(Logged(), L"[5/10] x\r\n[build] error: first\r\npartial\r\n");
  DWORD first_pid = Recorded().pid;
  Press(back_button);

  Use(Plan().Do("wait go").Do("record").Write("@step source\n[Vorlen] second run\n").Do("exit 0"));
  Install();
  // Nothing of the first run is left, before any output of the second.
  for (const InstallStep& step : steps) {
    EXPECT_EQ(step.state, Pending);
    EXPECT_EQ(step.elapsed, 0u);
  }
  EXPECT_EQ(current, -1);
  EXPECT_EQ(fraction, 0);
  EXPECT_EQ(failure, L"");
  EXPECT_EQ(doing, L"Starting...");
  EXPECT_EQ(Logged(), L"");
  Signal("go");
  ASSERT_TRUE(RunEnds());
  EXPECT_EQ(page, Finished);
  EXPECT_EQ(Logged(), L"[Vorlen] second run\r\n");
  EXPECT_NE(Recorded().pid, first_pid);
  EXPECT_EQ(end_posts, 2);
}

// --- Closing during a run ---------------------------------------------------------------------

const wchar_t* const kStopQuestion =
    L"Stop the installation?\n\nWhat is built so far is kept: installing again carries on from there.";

struct CloseCase {
  const char* name;
  bool by_cancel;  // the Cancel button; otherwise the title bar's close (WM_CLOSE)
};

const CloseCase kCloseCases[] = {{"Cancel button", true}, {"title bar", false}};

TEST_F(RunTest, StopQuestionAnsweredNoLetsTheRunGoOn) {
  Use(Plan()
          .Write("@step msys\n")
          .Do("wait asked1")
          .Write("[Vorlen] while asked once\n@step packages\n")
          .Do("wait asked2")
          .Write("[Vorlen] while asked twice\n@step source\n")
          .Do("wait go")
          .Write("[Vorlen] after the answers\n")
          .Do("exit 0"));
  Type(game_edit, kGame);
  Install();
  ASSERT_TRUE(PumpUntil([] { return current == 0; }));
  HWND log = log_edit;
  int round = 0;
  for (const CloseCase& c : kCloseCases) {
    SCOPED_TRACE(c.name);
    ++round;
    std::string signal = "asked" + std::to_string(round);
    std::wstring expected_line = round == 1 ? L"while asked once" : L"while asked twice";
    bool arrived = false;
    // While the question is open, the script writes more and the window takes it in.
    bool second_close_answered = false;
    Answerer answerer(window, IDNO, [&] {
      Signal(signal.c_str());
      arrived = WaitFor([&] { return WindowText(log).find(expected_line) != std::wstring::npos; });
      // Closing again while the question is open asks nothing more: a second question would
      // keep this close waiting until it was answered.
      DWORD_PTR result = 0;
      second_close_answered = SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
      // A second question, if there is one, is answered too, so that the test can go on.
      for (int tries = 0; !second_close_answered && tries < 2; ++tries) {
        HWND extra = FindBox(window);
        if (extra) SendMessageTimeoutW(GetDlgItem(extra, IDNO), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result);
      }
    });
    AskToStop(c.by_cancel);
    SeenBox box = answerer.Stop();
    ASSERT_TRUE(box.seen) << "no stop question";
    EXPECT_EQ(box.caption, L"Vorlen");
    EXPECT_EQ(box.text, kStopQuestion);
    EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_QUESTION));
    EXPECT_EQ(box.default_id, IDNO) << "Enter must not throw the build away";
    EXPECT_TRUE(second_close_answered) << "a second close opened a second question";
    EXPECT_TRUE(arrived) << "output stopped arriving while the question was open";
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(page, Installing);
    EXPECT_NE(child, nullptr);
    EXPECT_EQ(current, round);
  }
  Signal("go");
  ASSERT_TRUE(RunEnds());
  EXPECT_EQ(page, Finished);
  EXPECT_NE(Logged().find(L"after the answers"), std::wstring::npos);
}

bool StillRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// A tool the script started may outlive it and still hold the output pipe (a daemon such as
// MSYS2's gpg-agent): the run ends with the script all the same, and the tool with it.
TEST_F(RunTest, RunEndsWithTheScriptWhateverItLeftRunning) {
  struct Case {
    const char* exit_code;
    Page page;
  } cases[] = {{"0", Finished}, {"3", Stopped}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exit_code);
    DeleteFileW((folder + L"\\record.txt").c_str());
    Use(Plan().Do("grandchild").Do("record").Write("@step msys\n[Vorlen] left behind\n").Do(
        std::string("exit ") + c.exit_code));
    Type(game_edit, kGame);
    Install();
    ASSERT_TRUE(RunEnds(15000)) << "the run waits for the script's leftover";
    EXPECT_EQ(page, c.page);
    EXPECT_EQ(doing, L"left behind");
    ASSERT_NE(Recorded().grandchild, 0u);
    HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, Recorded().grandchild);
    if (grandchild) {  // else it is gone already
      EXPECT_EQ(WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0) << "the leftover still runs";
      CloseHandle(grandchild);
    }
    Press(back_button);
  }
}

BOOL WINAPI NoJobToBeHad(HANDLE, HANDLE) {
  SetLastError(ERROR_ACCESS_DENIED);  // as inside an outer job that allows no breakaway
  return FALSE;
}

TEST_F(RunTest, StopQuestionAnsweredYesEndsTheScriptAndWhatItStarted) {
  struct Case {
    const char* name;
    bool by_cancel;
    bool job;  // whether the script could be put into a job
  } cases[] = {{"Cancel button", true, true}, {"title bar", false, true}, {"without a job", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!IsWindow(window)) {
      // The case before closed its window; this one needs a fresh one, as a new start would.
      EXPECT_TRUE(WaitFor([this] { return end_posts >= runs; }, 20000));
      ForgetRun();
      Fresh();
    }
    if (!c.job) assign_to_job = NoJobToBeHad;
    DeleteFileW((folder + L"\\record.txt").c_str());
    // Without a job only the script itself can be ended, so it starts nothing of its own here.
    Use(Plan().Do(c.job ? "grandchild" : "").Do("record").Write("@step msys\n[Vorlen] working\n").Do("wait never"));
    Type(game_edit, kGame);
    Install();
    EXPECT_EQ(job != nullptr, c.job);
    ASSERT_TRUE(PumpUntil([this] { return Recorded().found && doing == L"working"; }));
    Record record = Recorded();
    HANDLE script = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, record.pid);
    ASSERT_NE(script, nullptr);
    EXPECT_TRUE(StillRunning(script));
    HANDLE grandchild = nullptr;
    if (c.job) {
      grandchild = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, record.grandchild);
      ASSERT_NE(grandchild, nullptr);
      EXPECT_TRUE(StillRunning(grandchild));
    }

    Answerer answerer(window, IDYES);
    AskToStop(c.by_cancel);
    SeenBox box = answerer.Stop();
    EXPECT_TRUE(box.seen);
    EXPECT_EQ(box.text, kStopQuestion);
    // The window closes at once, without the stopped page.
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(page, Installing);
    EXPECT_EQ(WaitForSingleObject(script, 10000), WAIT_OBJECT_0) << "the script still runs";
    DWORD code = 0;
    GetExitCodeProcess(script, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(script);
    if (grandchild) {
      EXPECT_EQ(WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0) << "what the script started still runs";
      CloseHandle(grandchild);
    }
  }
}

TEST_F(RunTest, CloseWithoutARunClosesAtOnce) {
  for (Page on : {Choices, Finished, Stopped}) {
    if (!IsWindow(window)) Fresh();
    Show(on);
    Answerer guard(window, IDNO);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window)) << "page " << on;
    EXPECT_FALSE(guard.Stop().seen) << "page " << on;
    // The message loop is told to end, with 0 for wWinMain to return.
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "page " << on;
    EXPECT_EQ(quit.wParam, 0u);
  }
}

// --- The keyboard -----------------------------------------------------------------------------

// A key pressed and let go on the real keyboard, as the system delivers it to the focus.
void Key(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

// Enter presses the page's main button (never starting or stopping a run on the installing
// page), Esc does what Close / Cancel does, and each page change puts the focus on the page's
// main button, or on "Show details" while a script runs.
TEST_F(RunTest, EnterAndEscFollowThePage) {
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  ASSERT_TRUE(PumpUntil([] { return GetForegroundWindow() == window; }, 5000));
  Use(Plan().Write("@step msys\n").Do("wait go").Write("[build] error: stopped\n").Do("exit 1"));
  Type(game_edit, kGame);
  ASSERT_TRUE(PumpUntil(Answered, 10000));
  Show(Choices);
  EXPECT_EQ(GetFocus(), game_edit) << "Install cannot be pressed yet";
  EnableWindow(install_button, TRUE);  // as when the game file is found
  Show(Choices);
  EXPECT_EQ(GetFocus(), install_button);
  Key(VK_RETURN);
  ASSERT_TRUE(PumpUntil([] { return child != nullptr; }, 10000)) << "Enter did not press Install";
  ++runs;
  EXPECT_EQ(page, Installing);
  EXPECT_EQ(GetFocus(), details_button);
  {
    // Esc asks the stop question; its default answer keeps the run going.
    Answerer no(window, IDNO);
    Key(VK_ESCAPE);
    ASSERT_TRUE(PumpUntil([&] { return no.Done(); }, 10000)) << "Esc asked nothing";
    SeenBox box = no.Stop();
    EXPECT_EQ(box.text, kStopQuestion);
    EXPECT_EQ(box.default_id, IDNO);
  }
  EXPECT_NE(child, nullptr);
  // Enter and Space press the focused "Show details", and nothing else.
  Key(VK_RETURN);
  EXPECT_TRUE(PumpUntil([] { return details; }, 10000)) << "Enter did not press the focused button";
  Key(VK_SPACE);
  EXPECT_TRUE(PumpUntil([] { return !details; }, 10000)) << "Space did not press the focused button";
  EXPECT_NE(child, nullptr);
  Signal("go");
  ASSERT_TRUE(RunEnds());
  ASSERT_EQ(page, Stopped);
  EXPECT_EQ(GetFocus(), back_button);
  // Back to choices that pass: Install takes the keyboard once the answers are in.
  Scoped<decltype(file_attributes)> large(file_attributes, GameFiles);
  Key(VK_RETURN);
  ASSERT_TRUE(PumpUntil([] { return page == Choices; }, 10000)) << "Enter did not press Back";
  EXPECT_TRUE(PumpUntil([] { return GetFocus() == install_button; }, 10000)) << "Install did not take the keyboard";
  // Space ticks the focused DLSS box; Tab goes on to Close, past the hidden buttons; Enter
  // presses the focused Close, not the page's Install.
  SetFocus(dlss_check);
  Key(VK_SPACE);
  EXPECT_TRUE(PumpUntil([] { return SendMessageW(dlss_check, BM_GETCHECK, 0, 0) == BST_CHECKED; }, 10000));
  Key(VK_TAB);
  EXPECT_TRUE(PumpUntil([] { return GetFocus() == close_button; }, 10000));
  Key(VK_RETURN);
  EXPECT_TRUE(PumpUntil([] { return !IsWindow(window); }, 10000)) << "Enter did not press the focused Close";
}

// The log, once Tab reaches it, leaves the keyboard's keys to the window as any control does
// (Tab goes on, Enter presses the page's main button, Esc closes) and keeps its place in the
// text; Ctrl+A selects all of it.
TEST_F(RunTest, LogTakesTabEnterEscAndCtrlAAsEveryControlDoes) {
  auto key = [](HWND to, WPARAM which) {
    MSG message = {to, WM_KEYDOWN, which, 0, static_cast<DWORD>(GetMessageTime()), {}};
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  };
  BYTE keys[256] = {};
  for (WPARAM pressed : {static_cast<WPARAM>(VK_TAB), static_cast<WPARAM>(VK_RETURN), static_cast<WPARAM>(VK_ESCAPE)}) {
    if (IsWindow(window)) DestroyWindow(window);
    MakeWindow(880, 740);
    // Enter presses only a button that shows (Back), so this window shows: a test of the screen.
    if (pressed == VK_RETURN) ShowWindow(window, SW_SHOWNA);
    Show(Stopped);
    SetWindowTextW(log_edit, L"one\r\ntwo\r\nthree\r\n");
    SendMessageW(log_edit, EM_SETSEL, 5, 5);
    SetFocus(close_button);
    key(close_button, VK_TAB);  // round to the first control: the log
    ASSERT_EQ(GetFocus(), log_edit);
    DWORD from = 0, to = 0;
    SendMessageW(log_edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 5u) << "Tab keeps the log where it was";
    EXPECT_EQ(to, 5u);
    key(log_edit, pressed);
    if (pressed == VK_TAB) {
      EXPECT_EQ(GetFocus(), details_button);
    } else if (pressed == VK_RETURN) {
      EXPECT_EQ(page, Choices) << "Back pressed";
    } else {
      EXPECT_FALSE(IsWindow(window)) << "closed";
    }
    if (IsWindow(window)) DestroyWindow(window);
  }
  if (IsWindow(window)) DestroyWindow(window);
  MakeWindow(880, 740);
  Show(Stopped);
  SetWindowTextW(log_edit, L"one\r\ntwo\r\n");
  SetFocus(log_edit);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  key(log_edit, 'A');
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  DWORD from = 9, to = 0;
  SendMessageW(log_edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 10u);
}

// Output that comes while a key waits is only gathered, so that the key, which waits behind
// every posted message, is not kept there by a flood; it is read afterwards, in order, and the
// script's end comes after it.
TEST_F(RunTest, KeysGoBeforeOutputThatCameAfterThem) {
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  ASSERT_TRUE(PumpUntil([] { return GetForegroundWindow() == window; }, 5000));
  Show(Installing);
  Key(VK_F24);  // a key the installer does nothing with
  ASSERT_TRUE(WaitFor([] { return HIWORD(GetQueueStatus(QS_KEY)) != 0; }, 5000));
  DeliverText(L"@step msys\n");
  SendMessageW(window, kOutputMessage, 0, 0);
  EXPECT_EQ(current, -1) << "output was read ahead of the key";
  HandOver(handed_ends, DWORD(1), kEndMessage);
  SendMessageW(window, kEndMessage, 0, 0);
  EXPECT_EQ(page, Installing) << "the end came before the output";
  ASSERT_TRUE(PumpUntil([] { return page == Stopped; }, 10000));
  EXPECT_EQ(HIWORD(GetQueueStatus(QS_KEY)), 0);
  EXPECT_EQ(current, 0);
  EXPECT_EQ(steps[0].state, Failed);
  EXPECT_EQ(Logged(), L"");
}

// A failed build's log opens at the failed step's first error, not at its end, where Ninja's
// lines of the jobs that were still running push the compiler's error out of view. An error
// of an earlier step does not count.
TEST_F(RunTest, StoppedPageOpensTheLogAtTheFailedStepsFirstError) {
  Show(Installing);
  std::wstring output = L"@step packages\nerror: failed retrieving file 'x.db'\n@step compile\n";
  auto jobs = [&](int from, int to) {
    for (int i = from; i <= to; ++i) output += L"[" + std::to_wstring(i) + L"/900] Building CXX object x.cpp.obj\n";
  };
  jobs(1, 300);
  output += L"FAILED: src/z_actor.cpp.obj\nsrc/z_actor.cpp:12:3: error: unknown type name 'u9'\n";
  jobs(301, 600);
  output += L"ninja: build stopped: subcommand failed.\n";
  DeliverText(output);
  HandOver(handed_ends, DWORD(1), kEndMessage);
  ASSERT_TRUE(PumpUntil([] { return page == Stopped && !LogPending() && !error_view_waits; }, 20000));
  LRESULT top = SendMessageW(log_edit, EM_GETFIRSTVISIBLELINE, 0, 0);
  wchar_t text[80] = {};
  *reinterpret_cast<WORD*>(text) = 79;
  text[SendMessageW(log_edit, EM_GETLINE, top, reinterpret_cast<LPARAM>(text))] = 0;
  EXPECT_EQ(std::wstring(text), L"FAILED: src/z_actor.cpp.obj");
}

// --- The transcript, the report and the log file ---------------------------------------------

// What a page shows of a run that has ended, once the log has taken everything and opened at
// the first error.
struct Ended {
  Page page;
  std::vector<int> states;
  std::wstring failure;
  std::wstring log;
  DWORD selection;
};

Ended ShownNow() {
  EXPECT_TRUE(PumpUntil([] { return !LogPending() && !error_view_waits; }, 20000));
  Ended shown = {page, {}, failure, WindowText(log_edit), 0};
  for (const InstallStep& step : steps) shown.states.push_back(step.state);
  shown.selection = static_cast<DWORD>(SendMessageW(log_edit, EM_GETSEL, 0, 0));
  return shown;
}

// The run's transcript is whole once its writer is done.
bool TranscriptWritten() { return transcript_writer && WaitForSingleObject(transcript_writer, 20000) == WAIT_OBJECT_0; }

std::vector<std::wstring> Transcripts() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((SetupFolder() + L"\\transcript-*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return names;
  do names.push_back(entry.cFileName);
  while (FindNextFileW(listing, &entry));
  FindClose(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// Every run leaves a transcript that, replayed, shows the page, steps, failure and log the run
// showed; the newest five stay.
TEST_F(RunTest, TranscriptReplaysAsTheRunShowedIt) {
  char acute = 0;
  ASSERT_EQ(WideCharToMultiByte(CP_OEMCP, 0, L"\u00e9", 1, &acute, 1, nullptr, nullptr), 1);
  const std::string compile = "@step msys\n@step packages\n@step source\n@step tools\n@step check\n@step translate\n"
                              "@step compile\n";
  const struct {
    const char* name;
    std::string output;
    const char* exit_code;
  } cases[] = {
      {"finished", compile + "[1/2] Building CXX object src/a.cpp.obj\n[2/2] Linking\n@step runtime\n@step shortcuts\n"
                   "@step done\n", "0"},
      {"stopped while compiling",
       compile + "[3/9] Building CXX object src/z_en.cpp.obj\nFAILED: src/z_en.cpp.obj\n"
                 "src/z_en.cpp:1:2: error: boom\n[4/9] Building CXX object src/z_fr.cpp.obj\n[build] error: compile failed\n",
       "1"},
      {"stopped by a package error",
       "@step msys\n@step packages\n[Vorlen] installing packages ...\nerror: failed retrieving file 'x.pkg.tar.zst'\n"
       "[Vorlen] error: pacman could not download the build tools\n", "0xC0000005"},
      {"redraws, UTF-8 beside OEM, a last line without its line feed",
       "@step packages\n  10% [#     ]\r  50% [###   ]\r 100% [######]\r\ncaf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x8E\xAE\r\ncaf" +
           std::string(1, acute) + "\nno line feed at the end",
       "0"},
  };
  // Six transcripts of runs long ago, of which only the newest may stay beside four new ones.
  CreateDirectoryW(SetupFolder().c_str(), nullptr);
  for (const std::wstring& name : Transcripts()) DeleteFileW((SetupFolder() + L"\\" + name).c_str());
  for (int i = 0; i < 6; ++i) WriteBytes(SetupFolder() + L"\\transcript-20000101-00000" + std::to_wstring(i) + L".txt", "");
  std::vector<std::wstring> made;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Use(Plan().Write(c.output).Do(std::string("exit ") + c.exit_code));
    Type(game_edit, kGame);
    Install();
    ASSERT_TRUE(RunEnds());
    Ended run = ShownNow();
    ASSERT_TRUE(TranscriptWritten());
    std::wstring transcript = transcript_path;
    made.push_back(transcript.substr(transcript.find_last_of(L'\\') + 1));
    std::string bytes = ReadBytes(transcript);
    EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    std::string last = "@exit " + std::to_string(strtoul(c.exit_code, nullptr, 0)) + "\r\n";
    EXPECT_EQ(bytes.substr(bytes.size() - last.size()), last);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' || bytes[i] == '\n') {
        ASSERT_TRUE(bytes[i] == '\r' && bytes[i + 1] == '\n') << "a line that does not end in CR LF, at " << i;
        ++i;
      }
    }

    DestroyWindow(window);
    Fresh();
    ScopedVariable replay(L"VORLEN_SETUP_REPLAY", transcript);
    std::vector<std::wstring> before = Transcripts();
    Replay();
    Ended replayed = ShownNow();
    EXPECT_EQ(replayed.page, run.page);
    EXPECT_EQ(replayed.states, run.states);
    EXPECT_EQ(Narrow(replayed.failure), Narrow(run.failure));
    EXPECT_TRUE(replayed.log == run.log) << Narrow(replayed.log.substr(0, 2000)) << "\n---\n"
                                         << Narrow(run.log.substr(0, 2000));
    EXPECT_EQ(replayed.selection, run.selection);
    EXPECT_EQ(transcript_path, transcript);
    EXPECT_EQ(Transcripts(), before) << "a replay writes no transcript";
    DestroyWindow(window);
    Fresh();
  }
  std::vector<std::wstring> kept = {L"transcript-20000101-000005.txt"};
  kept.insert(kept.end(), made.begin(), made.end());
  std::sort(kept.begin(), kept.end());
  std::vector<std::wstring> left = Transcripts();
  EXPECT_EQ(left, kept);
}

BOOL WINAPI FullDisk(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

std::atomic<DWORD> room_left{0};

BOOL WINAPI FillingDisk(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED at) {
  if (count > room_left) return FullDisk(file, bytes, count, written, at);
  room_left -= count;
  return WriteFile(file, bytes, count, written, at);
}

HANDLE WINAPI NoWriterThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID data,
                             DWORD flags, LPDWORD id) {
  if (start == TranscriptWriter) return nullptr;
  return CreateThread(security, stack, start, data, flags, id);
}

// A transcript that cannot be written is said once in the log, and the run ends as it would
// have; where there is no transcript at all, "Open the log" cannot be pressed.
TEST_F(RunTest, TranscriptThatCannotBeWrittenLeavesTheRunAsItWouldHaveBeen) {
  const struct {
    const char* name;
    decltype(write_file) writes;
    decltype(create_thread) threads;
    bool file;
  } cases[] = {
      {"disk full from the start", FullDisk, CreateThread, true},
      {"disk full after the byte-order mark", FillingDisk, CreateThread, true},
      {"no thread to write it", WriteFile, NoWriterThread, false},
  };
  const std::wstring note = std::wstring(kNoTranscript) + L"\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    room_left = 3;
    Scoped<decltype(write_file)> writes(write_file, c.writes);
    Scoped<decltype(create_thread)> threads(create_thread, c.threads);
    Use(Plan().Write("@step msys\n[Vorlen] installing MSYS2\n@step packages\n[Vorlen] error: no network\n").Do("exit 1"));
    Type(game_edit, kGame);
    Install();
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(transcript_path.empty(), !c.file);
    if (c.file) {
      ASSERT_TRUE(TranscriptWritten());
    }
    ASSERT_TRUE(PumpUntil([&] { return !LogPending() && WindowText(log_edit).find(note) != std::wstring::npos; }, 10000));
    DropMessages();
    std::wstring log = WindowText(log_edit);
    size_t at = log.find(note);
    EXPECT_EQ(log.find(note, at + 1), std::wstring::npos) << "said once";
    EXPECT_EQ(Narrow(log.erase(at, note.size())), "[Vorlen] installing MSYS2\r\n[Vorlen] error: no network\r\n");
    EXPECT_EQ(page, Stopped);
    EXPECT_EQ(failure, L"no network");
    EXPECT_EQ(steps[1].state, Failed);
    EXPECT_EQ(IsWindowEnabled(open_log_button) != FALSE, c.file);
    DestroyWindow(window);
    Fresh();
  }
}

std::wstring opened;  // what "Open the log" handed the shell
HINSTANCE RecordOpening(const std::wstring& file, const wchar_t*, int) {
  opened = file;
  return reinterpret_cast<HINSTANCE>(42);
}

std::wstring Clipboard() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return L"<clipboard busy>";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

// "Copy for a report" puts the header and the failed step's last 300 lines on the clipboard
// with the profile folder hidden; "Open the log" hands the shell the transcript's full path,
// on the stopped page and on the finished one.
TEST_F(RunTest, StoppedPageCopiesAReportAndOpensTheTranscript) {
  ScopedVariable profile(L"USERPROFILE", L"C:\\Games");
  Scoped<decltype(disk_free_space)> roomy(disk_free_space, RoomyDrive);
  Scoped<decltype(shell_open)> opening(shell_open, RecordOpening);
  std::string output = "@step msys\n[Vorlen] in C:\\Games\\Vorlen\n@step packages\nerror: not this step's\n"
                       "@step compile\nFAILED: src/f5.cpp.obj\nc:/games/vorlen/src/f5.cpp:3:1: error: boom\n";
  std::vector<std::wstring> expected;
  for (int i = 1; i <= 320; ++i) {
    std::string line = "[" + std::to_string(i) + "/400] Building CXX object /c/Games/Vorlen/src/f" + std::to_string(i) +
                       ".cpp.obj in C:\\Gamesx";
    output += line + "\n";
    if (i > 20) {
      expected.push_back(L"[" + std::to_wstring(i) + L"/400] Building CXX object %USERPROFILE%/Vorlen/src/f" +
                         std::to_wstring(i) + L".cpp.obj in C:\\Gamesx");
    }
  }
  Use(Plan().Write(output + "[build] error: compile failed\n").Do("exit 1"));
  expected.erase(expected.begin());
  expected.push_back(L"[build] error: compile failed");
  Type(game_edit, kGame);
  Type(folder_edit, L"C:\\Games\\Vorlen");
  Install();
  ASSERT_TRUE(RunEnds());
  ASSERT_TRUE(PumpUntil([] { return !LogPending(); }, 10000));
  ASSERT_EQ(page, Stopped);
  EXPECT_TRUE(Showing(copy_button) && Showing(open_log_button) && IsWindowEnabled(open_log_button));

  Press(copy_button);
  std::wstring report = Clipboard();
  std::wstring name = transcript_path.substr(transcript_path.find_last_of(L'\\') + 1);
  std::wstring header = L"Vorlen Installer " L"" VORLEN_VERSION_TEXT L"\r\n";
  EXPECT_EQ(report.compare(0, header.size(), header), 0) << Narrow(report.substr(0, 200));
  std::vector<std::wstring> lines;
  for (size_t from = 0, end; from < report.size(); from = end + 2) {
    end = std::min(report.find(L"\r\n", from), report.size());
    lines.push_back(report.substr(from, end - from));
  }
  ASSERT_EQ(lines.size(), 11u + 300);
  EXPECT_EQ(lines[1].compare(0, 8, L"Windows "), 0) << Narrow(lines[1]);
  EXPECT_NE(lines[1].find(L", build "), std::wstring::npos) << Narrow(lines[1]);
  EXPECT_EQ(lines[2], L"Code pages: OEM " + std::to_wstring(GetOEMCP()) + L", ANSI " + std::to_wstring(GetACP()));
  EXPECT_EQ(lines[3], L"Failed step: Compile the game");
  EXPECT_EQ(lines[4], L"Failure: compile failed");
  EXPECT_EQ(lines[5], L"First error: FAILED: src/f5.cpp.obj");
  EXPECT_EQ(lines[6], L"Free space: 100.0 GB on the install drive, 100.0 GB on the system drive");
  EXPECT_EQ(lines[7], L"Install folder: %USERPROFILE%\\Vorlen");
  EXPECT_EQ(lines[8], L"Transcript: " + name);
  EXPECT_EQ(lines[9], L"");
  EXPECT_EQ(lines[10], L"The step's last lines:");
  EXPECT_TRUE(std::vector<std::wstring>(lines.begin() + 11, lines.end()) == expected);
  EXPECT_EQ(WindowText(copy_button), L"Copied");
  EXPECT_TRUE(PumpUntil([] { return WindowText(copy_button) == kCopyCaption; }, 5000));

  Press(open_log_button);
  EXPECT_EQ(opened, transcript_path);
  EXPECT_EQ(opened.compare(1, 2, L":\\"), 0) << "a full path";
  EXPECT_TRUE(Exists(opened));

  Press(back_button);
  Use(Plan().Write("@step done\n").Do("exit 0"));
  Install();
  ASSERT_TRUE(RunEnds());
  ASSERT_EQ(page, Finished);
  EXPECT_TRUE(Showing(open_log_button) && IsWindowEnabled(open_log_button));
  EXPECT_FALSE(Showing(copy_button));
  Press(open_log_button);
  EXPECT_EQ(opened, transcript_path);
  EXPECT_NE(opened.find(L"\\transcript-"), std::wstring::npos);
}

// --- A flood of output ------------------------------------------------------------------------

// Every "@step" line makes Begin take the time once and keep it as the step's start. With a
// clock that never gives the same tick twice, the call after a Begin finds its own previous
// tick stored in the running step: so each call can tell whether the one before was a Begin,
// which step it started and what `fraction` the line before it had left.
struct Seen {
  int key;
  double fraction_before;
};
std::vector<Seen> seen_steps;
DWORD last_tick = 0;
double fraction_at_last_tick = 0;

DWORD WINAPI WitnessTick() {
  if (current >= 0 && steps[current].start == last_tick) seen_steps.push_back({current, fraction_at_last_tick});
  fraction_at_last_tick = fraction;
  return ++last_tick;
}

TEST_F(RunTest, FloodReachesTheInterpreterLineByLineInOrder) {
  const int count = 1000000;
  const uint32_t seed = 20240611;
  std::vector<Seen> expected;
  double before = 0;
  for (flood::Lines lines(seed, count); !lines.Done();) {
    flood::Line line = lines.Next();
    if (line.step) {
      expected.push_back({line.key, before});
      before = 0;
    } else {
      before = static_cast<double>(line.number) / flood::kTotal;
    }
  }
  seen_steps.clear();
  seen_steps.reserve(expected.size() + 16);
  last_tick = 1000000000;  // far from any start left by earlier runs
  fraction_at_last_tick = 0;
  tick_source = WitnessTick;

  Use(Plan().Do("flood " + std::to_string(count) + " " + std::to_string(seed)).Do("exit 0"));
  Type(game_edit, kGame);
  Install();
  ASSERT_TRUE(RunEnds(120000)) << "the flood did not end";
  tick_source = GetTickCount;
  EXPECT_EQ(page, Finished);

  ASSERT_EQ(seen_steps.size(), expected.size()) << "step lines lost or read twice";
  size_t first_difference = expected.size();
  for (size_t i = 0; i < expected.size(); ++i) {
    if (seen_steps[i].key != expected[i].key || seen_steps[i].fraction_before != expected[i].fraction_before) {
      first_difference = i;
      break;
    }
  }
  EXPECT_EQ(first_difference, expected.size()) << "the lines arrived out of order or changed";
}

// --- Play -------------------------------------------------------------------------------------

TEST_F(RunTest, PlayThatCannotStartTheRunnerSaysSoAndStays) {
  install_dir = root + L"\\moved away";
  Show(Finished);
  Answerer answerer(window, IDOK);
  Press(play_button);
  SeenBox box = answerer.Stop();
  ASSERT_TRUE(box.seen) << "no message";
  EXPECT_EQ(box.caption, L"Vorlen");
  EXPECT_NE(box.text.find(install_dir + L"\\vorlen.cmd"), std::wstring::npos) << Narrow(box.text);
  EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(page, Finished);
}

TEST_F(RunTest, PlayStartsTheRunnerAndCloses) {
  const std::wstring folders[] = {root + L"\\Games\\Vorlen", root + L"\\My Games\\Vor len",
                                  root + L"\\Games\\Trailing\\"};
  for (const std::wstring& dir : folders) {
    SCOPED_TRACE(Narrow(dir));
    if (!IsWindow(window)) Fresh();
    std::wstring bare = dir.back() == L'\\' ? dir.substr(0, dir.size() - 1) : dir;
    CreateDirectoryW(bare.substr(0, bare.find_last_of(L'\\')).c_str(), nullptr);
    CreateDirectoryW(bare.c_str(), nullptr);
    std::wstring marker = bare + L"\\played.txt";
    WriteBytes(bare + L"\\vorlen.cmd", "@echo off\r\necho played>\"" + Narrow(marker) + "\"\r\n");
    install_dir = dir;
    Show(Finished);
    Answerer guard(window, IDOK);
    Press(play_button);
    EXPECT_FALSE(guard.Stop().seen) << "a message instead of the game";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(WaitFor([&] { return Exists(marker); }, 20000)) << "the runner did not run";
  }
}

// --- Starts that cannot happen ---------------------------------------------------------------

TEST_F(RunTest, ScriptThatCannotBeWrittenIsReportedAndNothingStarts) {
  std::wstring blocked = root + L"\\blocked";
  CreateDirectoryW(blocked.c_str(), nullptr);
  CreateDirectoryW((blocked + L"\\vorlen-setup").c_str(), nullptr);
  // A folder where the script file should go: it cannot be created.
  CreateDirectoryW((blocked + L"\\vorlen-setup\\install.ps1").c_str(), nullptr);
  // A temporary folder whose path does not fit: never "vorlen-setup" in the current folder.
  std::wstring too_long = root + L"\\" + std::wstring(260, L't');
  std::wstring stray = CurrentFolder() + L"\\vorlen-setup";
  RemoveTree(stray);
  Use(Plan().Do("record").Do("exit 0"));
  for (const std::wstring& temp : {blocked, too_long}) {
    SCOPED_TRACE(temp.size());
    ScopedVariable tmp(L"TMP", temp);
    ScopedVariable temp_variable(L"TEMP", temp);
    Type(game_edit, kGame);
    Answerer answerer(window, IDOK);
    Press(install_button);
    SeenBox box = answerer.Stop();
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.caption, L"Vorlen");
    EXPECT_EQ(box.text, L"Cannot write the setup script to the temporary folder.");
    EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR));
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(page, Choices);
    EXPECT_FALSE(Recorded().found);
    EXPECT_FALSE(Exists(stray)) << "the script went into the current folder";
  }
}

HANDLE WINAPI NoRights(LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

HANDLE silent_share_release = nullptr;
BOOL WINAPI SilentShare(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
  if (wcsncmp(path, L"\\\\silent\\", 9) == 0) WaitForSingleObject(silent_share_release, 20000);
  return GetFileAttributesExW(path, level, data);
}

// Install holds every refusal of the folder, also when a program sends its command while the
// button is disabled, and starts nothing before the folder's answer is in.
TEST_F(RunTest, FolderThatCannotTakeTheInstallationStartsNothing) {
  Use(Plan().Do("record").Do("exit 0"));
  Type(game_edit, kGame);
  silent_share_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Scoped<decltype(file_attributes)> silent(file_attributes, SilentShare);
  std::wstring missing = MissingDrive();
  const std::wstring refused[] = {L"C:\\", local + L"\\a|b\\Vorlen", local + L"\\Vorlen?", missing + L"\\Vorlen",
                                  L"\\\\silent\\share\\Vorlen"};
  for (const std::wstring& folder : refused) {
    Type(folder_edit, folder);
    Press(install_button);
    EXPECT_EQ(child, nullptr) << Narrow(folder);
    EXPECT_EQ(page, Choices) << Narrow(folder);
  }
  {
    Scoped<decltype(make_probe)> no_rights(make_probe, NoRights);
    Type(folder_edit, local + L"\\Vorlen");
    Press(install_button);
    EXPECT_EQ(child, nullptr);
    EXPECT_TRUE(PumpUntil([] { return !folder_field.pending; }, 10000));
    Press(install_button);  // also with the field's own answer in
    EXPECT_EQ(child, nullptr);
  }
  EXPECT_FALSE(Recorded().found);
  SetEvent(silent_share_release);
  // The same folder once it can be written to.
  Type(folder_edit, local + L"\\Vorlen");
  Install();
  ASSERT_TRUE(RunEnds());
  EXPECT_TRUE(Recorded().found);
  CloseHandle(silent_share_release);
}

HANDLE reader_less_script = nullptr;  // the script the failing thread start was asked to read

HANDLE WINAPI NoThreadToBeHad(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &reader_less_script, SYNCHRONIZE, FALSE, 0);
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

// Without a thread to read its output, a started script is ended and nothing changes.
TEST_F(RunTest, ReaderThatCannotStartEndsTheScriptAndSaysSo) {
  Use(Plan().Do("wait never"));
  Type(game_edit, kGame);
  Scoped<decltype(create_thread)> failing(create_thread, NoThreadToBeHad);
  Answerer answerer(window, IDOK);
  Press(install_button);
  SeenBox box = answerer.Stop();
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.text, L"Cannot start PowerShell.");
  EXPECT_EQ(page, Choices);
  EXPECT_EQ(child, nullptr);
  EXPECT_EQ(job, nullptr);
  EXPECT_TRUE(install_dir.empty());
  ASSERT_NE(reader_less_script, nullptr);
  EXPECT_EQ(WaitForSingleObject(reader_less_script, 10000), WAIT_OBJECT_0) << "the script still runs";
  CloseHandle(reader_less_script);
}

// The script gets the pipe's write end and nothing else of the installer's.
TEST_F(RunTest, OnlyThePipeReachesTheScript) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE probe = CreateEventW(&inherit, TRUE, FALSE, nullptr);
  ScopedVariable probe_variable(L"VORLEN_DOUBLE_PROBE", std::to_wstring(reinterpret_cast<UINT_PTR>(probe)));
  Use(Plan().Do("record").Do("exit 0"));
  // The probe can tell: a child started to inherit everything reports the handle.
  std::wstring command = L"\"" + PowerShellDouble() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &process));
  WaitForSingleObject(process.hProcess, 20000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(Recorded().probe, L"1");
  DeleteFileW((folder + L"\\record.txt").c_str());

  Type(game_edit, kGame);
  Install();
  ASSERT_TRUE(RunEnds());
  EXPECT_EQ(Recorded().probe, L"0") << "an inheritable handle of the installer reached the script";
  EXPECT_EQ(page, Finished);
  CloseHandle(probe);
}

// --- Clicks -----------------------------------------------------------------------------------

// A press of the left button on `button` as the mouse makes it: down and up, or the second
// click of a double-click.
void Click(HWND button, bool second_of_double = false) {
  PostMessageW(button, second_of_double ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

bool DoubleClickTimePassed() { return static_cast<LONG>(GetTickCount()) - shown_at > static_cast<LONG>(GetDoubleClickTime()); }

// The second click of a double-click lands on the button of the next page that stands where
// the first one was (Cancel inside Install, Install under Back): it presses nothing.
TEST_F(RunTest, DoubleClickNeverPressesAButtonOfTheNextPage) {
  Use(Plan().Write("@step msys\n").Do("wait go").Write("[build] error: stopped\n").Do("exit 1"));
  Type(game_edit, kGame);
  {
    Answerer guard(window, IDNO);
    // The second click goes to another window than the first, so it comes as a plain press.
    Click(install_button);
    Click(close_button);  // Cancel, shown by the first click
    // Posted together, all four are handled in the turn of the loop that starts the run.
    ASSERT_TRUE(PumpUntil([] { return child != nullptr; }));
    ++runs;
    EXPECT_FALSE(guard.Stop().seen) << "the stop question opened";
    EXPECT_EQ(page, Installing);
  }
  // A click of its own, once the page has stood for a double-click's time, does press Cancel.
  ASSERT_TRUE(PumpUntil([] { return child && DoubleClickTimePassed(); }));
  {
    Answerer no(window, IDNO);
    Click(close_button);
    EXPECT_TRUE(PumpUntil([&] { return no.Done(); }));
    EXPECT_TRUE(no.Stop().seen) << "a click of its own did not press Cancel";
  }
  Signal("go");
  ASSERT_TRUE(RunEnds());
  ASSERT_EQ(page, Stopped);
  ASSERT_TRUE(PumpUntil(DoubleClickTimePassed));
  Click(back_button);
  Click(install_button);  // Install, shown by Back
  ASSERT_TRUE(PumpUntil([] { return page == Choices; }));
  EXPECT_EQ(child, nullptr) << "a run started";
}

// A double-click on a button is one press: "Show details" shows the details.
TEST_F(RunTest, DoubleClickOnAButtonIsOnePress) {
  Use(Plan().Write("@step msys\n").Do("wait go").Do("exit 0"));
  Type(game_edit, kGame);
  Install();
  ASSERT_TRUE(PumpUntil([] { return DoubleClickTimePassed(); }));
  bool before = details;
  Click(details_button);
  Click(details_button, true);
  EXPECT_TRUE(PumpUntil([&] { return details != before; }, 2000)) << "the second click took the first back";
  Signal("go");
  ASSERT_TRUE(RunEnds());
}

// --- The built installer, as the user runs it -------------------------------------------------

// A copy of the built installer in `folder`, as a download lands in a Downloads folder. With
// `planted`, a PowerShell and two DLLs that record being used lie beside it.
std::wstring CopyInstaller(const std::wstring& folder, bool planted) {
  CreateDirectoryW(folder.c_str(), nullptr);
  CopyFileW(VORLEN_BINARY_DIR L"\\vorlen-setup.exe", (folder + L"\\vorlen-setup.exe").c_str(), FALSE);
  if (planted) {
    CopyFileW(PowerShellDouble().c_str(), (folder + L"\\powershell.exe").c_str(), FALSE);
    for (const wchar_t* name : {L"\\dwmapi.dll", L"\\uxtheme.dll"}) {
      CopyFileW((ProgramFolder() + L"\\dwmapi.dll").c_str(), (folder + name).c_str(), FALSE);
    }
  }
  return folder;
}

// Windows PowerShell's place in the system folder of this build's private Wine prefix, holding
// the stand-in (or nothing) for one test; what was there is put back afterwards.
class SystemPowerShellDouble {
 public:
  explicit SystemPowerShellDouble(bool present) : path_(SystemPowerShell()), saved_(root + L"\\system-powershell") {
    MoveFileExW(path_.c_str(), saved_.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (present) CopyFileW(PowerShellDouble().c_str(), path_.c_str(), FALSE);
  }
  ~SystemPowerShellDouble() {
    DeleteFileW(path_.c_str());
    MoveFileExW(saved_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  std::wstring saved_;
};

struct BuiltInstaller : RunTest {
  void SetUp() override {
    RunTest::SetUp();
    // No window of this process may stand in for the installer's.
    DestroyWindow(window);
  }
};

// Neither the PowerShell nor the DLLs planted beside the installer are used; the run goes
// through the one in the system folder.
TEST_F(BuiltInstaller, FullRunThenPlay) {
  SystemPowerShellDouble system_powershell(true);
  std::wstring copy = CopyInstaller(folder + L"\\app", true);
  ASSERT_TRUE(Exists(copy + L"\\powershell.exe") && Exists(copy + L"\\dwmapi.dll"));
  std::wstring dir = folder + L"\\Games\\Vorlen\\";
  std::string transcript;
  for (const char* key : flood::kKeys) transcript += std::string("@step ") + key + "\n[Vorlen] working on " + key + "\n";
  Use(Plan().Do("record").Write(transcript).Do("runner").Write("@step done\n").Do("exit 0"));
  Installer installer;
  ASSERT_TRUE(installer.Start(copy)) << "the installer's window did not appear";
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  EXPECT_TRUE(WaitFor([&] { return GetGUIThreadInfo(installer.process.dwThreadId, &gui) && gui.hwndFocus; }));
  EXPECT_EQ(gui.hwndFocus, installer.Control(IsWindowEnabled(installer.Control(kInstallId)) ? kInstallId : kGameEditId));
  Type(installer.Control(kGameEditId), kGame);
  Type(installer.Control(kFolderEditId), dir);
  SendMessageW(installer.Control(kDlssId), BM_SETCHECK, BST_CHECKED, 0);
  Press(installer.Control(kInstallId));
  ASSERT_TRUE(WaitFor([&] { return installer.Shows(kPlayId) || installer.Shows(kBackId); })) << "the run did not end";
  ASSERT_TRUE(installer.Shows(kPlayId)) << "the stopped page instead of the finished one";

  Record record = Recorded();
  ASSERT_TRUE(record.found);
  EXPECT_EQ(_wcsicmp(record.self.c_str(), system_powershell.path().c_str()), 0) << Narrow(record.self);
  EXPECT_EQ(record.arguments, ExpectedArguments(kGame, dir, true));
  EXPECT_TRUE(ReadBytes(folder + L"\\record.txt.ps1") == std::string(kInstallScript, kInstallScriptSize));
  for (const wchar_t* name : {L"\\dwmapi.dll.loaded", L"\\uxtheme.dll.loaded"}) {
    EXPECT_FALSE(Exists(copy + name)) << Narrow(name) << ": a DLL planted beside the installer was loaded";
  }

  Press(installer.Control(kPlayId));
  EXPECT_TRUE(installer.EndsWith(0)) << "Play did not close";
  EXPECT_TRUE(WaitFor([&] { return Exists(dir + L"played.txt"); }, 20000)) << "the runner did not run";
}

TEST_F(BuiltInstaller, EndingTheInstallerEndsTheRun) {
  SystemPowerShellDouble system_powershell(true);
  std::wstring copy = CopyInstaller(folder + L"\\app", false);
  Use(Plan().Do("grandchild").Do("record").Write("@step msys\n").Do("wait never"));
  Installer installer;
  ASSERT_TRUE(installer.Start(copy));
  Type(installer.Control(kGameEditId), kGame);
  Press(installer.Control(kInstallId));
  ASSERT_TRUE(WaitFor([this] { return Recorded().found; }));
  Record record = Recorded();
  HANDLE script = OpenProcess(SYNCHRONIZE, FALSE, record.pid);
  HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, record.grandchild);
  ASSERT_NE(script, nullptr);
  ASSERT_NE(grandchild, nullptr);
  EXPECT_TRUE(StillRunning(script));
  EXPECT_TRUE(StillRunning(grandchild));
  TerminateProcess(installer.process.hProcess, 5);
  EXPECT_EQ(WaitForSingleObject(script, 10000), WAIT_OBJECT_0) << "the script outlived the installer";
  EXPECT_EQ(WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0) << "the script's tools outlived the installer";
  CloseHandle(script);
  CloseHandle(grandchild);
}

TEST_F(BuiltInstaller, PowerShellThatCannotStartIsReported) {
  // None in the system folder: the one beside the installer is not taken instead.
  SystemPowerShellDouble system_powershell(false);
  std::wstring copy = CopyInstaller(folder + L"\\alone", true);
  Installer installer;
  ASSERT_TRUE(installer.Start(copy));
  Type(installer.Control(kGameEditId), kGame);
  Answerer answerer(installer.window, IDOK);
  Press(installer.Control(kInstallId));
  SeenBox box = answerer.Stop(30000);
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.caption, L"Vorlen");
  EXPECT_EQ(box.text, L"Cannot start PowerShell.");
  EXPECT_TRUE(WaitFor([&] { return !FindBox(installer.window); }));
  EXPECT_TRUE(installer.Shows(kInstallId)) << "the page changed";
  EXPECT_TRUE(installer.Shows(kGameEditId));
}

}  // namespace
