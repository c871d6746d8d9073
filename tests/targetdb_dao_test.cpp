// The engine layer: creation and read-back of layouts, the statement dialect
// with its value conversions, lookups, and the refusal of files and locks.
#include "targetdb/dao.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "env/errors.h"
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

DbError::Kind KindOf(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const DbError& e) {
    if (message) *message = e.what();
    return e.kind();
  }
  ADD_FAILURE() << "no DbError raised";
  return DbError::Kind::Other;
}

class DaoTest : public ::testing::Test {
 protected:
  DaoTest() : platform_(test::FactsOn(tmp_.path())), engine_(platform_) {}

  fs::path Native(const std::string& name) { return tmp_.path() / "C" / name; }
  Workspace& Ws() { return engine_.Workspaces(0); }

  // A database holding table T with the given fields.
  std::unique_ptr<Database> Make(const std::vector<Field>& fields, const std::string& name = "t.db") {
    auto db = Ws().CreateDatabase("C:\\" + name, kDbLocale);
    TableDef t = db->CreateTableDef("T");
    for (const Field& f : fields) t.Fields().Append(t.CreateField(f.Name, f.Type, f.Size));
    db->TableDefs().Append(t);
    return db;
  }

  TempDir tmp_;
  Platform platform_;
  DBEngine engine_;
};

TEST_F(DaoTest, LayoutIsStoredAsDeclaredTypesAndReadBack) {
  auto db = Make({{"名前 (全角)", dbText, 32}, {"日", dbDate, 0}, {"N", dbInteger, 0},
                  {"調査緯度（秒）", dbSingle, 0}, {"ソース位置", dbText, 128}});
  auto rs = db->OpenRecordset("T", dbOpenSnapshot);
  ASSERT_EQ(rs->Fields().Count(), 5);
  EXPECT_EQ(rs->Fields().Item(0).Name, "名前 (全角)");
  EXPECT_EQ(rs->Fields().Item(0).Type, dbText);
  EXPECT_EQ(rs->Fields().Item(0).Size, 32);
  EXPECT_EQ(rs->Fields().Item(1).Type, dbDate);
  EXPECT_EQ(rs->Fields().Item(2).Type, dbInteger);
  EXPECT_EQ(rs->Fields().Item(3).Type, dbSingle);
  EXPECT_EQ(rs->Fields().Item(4).Size, 128);
  EXPECT_THROW(rs->Fields().Item(5), DbError);
  EXPECT_THROW(rs->Fields().Item(-1), DbError);
  rs->Close();
  db->Close();

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

TEST_F(DaoTest, TableDefinitionsAreValidated) {
  auto db = Ws().CreateDatabase("C:\\v.db", kDbLocale);
  TableDef t = db->CreateTableDef("T");
  t.Fields().Append(t.CreateField("A", dbText, 10));
  EXPECT_EQ(KindOf([&] { t.Fields().Append(t.CreateField("a", dbInteger)); }),
            DbError::Kind::Rejected);
  for (Field bad : {Field{"B", dbText, 0}, Field{"C", 99, 0}, Field{"D.E", dbDate, 0},
                    Field{" F", dbDate, 0}, Field{"", dbDate, 0}}) {
    TableDef u = db->CreateTableDef("U");
    u.Fields().Append(bad);
    std::string message;
    EXPECT_EQ(KindOf([&] { db->TableDefs().Append(u); }, &message), DbError::Kind::Rejected);
    EXPECT_NE(message.find(bad.Name), std::string::npos) << message;
  }
  db->TableDefs().Append(t);
  EXPECT_EQ(KindOf([&] { db->TableDefs().Append(t); }), DbError::Kind::Rejected);
  // A name with a double quote stays one name.
  TableDef q = db->CreateTableDef("Q\"x");
  q.Fields().Append(q.CreateField("a\"b", dbText, 5));
  db->TableDefs().Append(q);
  db->Execute("INSERT INTO Q\"x VALUES( 'v');");
  EXPECT_EQ(db->OpenRecordset("Q\"x")->Fields().Item(0).Name, "a\"b");
  db->Close();
  EXPECT_EQ(RawDb(Native("v.db")).Rows("SELECT \"a\"\"b\" FROM \"Q\"\"x\""),
            std::vector<std::string>{"t:v"});
}

// The table of the worked example of the statement builders.
class StatementTest : public DaoTest {
 protected:
  StatementTest() {
    db_ = Make({{"LINKCODE", dbText, 32},
                {"調査緯度（度）", dbInteger, 0},
                {"調査緯度（分）", dbInteger, 0},
                {"調査緯度（秒）", dbSingle, 0},
                {"孔口標高", dbText, 20},
                {"ハンマ落下用具", dbText, 3},
                {"調査日", dbDate, 0},
                {"ソース位置", dbText, 128}});
  }
  std::vector<std::string> All() {
    return RawDb(Native("t.db")).Rows("SELECT * FROM T ORDER BY rowid");
  }
  std::unique_ptr<Database> db_;
};

TEST_F(StatementTest, InsertFillsColumnsByPositionAndUpdateByName) {
  db_->Execute("INSERT INTO T VALUES( Null,35,41,0.0,'TP 12.5','X',' / / ','D:\\SRC\\H1\\');");
  EXPECT_EQ(All(), std::vector<std::string>{"<null>|i:35|i:41|r:0|t:TP 12.5|t:X|<null>|t:D:\\SRC\\H1\\"});
  db_->Execute("UPDATE T SET 調査日 = '1998/12/01',ハンマ落下用具 = Null,LINKCODE = 7 WHERE "
               "ソース位置 = 'D:\\SRC\\H1\\';");
  EXPECT_EQ(All(), std::vector<std::string>{"t:7|i:35|i:41|r:0|t:TP 12.5|<null>|t:1998-12-01|t:D:\\SRC\\H1\\"});
}

TEST_F(StatementTest, ValuesAreConvertedToTheFieldType) {
  struct Case {
    std::string field, value, stored;
  };
  const std::vector<Case> good = {
      {"孔口標高", "'１２３４５６７８９０１２３４５６７８９０'", "t:１２３４５６７８９０１２３４５６７８９０"},
      {"孔口標高", "  12.50", "t:12.50"},
      {"孔口標高", "Null", "<null>"},
      {"孔口標高", "'it''s'", "t:it's"},
      {"調査緯度（度）", "32767", "i:32767"},
      {"調査緯度（度）", "-32768", "i:-32768"},
      {"調査緯度（度）", " 41.0", "i:41"},
      {"調査緯度（度）", "'12'", "i:12"},
      {"調査緯度（秒）", " 12.3", "r:12.300000000000001"},
      {"調査緯度（秒）", "-3.4e38", "r:-3.4e+38"},
      {"調査日", "'1998/12/01'", "t:1998-12-01"},
      {"調査日", "' 98 / 1 / 2 '", "t:1998-01-02"},
      {"調査日", "'29/1/1'", "t:2029-01-01"},
      {"調査日", "'30/1/1'", "t:1930-01-01"},
      {"調査日", "'2000/2/29'", "t:2000-02-29"},
      {"調査日", "' / / '", "<null>"},
  };
  for (const Case& c : good) {
    db_->Execute("INSERT INTO T VALUES( Null,Null,Null,Null,Null,Null,Null,'k');");
    db_->Execute("UPDATE T SET " + c.field + " = " + c.value + " WHERE ソース位置 = 'k';");
    auto rows = RawDb(Native("t.db")).Rows("SELECT \"" + c.field + "\" FROM T");
    EXPECT_EQ(rows, std::vector<std::string>{c.stored}) << c.field << " = " << c.value;
    RawDb(Native("t.db")).Exec("DELETE FROM T");
  }
}

TEST_F(StatementTest, ValuesThatDoNotFitFailAndChangeNothing) {
  db_->Execute("INSERT INTO T VALUES( 'L',1,2,3.5,'TP','X','1998/12/01','C:\\A\\');");
  const std::vector<std::string> before = All();
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"ハンマ落下用具", "'ABCD'"},     {"ハンマ落下用具", "'漢字四つ'"},
      {"ハンマ落下用具", "1234"},       {"調査緯度（度）", "32768"},
      {"調査緯度（度）", "-32769"},     {"調査緯度（度）", "1.5"},
      {"調査緯度（度）", "'abc'"},      {"調査緯度（度）", "' '"},
      {"調査緯度（秒）", "3.5e38"},     {"調査緯度（秒）", "'x'"},
      {"調査日", "'1998/13/01'"},       {"調査日", "'1900/2/29'"},
      {"調査日", "'1998/ /01'"},        {"調査日", "'1998-12-01'"},
      {"調査日", "'1998/12/01/02'"},    {"調査日", "19981201"},
  };
  for (const auto& [field, value] : bad) {
    // The first assignment fits; the failing second one must undo it too.
    std::string message;
    EXPECT_EQ(KindOf([&] {
                db_->Execute("UPDATE T SET 孔口標高 = 'new'," + field + " = " + value +
                             " WHERE ソース位置 = 'C:\\A\\';");
              }, &message),
              DbError::Kind::Rejected)
        << field << " = " << value;
    EXPECT_NE(message.find(field), std::string::npos) << message;
    std::string shown = value.front() == '\'' ? value.substr(1, value.size() - 2) : value;
    EXPECT_NE(message.find(shown), std::string::npos) << message;
    EXPECT_EQ(All(), before);
    EXPECT_EQ(KindOf([&] {
                std::string values = "Null,1,2,3.5,'TP','X','1998/12/01','C:\\B\\'";
                db_->Execute("INSERT INTO T VALUES( " + values + ");");
                db_->Execute("UPDATE T SET " + field + " = " + value + " WHERE ソース位置 = 'C:\\B\\';");
              }),
              DbError::Kind::Rejected);
    RawDb(Native("t.db")).Exec("DELETE FROM T WHERE \"ソース位置\" = 'C:\\B\\'");
  }
}

TEST_F(StatementTest, StatementsOutsideTheDialectAreRejected) {
  const std::vector<std::string> bad = {
      "DELETE FROM T;",
      "INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1');",          // one value short
      "INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','p','q');",  // one too many
      "INSERT INTO T VALUES( Null,,2,3.5,'TP','X','1998/1/1','p');",       // empty value
      "INSERT INTO T VALUES( Null,abc,2,3.5,'TP','X','1998/1/1','p');",
      "INSERT INTO T VALUES( Null,0x10,2,3.5,'TP','X','1998/1/1','p');",
      "INSERT INTO T VALUES( Null,1,2,3.5,'TP,'X','1998/1/1','p');",
      "INSERT INTO U VALUES( Null);",
      "INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','p'); DROP TABLE T;",
      "UPDATE T SET  WHERE ソース位置 = 'p';",
      "UPDATE T SET 無い = 1 WHERE ソース位置 = 'p';",
      "UPDATE T SET 孔口標高 = 'a' WHERE 無い = 'p';",
      "UPDATE T SET 孔口標高 = 'a' WHERE ソース位置 = p;",
      "UPDATE T SET 孔口標高 = 'a',孔口標高 = 'b' WHERE ソース位置 = 'p';",
      "UPDATE T SET 孔口標高='a' WHERE ソース位置 = 'p';",
      "UPDATE T SET 孔口標高 = 'a' WHERE ソース位置 = 'p' OR 1 = 1;",
  };
  db_->Execute("INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','p');");
  for (const std::string& sql : bad) {
    EXPECT_EQ(KindOf([&] { db_->Execute(sql); }), DbError::Kind::Rejected) << sql;
  }
  EXPECT_EQ(All().size(), 1u);
  EXPECT_EQ(All()[0], "<null>|i:1|i:2|r:3.5|t:TP|t:X|t:1998-01-01|t:p");
  // Keywords and Null in any case, spaces around values, no closing ";".
  db_->Execute("insert into T values(null , 1 ,2,3.5, 'TP' ,'X','1/1/1','q')");
  EXPECT_EQ(All().size(), 2u);
}

TEST_F(StatementTest, LookupsIgnoreCaseOfAtoZOnlyAndTakeQuotes) {
  db_->Execute("INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','C:\\SRC\\O''Hara\\');");
  db_->Execute("INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','C:\\SRC\\Ｈ１\\');");
  auto rs = db_->OpenRecordset("T", dbOpenSnapshot);
  rs->FindFirst("ソース位置 = 'c:\\src\\o''hara\\'");
  EXPECT_FALSE(rs->NoMatch());
  rs->FindFirst("ソース位置 = 'C:\\SRC\\OHara\\'");
  EXPECT_TRUE(rs->NoMatch());
  rs->FindFirst("ソース位置 = 'C:\\SRC\\ｈ１\\'");  // full-width letters keep their case
  EXPECT_TRUE(rs->NoMatch());
  rs->FindFirst("ソース位置 = 'C:\\SRC\\Ｈ１\\'");
  EXPECT_FALSE(rs->NoMatch());
  // A text longer than the field matches nothing instead of failing.
  rs->FindFirst("ソース位置 = '" + std::string(200, 'x') + "'");
  EXPECT_TRUE(rs->NoMatch());
  for (const char* bad : {"ソース位置 = C:\\", "ソース位置 = 'a'b'", "無い = 'a'", "ソース位置='a'"}) {
    EXPECT_EQ(KindOf([&] { rs->FindFirst(bad); }), DbError::Kind::Rejected) << bad;
  }
  rs->Close();
  EXPECT_THROW(rs->FindFirst("ソース位置 = 'a'"), DbError);

  db_->Execute("UPDATE T SET 孔口標高 = 'it''s' WHERE ソース位置 = 'C:\\src\\O''HARA\\';");
  EXPECT_EQ(RawDb(Native("t.db")).Rows("SELECT \"孔口標高\" FROM T ORDER BY rowid"),
            (std::vector<std::string>{"t:it's", "t:TP"}));
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

TEST_F(DaoTest, FilesThatAreNotDatabasesAreRefusedUntouched) {
  const std::string text = "これはデータベースではありません\r\n";
  test::WriteFile(Native("SR-DATA.MDB"), text);
  test::WriteFile(Native("jet.mdb"), std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(4000, 'j'));
  test::WriteFile(Native("empty.mdb"), "");
  fs::create_directories(Native("dir.mdb"));
  for (const char* name : {"SR-DATA.MDB", "jet.mdb", "empty.mdb", "dir.mdb"}) {
    std::string message;
    EXPECT_EQ(KindOf([&] { Ws().OpenDatabase(std::string("C:\\") + name); }, &message),
              DbError::Kind::NotADatabase)
        << name;
    EXPECT_NE(message.find(name), std::string::npos) << message;
  }
  EXPECT_EQ(test::ReadFile(Native("SR-DATA.MDB")), text);
  EXPECT_EQ(test::ReadFile(Native("empty.mdb")), "");
  // Nothing was made beside them.
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp_.path() / "C")) ++files;
  EXPECT_EQ(files, 6u);  // the four, sys and prog

  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\none.mdb"); }), DbError::Kind::Other);
  EXPECT_FALSE(fs::exists(Native("none.mdb")));
  EXPECT_EQ(KindOf([&] { Ws().CreateDatabase("C:\\SR-DATA.MDB", kDbLocale); }), DbError::Kind::Other);
  EXPECT_EQ(test::ReadFile(Native("SR-DATA.MDB")), text);
}

TEST_F(DaoTest, MissingTableAndClosedDatabase) {
  auto db = Ws().CreateDatabase("C:\\n.db", kDbLocale);
  EXPECT_EQ(KindOf([&] { db->OpenRecordset("ボーリング"); }), DbError::Kind::NoTable);
  db->Close();
  EXPECT_THROW(db->Execute("INSERT INTO T VALUES( 1);"), DbError);
  EXPECT_THROW(engine_.Workspaces(1), DbError);
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
  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\l.db"); }), DbError::Kind::Locked);
  other.Exec("ROLLBACK");
  db->Execute("INSERT INTO T VALUES( 'x');");
  EXPECT_EQ(other.Rows("SELECT * FROM T"), std::vector<std::string>{"t:x"});
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

TEST(DbStateTest, EngineIsMadeOnceAndTheSlotIsEmptiedOnEveryPath) {
  TempDir tmp;
  Platform platform(test::FactsOn(tmp.path()));
  DbState state(platform);
  EXPECT_EQ(&state.Engine(), &state.Engine());
  try {
    SlotCloser closer(state);
    state.BoringDb = state.Engine().Workspaces(0).CreateDatabase("C:\\s.db", kDbLocale);
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
