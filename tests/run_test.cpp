// The script run's pieces on their own: argument quoting, output decoding and real tools' output, the
// reader's hand-over when posting fails, the joining of output into lines, the script file, the
// transcript's bound and the report's words.
#include "support.h"

#include <atomic>
#include <thread>

namespace {

std::vector<std::wstring> Split(const std::wstring& command_line) {
  int count = 0;
  wchar_t** list = CommandLineToArgvW(command_line.c_str(), &count);
  std::vector<std::wstring> arguments(list, list + count);
  LocalFree(list);
  return arguments;
}

// --- Arguments --------------------------------------------------------------------------------

struct ArgumentCase {
  const wchar_t* nup;
  const wchar_t* dir;
  bool dlss;
};

// Texts as the fields give them (already trimmed): every one must reach the script unchanged.
const ArgumentCase kArgumentCases[] = {
    {L"C:\\Games\\dump.nup", L"D:\\Games\\", false},
    {L"C:\\Games\\dump.nup", L"D:\\Games\\", true},
    {L"C:\\Games\\dump.nup", L"D:\\Games\\\\\\", true},
    {L"C:\\My Games\\Zelda [v1.0] (EU).nup", L"C:\\Program Files\\My Vorlen", false},
    {L"C:\\a b\\c.nup", L"C:\\a b\\\\", true},
    {L"\\\\server\\share\\game.nup", L"\\\\server\\share\\", false},
    {L"C:\\odd\\a\"b.nup", L"C:\\x\\\"y\\", true},
    {L"C:\\odd\\a\\\"b.nup", L"C:\\x\\\\\"", false},
    {L"C:\\in\\side\\back\\slashes.nup", L"C:\\a\\\\b", false},
    {L"C:\\tab\there.nup", L"C:\\Spiele\\Z\u00fcrich \u30b2\u30fc\u30e0\\", false},
    {L"", L"\\", false},
    {L"\"", L"\\\\", true},
};

TEST(Arguments, EveryTextComesBackExactlyAsTheScriptSplitsThem) {
  const std::wstring script = L"C:\\Users\\Some One\\AppData\\Local\\Temp\\vorlen-setup\\install.ps1";
  for (const ArgumentCase& c : kArgumentCases) {
    std::vector<std::wstring> expected = {L"powershell.exe", L"-NoProfile", L"-NonInteractive",
                                          L"-ExecutionPolicy", L"Bypass", L"-File", script,
                                          L"-Nup", c.nup, L"-Dir", c.dir};
    if (c.dlss) expected.push_back(L"-Dlss");
    std::wstring line = CommandLine(script, c.nup, c.dir, c.dlss);
    EXPECT_EQ(Split(line), expected) << Narrow(line);
  }
}

TEST(Arguments, FolderWithTrailingBackslashKeepsDlssSeparate) {
  // The fault this guards against: "D:\Games\" inserted plainly ends in \" and swallows -Dlss.
  EXPECT_EQ(CommandLine(L"C:\\T\\install.ps1", L"C:\\g.nup", L"D:\\Games\\", true),
            L"powershell.exe -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"C:\\T\\install.ps1\" "
            L"-Nup \"C:\\g.nup\" -Dir \"D:\\Games\\\\\" -Dlss");
}

// --- Decoding ---------------------------------------------------------------------------------

std::string Encode(const std::wstring& text, UINT code_page) {
  int length = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string bytes(length, '\0');
  WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr,
                      nullptr);
  return bytes;
}

struct DecodeCase {
  const char* name;
  UINT code_page;
  std::wstring text;
};

// Japanese text with trail bytes that look like ASCII (0x5C '\' in "表" and "ソ", 0x40 '@' in
// "ァ"), Chinese text, and UTF-8 of two, three and four bytes.
const DecodeCase kDecodeCases[] = {
    {"shift_jis", 932,
     L"[Vorlen] \u8868\u793a \u30bd\u30fc\u30b9\\\u30a1 \u30b2\u30fc\u30e0\u672c\u4f53\u3092\u30b3\u30f3\u30d1"
     L"\u30a4\u30eb\u4e2d [1/2]\r\nok\n\u80fd\u8868"},
    {"gbk", 936, L"[build] \u6b63\u5728\u7f16\u8bd1\u6e38\u620f\u4ee3\u7801 z_actor.cpp.obj\n\u5b8c\u6210"},
    {"utf8", CP_UTF8, L"caf\u00e9 \u20ac5 \U0001F600 done\n\u00e9\U0001F600"},
};

// The text arrives whatever the reads' boundaries: every way to cut the bytes in three.
TEST(Decode, CharactersCutBetweenReadsComeOutWhole) {
  for (const DecodeCase& c : kDecodeCases) {
    if (!IsValidCodePage(c.code_page)) {
      ADD_FAILURE() << c.name << ": code page " << c.code_page << " is not installed";
      continue;
    }
    std::string bytes = Encode(c.text, c.code_page);
    std::wstring back(bytes.size(), L'\0');
    back.resize(MultiByteToWideChar(c.code_page, 0, bytes.data(), static_cast<int>(bytes.size()), &back[0],
                                    static_cast<int>(back.size())));
    ASSERT_EQ(back, c.text) << c.name << ": the sample must be representable in its code page";
    int failures = 0;
    for (size_t first = 0; first <= bytes.size(); ++first) {
      for (size_t second = first; second <= bytes.size(); ++second) {
        std::string carry;
        std::wstring out = Decode(carry, bytes.data(), first, c.code_page);
        out += Decode(carry, bytes.data() + first, second - first, c.code_page);
        out += Decode(carry, bytes.data() + second, bytes.size() - second, c.code_page);
        out += Decode(carry, nullptr, 0, c.code_page, true);
        if (out != c.text && failures++ < 3) {
          ADD_FAILURE() << c.name << " cut at " << first << " and " << second << ": " << Narrow(out);
        }
      }
    }
    EXPECT_EQ(failures, 0) << c.name;
  }
}

TEST(Decode, EndOfOutputFlushesAnIncompleteCharacter) {
  struct Case {
    UINT code_page;
    std::string bytes;
  } cases[] = {{932, "abc\x83"}, {936, "abc\xB1"}, {CP_UTF8, "abc\xE2\x82"}};
  for (const Case& c : cases) {
    std::string carry;
    EXPECT_EQ(Decode(carry, c.bytes.data(), c.bytes.size(), c.code_page), L"") << c.code_page;
    std::wstring last = Decode(carry, nullptr, 0, c.code_page, true);
    EXPECT_TRUE(carry.empty()) << c.code_page;
    EXPECT_EQ(last.substr(0, 3), L"abc") << c.code_page;
    EXPECT_GT(last.size(), 3u) << c.code_page << ": the cut character was dropped";
  }
}

// --- Real tools' output, as a console shows it -------------------------------------------------

struct ConsoleCase {
  const char* name;
  std::vector<std::string> reads;  // as the pipe delivers them
  std::wstring logged;
  std::wstring doing;  // after the output; "before" when it is left alone
};

const std::string kWipe = "\r" + std::string(120, ' ') + "\r";
const std::string kBlock = "\xE2\x96\x88";  // the full block of winget's bar, in UTF-8
const std::string kShade = "\xE2\x96\x92";

std::vector<std::string> Reads(const std::string& bytes, size_t size) {
  std::vector<std::string> reads;
  for (size_t at = 0; at < bytes.size(); at += size) reads.push_back(bytes.substr(at, size));
  return reads;
}

template <class Text>
Text Repeat(const Text& text, int times) {
  Text all;
  while (times-- > 0) all += text;
  return all;
}

std::string Repeat(const char* text, int times) { return Repeat(std::string(text), times); }

// Text as a program that writes UTF-16 puts it into the pipe: two bytes a character, low first.
std::string Utf16(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes;
}
std::wstring Repeat(const wchar_t* text, int times) { return Repeat(std::wstring(text), times); }

const std::vector<ConsoleCase> kConsoleCases = {
    {"spinner frames and a wipe before winget's words",
     {"\r   - \r   \\ \r   | \r   / " + kWipe + "Found MSYS2 [MSYS2.MSYS2] Version 20250830\r\n"},
     L"Found MSYS2 [MSYS2.MSYS2] Version 20250830\r\n", L"before"},
    {"a wipe alone is no line", {"\r   - " + kWipe + "\r\n", "next\n"}, L"next\r\n", L"before"},
    {"download bar redrawn in UTF-8 blocks, a block cut between reads",
     {"  " + kBlock + kShade.substr(0, 2), kShade.substr(2) + "  1.00 MB / 86.1 MB\r  " + kBlock + kBlock +
      "  86.1 MB / 86.1 MB\r\n"},
     L"  \u2588\u2588  86.1 MB / 86.1 MB\r\n", L"before"},
    {"backspace spinner of an older winget, its last redraw in the next read",
     {"\b-\b\\\b|\b/\b \r", "Successfully installed\r\n"}, L"Successfully installed\r\n", L"before"},
    {"backspace spinner behind words", {"Verifying \b-\b\\\b|\b \r\n"}, L"Verifying\r\n", L"before"},
    {"colour and title escapes",
     {"\x1b]0;MSYS2\x07\x1b[1;32m[Vorlen] ready\x1b[0m\r\n\x1b[31merror:\x1b[m no\n"},
     L"[Vorlen] ready\r\nerror: no\r\n", L"ready"},
    {"an OEM line beside UTF-8 lines in one read",
     {Encode(L"[Vorlen] installing into C:\\Users\\Jos\u00e9\\Vorlen", CP_OEMCP) + "\r\n" +
      "Fehler: \xC3\x96" "ffnen fehlgeschlagen\n" + "src/a.cpp:3:5: error: x\n    // \xE6\x97\xA5\xE6\x9C\xAC\n"},
     L"[Vorlen] installing into C:\\Users\\Jos\u00e9\\Vorlen\r\nFehler: \u00d6ffnen fehlgeschlagen\r\n"
     L"src/a.cpp:3:5: error: x\r\n    // \u65e5\u672c\r\n",
     L"installing into C:\\Users\\Jos\u00e9\\Vorlen"},
    {"a line of 200,000 characters without a line feed, in pieces",
     Reads(std::string(200000, 'x'), 4096),
     Repeat(std::wstring(65536, L'x') + L"\r\n", 3) + std::wstring(3392, L'x') + L"\r\n", L"before"},
    {"a long UTF-8 line cut into pieces between its characters", {"x" + Repeat("\xC3\xA9", 35000)},
     L"x" + Repeat(L"\u00e9", 32767) + L"\r\n" + Repeat(L"\u00e9", 2233) + L"\r\n", L"before"},
    {"a long line cut into pieces before an escape sequence that the cut would split",
     Reads(std::string(65533, 'x') + "\x1b[31mRED\x1b[0m" + std::string(10000, 'y') + "\n", 4096),
     std::wstring(65533, L'x') + L"\r\nRED" + std::wstring(10000, L'y') + L"\r\n", L"before"},
    {"UTF-16 lines, each carriage return followed by a NUL, in reads of odd size",
     Reads(Utf16(L"[Vorlen] first\r\nsecond\r\n"), 5), L"[Vorlen] first\r\nsecond\r\n", L"first"},
};

TEST_F(StateTest, RealOutputReadsAsAConsoleShowsIt) {
  for (const ConsoleCase& c : kConsoleCases) {
    ResetState();
    log_edit = MakeLogControl();
    doing = L"before";
    std::string carry;
    size_t longest = 0;
    for (const std::string& read : c.reads) {
      ReadOutput({Decode(carry, read.data(), read.size(), GetOEMCP())});
      longest = std::max(longest, carry.size());
    }
    ReadOutput({Decode(carry, nullptr, 0, GetOEMCP(), true)});
    if (!pending_line.empty()) ReadLine(pending_line);  // as the script's end reads it
    FlushLog();
    std::wstring logged = WindowText(log_edit);
    EXPECT_TRUE(logged == c.logged) << c.name << ": " << Narrow(logged.substr(0, 300));
    EXPECT_EQ(doing, c.doing) << c.name;
    EXPECT_LE(longest, 65536u) << c.name << ": a line that never ends is held whole";
    DestroyWindow(log_edit);
    log_edit = nullptr;
  }
  DropMessages();
}

// --- The reader's hand-over -------------------------------------------------------------------

// A post that the test can make fail: while `limit` messages wait in the queue it refuses, as
// a full posted-message queue does.
std::atomic<int> queued{0};
std::atomic<int> refused{0};
std::atomic<int> attempts{0};
std::atomic<int> limit{0};

BOOL WINAPI LimitedPost(HWND to, UINT message, WPARAM wparam, LPARAM lparam) {
  ++attempts;
  if (++queued > limit) {
    --queued;
    ++refused;
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  if (PostMessageW(to, message, wparam, lparam)) return TRUE;
  --queued;
  return FALSE;
}

// A process that has already ended with `code`: what `child` is when the output ends.
HANDLE EndedProcess(DWORD code) {
  wchar_t command[64];
  swprintf(command, 64, L"cmd.exe /c exit %lu", code);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, 30000);
  return process.hProcess;
}

std::string Output(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "[build] line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
  return text + "last line without a line feed";
}

struct ReaderTest : StateTest {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  HWND target = nullptr;

  void SetUp() override {
    StateTest::SetUp();
    queued = 0;
    refused = 0;
    attempts = 0;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
    target = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    window = target;
    child = EndedProcess(7);
    ASSERT_NE(child, nullptr);
    post_message = LimitedPost;
  }
  void TearDown() override {
    post_message = PostMessageW;
    if (write_end) CloseHandle(write_end);
    CloseHandle(child);
    child = nullptr;
    if (IsWindow(target)) DestroyWindow(target);
    window = nullptr;
  }

  std::atomic<int> pieces{0};

  // Writes `text` in pieces of varied size on a thread of its own, then closes the write end.
  std::thread Writer(const std::string& text) {
    HANDLE end = write_end;
    write_end = nullptr;
    return std::thread([this, text, end] {
      unsigned seed = 1;
      for (size_t at = 0; at < text.size();) {
        seed = seed * 1103515245u + 12345u;
        DWORD piece = static_cast<DWORD>(std::min<size_t>(1 + (seed >> 8) % 9000, text.size() - at));
        DWORD written = 0;
        if (!WriteFile(end, text.data() + at, piece, &written, nullptr)) break;
        ++pieces;
        at += written;
      }
      CloseHandle(end);
    });
  }
};

TEST_F(ReaderTest, FullQueueDelaysTextButLosesNone) {
  limit = 0;
  std::string text = Output(60000);
  std::thread writer = Writer(text);
  HANDLE reader = CreateThread(nullptr, 0, Reader, read_end, 0, nullptr);
  ASSERT_NE(reader, nullptr);
  // A queue that stays full holds the reader's first wake-up for a while, then one at a time.
  EXPECT_TRUE(WaitFor([] { return refused > 10; }));
  limit = 1;

  std::wstring received;
  int end_messages = 0;
  DWORD exit_code = 0;
  bool text_after_end = false;
  int stalls = 0;
  // Take the wake-ups only after the reader has been refused again, so the queue runs full over
  // and over (one wake-up for the output waits there, the next is refused), or once it waits for
  // what it handed over to be read; then take what waits and let it fill up once more.
  auto reader_ahead = [] {
    AcquireSRWLockExclusive(&unread_lock);
    bool ahead = unread_output > kUnreadLimit;
    ReleaseSRWLockExclusive(&unread_lock);
    return ahead;
  };
  while (end_messages == 0) {
    int seen = refused;
    if (WaitFor([&] { return refused > seen || reader_ahead() || WaitForSingleObject(reader, 0) == WAIT_OBJECT_0; })) {
      ++stalls;
    }
    MSG message;
    for (int taken = 0; taken < 25 && PeekMessageW(&message, target, WM_APP + 1, WM_APP + 2, PM_REMOVE); ++taken) {
      --queued;
      if (message.message == WM_APP + 1) {
        for (const std::wstring& block : TakeOver(handed_output)) {
          CountUnread(-static_cast<long long>(block.size()));  // read, as the window reads it
          received += block;
          text_after_end = text_after_end || end_messages > 0;
        }
      } else {
        for (DWORD code : TakeOver(handed_ends)) {
          ++end_messages;
          exit_code = code;
        }
      }
    }
    if (stalls > 100000) break;
  }
  writer.join();
  EXPECT_EQ(WaitForSingleObject(reader, 20000), WAIT_OBJECT_0);
  CloseHandle(reader);

  EXPECT_GT(refused, 10) << "the queue never ran full; the test proves nothing";
  EXPECT_EQ(end_messages, 1);
  EXPECT_EQ(exit_code, 7u);
  EXPECT_FALSE(text_after_end);
  EXPECT_EQ(received.size(), text.size());
  EXPECT_TRUE(received == std::wstring(text.begin(), text.end())) << "the text arrived changed or out of order";
}

TEST_F(ReaderTest, ReaderGivesUpOnceTheWindowIsGone) {
  limit = 0;  // every post refused
  DestroyWindow(target);
  // Small enough for the pipe's buffer: the writer finishes even if the reader stops reading.
  std::string text = Output(20);
  std::thread writer = Writer(text);
  HANDLE reader = CreateThread(nullptr, 0, Reader, read_end, 0, nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(WaitForSingleObject(reader, 20000), WAIT_OBJECT_0) << "the reader retries for ever";
  writer.join();
  CloseHandle(reader);
  // At most one attempt per read and one for the end: no retrying into a window that is gone.
  // A read ends at a write's end or after 4096 bytes.
  EXPECT_GE(attempts, 2);
  EXPECT_LE(attempts, pieces + static_cast<int>(text.size() / 4096) + 2);
  // Nothing handed to the window that is gone stays held.
  EXPECT_TRUE(handed_output.items.empty());
  EXPECT_TRUE(handed_ends.items.empty());
}

// Any program can post messages of the installer's numbers to its window, with any values (here
// the address of text that would be read as output): they take nothing but what the installer
// itself handed over. What is handed over and not taken when the window goes is freed with it.
TEST_F(StateTest, MessagesTakeOnlyWhatTheInstallerHandedOver) {
  ASSERT_TRUE(MakeWindow());
  // The new window's own questions first: an answer coming in from the pool while the window
  // goes would sit in the handover for a moment, until its wake-up fails and drops it.
  ASSERT_TRUE(PumpUntil(Answered, 10000));
  Show(Installing);
  std::unique_ptr<std::wstring> bait(new std::wstring(L"@step msys\n"));
  for (UINT message : {kOutputMessage, kEndMessage, kAnswerMessage, kTranscriptMessage}) {
    SendMessageW(window, message, 1, reinterpret_cast<LPARAM>(bait.get()));
  }
  EXPECT_EQ(page, Installing);
  EXPECT_EQ(current, -1);
  EXPECT_TRUE(waiting_output.empty() && pending_line.empty());
  EXPECT_EQ(LogLength(), 0u);
  DeliverText(L"@step msys\n");
  HandOver(handed_answers, std::unique_ptr<Question>(new Question{true, L"C:\\Vorlen"}), kAnswerMessage);
  DestroyWindow(window);
  EXPECT_TRUE(handed_output.items.empty());
  EXPECT_TRUE(handed_answers.items.empty());
  DropMessages();
}

// --- Joining output into lines ----------------------------------------------------------------

struct JoinCase {
  const char* name;
  std::vector<std::wstring> blocks;
  std::wstring logged;   // the log after the blocks
  std::wstring pending;  // what waits for its line feed
};

const JoinCase kJoinCases[] = {
    {"line split across blocks", {L"[build] ab", L"cd\n"}, L"[build] abcd\r\n", L""},
    {"several lines in one block", {L"a\nb\r\nc\n"}, L"a\r\nb\r\nc\r\n", L""},
    {"block without a line feed", {L"no end"}, L"", L"no end"},
    {"line feed alone", {L"x", L"\n", L"\n"}, L"x\r\n", L""},
    {"carriage return split from its line feed", {L"x\r", L"\ny"}, L"x\r\n", L"y"},
    {"many small blocks", {L"o", L"n", L"e\nt", L"w", L"o\nthr", L"ee"}, L"one\r\ntwo\r\n", L"three"},
    // A NUL shows as nothing, and neither it nor the text behind it in the block is lost.
    {"NUL inside a line", {std::wstring(L"[build] a\0b\nnext\n\0\nlast", 23)}, L"[build] ab\r\nnext\r\n", L"last"},
};

TEST_F(StateTest, OutputBlocksBecomeLinesInOrder) {
  for (const JoinCase& c : kJoinCases) {
    ResetState();
    log_edit = MakeLogControl();
    for (const std::wstring& text : c.blocks) {
      ReadOutput({text});
    }
    FlushLog();
    EXPECT_EQ(WindowText(log_edit), c.logged) << c.name;
    EXPECT_EQ(pending_line, c.pending) << c.name;
    DestroyWindow(log_edit);
    log_edit = nullptr;
  }
  DropMessages();
}

// --- The script file --------------------------------------------------------------------------

TEST(ScriptFile, WrittenByteForByteOverALongerEarlierCopy) {
  std::wstring path = TempPath(L"vorlen-run-test.ps1");
  {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string junk(3 * kInstallScriptSize, 'j');
    DWORD written = 0;
    WriteFile(file, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr);
    CloseHandle(file);
  }
  ASSERT_TRUE(WriteScript(path));
  std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), kInstallScriptSize);
  EXPECT_TRUE(bytes == std::string(kInstallScript, kInstallScriptSize)) << "the file differs from the script";
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
  EXPECT_NE(bytes.back(), '\0') << "no terminating zero";
  DeleteFileW(path.c_str());
}

TEST(ScriptFile, WriteReportsAPathItCannotCreate) {
  std::wstring folder = TempPath(L"vorlen-run-test-folder");
  CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_FALSE(WriteScript(folder));
  EXPECT_FALSE(WriteScript(folder + L"\\no\\such\\folder\\install.ps1"));
  RemoveDirectoryW(folder.c_str());
}

// --- The transcript and the report ------------------------------------------------------------

// Past its bound a transcript keeps its first lines and its newest, in order, with one line
// between them that counts the lines left out; within it, every line. Either way the lines are
// UTF-8 after a byte-order mark, end in CR LF, and the exit code comes last.
TEST_F(StateTest, TranscriptPastItsBoundKeepsItsStartAndItsNewestLines) {
  std::wstring folder = FreshFolder(TempPath(L"vorlen-transcripts"));
  for (unsigned long long most : {4096ull, 64ull << 20}) {
    ResetState();
    Scoped<unsigned long long> bound(transcript_most, most), head(transcript_head, 1024);
    Transcript* transcript = OpenTranscript(folder);
    ASSERT_NE(transcript, nullptr);
    std::wstring block;
    for (int i = 0; i < 1000; ++i) {
      block += L"line " + std::to_wstring(i) + (i % 2 ? L" caf\u00e9\r\n" : L"\n");
      if (i % 7 != 6) continue;
      Transcribe(transcript, block);
      block.clear();
    }
    Transcribe(transcript, block);
    CloseTranscript(transcript, 3221225477u);
    ASSERT_EQ(WaitForSingleObject(transcript_writer, 10000), WAIT_OBJECT_0);
    std::string bytes = ReadBytes(transcript_path);
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_LE(bytes.size(), most + 64) << most;
    std::vector<std::string> lines;
    for (size_t from = 3, end; from < bytes.size(); from = end + 2) {
      end = bytes.find("\r\n", from);
      ASSERT_NE(end, std::string::npos) << "a line without its CR LF";
      lines.push_back(bytes.substr(from, end - from));
      ASSERT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "@exit 3221225477");
    lines.pop_back();
    int expected = 0;
    long long left_out = 0;
    for (const std::string& line : lines) {
      if (sscanf(line.c_str(), "... %lld lines left out here ...", &left_out) == 1) {
        EXPECT_GT(left_out, 0);
        EXPECT_GE(bytes.find("... "), 1024u) << "the head is kept whole";
        expected += static_cast<int>(left_out);
        continue;
      }
      EXPECT_EQ(line, "line " + std::to_string(expected) + (expected % 2 ? " caf\xC3\xA9" : "")) << most;
      ++expected;
    }
    EXPECT_EQ(expected, 1000) << most;
    EXPECT_EQ(left_out > 0, most == 4096) << most;
  }
  RemoveTree(folder);
}

// The player's profile folder is hidden wherever a path begins with it, however it is written,
// and nowhere else.
TEST(Report, ProfileFolderIsHiddenInEveryFormAPathTakes) {
  const struct {
    const wchar_t* profile;
    const wchar_t* text;
    const wchar_t* hidden;
  } cases[] = {
      {L"C:\\Users\\Ann", L"C:\\Users\\Ann\\AppData\\Local\\vorlen", L"%USERPROFILE%\\AppData\\Local\\vorlen"},
      {L"C:\\Users\\Ann", L"c:/users/ANN/vorlen/src/a.cpp:3:1: error: x", L"%USERPROFILE%/vorlen/src/a.cpp:3:1: error: x"},
      {L"C:\\Users\\Ann", L"cd /c/Users/Ann/vorlen && make", L"cd %USERPROFILE%/vorlen && make"},
      {L"C:\\Users\\Ann", L"'C:\\Users\\Ann' and \"C:/Users/Ann\".", L"'%USERPROFILE%' and \"%USERPROFILE%\"."},
      {L"C:\\Users\\Ann\\", L"C:\\Users\\Ann", L"%USERPROFILE%"},
      {L"C:\\Users\\Ann", L"C:\\Users\\Anna\\x and XC:\\Users\\Ann\\y", L"C:\\Users\\Anna\\x and XC:\\Users\\Ann\\y"},
      {L"C:\\Users\\\u00dcmit", L"c:\\users\\\u00fcmit\\x", L"%USERPROFILE%\\x"},
      {L"C:\\", L"C:\\Users\\Ann", L"C:\\Users\\Ann"},
      {L"", L"C:\\Users\\Ann", L"C:\\Users\\Ann"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Narrow(HideProfile(c.text, c.profile)), Narrow(c.hidden)) << Narrow(c.text);
  }
}

// The report keeps within 60,000 characters by leaving out its oldest lines; the newest stay.
TEST(Report, KeepsWithinSixtyThousandCharactersWithTheNewestLines) {
  std::vector<std::wstring> lines;
  for (int i = 0; i < 300; ++i) {
    std::wstring line = L"line " + std::to_wstring(i);
    lines.push_back(line + std::wstring(248 - line.size(), L'.'));  // 250 characters with CR LF
  }
  std::wstring report = BoundReport(L"H\r\n", lines);
  EXPECT_EQ(report.size(), 3u + 239 * 250) << "every line that fits";
  EXPECT_EQ(report.compare(0, 13, L"H\r\nline 61..."), 0);
  EXPECT_EQ(report.compare(report.size() - 5, 5, L"...\r\n"), 0);
  EXPECT_NE(report.find(L"line 299"), std::wstring::npos);

  std::vector<std::wstring> few = {L"a", L"b"};
  EXPECT_EQ(BoundReport(L"H\r\n", few), L"H\r\na\r\nb\r\n");
  EXPECT_EQ(BoundReport(std::wstring(70000, L'h'), few).size(), 60000u);
}

}  // namespace
