#include "env/checkpath.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::FactsOn;
using test::RecordingUi;
using test::TempDir;

const char kDriveMessage[] =
    "規定値のドライブ名が正しくありません。ドライブ名は１文字のアルファベットと \":\" "
    "でなければいけません。  例 \"C:\", \"D:\"...";

// Drives C and D ready, E in the table without its root, no Q.
class CheckPathTest : public ::testing::Test {
 protected:
  CheckPathTest() : platform(FactsOn(tmp.path(), "CDE", "E")) {}

  bool Check(std::string& path) { return CheckPath(path, platform, ui); }

  TempDir tmp;
  Platform platform;
  RecordingUi ui;
};

TEST_F(CheckPathTest, AcceptsAndNormalisesPathsOnExistingDrives) {
  platform.ChangeDrive("D");
  std::string path = "  c:\\work ";
  EXPECT_TRUE(Check(path));
  EXPECT_EQ(path, "c:\\work\\");
  EXPECT_EQ(platform.CurrentDrive(), 'C');

  const std::pair<const char*, const char*> accepted[] = {
      {"C:", "C:\\"},
      {"C:\\", "C:\\"},
      {"C:data\\sub", "C:\\data\\sub\\"},
      {"C:表", "C:\\表\\"},
      {"d:\\ボーリング データ\\孔-1（No.1）, 2", "d:\\ボーリング データ\\孔-1（No.1）, 2\\"},
  };
  for (const auto& [given, normal] : accepted) {
    std::string p = given;
    EXPECT_TRUE(Check(p)) << given;
    EXPECT_EQ(p, normal);
  }
  EXPECT_EQ(platform.CurrentDrive(), 'D');
  EXPECT_FALSE(std::filesystem::exists(tmp / "D" / "ボーリング データ"));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(CheckPathTest, PathsWithoutADriveShowTheMessage) {
  // A byte that is no part of a UTF-8 character after the letter is a
  // character of its own, so no colon stands second.
  for (const char* given : {"data\\sub", "\\\\server\\share", "", "C", "   ", "あい:",
                            "C\x80:\\data", "C\xA9:data", "c\xE3\x81:\\data", "C\xA7:\\data", "c\xA7\xA7:x"}) {
    std::string path = given;
    ui.boxes.clear();
    EXPECT_FALSE(Check(path)) << given;
    ASSERT_EQ(ui.boxes.size(), 1u) << given;
    EXPECT_EQ(ui.boxes[0].text, kDriveMessage);
    EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(ui.boxes[0].caption, "");
  }
  std::string path = "  data\\sub ";
  Check(path);
  EXPECT_EQ(path, "data\\sub");
}

TEST_F(CheckPathTest, SilentRejections) {
  platform.ChangeDrive("D");
  const std::pair<const char*, const char*> rejected[] = {
      {" C:\\a*b ", "C:\\a*b"},      // wildcards: only trimmed
      {"C:a?", "C:a?"},
      {"Q:\\data", "Q:\\data"},      // no such drive
      {"Q:data", "Q:\\data"},
      {"E:\\data", "E:\\data"},      // drive not ready
      {"1:\\data", "1:\\data"},
      {"ａ:\\data", "ａ:\\data"},    // a full-width letter is one character
      {"é:\\data", "é:\\data"},      // so is a letter outside ASCII
      {"C:\\a\\\\b", "C:\\a\\\\b\\"},  // empty folder name
      {"C:\\\\", "C:\\\\"},
      {"C:\\\xA3", "C:\\\xA3"},    // a byte that is no UTF-8
      {"C:\xEF\xBC\xA3" "2\xA3" "2", "C:\xEF\xBC\xA3" "2\xA3" "2"},
  };
  for (const auto& [given, after] : rejected) {
    std::string p = given;
    EXPECT_FALSE(Check(p)) << given;
    EXPECT_EQ(p, after);
  }
  EXPECT_TRUE(ui.boxes.empty());
  // Only the drive-letter refusals leave the current drive alone; the
  // empty folder name is found after the drive has changed.
  EXPECT_EQ(platform.CurrentDrive(), 'C');
  std::string onD = "D:\\x\\\\y";
  EXPECT_FALSE(Check(onD));
  EXPECT_EQ(platform.CurrentDrive(), 'D');
  std::string missing = "Q:\\x";
  EXPECT_FALSE(Check(missing));
  EXPECT_EQ(platform.CurrentDrive(), 'D');
}

}  // namespace
}  // namespace s2q
