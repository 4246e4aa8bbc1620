// The script the installer carries is the file in the source tree, byte for byte.
#include "support.h"

namespace {

// Each script the installer carries, with the file it comes from.
struct Carried {
  const wchar_t* file;
  const char* text;
  unsigned long size;
};
const Carried kCarried[] = {
    {VORLEN_SOURCE_DIR L"/script/install.ps1", kInstallScript, kInstallScriptSize},
    {VORLEN_SOURCE_DIR L"/script/uninstall.ps1", kUninstallScript, kUninstallScriptSize},
};

TEST(ScriptText, ConstantEqualsTheFileByteForByte) {
  for (const Carried& carried : kCarried) {
    std::string file = ReadBytes(carried.file);
    ASSERT_GT(file.size(), 1000u);
    EXPECT_EQ(carried.size, file.size());
    EXPECT_EQ(std::string(carried.text, carried.size), file);
  }
}

TEST(ScriptText, IsPlainAsciiWithLineFeeds) {
  for (const Carried& carried : kCarried) {
    for (unsigned long i = 0; i < carried.size; ++i) {
      unsigned char c = static_cast<unsigned char>(carried.text[i]);
      ASSERT_TRUE(c < 128 && c != '\r') << "byte " << i;
    }
    EXPECT_EQ(carried.text[carried.size - 1], '\n');
  }
}

}  // namespace
