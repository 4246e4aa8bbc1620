// The script the installer carries is the file in the source tree, byte for byte.
#include "support.h"

namespace {

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

TEST(ScriptText, ConstantEqualsTheFileByteForByte) {
  std::string file = ReadFileBytes(VORLEN_SOURCE_DIR L"/script/install.ps1");
  ASSERT_GT(file.size(), 1000u);
  EXPECT_EQ(kInstallScriptSize, file.size());
  EXPECT_EQ(std::string(kInstallScript, kInstallScriptSize), file);
}

TEST(ScriptText, IsPlainAsciiWithLineFeeds) {
  for (unsigned long i = 0; i < kInstallScriptSize; ++i) {
    unsigned char c = static_cast<unsigned char>(kInstallScript[i]);
    ASSERT_TRUE(c < 128 && c != '\r') << "byte " << i;
  }
  EXPECT_EQ(kInstallScript[kInstallScriptSize - 1], '\n');
}

}  // namespace
