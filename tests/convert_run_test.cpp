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
  EXPECT_NE(m.find("表題ファイルの読み込み"), std::string::npos) << m;
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
  EXPECT_NE(m.find("データベースへの書き込み"), std::string::npos) << m;
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
  EXPECT_NE(m.find("SQL 文の作成"), std::string::npos) << m;
  EXPECT_NE(m.find("総削孔長"), std::string::npos) << m;
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

TEST_F(Run, AMissingDatabaseFailsBeforeAnyHoleIsRead) {
  FakeHoles holes;
  holes.Add("H1");
  EXPECT_THROW(Convert(holes), Error);
  EXPECT_EQ(sourceReads, 0);
  EXPECT_EQ(app.db.BoringDb, nullptr);
}

}  // namespace
}  // namespace s2q
