#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "convert/titletable.h"
#include "env/codepage.h"
#include "env/errors.h"
#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

class TitleTableTest : public ::testing::Test {
 protected:
  TitleTableTest() : platform(test::FactsOn(tmp.path())) {}

  void Hole(const std::string& name, const std::string& titl01, const std::string* titl02) {
    test::WriteCp932(tmp / ("C/src/" + name + "/TITL01.TXT"), titl01);
    if (titl02) test::WriteCp932(tmp / ("C/src/" + name + "/TITL02.TXT"), *titl02);
    std::filesystem::create_directories(tmp / ("C/src/" + name));
  }
  void Read(const std::string& name) {
    ReadHoleTitles(table, names, platform, "C:\\src\\" + name + "\\");
  }
  const std::string& Cell(int row, int item) const { return table.cells[row][item]; }

  test::TempDir tmp;
  Platform platform;
  TitleTable table;
  std::vector<std::string> names = BuildTitleFileNames();
};

TEST_F(TitleTableTest, ItemsAreCountedInFileOrderWhateverTheLineLayout) {
  const std::string two = "\"ｶﾀｶﾅ①\",\"株式会社,地質\"\r\n  35 ,41\r\n\r\n";
  Hole("H1", "\"調査名\",1998\r\n12\r\n01", &two);
  Read("H1");
  EXPECT_EQ(Cell(0, 0), "調査名");
  EXPECT_EQ(Cell(0, 1), "1998");
  EXPECT_EQ(Cell(0, 2), "12");
  EXPECT_EQ(Cell(0, 3), "01");
  EXPECT_EQ(Cell(0, 4), "");
  EXPECT_EQ(Cell(1, 0), "ｶﾀｶﾅ①");
  EXPECT_EQ(Cell(1, 1), "株式会社,地質");
  EXPECT_EQ(Cell(1, 2), "35");
  EXPECT_EQ(Cell(1, 3), "41");
}

TEST_F(TitleTableTest, MissingOrEmptyFileGivesABlankRowOfAll42Items) {
  Hole("H1", "a,b", nullptr);
  Read("H1");
  EXPECT_EQ(Cell(0, 1), "b");
  for (int k = 0; k < kTitleItems; ++k) EXPECT_EQ(Cell(1, k), " ") << k;

  Hole("H2", "", nullptr);
  Read("H2");
  for (int k = 0; k < kTitleItems; ++k) EXPECT_EQ(Cell(0, k), " ") << k;
  EXPECT_FALSE(std::filesystem::exists(tmp / "C/src/H2/TITL01.TXT"))
      << "a 0-byte title file is deleted";
}

TEST_F(TitleTableTest, NothingOfThePreviousHoleReachesTheNext) {
  std::string full;
  for (int i = 1; i <= kTitleItems; ++i) full += "A" + std::to_string(i) + ",";
  Hole("LONG", full, &full);
  Read("LONG");
  ASSERT_EQ(Cell(0, 41), "A42");
  ASSERT_EQ(Cell(1, 41), "A42");

  Hole("SHORT", "x,y", nullptr);
  Read("SHORT");
  EXPECT_EQ(Cell(0, 1), "y");
  for (int k = 2; k < kTitleItems; ++k) EXPECT_EQ(Cell(0, k), "") << k;
  EXPECT_EQ(Cell(1, 41), " ") << "item 41 of a missing file's row is blank too";
  for (int r = 2; r < kTitleRows; ++r)
    for (int k = 0; k < kTitleItems; ++k) EXPECT_EQ(Cell(r, k), "");
}

TEST_F(TitleTableTest, ItemsAfterThe42ndAreIgnored) {
  std::string many;
  for (int i = 1; i <= 60; ++i) many += std::to_string(i) + "\r\n";
  Hole("H1", many, &many);
  Read("H1");
  EXPECT_EQ(Cell(0, 0), "1");
  EXPECT_EQ(Cell(0, 41), "42");
  EXPECT_EQ(Cell(2, 0), "") << "nothing spills into the next row";
}

TEST_F(TitleTableTest, InvalidBytesAreAnErrorNamingTheFile) {
  std::filesystem::create_directories(tmp / "C/src/BAD");
  test::WriteFile(tmp / "C/src/BAD/TITL01.TXT", "ok,\x82\x0d\n");
  try {
    Read("BAD");
    FAIL() << "invalid bytes were accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("TITL01.TXT"), std::string::npos) << e.what();
  }
}

TEST_F(TitleTableTest, AControlCharacterInAnItemIsRefusedNamingFileItemAndOffset) {
  struct Case {
    std::string bytes;
    std::string named;  // item and offset the message must give
  } cases[] = {
      // "調査名" is 6 bytes in code page 932: the NUL is at offset 11 of item 2.
      {EncodeCp932("\"調査名\",AB", "test") + std::string("\0C\r\n", 4), "の 2 番目の項目に制御文字 (0x00) があります（ファイルのオフセット 11）"},
      // At the start of a line: the first item of that line.
      {"a,b\r\n\x01x\r\n", "の 3 番目の項目に制御文字 (0x01) があります（ファイルのオフセット 5）"},
      {"a,\"b\x1b[0m\"\r\n", "の 2 番目の項目に制御文字 (0x1B)"},
      {"a,b\x7f\r\n", "の 2 番目の項目に制御文字 (0x7F)"},
  };
  for (const Case& c : cases) {
    std::filesystem::create_directories(tmp / "C/src/CTL");
    test::WriteFile(tmp / "C/src/CTL/TITL01.TXT", c.bytes);
    try {
      Read("CTL");
      ADD_FAILURE() << "a control character was stored: " << c.named;
    } catch (const Error& e) {
      const std::string m = e.what();
      EXPECT_NE(m.find("C:\\src\\CTL\\TITL01.TXT " + c.named), std::string::npos) << m;
    }
  }
  // Tabs, line ends, the end-of-file mark and items past the 42nd are no
  // item text the table keeps.
  std::string fine = "\t\"a\tb\"\t,c\r\nd\re\n";
  for (int i = 5; i <= 42; ++i) fine += "x,";  // items 5 to 42
  fine += "\x01\r\n\x1a";
  test::WriteFile(tmp / "C/src/CTL/TITL01.TXT", fine);
  ASSERT_NO_THROW(Read("CTL"));
  EXPECT_EQ(Cell(0, 0), "a\tb");
  EXPECT_EQ(Cell(0, 3), "e");
  EXPECT_EQ(Cell(0, 41), "x");
}

TEST_F(TitleTableTest, OtherTitleFilesOfTheHoleAreNotRead) {
  Hole("H1", "a", nullptr);
  test::WriteFile(tmp / "C/src/H1/TITL21.TXT", "\xff\xff");
  test::WriteFile(tmp / "C/src/H1/G102.TXT", "\xff\xff");
  EXPECT_NO_THROW(Read("H1"));
  EXPECT_EQ(names, (std::vector<std::string>{"TITL01.TXT", "TITL02.TXT", "TITL21.TXT", "G102.TXT"}));
}

TEST_F(TitleTableTest, TitleFilesAreFoundWhateverTheCaseOfAToZ) {
  test::WriteCp932(tmp / "C/src/h1/titl01.txt", "\"調査名\",1998");
  test::WriteCp932(tmp / "C/src/h1/Titl02.Txt", "x");
  ReadHoleTitles(table, names, platform, "C:\\src\\H1\\");
  EXPECT_EQ(Cell(0, 0), "調査名");
  EXPECT_EQ(Cell(0, 1), "1998");
  EXPECT_EQ(Cell(1, 0), "x");

#ifndef _WIN32  // Windows keeps no two names that differ in case only
  // Two files that are one on the old platform: refused, naming both.
  test::WriteCp932(tmp / "C/src/h1/TITL01.TXT", "other");
  try {
    Read("h1");
    FAIL() << "two title files were accepted";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("TITL01.TXT"), std::string::npos) << message;
    EXPECT_NE(message.find("titl01.txt"), std::string::npos) << message;
  }
#endif
}

TEST_F(TitleTableTest, ATitleFileThatIsNoRegularFileStopsTheHole) {
#ifdef _WIN32
  GTEST_SKIP() << "named pipes and symbolic links made by any user are POSIX files";
#else
  // A named pipe would keep a reader waiting for ever: the alarm ends such
  // a test instead.
  ::alarm(30);
  std::filesystem::create_directories(tmp / "C/src/P");
  ASSERT_EQ(::mkfifo((tmp / "C/src/P/TITL01.TXT").c_str(), 0600), 0);
  try {
    Read("P");
    ADD_FAILURE() << "a named pipe was read";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\src\\P\\TITL01.TXT"), std::string::npos) << e.what();
  }
  ::alarm(0);

  // A link to an empty file is not deleted as an empty title file.
  Hole("L", "a", nullptr);
  test::WriteFile(tmp / "C/src/empty.txt", "");
  std::filesystem::create_symlink(tmp / "C/src/empty.txt", tmp / "C/src/L/TITL02.TXT");
  EXPECT_THROW(Read("L"), Error);
  EXPECT_TRUE(std::filesystem::is_symlink(tmp / "C/src/L/TITL02.TXT"));
  EXPECT_TRUE(std::filesystem::exists(tmp / "C/src/empty.txt"));
#endif
}

}  // namespace
}  // namespace s2q
