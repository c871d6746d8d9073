// The UPDATE and INSERT statements of one hole.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/appstate.h"
#include "convert/statements.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::WriteCp932;

class Statements : public ::testing::Test {
 protected:
  Statements() : platform(test::FactsOn(dir.path())), app(platform, ui) {
    app.PatdatFolder = "C:\\PATDAT\\";
    app.CodeListFiles = BuildCodeListFiles();
    std::filesystem::create_directories(dir / "C/PATDAT");
  }

  TitleEntry& Add(const std::string& name, int16_t kind, int16_t fileNo, int16_t itemNo,
                  int16_t selected = 1) {
    TitleEntry& e = app.titles.entries[app.titles.count++];
    e.FieldName = name;
    e.FieldKind = kind;
    e.FileNo = fileNo;
    e.ItemNo = itemNo;
    e.SelectFlg = selected;
    return e;
  }
  std::string& Cell(int fileNo, int itemNo) {
    return app.titleTable.cells[fileNo - 1][itemNo - 1];
  }
  // The worked example of the three translated and coordinate fields.
  void WorkedExample() {
    Add("調査緯度", kKindInteger, 1, 10);
    Add("孔口標高", kKindText, 2, 3);
    Add("ハンマ落下用具", kKindText, 2, 8);
    Cell(1, 10) = "35";
    Cell(1, 11) = "41";
    Cell(1, 12) = "";
    Cell(2, 3) = "1";
    Cell(2, 5) = "12.5";
    Cell(2, 8) = "2";
    WriteCp932(dir / "C/PATDAT/L1.TXT", "1,\"TP\"\r\n");
    WriteCp932(dir / "C/PATDAT/L2.TXT", "2,\"X\"\r\n");
  }
  std::string Update(const std::string& hole) {
    std::string sql = "old text";
    BuildUpdateSql(sql, hole, app);
    return sql;
  }
  std::string Insert(const std::string& hole) {
    std::string sql = "old text";
    BuildInsertSql(sql, hole, app);
    return sql;
  }
  std::string UpdateError(const std::string& hole) {
    try {
      Update(hole);
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  test::TempDir dir;
  Platform platform;
  test::RecordingUi ui;
  AppState app;
};

TEST_F(Statements, WorkedExampleByteForByte) {
  WorkedExample();
  EXPECT_EQ(Update("D:\\SRC\\H1\\"),
            "UPDATE ボーリング SET 調査緯度（度） = 35,調査緯度（分） = 41,調査緯度（秒） = 0.0,"
            "孔口標高 = 'TP 12.5',ハンマ落下用具 = 'X' WHERE ソース位置 = 'D:\\SRC\\H1\\';");
  EXPECT_EQ(Insert("D:\\SRC\\H1\\"),
            "INSERT INTO ボーリング VALUES( Null,35,41,0.0,'TP 12.5','X','D:\\SRC\\H1\\');");
}

TEST_F(Statements, SingleEntryAndEntriesNotTakingPart) {
  Add("調査名", kKindText, 1, 1, 0);
  Add("総削孔長", kKindSingle, 1, 2);
  Add("事業名", kKindText, 1, 3, 2);  // only 1 takes part
  Add("孔内水位", kKindText, 1, 42, 0);  // outside the table, but not taking part
  Cell(1, 2) = "20.5";
  EXPECT_EQ(Update("C:\\H\\"), "UPDATE ボーリング SET 総削孔長 = 20.5 WHERE ソース位置 = 'C:\\H\\';");
  EXPECT_EQ(Insert("C:\\H\\"), "INSERT INTO ボーリング VALUES( Null,20.5,'C:\\H\\');");
}

TEST_F(Statements, EntriesFromTheCountOnAreNotRead) {
  Add("調査名", kKindText, 1, 1);
  Add("事業名", kKindText, 1, 2);
  app.titles.count = 1;
  Cell(1, 1) = "A";
  EXPECT_EQ(Insert("C:\\H\\"), "INSERT INTO ボーリング VALUES( Null,'A','C:\\H\\');");
}

TEST_F(Statements, QuotesInValuesAndInTheHolePathAreDoubled) {
  Add("調査名", kKindText, 1, 1);
  Add("調査期間開始", kKindDate, 1, 2);
  Cell(1, 1) = "O'Hara";
  Cell(1, 2) = "2001";
  Cell(1, 3) = "4";
  Cell(1, 4) = "1";
  EXPECT_EQ(Update("C:\\SRC\\O'Hara\\"),
            "UPDATE ボーリング SET 調査名 = 'O''Hara',調査期間開始 = '2001/4/1' "
            "WHERE ソース位置 = 'C:\\SRC\\O''Hara\\';");
  EXPECT_EQ(Insert("C:\\SRC\\O'Hara\\"),
            "INSERT INTO ボーリング VALUES( Null,'O''Hara','2001/4/1','C:\\SRC\\O''Hara\\');");
}

TEST_F(Statements, AHoleWithoutEntriesIsRefusedNamingTheHole) {
  Add("調査名", kKindText, 1, 1, 0);
  const std::string m = UpdateError("C:\\SRC\\H7\\");
  EXPECT_NE(m.find("変換する項目がありません"), std::string::npos) << m;
  EXPECT_NE(m.find("C:\\SRC\\H7\\"), std::string::npos) << m;
  EXPECT_THROW(Insert("C:\\SRC\\H7\\"), Error);
}

TEST_F(Statements, AnEntryOfAnUnknownKindIsRefusedNamingIt) {
  Add("調査名", kKindText, 1, 1);
  Add("謎の項目", 5, 1, 2);
  std::string sql = "kept";
  const std::string m = UpdateError("C:\\H\\");
  EXPECT_NE(m.find("表題項目「謎の項目」（TitleDb.TXT の 3 行目）"), std::string::npos) << m;
  EXPECT_THROW(BuildInsertSql(sql, "C:\\H\\", app), Error);
  EXPECT_EQ(sql, "kept");
}

}  // namespace
}  // namespace s2q
