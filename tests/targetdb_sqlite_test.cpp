// What is particular to databases stored as SQLite files: the declared
// types, the lookup index, WAL, tables made by other tools, locks and crashes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "env/errors.h"
#include "targetdb/dao.h"
#include "targetdb/dbstate.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Direct access through the SQLite C library, as another program would have.
class RawDb {
 public:
  explicit RawDb(const fs::path& file) {
    if (sqlite3_open_v2(file.c_str(), &h_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      throw std::runtime_error("open failed");
    }
  }
  ~RawDb() { sqlite3_close(h_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(h_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string message = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(message);
    }
  }
  // Rows of a query, each as its columns joined by "|", NULL as "<null>",
  // every value prefixed by its storage class ("i:", "r:", "t:").
  std::vector<std::string> Rows(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(h_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(h_));
    }
    std::vector<std::string> rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        if (c) row += "|";
        switch (sqlite3_column_type(s, c)) {
          case SQLITE_NULL: row += "<null>"; break;
          case SQLITE_INTEGER: row += "i:" + std::to_string(sqlite3_column_int64(s, c)); break;
          case SQLITE_FLOAT: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "r:%.17g", sqlite3_column_double(s, c));
            row += buf;
            break;
          }
          default: row += "t:" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, c)));
        }
      }
      rows.push_back(row);
    }
    sqlite3_finalize(s);
    return rows;
  }

 private:
  sqlite3* h_ = nullptr;
};

using test::KindOf;

class DaoTest : public ::testing::Test {
 protected:
  DaoTest() : platform_(test::FactsOn(tmp_.path())), engine_(platform_, StorageOptions{50}) {}

  fs::path Native(const std::string& name) { return tmp_.path() / "C" / name; }
  Workspace& Ws() { return engine_.Workspaces(0); }

  // A database holding table T with the given fields.
  std::unique_ptr<Database> Make(const std::vector<Field>& fields, const std::string& name = "t.db") {
    auto db = Ws().CreateDatabase("C:\\" + name, kDbLocale, StorageFormat::Sqlite);
    TableDef t = db->CreateTableDef("T");
    for (const Field& f : fields) t.Fields().Append(t.CreateField(f.Name, f.Type, f.Size));
    db->TableDefs().Append(t);
    return db;
  }

  TempDir tmp_;
  Platform platform_;
  DBEngine engine_;
};

TEST_F(DaoTest, LayoutIsStoredAsDeclaredTypesWithTheLookupIndexInWal) {
  Make({{"名前 (全角)", dbText, 32}, {"日", dbDate, 0}, {"N", dbInteger, 0},
        {"調査緯度（秒）", dbSingle, 0}, {"ソース位置", dbText, 128}})
      ->Close();
  RawDb raw(Native("t.db"));
  EXPECT_EQ(raw.Rows("SELECT name, type FROM pragma_table_info('T')"),
            (std::vector<std::string>{"t:名前 (全角)|t:TEXT(32)", "t:日|t:DATETIME", "t:N|t:SMALLINT",
                                      "t:調査緯度（秒）|t:REAL", "t:ソース位置|t:TEXT(128)"}));
  // The lookup index compares as the lookups do, and is the only other object.
  auto objects = raw.Rows("SELECT type, sql FROM sqlite_schema WHERE type = 'index'");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_NE(objects[0].find("\"ソース位置\" COLLATE NOCASE"), std::string::npos);
  EXPECT_EQ(raw.Rows("PRAGMA journal_mode"), std::vector<std::string>{"t:wal"});
}

TEST_F(DaoTest, ValuesAreStoredInTheirStorageClasses) {
  auto db = Make({{"A", dbText, 10}, {"N", dbInteger, 0}, {"R", dbSingle, 0}, {"D", dbDate, 0}});
  db->Execute("INSERT INTO T VALUES( 12,'7',' 12.3','98/1/2');");
  db->Close();
  EXPECT_EQ(RawDb(Native("t.db")).Rows("SELECT * FROM T"),
            std::vector<std::string>{"t:12|i:7|r:12.300000000000001|t:1998-01-02"});
}

TEST_F(DaoTest, ForeignTablesAreReadBySqliteTypeRules) {
  {
    RawDb raw(Native("f.db"));
    raw.Exec("CREATE TABLE T (a INTEGER, b VARCHAR(20), c, d DOUBLE, e DATE, f TEXT, g int2)");
  }
  auto db = Ws().OpenDatabase("C:\\f.db");
  auto rs = db->OpenRecordset("t", dbOpenSnapshot);  // table names ignore A-Z case
  std::vector<std::pair<int16_t, int16_t>> got;
  for (int16_t i = 0; i < rs->Fields().Count(); ++i) {
    got.emplace_back(rs->Fields().Item(i).Type, rs->Fields().Item(i).Size);
  }
  EXPECT_EQ(got, (std::vector<std::pair<int16_t, int16_t>>{{dbLong, 0}, {dbText, 20}, {dbText, 0},
                                                           {dbDouble, 0}, {dbDate, 0}, {dbText, 0},
                                                           {dbInteger, 0}}));
  db->Execute("INSERT INTO T VALUES( 70000,'x',12,1e300,'2001/2/3','長い文字列','1');");
  EXPECT_EQ(RawDb(Native("f.db")).Rows("SELECT * FROM T"),
            std::vector<std::string>{"i:70000|t:x|t:12|r:1.0000000000000001e+300|t:2001-02-03|"
                                     "t:長い文字列|i:1"});
}

TEST_F(DaoTest, ForeignValuesReadBackAsValidTextAndDates) {
  {
    RawDb raw(Native("f.db"));
    raw.Exec("CREATE TABLE T (a TEXT, e DATE)");
    // Bytes that are not UTF-8 in a text, and dates in forms of other tools.
    raw.Exec("INSERT INTO T VALUES (CAST(X'41FF42E38182E381' AS TEXT), 'tomorrow')");
    raw.Exec("INSERT INTO T VALUES ('ok', '2001-02-03')");
    raw.Exec("INSERT INTO T VALUES (CAST(X'EDA080C0AF' AS TEXT), 5)");
    raw.Exec("INSERT INTO T VALUES ('t', '2001-02-03 04:05:06')");
    raw.Exec("INSERT INTO T VALUES (X'00FF41', X'01')");  // bytes stay bytes
  }
  auto db = Ws().OpenDatabase("C:\\f.db");
  auto rs = db->OpenRecordset("T", dbOpenSnapshot);
  const auto rows = rs->GetRows();
  ASSERT_EQ(rows.size(), 5u);
  // Each byte that does not start a UTF-8 character reads as U+FFFD; a
  // character cut at the end of the text too.
  EXPECT_EQ(rows[0][0], Value::Text("A\uFFFDBあ\uFFFD\uFFFD"));
  EXPECT_EQ(rows[0][1], Value::Text("tomorrow"));
  EXPECT_EQ(rows[1][1], Value::Date("2001-02-03"));
  // A surrogate and an overlong form are not UTF-8 either.
  EXPECT_EQ(rows[2][0], Value::Text("\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"));
  EXPECT_EQ(rows[2][1], Value::Text("5"));
  EXPECT_EQ(rows[3][1], Value::Date("2001-02-03 04:05:06"));
  EXPECT_EQ(rows[4], (std::vector<Value>{Value::Binary(std::string("\0\xFF" "A", 3)), Value::Binary("\x01")}));
}

TEST_F(DaoTest, LookupWorksOnATableWithoutTheIndex) {
  {
    RawDb raw(Native("f.db"));
    raw.Exec("CREATE TABLE ボーリング (LINKCODE TEXT(32), ソース位置 TEXT(128));"
             "INSERT INTO ボーリング VALUES (NULL, 'C:\\H1\\')");
  }
  auto db = Ws().OpenDatabase("C:\\f.db");
  auto rs = db->OpenRecordset("ボーリング");
  rs->FindFirst("ソース位置 = 'c:\\h1\\'");
  EXPECT_FALSE(rs->NoMatch());
}

TEST_F(DaoTest, ADatabaseHeldByAnotherProgramIsReportedAsLocked) {
  Make({{"A", dbText, 10}}, "l.db")->Close();
  auto db = Ws().OpenDatabase("C:\\l.db");
  RawDb other(Native("l.db"));
  other.Exec("BEGIN IMMEDIATE");
  std::string message;
  EXPECT_EQ(KindOf([&] { db->Execute("INSERT INTO T VALUES( 'x');"); }, &message),
            DbError::Kind::Locked);
  EXPECT_NE(message.find("C:\\l.db"), std::string::npos) << message;
  EXPECT_NE(message.find("閉じてからやり直してください"), std::string::npos) << message;
  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\l.db"); }), DbError::Kind::Locked);
  other.Exec("ROLLBACK");
  db->Execute("INSERT INTO T VALUES( 'x');");
  EXPECT_EQ(other.Rows("SELECT * FROM T"), std::vector<std::string>{"t:x"});
}

TEST_F(DaoTest, ADamagedFileIsRefusedBeforeAnythingIsWritten) {
  {
    RawDb raw(Native("d.db"));
    raw.Exec("PRAGMA page_size=4096; CREATE TABLE T (K TEXT(8));");
    for (int i = 0; i < 20; ++i) raw.Exec("INSERT INTO T VALUES ('k" + std::to_string(i) + "')");
  }
  // The table's one page (page 2) with its first cell pointer cleared: SQLite
  // itself still reads the table, and would write into it.
  std::string bytes = test::ReadFile(Native("d.db"));
  ASSERT_EQ(static_cast<unsigned char>(bytes[4096]), 0x0D);
  bytes[4096 + 8] = bytes[4096 + 9] = 0;
  test::WriteFile(Native("d.db"), bytes);
  EXPECT_EQ(RawDb(Native("d.db")).Rows("SELECT count(*) FROM T"), std::vector<std::string>{"i:20"});

  std::string message;
  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\d.db"); }, &message), DbError::Kind::NotADatabase);
  EXPECT_NE(message.find("「C:\\d.db」"), std::string::npos) << message;
  // SQLite's finding, on the message's one line.
  EXPECT_NE(message.find("壊れています（On tree page 2 cell 0: "), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  EXPECT_EQ(test::ReadFile(Native("d.db")), bytes);
}

TEST_F(DaoTest, AReadOnlyDatabaseIsReportedAsSuch) {
  if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind the superuser";
  Make({{"A", dbText, 10}}, "r.db")->Close();
  fs::permissions(Native("r.db"), fs::perms::owner_read);
  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\r.db"); }), DbError::Kind::ReadOnly);
}

TEST_F(DaoTest, EveryReturnedStatementSurvivesACrash) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Ends without closing anything, as a crash would.
    try {
      auto db = Make({{"A", dbText, 10}, {"ソース位置", dbText, 128}}, "c.db");
      for (int i = 0; i < 3; ++i) db->Execute("INSERT INTO T VALUES( " + std::to_string(i) + ",'p');");
      db->Execute("UPDATE T SET A = 'u' WHERE ソース位置 = 'P';");
      ::_exit(fs::exists(Native("c.db-wal")) ? 0 : 2);
    } catch (...) {
      ::_exit(1);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto db = Ws().OpenDatabase("C:\\c.db");
  db->Close();
  EXPECT_EQ(RawDb(Native("c.db")).Rows("SELECT A FROM T"),
            (std::vector<std::string>{"t:u", "t:u", "t:u"}));
}

TEST(DbStateTest, AClosedDatabaseLeavesNoLogBehind) {
  TempDir tmp;
  Platform platform(test::FactsOn(tmp.path()));
  DbState state(platform);
  EXPECT_EQ(&state.Engine(), &state.Engine());
  try {
    SlotCloser closer(state);
    state.BoringDb = state.Engine().Workspaces(0).CreateDatabase("C:\\s.db", kDbLocale,
                                                                 StorageFormat::Sqlite);
    throw std::runtime_error("stop");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(state.BoringDb, nullptr);
  // Closed cleanly: the log is folded into the file and removed, and another
  // connection can take the file exclusively.
  EXPECT_FALSE(fs::exists(tmp.path() / "C" / "s.db-wal"));
  RawDb other(tmp.path() / "C" / "s.db");
  other.Exec("BEGIN EXCLUSIVE; CREATE TABLE x(a); COMMIT");
}

}  // namespace
}  // namespace s2q
