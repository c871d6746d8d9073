// The boring table: its layout from the title selection, creation, the
// missing-file test, replacement with a backup, and the field matching.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "env/errors.h"
#include "targetdb/boringdb.h"
#include "targetdb/fieldmatch.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A field as "name|TYPE", the type as the engine reports it.
std::string LayoutText(const Field& f) {
  switch (f.Type) {
    case dbText: return f.Name + "|TEXT(" + std::to_string(f.Size) + ")";
    case dbDate: return f.Name + "|DATETIME";
    case dbInteger: return f.Name + "|SMALLINT";
    case dbSingle: return f.Name + "|REAL";
    default: return f.Name + "|type " + std::to_string(f.Type);
  }
}

// Rows of the boring table read through the engine, each as the values of
// the named columns joined by "|".
std::vector<std::string> Rows(const fs::path& file, const std::vector<std::string>& columns) {
  test::TableContents t = test::ReadTable(file);
  std::vector<std::string> rows;
  for (auto& record : t.Records()) {
    std::string row;
    for (size_t i = 0; i < columns.size(); ++i) row += (i ? "|" : "") + record.at(columns[i]);
    rows.push_back(row);
  }
  return rows;
}

// Every test runs once for each storage backend.
class BoringTest : public ::testing::TestWithParam<StorageFormat> {
 protected:
  BoringTest() : platform_(test::FactsOn(tmp_.path())), db_(platform_) {
    fs::create_directories(tmp_.path() / "C" / "dest");
    db_.createFormat = GetParam();
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
  // A database with one table of the given fields, as another tool makes it.
  void Foreign(const std::vector<Field>& fields, const std::string& table = kBoringTable) {
    auto db = db_.Engine().Workspaces(0).CreateDatabase("C:\\dest\\SR-DATA.MDB", kDbLocale,
                                                        GetParam());
    TableDef def = db->CreateTableDef(table);
    for (const Field& f : fields) def.Fields().Append(f);
    db->TableDefs().Append(def);
    db->Close();
  }
  void Execute(const std::string& sql) {
    auto db = db_.Engine().Workspaces(0).OpenDatabase("C:\\dest\\SR-DATA.MDB");
    db->Execute(sql);
    db->Close();
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

TEST_P(BoringTest, LayoutFollowsTheSelectedEntriesInOrder) {
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
  std::vector<std::string> stored;
  for (const Field& f : test::ReadTable(File()).fields) stored.push_back(LayoutText(f));
  EXPECT_EQ(stored, expected);
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

TEST_P(BoringTest, WorkedExampleStatementsFillTheirTable) {
  Add("調査緯度", kKindInteger);
  Add("孔口標高", kKindText, 20);
  Add("ハンマ落下用具", kKindText, 20);
  Create();
  auto db = db_.Engine().Workspaces(0).OpenDatabase("C:\\dest\\SR-DATA.MDB");
  db->Execute("INSERT INTO ボーリング VALUES( Null,35,41,0.0,'TP 12.5','X','D:\\SRC\\H1\\');");
  db->Close();
  const std::vector<std::string> row = {"(null)|35|41|0|TP 12.5|X|D:\\SRC\\H1\\"};
  EXPECT_EQ(test::ReadTable(File()).rows.size(), 1u);
  const std::vector<std::string> all = {"LINKCODE",       "調査緯度（度）", "調査緯度（分）", "調査緯度（秒）",
                                        "孔口標高",       "ハンマ落下用具", "ソース位置"};
  EXPECT_EQ(Rows(File(), all), row);
  Execute("UPDATE ボーリング SET 調査緯度（分） = 1,孔口標高 = 'old' WHERE ソース位置 = 'd:\\src\\h1\\'");
  EXPECT_EQ(Rows(File(), {"調査緯度（分）", "孔口標高"}), std::vector<std::string>{"1|old"});
  Execute(
      "UPDATE ボーリング SET 調査緯度（度） = 35,調査緯度（分） = 41,調査緯度（秒） = 0.0,"
      "孔口標高 = 'TP 12.5',ハンマ落下用具 = 'X' WHERE ソース位置 = 'D:\\SRC\\H1\\';");
  EXPECT_EQ(Rows(File(), all), row);
}

TEST_P(BoringTest, NoSelectedEntryGivesTheTwoFixedFields) {
  Add("孔名", kKindText, 50, 0);
  Create();
  EXPECT_EQ(test::ReadTable(File()).Names(), (std::vector<std::string>{"LINKCODE", "ソース位置"}));
}

TEST_P(BoringTest, AnUnknownKindIsRefusedBeforeAnyFileIsMade) {
  Add("孔名", kKindText, 50);
  Add("変な項目", 4);
  std::string folder = "C:\\dest";
  try {
    CreateBoringDatabase(folder, kDatabaseFileName, sel_, db_);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("変な項目"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("TitleDb.TXT の 3 行目"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Files().empty());
}

TEST_P(BoringTest, AFailedCreationLeavesNoDatabase) {
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

TEST_P(BoringTest, MissingDatabaseTest) {
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

TEST_P(BoringTest, EveryReplacedDatabaseKeepsABackupOfItsOwn) {
  std::string folder = "C:\\dest";
  EXPECT_EQ(DeleteDatabaseFile(folder, kDatabaseFileName, platform_), "");  // nothing there
  EXPECT_EQ(folder, "C:\\dest\\");
  EXPECT_TRUE(Files().empty());

  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 8;
  when.tm_hour = 9;
  when.tm_min = 15;
  when.tm_isdst = -1;
  const auto at = std::chrono::system_clock::from_time_t(std::mktime(&when));

  Add("孔名", kKindText, 50);
  Create();
  Execute("INSERT INTO ボーリング VALUES( Null,'一本目','C:\\H1\\')");
  // A log left beside the database belongs to it and moves along.
  test::WriteFile(File("SR-DATA.MDB-wal"), "");
  EXPECT_EQ(DeleteDatabaseFile(folder, kDatabaseFileName, platform_, at),
            "SR-DATA.20261208-091500.MDB.bak");
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.20261208-091500.MDB.bak",
                                               "SR-DATA.20261208-091500.MDB.bak-wal"}));
  fs::remove(File("SR-DATA.20261208-091500.MDB.bak-wal"));
  EXPECT_TRUE(IsDatabaseMissing(folder, kDatabaseFileName, platform_));

  // Replaced again within the same second: the first backup stays as it was.
  Create();
  Execute("INSERT INTO ボーリング VALUES( Null,'二本目','C:\\H2\\')");
  EXPECT_EQ(DeleteDatabaseFile(folder, kDatabaseFileName, platform_, at),
            "SR-DATA.20261208-091500-2.MDB.bak");
  EXPECT_EQ(Rows(File("SR-DATA.20261208-091500.MDB.bak"), {"孔名"}), std::vector<std::string>{"一本目"});
  EXPECT_EQ(Rows(File("SR-DATA.20261208-091500-2.MDB.bak"), {"孔名"}), std::vector<std::string>{"二本目"});

  // With no database to keep, a log left without its database is dropped, not
  // put beside a backup; the backups stay.
  test::WriteFile(File("SR-DATA.MDB-journal"), "orphaned log");
  EXPECT_EQ(DeleteDatabaseFile(folder, kDatabaseFileName, platform_, at), "");
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.20261208-091500-2.MDB.bak",
                                               "SR-DATA.20261208-091500.MDB.bak"}));
  // Backup names sort by time.
  EXPECT_LT(BackupFileName(kDatabaseFileName, at), BackupFileName(kDatabaseFileName, at + std::chrono::hours(24 * 40)));
}

TEST_P(BoringTest, ReplacementBuildsTheNewDatabaseBeforeTheOldGoesAside) {
  Add("孔名", kKindText, 50);
  Create();
  Execute("INSERT INTO ボーリング VALUES( Null,'一本目','C:\\H1\\')");
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
  const std::string backup = ReplaceBoringDatabase(folder, kDatabaseFileName, sel_, db_);
  EXPECT_EQ(Files(), (std::vector<std::string>{backup, "SR-DATA.MDB"}));
  EXPECT_EQ(Rows(File(backup), {"孔名"}), std::vector<std::string>{"一本目"});
  EXPECT_TRUE(test::ReadTable(File()).rows.empty());
  EXPECT_EQ(Check(), 0);
}

TEST_P(BoringTest, TemporaryFilesOfAKilledCreationGoTheNextTime) {
  // A process that has ended, as a killed creation's has, and one that runs.
  test::OtherProcess running;
  const std::string dead = "SR-DATA.MDB." + std::to_string(test::EndedProcessId()) + "-0.tmp";
  const std::string alive = "SR-DATA.MDB." + std::to_string(running.id()) + "-0.tmp";
  test::WriteFile(File(dead), "half");
  test::WriteFile(File(dead + "-wal"), "log");
  test::WriteFile(File(alive), "another program's work");
  test::WriteFile(File("SR-DATA.MDB.notes.tmp"), "not ours");
  Add("孔名", kKindText, 50);
  Create();
  EXPECT_EQ(Files(), (std::vector<std::string>{"SR-DATA.MDB", alive, "SR-DATA.MDB.notes.tmp"}));

  // Opening the database clears them too.
  test::WriteFile(File(dead), "half");
  db_.Engine().Workspaces(0).OpenDatabase("C:\\dest\\SR-DATA.MDB")->Close();
  EXPECT_FALSE(fs::exists(File(dead)));
}

TEST_P(BoringTest, CreatedTableMatchesItsSelectionBothWays) {
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

TEST_P(BoringTest, MatchingLooksOnlyAtTheInnerFieldsByExactName) {
  // First and last fields are named like entries, in another order, with other
  // sizes; 調査緯度 has only its degrees field.
  Foreign({{"孔名", dbText, 5}, {"標高", dbText, 99}, {"調査緯度（度）", dbInteger, 0},
           {"abc", dbSingle, 0}, {"孔数", dbInteger, 0}, {"調査日", dbText, 1}});
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
  Foreign({{"ID", dbLong, 0}, {"孔数", dbInteger, 0}, {"標高", dbText, 7},
           {"調査緯度（秒）", dbSingle, 0}, {"調査緯度（分）", dbInteger, 0},
           {"調査緯度（度）", dbInteger, 0}, {"PATH", dbText, 255}});
  EXPECT_EQ(Marked(), (std::vector<std::string>{"孔数", "標高", "調査緯度"}));
  EXPECT_EQ(Check(), 0);
}

TEST_P(BoringTest, ATableOfTwoFieldsMatchesOnlyAnEmptySelection) {
  Foreign({{"孔名", dbText, 5}, {"孔数", dbInteger, 0}});
  Add("孔名", kKindText, 50, 0);
  Add("孔数", kKindInteger, 0, 0);
  EXPECT_EQ(Check(), 0);
  sel_.entries[1].SelectFlg = 1;
  EXPECT_EQ(Check(), 1);
  EXPECT_TRUE(Marked().empty());
  EXPECT_EQ(sel_.entries[1].SelectFlg, 0);
}

TEST_P(BoringTest, MoreThanFiftyOneExpectedNamesAreCompared) {
  for (const char* name : {"調査緯度", "調査経度", "掘削緯度", "掘削経度"}) Add(name, kKindInteger);
  while (sel_.count < kMaxTitleEntries) Add("項目" + std::to_string(sel_.count), kKindText, 10);
  Create();  // 47 + 4 * 3 = 59 inner fields
  EXPECT_EQ(test::ReadTable(File()).fields.size(), 61u);
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Marked().size(), static_cast<size_t>(kMaxTitleEntries));
}

TEST_P(BoringTest, MatchingFailuresLeaveTheSlotEmpty) {
  Add("孔名", kKindText, 50);
  std::string folder = "C:\\dest";
  Foreign({{"a", dbText, 10}}, "other");
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

std::string FormatName(const ::testing::TestParamInfo<StorageFormat>& info) {
  return Backend(info.param).Name();
}

INSTANTIATE_TEST_SUITE_P(Backends, BoringTest, ::testing::ValuesIn(test::AllFormats()), FormatName);

}  // namespace
}  // namespace s2q
