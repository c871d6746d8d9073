// The conversion run over a real destination database.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/run.h"
#include "env/errors.h"
#include "tests/convert_fixture.h"

namespace s2q {
namespace {

using test::FakeHoles;

class Run : public test::ConvertFixture {
 protected:
  RunResult Convert(const FakeHoles& holes, const std::string& source = "C:\\src") {
    return ConvertHoles(app, holes, [this, source] {
      ++sourceReads;
      return source;
    });
  }
  std::string Failure(const FakeHoles& holes) {
    try {
      Convert(holes);
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
  int sourceReads = 0;
};

TEST(HolePath, OneSeparatorBetweenFolderAndHole) {
  EXPECT_EQ(HolePath("C:\\SRC", "H1"), "C:\\SRC\\H1\\");
  EXPECT_EQ(HolePath("C:\\SRC\\", "H1"), "C:\\SRC\\H1\\");
  EXPECT_EQ(HolePath("C:\\", "H1"), "C:\\H1\\");
}

TEST_F(Run, InsertsThenUpdatesTheSameHoleInOneRow) {
  CreateDatabase();
  WriteHole("H1", "第一孔", "20.5");
  FakeHoles holes;
  holes.Add("H1");
  holes.Add("H1");  // the second lookup finds the row the first one inserted
  RunResult first = Convert(holes);
  EXPECT_EQ(first.inserted, 1);
  EXPECT_EQ(first.updated, 1);
  EXPECT_EQ(app.db.BoringDb, nullptr);
  holes.entries.pop_back();

  WriteHole("H1", "第一孔（再測）", "31.25");
  RunResult second = Convert(holes, "C:\\src\\");  // the same hole path
  EXPECT_EQ(second.inserted, 0);
  EXPECT_EQ(second.updated, 1);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("ソース位置"), "C:\\src\\H1\\");
  EXPECT_EQ(rows[0].at("ボーリング名"), "第一孔（再測）");
  EXPECT_EQ(rows[0].at("総削孔長"), "31.25");
  EXPECT_EQ(rows[0].at("孔口標高"), "TP 12.5");
  EXPECT_EQ(rows[0].at("調査緯度（度）"), "35");
  EXPECT_EQ(rows[0].at("調査緯度（分）"), "41");
  EXPECT_EQ(rows[0].at("調査緯度（秒）"), "7.5");
  EXPECT_EQ(rows[0].at("LINKCODE"), "(null)");
}

TEST_F(Run, AHoleFolderWithAQuoteConverts) {
  CreateDatabase();
  WriteHole("O'Hara", "O'Hara's");
  FakeHoles holes;
  holes.Add("O'Hara");
  EXPECT_EQ(Convert(holes).inserted, 1);
  EXPECT_EQ(Convert(holes).updated, 1);  // found again by its quoted path
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("ソース位置"), "C:\\src\\O'Hara\\");
  EXPECT_EQ(rows[0].at("ボーリング名"), "O'Hara's");
}

TEST_F(Run, SelectedHolesInListOrderAndUnselectedOnesNeverRead) {
  CreateDatabase();
  WriteHole("H2", "二");
  WriteUnreadableHole("bad");
  WriteHole("H10", "十");
  FakeHoles holes;
  holes.Add("H2");
  holes.Add("bad", false);
  holes.Add("H10");
  holes.Add("H3", false);  // no folder at all
  RunResult result = Convert(holes);
  EXPECT_EQ(result.inserted, 2);
  EXPECT_EQ(sourceReads, 2);  // afresh for every selected hole
  EXPECT_EQ(holes.countCalls, 1);  // the entries are counted once
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("ソース位置"), "C:\\src\\H2\\");
  EXPECT_EQ(rows[1].at("ソース位置"), "C:\\src\\H10\\");
}

TEST_F(Run, AHoleWithoutItsSecondTitleFileConvertsWithDefaults) {
  CreateDatabase();
  WriteHole("H1");
  std::filesystem::remove(dir / "C/src/H1/TITL02.TXT");
  FakeHoles holes;
  holes.Add("H1");
  EXPECT_EQ(Convert(holes).inserted, 1);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("孔口標高"), "   ");  // no code found, no elevation
  EXPECT_EQ(rows[0].at("総削孔長"), "0");
  EXPECT_EQ(rows[0].at("掘進角度"), "0");
  EXPECT_EQ(rows[0].at("調査緯度（秒）"), "7.5");
}

TEST_F(Run, FailingAtTheThirdHoleKeepsTheFirstTwoAndClosesTheDatabase) {
  CreateDatabase();
  WriteHole("H1");
  WriteHole("H2");
  WriteUnreadableHole("H3");
  WriteHole("H4");
  FakeHoles holes;
  for (const char* name : {"H1", "H2", "H3", "H4"}) holes.Add(name);
  const std::string m = Failure(holes);
  EXPECT_NE(m.find("C:\\src\\H3\\"), std::string::npos) << m;
  EXPECT_NE(m.find("の表題ファイルを読み込めません"), std::string::npos) << m;
  EXPECT_NE(m.find("TITL01.TXT"), std::string::npos) << m;  // the reason, from the reader
  EXPECT_EQ(app.db.BoringDb, nullptr);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("ソース位置"), "C:\\src\\H1\\");
  EXPECT_EQ(rows[1].at("ソース位置"), "C:\\src\\H2\\");
}

TEST_F(Run, AStatementTheDatabaseRejectsNamesTheHoleAndTheStep) {
  CreateDatabase();
  WriteHole("H1", "孔", "1e39");  // beyond a single float
  FakeHoles holes;
  holes.Add("H1");
  const std::string m = Failure(holes);
  EXPECT_NE(m.find("C:\\src\\H1\\"), std::string::npos) << m;
  EXPECT_NE(m.find("をデータベースに書き込めません"), std::string::npos) << m;
  EXPECT_EQ(app.db.BoringDb, nullptr);
  EXPECT_TRUE(Rows().empty());
}

TEST_F(Run, ANumberCellHoldingTextStopsTheRunBeforeTheStatement) {
  CreateDatabase();
  WriteHole("H1", "孔", "\"20,ボーリング名 = 'x'\"");  // one quoted item
  FakeHoles holes;
  holes.Add("H1");
  const std::string m = Failure(holes);
  EXPECT_NE(m.find("C:\\src\\H1\\"), std::string::npos) << m;
  // The entry by its catalogue line and the value by its title item, in the
  // user's terms rather than the program's steps.
  EXPECT_NE(m.find("表題項目「総削孔長」（TitleDb.TXT の 6 行目）の値「20,ボーリング名 = 'x'」"
                   "（TITL02.TXT の 4 番目の項目）は数値ではありません"),
            std::string::npos)
      << m;
  EXPECT_EQ(m.find("SQL"), std::string::npos) << m;
  EXPECT_TRUE(Rows().empty());
}

TEST_F(Run, AnEntryOutsideTheTableStopsTheRunNamingHoleAndEntry) {
  CreateDatabase();
  app.titles.entries[1].ItemNo = 41;  // a date needs items 41 to 43
  WriteHole("H1");
  FakeHoles holes;
  holes.Add("H1");
  const std::string m = Failure(holes);
  EXPECT_NE(m.find("C:\\src\\H1\\"), std::string::npos) << m;
  EXPECT_NE(m.find("調査期間開始"), std::string::npos) << m;
  EXPECT_EQ(app.db.BoringDb, nullptr);
}

// Whether every byte of the text belongs to a whole UTF-8 character.
bool IsWholeUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                         : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST_F(Run, ARejectedStatementIsToldWithoutABrokenCharacter) {
  // A field name the statement cannot carry (the catalogue reader refuses
  // it; here it is made in memory) makes the engine quote a piece of the
  // statement, which must not end inside a character.
  app.titles.entries[0].FieldName = "WHERE";
  CreateDatabase();
  WriteHole("H1", "孔孔孔孔孔孔孔孔孔孔孔");
  FakeHoles holes;
  holes.Add("H1");
  ASSERT_EQ(Convert(holes).inserted, 1);
  const std::string m = Failure(holes);  // the update names the field
  EXPECT_NE(m.find("をデータベースに書き込めません"), std::string::npos) << m;
  EXPECT_NE(m.find("孔孔孔"), std::string::npos) << m;
  EXPECT_TRUE(IsWholeUtf8(m)) << m;
}

TEST_F(Run, FoldersWithoutTitleFilesAreLeftOutAndNamed) {
  CreateDatabase();
  WriteHole("H1");
  std::filesystem::create_directories(dir.path() / u8"C/src/写真");
  WriteHole("H2");
  std::filesystem::remove(dir / "C/src/H2/TITL01.TXT");  // one of the two is enough
  WriteHole("資料");
  test::WriteFile(dir.path() / u8"C/src/資料/TITL01.TXT", "");  // empty counts as missing
  std::filesystem::remove(dir.path() / u8"C/src/資料/TITL02.TXT");
  FakeHoles holes;
  for (const char* name : {"H1", "写真", "H2", "資料"}) holes.Add(name);
  RunResult result = Convert(holes);
  EXPECT_EQ(result.inserted, 2);
  EXPECT_EQ(result.leftOut, (std::vector<std::string>{"写真", "資料"}));
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("ソース位置"), "C:\\src\\H1\\");
  EXPECT_EQ(rows[1].at("ソース位置"), "C:\\src\\H2\\");

  EXPECT_EQ(LeftOutText(result.leftOut), "表題ファイルのないフォルダ 2 個は除きました：写真、資料");
  EXPECT_EQ(LeftOutText({}), "");
}

TEST(LeftOutText, NamesAsManyFoldersAsTheWidthHoldsAndCountsTheRest) {
  const std::vector<std::string> names = {"写真", "ｼｬｼﾝ", "BH-9", "資料と図面の保管用"};
  const std::string head = "表題ファイルのないフォルダ 4 個は除きました";
  ASSERT_EQ(TextWidth(head), 43u);
  EXPECT_EQ(TextWidth("ｼｬｼﾝ、BH-9"), 10u);
  EXPECT_EQ(LeftOutText(names), head + "：写真、ｼｬｼﾝ、BH-9、資料と図面の保管用");
  // 45 columns for the head and the colon, 4 + 2 + 4 + 2 + 4 for three
  // names, and 10 for " ほか 1 個".
  EXPECT_EQ(LeftOutText(names, 71), head + "：写真、ｼｬｼﾝ、BH-9 ほか 1 個");
  EXPECT_EQ(LeftOutText(names, 70), head + "：写真、ｼｬｼﾝ ほか 2 個");
  EXPECT_EQ(LeftOutText(names, 20), head);  // no room for a name: the count only
}

TEST_F(Run, ASelectionWithoutDistinctHolePathsIsRefusedBeforeAnythingIsWritten) {
  CreateDatabase();
  for (const char* name : {"H1", "a\\b", "BH1", "bh1"}) WriteHole(name);
  struct Case {
    std::vector<std::string> names;
    std::vector<std::string> named;  // what the message must name
  } cases[] = {
      {{"H1", "a\\b"}, {"「a\\b」", "「\\」"}},
      {{"BH1", "H1", "bh1"}, {"「BH1」と「bh1」", "大文字と小文字"}},
  };
  for (const Case& c : cases) {
    FakeHoles holes;
    for (const std::string& name : c.names) holes.Add(name);
    const std::string m = Failure(holes);
    for (const std::string& part : c.named) EXPECT_NE(m.find(part), std::string::npos) << m;
    EXPECT_EQ(app.db.BoringDb, nullptr);
    EXPECT_TRUE(Rows().empty()) << m;
  }
  // Paths that differ in anything else are different holes.
  FakeHoles holes;
  holes.Add("BH1");
  holes.Add("H1");
  EXPECT_EQ(Convert(holes).inserted, 2);
}

TEST_F(Run, AMissingDatabaseFailsBeforeAnyHoleIsRead) {
  FakeHoles holes;
  holes.Add("H1");
  EXPECT_THROW(Convert(holes), Error);
  EXPECT_EQ(sourceReads, 0);
  EXPECT_EQ(app.db.BoringDb, nullptr);
}

}  // namespace
}  // namespace s2q
