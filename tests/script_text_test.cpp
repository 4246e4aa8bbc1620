// The script the installer carries is the file in the source tree, byte for byte.
#include "support.h"

namespace {

TEST(ScriptText, ConstantEqualsTheFileByteForByte) {
  std::string file = ReadBytes(VORLEN_SOURCE_DIR L"/script/install.ps1");
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
