#include <gtest/gtest.h>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/platform.h"
#include "targetdb/titledb.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::ReadFile;
using test::WriteFile;

class TitleDbTest : public ::testing::Test {
 protected:
  TitleDbTest() : platform(test::FactsOn(tmp.path())) {}

  std::filesystem::path CataloguePath() const { return tmp / "C/prog/TitleDb.TXT"; }
  std::string Cp932(const std::string& utf8) { return EncodeCp932(utf8, "test"); }
  int16_t Read() {
    int16_t n = ReadTitleDb(sel, dest, platform, ui);
    sel.count = n;
    return n;
  }

  test::TempDir tmp;
  Platform platform;
  test::RecordingUi ui;
  TitleSelection sel;
  std::string dest = "unchanged";
};

TEST_F(TitleDbTest, RoundTripKeepsEntryLinesByteForByte) {
  // A folder with a comma, Japanese names, an entry line with blanks around
  // its items, and a name in the NEC row 13 form of "≒" (0x8790), which a
  // decode and re-encode would turn into 0x81E0.
  const std::string entries = Cp932("1,3,\"ボーリング名\",64,0\r\n") +
                              " 2 , 10 ,\"調査緯度\", 0 ,2\r\n" + "1,5,\"" +
                              Cp932("標高") + "\x87\x90\",8,3\r\n" +
                              Cp932("1,20,\"ﾊﾝﾏ落下用具①\",-1,0\r\n");
  WriteFile(CataloguePath(), Cp932("\"C:\\データ,旧\\\"\r\n") + entries);

  ASSERT_EQ(Read(), 4);
  EXPECT_EQ(dest, "C:\\データ,旧\\");
  EXPECT_EQ(sel.entries[0].FieldName, "ボーリング名");
  EXPECT_EQ(sel.entries[0].ItemNo, 3);
  EXPECT_EQ(sel.entries[0].FieldSize, 64);
  EXPECT_EQ(sel.entries[1].FileNo, 2);
  EXPECT_EQ(sel.entries[1].ItemNo, 10);
  EXPECT_EQ(sel.entries[1].FieldKind, 2);
  EXPECT_EQ(sel.entries[2].FieldName, "標高≒");
  EXPECT_EQ(sel.entries[3].FieldName, "ﾊﾝﾏ落下用具①");
  EXPECT_EQ(sel.entries[3].FieldSize, -1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sel.entries[i].SelectFlg, 0);

  sel.entries[1].SelectFlg = 1;  // flags are never saved
  WriteTitleDb(sel, "D:\\新しい,先\\", platform);
  EXPECT_EQ(ReadFile(CataloguePath()), Cp932("\"D:\\新しい,先\\\"\r\n") + entries);

  TitleSelection again;
  std::string againDest;
  ASSERT_EQ(ReadTitleDb(again, againDest, platform, ui), 4);
  EXPECT_EQ(againDest, "D:\\新しい,先\\");
  EXPECT_EQ(again.entries[1].SelectFlg, 0);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(TitleDbTest, EntriesMadeInMemoryAreWrittenInTheCanonicalForm) {
  sel.count = 2;
  sel.entries[0] = {1, 2, "調査名", 64, 0, 1, ""};
  sel.entries[1] = {2, 40, "孔口標高", -5, 0, 0, ""};
  WriteTitleDb(sel, "", platform);
  EXPECT_EQ(ReadFile(CataloguePath()),
            Cp932("\"\"\r\n1,2,\"調査名\",64,0\r\n2,40,\"孔口標高\",-5,0\r\n"));
}

TEST_F(TitleDbTest, MissingOrEmptyFileIsToldAndGivesNoEntries) {
  sel.entries[0].FieldName = "kept";
  EXPECT_EQ(Read(), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "表題設定ファイルが存在しません");
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::None);
  EXPECT_EQ(dest, "unchanged");
  EXPECT_EQ(sel.entries[0].FieldName, "kept");
  EXPECT_FALSE(std::filesystem::exists(CataloguePath()));

  WriteFile(CataloguePath(), "");
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(ui.boxes.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(CataloguePath())) << "an empty catalogue is deleted";
}

TEST_F(TitleDbTest, EmptySelectionIsWrittenAsAnEmptyFileAndThenReadsAsMissing) {
  sel.count = 0;
  WriteTitleDb(sel, "C:\\x\\", platform);
  EXPECT_EQ(ReadFile(CataloguePath()), "");
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(ui.boxes.size(), 1u);
}

struct MalformedCase {
  const char* name;
  std::string body;  // after the folder line, UTF-8
  int line;          // the line the error must name
};

class TitleDbMalformedTest : public TitleDbTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(TitleDbMalformedTest, IsRefusedNamingTheLineAndChangesNothing) {
  const MalformedCase& c = GetParam();
  const std::string bytes = Cp932("\"C:\\dest\\\"\r\n" + c.body);
  WriteFile(CataloguePath(), bytes);
  sel.entries[0].FieldName = "before";
  try {
    Read();
    FAIL() << "a malformed catalogue was accepted";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("TitleDb.TXT"), std::string::npos) << what;
    EXPECT_NE(what.find(std::to_string(c.line) + " 行目"), std::string::npos) << what;
  }
  EXPECT_EQ(dest, "unchanged");
  EXPECT_EQ(sel.entries[0].FieldName, "before");
  EXPECT_EQ(ReadFile(CataloguePath()), bytes) << "the file must stay as it was";
}

std::string ManyLines(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "1," + std::to_string(i % 42 + 1) + ",\"F" + std::to_string(i) + "\",8,0\r\n";
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TitleDbMalformedTest,
    ::testing::Values(
        MalformedCase{"FourItems", "1,2,\"名\",8,0\r\n1,2,\"名\",8\r\n", 3},
        MalformedCase{"SixItems", "1,2,\"名\",8,0,9\r\n", 2},
        MalformedCase{"NotANumber", "1,x,\"名\",8,0\r\n", 2},
        MalformedCase{"Fraction", "1,2,\"名\",8.5,0\r\n", 2},
        MalformedCase{"Beyond16Bits", "1,2,\"名\",40000,0\r\n", 2},
        MalformedCase{"Below16Bits", "1,2,\"名\",8,-32769\r\n", 2},
        MalformedCase{"TooManyEntries", ManyLines(52), 53},
        MalformedCase{"OnlyTheFolderLine", "", 2},
        // Field names that a statement "名前 = 値,名前 = 値 WHERE ..." cannot
        // carry, each on line 3 after a good entry.
        MalformedCase{"NameWithABlank", "1,1,\"孔名\",8,0\r\n1,2,\"調査 名\",8,0\r\n", 3},
        MalformedCase{"NameWithEquals", "1,1,\"孔名\",8,0\r\n1,2,\"a=b\",8,0\r\n", 3},
        MalformedCase{"NameWithAComma", "1,1,\"孔名\",8,0\r\n1,2,\"深さ,m\",8,0\r\n", 3},
        MalformedCase{"NameWithAQuote", "1,1,\"孔名\",8,0\r\n1,2,\"O'Hara\",8,0\r\n", 3},
        MalformedCase{"NameWithADoubleQuote", "1,1,\"孔名\",8,0\r\n1,2,\"a\"b\",8,0\r\n", 3},
        MalformedCase{"NameWithBrackets", "1,1,\"孔名\",8,0\r\n1,2,\"[標高]\",8,0\r\n", 3},
        MalformedCase{"NameWithParentheses", "1,1,\"孔名\",8,0\r\n1,2,\"標高(m)\",8,0\r\n", 3},
        MalformedCase{"NameWithASemicolon", "1,1,\"孔名\",8,0\r\n1,2,\"a;b\",8,0\r\n", 3},
        MalformedCase{"NameIsAStatementWord", "1,1,\"孔名\",8,0\r\n1,2,\"where\",8,0\r\n", 3},
        MalformedCase{"NameIsSet", "1,1,\"孔名\",8,0\r\n1,2,SET,8,0\r\n", 3},
        MalformedCase{"NameWithAControlCharacter", "1,1,\"孔名\",8,0\r\n1,2,\"孔\x01名\",8,0\r\n", 3},
        MalformedCase{"EmptyName", "1,1,\"孔名\",8,0\r\n1,2,\"\",8,0\r\n", 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TitleDbTest, BytesThatAreNotCodePage932AreRefusedNamingTheLine) {
  // A lone CR ends line 2 as the reader ends it.
  WriteFile(CataloguePath(), "\"C:\\\"\r\n1,1,\"a\",8,0\r1,2,\"b\",8,0\n1,3,\"\x81\x20\",8,0\r\n");
  try {
    Read();
    FAIL();
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("TitleDb.TXT の 4 行目"), std::string::npos) << what;
    EXPECT_NE(what.find("0x81"), std::string::npos) << what;
  }
  EXPECT_EQ(dest, "unchanged");
}

TEST_F(TitleDbTest, FieldNamesTheStatementsCanCarryAreAccepted) {
  // Full-width characters, the ideographic space and words that merely hold
  // a statement word are names like any other.
  WriteFile(CataloguePath(), Cp932("\"C:\\\"\r\n1,1,\"孔口標高（ＴＰ）\",8,0\r\n"
                                   "1,2,\"Ｎ値　深度\",8,0\r\n1,3,\"ＷＨＥＲＥ\",8,0\r\n"
                                   "1,4,\"標高_m\",8,0\r\n1,5,\"OFFSET\",8,0\r\n"));
  ASSERT_EQ(Read(), 5);
  EXPECT_EQ(sel.entries[1].FieldName, "Ｎ値　深度");
  EXPECT_EQ(sel.entries[4].FieldName, "OFFSET");
}

TEST_F(TitleDbTest, FiftyOneEntriesAreTheMost) {
  WriteFile(CataloguePath(), "\"\"\r\n" + ManyLines(51));
  EXPECT_EQ(Read(), 51);
  EXPECT_EQ(sel.entries[50].FieldName, "F50");
}

TEST_F(TitleDbTest, FailedWriteLeavesTheCatalogueWhole) {
  const std::string before = Cp932("\"C:\\a\\\"\r\n1,2,\"調査名\",64,0\r\n");
  WriteFile(CataloguePath(), before);
  ASSERT_EQ(Read(), 1);
  // A folder that code page 932 cannot hold, and one with a double quote,
  // cannot be saved; the old file must survive whole.
  EXPECT_THROW(WriteTitleDb(sel, "C:\\\xF0\x9F\x98\x80\\", platform), Error);
  EXPECT_EQ(ReadFile(CataloguePath()), before);
  EXPECT_THROW(WriteTitleDb(sel, "C:\\a\"b\\", platform), Error);
  EXPECT_EQ(ReadFile(CataloguePath()), before);
  for (const auto& entry : std::filesystem::directory_iterator(tmp / "C/prog"))
    EXPECT_EQ(entry.path().filename(), "TitleDb.TXT") << "no temporary file is left";
}

TEST(TitleSelectionFlags, DefaultSelectionMarksOnlyMandatoryEntriesBelowTheCount) {
  TitleSelection sel;
  sel.count = 9;
  for (auto& e : sel.entries) e.SelectFlg = 1;
  sel.entries[2].SelectFlg = 0;
  SetDefaultSelection(sel);
  const int expected[9] = {1, 0, 0, 1, 0, 1, 1, 1, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(sel.entries[i].SelectFlg, expected[i]) << i;
  EXPECT_EQ(sel.entries[9].SelectFlg, 1) << "entries above the count are not touched";

  TitleSelection four;
  four.count = 4;
  four.entries[1].SelectFlg = 1;
  SelectMandatoryEntries(four);
  EXPECT_EQ(four.entries[0].SelectFlg, 1);
  EXPECT_EQ(four.entries[1].SelectFlg, 1) << "other entries keep their flag";
  EXPECT_EQ(four.entries[2].SelectFlg, 0);
  EXPECT_EQ(four.entries[3].SelectFlg, 1);
  EXPECT_EQ(four.entries[5].SelectFlg, 0);
}

}  // namespace
}  // namespace s2q
