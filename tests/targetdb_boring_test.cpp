// The boring table: its layout from the title selection, creation, the
// missing-file test, replacement with a backup, and the field matching.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "env/errors.h"
#include "targetdb/boringdb.h"
#include "targetdb/fieldmatch.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<std::string> Query(const fs::path& file, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(file.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* s = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr) == SQLITE_OK) {
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        const unsigned char* t = sqlite3_column_text(s, c);
        row += (c ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "<null>");
      }
      rows.push_back(row);
    }
  } else {
    rows.push_back(std::string("error: ") + sqlite3_errmsg(h));
  }
  sqlite3_finalize(s);
  sqlite3_close(h);
  return rows;
}

void Exec(const fs::path& file, const std::string& sql) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(file.c_str(), &h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(h);
  if (rc != SQLITE_OK) throw std::runtime_error("exec failed: " + sql);
}

class BoringTest : public ::testing::Test {
 protected:
  BoringTest() : platform_(test::FactsOn(tmp_.path())), db_(platform_) {
    fs::create_directories(tmp_.path() / "C" / "dest");
  }

  void Add(const std::string& name, int16_t kind, int16_t size = 0, int16_t select = 1) {
    TitleEntry& e = sel_.entries[static_cast<size_t>(sel_.count++)];
    e.FileNo = 1;
    e.ItemNo = static_cast<int16_t>(sel_.count);
    e.FieldName = name;
    e.FieldKind = kind;
    e.FieldSize = size;
    e.SelectFlg = select;
  }
  fs::path File(const std::string& name = kDatabaseFileName) { return tmp_.path() / "C" / "dest" / name; }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tmp_.path() / "C" / "dest")) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void Create() {
    std::string folder = "C:\\dest";
    CreateBoringDatabase(folder, kDatabaseFileName, sel_, db_);
    EXPECT_EQ(folder, "C:\\dest\\");
    EXPECT_EQ(db_.BoringDb, nullptr);
  }
  // A table made by another tool.
  void Foreign(const std::string& columns) {
    Exec(File(), "CREATE TABLE ボーリング (" + columns + ")");
  }
  std::vector<std::string> Marked() {
    std::string folder = "C:\\dest\\";
    MarkExistingFields(folder, kDatabaseFileName, sel_, db_);
    EXPECT_EQ(db_.BoringDb, nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < sel_.count; ++i) {
      if (sel_.entries[static_cast<size_t>(i)].SelectFlg == 1) {
        names.push_back(sel_.entries[static_cast<size_t>(i)].FieldName);
      }
    }
    return names;
  }
  int16_t Check() {
    std::string folder = "C:\\dest";
    int16_t result = CheckTableFields(folder, kDatabaseFileName, sel_, db_);
    EXPECT_EQ(folder, "C:\\dest\\");
    EXPECT_EQ(db_.BoringDb, nullptr);
    return result;
  }

  TempDir tmp_;
  Platform platform_;
  DbState db_;
  TitleSelection sel_;
};

TEST_F(BoringTest, LayoutFollowsTheSelectedEntriesInOrder) {
  Add("孔名", kKindText, 50);
  Add("調査緯度", kKindInteger, 9);
  Add("未選択", kKindText, 10, 0);
  Add("フラグ2", kKindText, 10, 2);
  Add("調査日", kKindDate, 20);
  Add("掘削経度", kKindInteger);
  Add("標高", kKindSingle);
  Add("掘削緯度", kKindSingle);  // a coordinate name of another kind is one field
  Add("孔数", kKindInteger);
  Create();
  const std::vector<std::string> expected = {
      "LINKCODE|TEXT(32)",       "孔名|TEXT(50)",           "調査緯度（度）|SMALLINT",
      "調査緯度（分）|SMALLINT", "調査緯度（秒）|REAL",     "調査日|DATETIME",
      "掘削経度（度）|SMALLINT", "掘削経度（分）|SMALLINT", "掘削経度（秒）|REAL",
      "標高|REAL",               "掘削緯度|REAL",           "孔数|SMALLINT",
      "ソース位置|TEXT(128)"};
  EXPECT_EQ(Query(File(), "SELECT name, type FROM pragma_table_info('ボーリング')"), expected);
  EXPECT_EQ(Files(), std::vector<std::string>{kDatabaseFileName});

  auto db = db_.Engine().Workspaces(0).OpenDatabase("C:\\dest\\SR-DATA.MDB");
  auto rs = db->OpenRecordset(kBoringTable, dbOpenSnapshot);
  const std::vector<Field> layout = BoringTableLayout(sel_);
  ASSERT_EQ(rs->Fields().Count(), static_cast<int16_t>(expected.size()));
  ASSERT_EQ(layout.size(), expected.size());
  for (int16_t i = 0; i < rs->Fields().Count(); ++i) {
    const Field& f = rs->Fields().Item(i);
    EXPECT_EQ(f.Name, layout[static_cast<size_t>(i)].Name);
    EXPECT_EQ(f.Type, layout[static_cast<size_t>(i)].Type) << f.Name;
    EXPECT_EQ(f.Size, layout[static_cast<size_t>(i)].Size) << f.Name;
  }
}

TEST_F(BoringTest, WorkedExampleStatementsFillTheirTable) {
  Add("調査緯度", kKindInteger);
  Add("孔口標高", kKindText, 20);
  Add("ハンマ落下用具", kKindText, 20);
  Create();
  auto db = db_.Engine().Workspaces(0).OpenDatabase("C:\\dest\\SR-DATA.MDB");
  db->Execute("INSERT INTO ボーリング VALUES( Null,35,41,0.0,'TP 12.5','X','D:\\SRC\\H1\\');");
  const std::string sql = "SELECT typeof(調査緯度（度）), * FROM ボーリング";
  const std::vector<std::string> row = {"integer|<null>|35|41|0.0|TP 12.5|X|D:\\SRC\\H1\\"};
  EXPECT_EQ(Query(File(), sql), row);
  Exec(File(), "UPDATE ボーリング SET 調査緯度（分） = 1, 孔口標高 = 'old'");
  db->Execute(
      "UPDATE ボーリング SET 調査緯度（度） = 35,調査緯度（分） = 41,調査緯度（秒） = 0.0,"
      "孔口標高 = 'TP 12.5',ハンマ落下用具 = 'X' WHERE ソース位置 = 'D:\\SRC\\H1\\';");
  EXPECT_EQ(Query(File(), sql), row);
}

TEST_F(BoringTest, NoSelectedEntryGivesTheTwoFixedFields) {
  Add("孔名", kKindText, 50, 0);
  Create();
  EXPECT_EQ(Query(File(), "SELECT name FROM pragma_table_info('ボーリング')"),
            (std::vector<std::string>{"LINKCODE", "ソース位置"}));
}

TEST_F(BoringTest, AnUnknownKindIsRefusedBeforeAnyFileIsMade) {
  Add("孔名", kKindText, 50);
  Add("変な項目", 4);
  std::string folder = "C:\\dest";
  try {
    CreateBoringDatabase(folder, kDatabaseFileName, sel_, db_);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("変な項目"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("2"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(BoringTest, AFailedCreationLeavesNoDatabase) {
  Add("孔名", kKindText, 50);
  Add("孔名", kKindText, 20);  // duplicate field name
  std::string folder = "C:\\dest";
  EXPECT_THROW(CreateBoringDatabase(folder, kDatabaseFileName, sel_, db_), DbError);
  EXPECT_EQ(db_.BoringDb, nullptr);
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));

  // An existing file is never replaced by a creation.
  sel_.count = 1;
  test::WriteFile(File(), "keep");
  EXPECT_THROW(CreateBoringDatabase(folder, kDatabaseFileName, sel_, db_), Error);
  EXPECT_EQ(test::ReadFile(File()), "keep");
  EXPECT_EQ(Files(), std::vector<std::string>{kDatabaseFileName});
}

TEST_F(BoringTest, MissingDatabaseTest) {
  std::string folder = "C:\\dest";
  EXPECT_TRUE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));
  EXPECT_EQ(folder, "C:\\dest\\");
  EXPECT_TRUE(Files().empty());
  test::WriteFile(File(), "");
  EXPECT_TRUE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));
  EXPECT_TRUE(Files().empty());
  Create();
  EXPECT_FALSE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));
}

TEST_F(BoringTest, ReplacementKeepsTheOldDatabaseAsBackup) {
  std::string folder = "C:\\dest";
  DeleteDatabaseFile(folder, kDatabaseFileName, platform_);  // nothing there
  EXPECT_EQ(folder, "C:\\dest\\");
  EXPECT_TRUE(Files().empty());

  Add("孔名", kKindText, 50);
  Create();
  Exec(File(), "INSERT INTO ボーリング VALUES (NULL, '一本目', 'C:\\H1\\')");
  // A log left by an older backup must not end up beside the new one.
  test::WriteFile(File("SR-DATA.MDB.bak"), "older backup");
  test::WriteFile(File("SR-DATA.MDB.bak-wal"), "stale log");
  DeleteDatabaseFile(folder, kDatabaseFileName, platform_);
  EXPECT_EQ(Files(), std::vector<std::string>{"SR-DATA.MDB.bak"});
  EXPECT_EQ(Query(File("SR-DATA.MDB.bak"), "SELECT 孔名 FROM ボーリング"),
            std::vector<std::string>{"一本目"});
  EXPECT_TRUE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));
  // With no database to keep, the backup and its log stay; a log left without
  // its database is dropped, not put beside the backup.
  test::WriteFile(File("SR-DATA.MDB.bak-journal"), "backup's journal");
  test::WriteFile(File("SR-DATA.MDB-wal"), "orphaned log");
  DeleteDatabaseFile(folder, kDatabaseFileName, platform_);
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.MDB.bak", "SR-DATA.MDB.bak-journal"}));
  EXPECT_EQ(test::ReadFile(File("SR-DATA.MDB.bak-journal")), "backup's journal");
  fs::remove(File("SR-DATA.MDB.bak-journal"));

  // Replaced again: the backup is the newer database; its log moves along.
  Add("孔数", kKindInteger);
  Create();
  Exec(File(), "INSERT INTO ボーリング VALUES (NULL, '二本目', 3, 'C:\\H2\\')");
  test::WriteFile(File("SR-DATA.MDB-wal"), "");
  DeleteDatabaseFile(folder, kDatabaseFileName, platform_);
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.MDB.bak", "SR-DATA.MDB.bak-wal"}));
  EXPECT_EQ(Query(File("SR-DATA.MDB.bak"), "SELECT 孔名, 孔数 FROM ボーリング"),
            std::vector<std::string>{"二本目|3"});
}

TEST_F(BoringTest, ReplacementBuildsTheNewDatabaseBeforeTheOldGoesAside) {
  Add("孔名", kKindText, 50);
  Create();
  Exec(File(), "INSERT INTO ボーリング VALUES (NULL, '一本目', 'C:\\H1\\')");
  const std::string before = test::ReadFile(File());

  // A layout that cannot be built leaves the old database where it was.
  Add("孔名", kKindText, 20);  // duplicate field name
  std::string folder = "C:\\dest";
  EXPECT_THROW(ReplaceBoringDatabase(folder, kDatabaseFileName, sel_, db_), DbError);
  EXPECT_EQ(db_.BoringDb, nullptr);
  EXPECT_EQ(Files(), std::vector<std::string>{kDatabaseFileName});
  EXPECT_EQ(test::ReadFile(File()), before);

  sel_.entries[1].FieldName = "孔数";
  sel_.entries[1].FieldKind = kKindInteger;
  ReplaceBoringDatabase(folder, kDatabaseFileName, sel_, db_);
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.MDB", "SR-DATA.MDB.bak"}));
  EXPECT_EQ(Query(File("SR-DATA.MDB.bak"), "SELECT 孔名 FROM ボーリング"),
            std::vector<std::string>{"一本目"});
  EXPECT_TRUE(Query(File(), "SELECT * FROM ボーリング").empty());
  EXPECT_EQ(Check(), 0);
}

TEST_F(BoringTest, CreatedTableMatchesItsSelectionBothWays) {
  Add("孔名", kKindText, 50);
  Add("調査緯度", kKindInteger);
  Add("未選択", kKindText, 10, 0);
  Add("調査日", kKindDate);
  Create();
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Marked(), (std::vector<std::string>{"孔名", "調査緯度", "調査日"}));
  sel_.entries[2].SelectFlg = 1;  // one more entry than the table has
  EXPECT_EQ(Check(), 1);
  sel_.entries[2].SelectFlg = 0;
  sel_.entries[3].SelectFlg = 0;  // one fewer
  EXPECT_EQ(Check(), 1);
}

TEST_F(BoringTest, MatchingLooksOnlyAtTheInnerFieldsByExactName) {
  // First and last fields are named like entries, in another order, with other
  // sizes; 調査緯度 has only its degrees field.
  Foreign("孔名 TEXT(5), 標高 TEXT(99), 調査緯度（度） SMALLINT, abc REAL, 孔数 SMALLINT, 調査日 TEXT(1)");
  Add("孔名", kKindText, 50);
  Add("孔数", kKindInteger);
  Add("標高", kKindSingle);
  Add("調査緯度", kKindInteger);
  Add("ABC", kKindSingle);
  Add("調査日", kKindDate);
  EXPECT_EQ(Marked(), (std::vector<std::string>{"孔数", "標高", "調査緯度"}));
  EXPECT_EQ(Check(), 1);  // （分） and （秒） are missing

  // The same names as the inner fields, in another order: a match.
  fs::remove(File());
  Foreign("ID INTEGER, 孔数 SMALLINT, 標高 TEXT(7), 調査緯度（秒） REAL, 調査緯度（分） SMALLINT, "
          "調査緯度（度） SMALLINT, PATH TEXT");
  EXPECT_EQ(Marked(), (std::vector<std::string>{"孔数", "標高", "調査緯度"}));
  EXPECT_EQ(Check(), 0);
}

TEST_F(BoringTest, ATableOfTwoFieldsMatchesOnlyAnEmptySelection) {
  Foreign("孔名 TEXT(5), 孔数 SMALLINT");
  Add("孔名", kKindText, 50, 0);
  Add("孔数", kKindInteger, 0, 0);
  EXPECT_EQ(Check(), 0);
  sel_.entries[1].SelectFlg = 1;
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Marked().empty());
  EXPECT_EQ(sel_.entries[1].SelectFlg, 0);
}

TEST_F(BoringTest, MoreThanFiftyOneExpectedNamesAreCompared) {
  for (const char* name : {"調査緯度", "調査経度", "掘削緯度", "掘削経度"}) Add(name, kKindInteger);
  while (sel_.count < kMaxTitleEntries) Add("項目" + std::to_string(sel_.count), kKindText, 10);
  Create();  // 47 + 4 * 3 = 59 inner fields
  EXPECT_EQ(Query(File(), "SELECT count(*) FROM pragma_table_info('ボーリング')"),
            std::vector<std::string>{"61"});
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Marked().size(), static_cast<size_t>(kMaxTitleEntries));
}

TEST_F(BoringTest, MatchingFailuresLeaveTheSlotEmpty) {
  Add("孔名", kKindText, 50);
  std::string folder = "C:\\dest";
  Exec(File(), "CREATE TABLE other (a)");
  try {
    CheckTableFields(folder, kDatabaseFileName, sel_, db_);
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), DbError::Kind::NoTable);
  }
  EXPECT_EQ(db_.BoringDb, nullptr);
  const std::string text = "LINKCODE,ソース位置\r\n";
  test::WriteFile(File(), text);
  try {
    MarkExistingFields(folder, kDatabaseFileName, sel_, db_);
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), DbError::Kind::NotADatabase);
    EXPECT_NE(std::string(e.what()).find("SR-DATA.MDB"), std::string::npos);
  }
  EXPECT_EQ(db_.BoringDb, nullptr);
  EXPECT_EQ(sel_.entries[0].SelectFlg, 1);
  EXPECT_EQ(test::ReadFile(File()), text);
  EXPECT_EQ(Files(), std::vector<std::string>{kDatabaseFileName});
}

}  // namespace
}  // namespace s2q
