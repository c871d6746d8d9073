#include "env/patdat.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "env/errors.h"
#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::FactsOn;
using test::TempDir;
using test::WriteCp932;
using test::WriteFile;

class PatdatTest : public ::testing::Test {
 protected:
  PatdatTest() : platform(FactsOn(tmp.path())), ini(tmp / "C" / "sys" / "PatdatV5.ini") {}
  std::string ReadWith(const std::string& utf8) {
    WriteCp932(ini, utf8);
    return ReadPatdatSetting(platform);
  }
  TempDir tmp;
  Platform platform;
  fs::path ini;
};

TEST_F(PatdatTest, TakesTheFirstItemAfterLineOne) {
  for (const char* second : {"C:\\PATDAT\\", "\"C:\\PATDAT\\\"", "  C:\\PATDAT\\  ",
                             "\" C:\\PATDAT\\ \"", "C:\\PATDAT\\,other", "\"C:\\PATDAT\\\",x,y"}) {
    EXPECT_EQ(ReadWith(std::string("[PATDAT]\r\n") + second + "\r\n"), "C:\\PATDAT\\") << second;
  }
  EXPECT_EQ(ReadWith("C:\\line one, skipped\r\n\r\n  \r\nC:\\PATDAT\\\r\n"), "C:\\PATDAT\\");
  EXPECT_EQ(ReadWith("x\nD:\\ﾊﾟｯﾄ①\\"), "D:\\ﾊﾟｯﾄ①\\");
  EXPECT_EQ(ReadWith("[PATDAT]\r\n,C:\\PATDAT\\\r\n"), "");
}

TEST_F(PatdatTest, NoSettingGivesTheEmptyText) {
  EXPECT_EQ(ReadPatdatSetting(platform), "");
  EXPECT_FALSE(fs::exists(ini));  // nothing left behind

  WriteFile(ini, "");
  EXPECT_EQ(ReadPatdatSetting(platform), "");
  EXPECT_FALSE(fs::exists(ini));  // the empty file is deleted

  EXPECT_EQ(ReadWith("[PATDAT]"), "");
  EXPECT_EQ(ReadWith("[PATDAT]\r\n\r\n  \r\n"), "");
  EXPECT_EQ(ReadWith("\r\n"), "");

  fs::remove_all(tmp / "C" / "sys");
  EXPECT_EQ(ReadPatdatSetting(platform), "");
}

TEST_F(PatdatTest, UnreadableFilesRaiseErrors) {
  WriteFile(ini, "[PATDAT]\r\nC:\\\x85\x40\\\r\n");
  EXPECT_THROW(ReadPatdatSetting(platform), Error);
  fs::remove(ini);
  fs::create_directory(ini);
  EXPECT_THROW(ReadPatdatSetting(platform), Error);
}

TEST(Patdat, SystemFolderAtADriveRoot) {
  TempDir tmp;
  PlatformFacts facts = FactsOn(tmp.path());
  facts.systemFolder = tmp / "C";
  Platform platform(facts);
  WriteCp932(tmp / "C" / "PatdatV5.ini", "x\r\nC:\\P\\\r\n");
  EXPECT_EQ(ReadPatdatSetting(platform), "C:\\P\\");
}

TEST_F(PatdatTest, FolderMustExist) {
  fs::create_directories(tmp / "C" / "PATDAT");
  fs::create_directories(tmp / "C" / u8"パット");
  WriteFile(tmp / "C" / "afile", "x");
  EXPECT_TRUE(PatdatFolderExists(platform, "C:\\PATDAT\\"));
  EXPECT_TRUE(PatdatFolderExists(platform, "C:\\パット\\"));
  EXPECT_FALSE(PatdatFolderExists(platform, "C:\\NONE\\"));
  EXPECT_FALSE(PatdatFolderExists(platform, "C:\\afile\\"));
  EXPECT_FALSE(PatdatFolderExists(platform, "Q:\\PATDAT\\"));
  EXPECT_FALSE(PatdatFolderExists(platform, ""));
  EXPECT_FALSE(PatdatFolderExists(platform, "\\"));
  EXPECT_FALSE(PatdatFolderExists(platform, "あ"));
}

}  // namespace
}  // namespace s2q
