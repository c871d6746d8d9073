// The engine layer over every storage backend: creation and read-back of
// layouts, the statement dialect with its value conversions, lookups, and the
// refusal of files. Each test runs once per backend.
#include "targetdb/dao.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "env/codepage.h"
#include "env/errors.h"
#include "targetdb/dbstate.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using test::KindOf;

class EngineTest : public ::testing::TestWithParam<StorageFormat> {
 protected:
  EngineTest() : platform_(test::FactsOn(tmp_.path())), engine_(platform_) {}

  fs::path Native(const std::string& name) { return tmp_.path() / "C" / name; }
  Workspace& Ws() { return engine_.Workspaces(0); }
  std::unique_ptr<Database> New(const std::string& name) {
    return Ws().CreateDatabase("C:\\" + name, kDbLocale, GetParam());
  }

  // A database holding table T with the given fields.
  std::unique_ptr<Database> Make(const std::vector<Field>& fields, const std::string& name = "t.db") {
    auto db = New(name);
    TableDef t = db->CreateTableDef("T");
    for (const Field& f : fields) t.Fields().Append(t.CreateField(f.Name, f.Type, f.Size));
    db->TableDefs().Append(t);
    return db;
  }
  // The rows of table T of an open database, values joined by "|".
  static std::vector<std::string> Rows(Database& db, const std::string& table = "T") {
    auto rs = db.OpenRecordset(table);
    std::vector<std::string> rows;
    for (const auto& row : rs->GetRows()) {
      std::string text;
      for (size_t i = 0; i < row.size(); ++i) {
        text += (i ? "|" : "") + test::ValueText(row[i], rs->Fields().Item(static_cast<int16_t>(i)));
      }
      rows.push_back(text);
    }
    return rows;
  }

  TempDir tmp_;
  Platform platform_;
  DBEngine engine_;
};

TEST_P(EngineTest, LayoutIsStoredAndReadBack) {
  auto db = Make({{"名前 (全角)", dbText, 32}, {"日", dbDate, 0}, {"N", dbInteger, 0},
                  {"調査緯度（秒）", dbSingle, 0}, {"ソース位置", dbText, 128}});
  db->Close();
  EXPECT_EQ(test::FormatOfFile(Native("t.db")), GetParam());
  db = Ws().OpenDatabase("C:\\t.db");
  auto rs = db->OpenRecordset("t", dbOpenSnapshot);  // table names ignore A-Z case
  ASSERT_EQ(rs->Fields().Count(), 5);
  EXPECT_EQ(rs->Fields().Item(0).Name, "名前 (全角)");
  EXPECT_EQ(rs->Fields().Item(0).Type, dbText);
  EXPECT_EQ(rs->Fields().Item(0).Size, 32);
  EXPECT_EQ(rs->Fields().Item(1).Type, dbDate);
  EXPECT_EQ(rs->Fields().Item(2).Type, dbInteger);
  EXPECT_EQ(rs->Fields().Item(3).Type, dbSingle);
  EXPECT_EQ(rs->Fields().Item(4).Name, "ソース位置");
  EXPECT_EQ(rs->Fields().Item(4).Size, 128);
  EXPECT_THROW(rs->Fields().Item(5), DbError);
  EXPECT_THROW(rs->Fields().Item(-1), DbError);
  EXPECT_TRUE(rs->GetRows().empty());
  rs->Close();
  db->Close();
}

TEST_P(EngineTest, TableDefinitionsAreValidated) {
  auto db = New("v.db");
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
  db = Ws().OpenDatabase("C:\\v.db");
  EXPECT_EQ(Rows(*db, "Q\"x"), std::vector<std::string>{"v"});
}

// The table of the worked example of the statement builders.
class StatementTest : public EngineTest {
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
  std::vector<std::string> All() { return Rows(*db_); }
  std::unique_ptr<Database> db_;
};

TEST_P(StatementTest, InsertFillsColumnsByPositionAndUpdateByName) {
  db_->Execute("INSERT INTO T VALUES( Null,35,41,0.0,'TP 12.5','X',' / / ','D:\\SRC\\H1\\');");
  EXPECT_EQ(All(), std::vector<std::string>{"(null)|35|41|0|TP 12.5|X|(null)|D:\\SRC\\H1\\"});
  db_->Execute("UPDATE T SET 調査日 = '1998/12/01',ハンマ落下用具 = Null,LINKCODE = 7 WHERE "
               "ソース位置 = 'D:\\SRC\\H1\\';");
  EXPECT_EQ(All(), std::vector<std::string>{"7|35|41|0|TP 12.5|(null)|1998-12-01|D:\\SRC\\H1\\"});
  // What was written is in the file once it is closed.
  db_->Close();
  db_ = Ws().OpenDatabase("C:\\t.db");
  EXPECT_EQ(All(), std::vector<std::string>{"7|35|41|0|TP 12.5|(null)|1998-12-01|D:\\SRC\\H1\\"});
}

TEST_P(StatementTest, ValuesAreConvertedToTheFieldType) {
  struct Case {
    std::string field, value, stored;
  };
  const std::vector<Case> good = {
      {"孔口標高", "'１２３４５６７８９０１２３４５６７８９０'", "１２３４５６７８９０１２３４５６７８９０"},
      {"孔口標高", "  12.50", "12.50"},
      {"孔口標高", "Null", "(null)"},
      {"孔口標高", "'it''s'", "it's"},
      {"調査緯度（度）", "32767", "32767"},
      {"調査緯度（度）", "-32768", "-32768"},
      {"調査緯度（度）", " 41.0", "41"},
      {"調査緯度（度）", "'12'", "12"},
      {"調査緯度（秒）", " 12.3", "12.3"},
      {"調査緯度（秒）", "-3.25", "-3.25"},
      {"調査緯度（秒）", "-3.4e38", "-3.4e+38"},
      {"調査日", "'1998/12/01'", "1998-12-01"},
      {"調査日", "' 98 / 1 / 2 '", "1998-01-02"},
      {"調査日", "'29/1/1'", "2029-01-01"},
      {"調査日", "'30/1/1'", "1930-01-01"},
      {"調査日", "'2000/2/29'", "2000-02-29"},
      {"調査日", "' / / '", "(null)"},
  };
  for (size_t i = 0; i < good.size(); ++i) {
    const Case& c = good[i];
    const std::string key = "k" + std::to_string(i);
    db_->Execute("INSERT INTO T VALUES( Null,Null,Null,Null,Null,Null,Null,'" + key + "');");
    db_->Execute("UPDATE T SET " + c.field + " = " + c.value + " WHERE ソース位置 = '" + key + "';");
  }
  db_->Close();
  test::TableContents t = test::ReadTable(Native("t.db"), "T");
  ASSERT_EQ(t.rows.size(), good.size());
  for (size_t i = 0; i < good.size(); ++i) {
    EXPECT_EQ(t.Records()[i].at(good[i].field), good[i].stored) << good[i].field << " = " << good[i].value;
  }
}

TEST_P(StatementTest, TextsKeepControlCharactersAndNul) {
  // A title file may hold any code page 932 byte, NUL included.
  const std::string text = std::string("a\0b\x01\t\x1A", 6) + "表";
  db_->Execute("INSERT INTO T VALUES( Null,Null,Null,Null,'" + text + "',Null,Null,'k');");
  auto rs = db_->OpenRecordset("T");
  const auto rows = rs->GetRows();
  rs->Close();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][4], Value::Text(text));
  EXPECT_EQ(rows[0][7], Value::Text("k"));
}

TEST_P(StatementTest, ValuesThatDoNotFitFailAndChangeNothing) {
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
      // Texts that are not UTF-8: a stray byte, an overlong form, a
      // surrogate, a sequence cut short.
      {"ハンマ落下用具", "'\xFF'"},    {"ハンマ落下用具", "'\xC0\xAF'"},
      {"ハンマ落下用具", "'\xED\xA0\x80'"}, {"ソース位置", "'C:\\\xE6\x94\\'"},
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
    // Messages show bytes that are no UTF-8 as "\xNN".
    std::string shown =
        EscapeInvalidUtf8(value.front() == '\'' ? value.substr(1, value.size() - 2) : value);
    EXPECT_NE(message.find(shown), std::string::npos) << message;
    EXPECT_EQ(All(), before);
    // An insert with such a value adds nothing.
    std::vector<std::string> values = {"Null", "1", "2", "3.5", "'TP'", "'X'", "'1998/12/01'", "'C:\\B\\'"};
    const std::vector<std::string> names = {"LINKCODE", "調査緯度（度）", "調査緯度（分）", "調査緯度（秒）",
                                            "孔口標高", "ハンマ落下用具", "調査日",         "ソース位置"};
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == field) values[i] = value;
    }
    std::string sql = "INSERT INTO T VALUES( ";
    for (size_t i = 0; i < values.size(); ++i) sql += (i ? "," : "") + values[i];
    EXPECT_EQ(KindOf([&] { db_->Execute(sql + ");"); }), DbError::Kind::Rejected) << sql;
    EXPECT_EQ(All(), before);
  }
}

TEST_P(StatementTest, StatementsOutsideTheDialectAreRejected) {
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
  EXPECT_EQ(All(), std::vector<std::string>{"(null)|1|2|3.5|TP|X|1998-01-01|p"});
  // Keywords and Null in any case, spaces around values, no closing ";".
  db_->Execute("insert into T values(null , 1 ,2,3.5, 'TP' ,'X','1/1/1','q')");
  EXPECT_EQ(All().size(), 2u);
}

TEST_P(StatementTest, LookupsIgnoreCaseOfAtoZOnlyAndTakeQuotes) {
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
  // A row inserted after the record set was opened is found too.
  db_->Execute("INSERT INTO T VALUES( Null,1,2,3.5,'TP','X','1998/1/1','C:\\NEW\\');");
  rs->FindFirst("ソース位置 = 'c:\\new\\'");
  EXPECT_FALSE(rs->NoMatch());
  rs->Close();
  EXPECT_THROW(rs->FindFirst("ソース位置 = 'a'"), DbError);

  db_->Execute("UPDATE T SET 孔口標高 = 'it''s' WHERE ソース位置 = 'C:\\src\\O''HARA\\';");
  EXPECT_EQ(All(), (std::vector<std::string>{"(null)|1|2|3.5|it's|X|1998-01-01|C:\\SRC\\O'Hara\\",
                                             "(null)|1|2|3.5|TP|X|1998-01-01|C:\\SRC\\Ｈ１\\",
                                             "(null)|1|2|3.5|TP|X|1998-01-01|C:\\NEW\\"}));
}

TEST_P(EngineTest, FilesThatAreNotDatabasesAreRefusedUntouched) {
  const std::string text = "これはデータベースではありません\r\n";
  test::WriteFile(Native("SR-DATA.MDB"), text);
  const std::string jet3 = std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(4000, 'j');
  test::WriteFile(Native("jet3.mdb"), jet3);
  test::WriteFile(Native("empty.mdb"), "");
  fs::create_directories(Native("dir.mdb"));
  for (const char* name : {"SR-DATA.MDB", "jet3.mdb", "empty.mdb", "dir.mdb"}) {
    std::string message;
    EXPECT_EQ(KindOf([&] { Ws().OpenDatabase(std::string("C:\\") + name); }, &message),
              DbError::Kind::NotADatabase)
        << name;
    EXPECT_NE(message.find(name), std::string::npos) << message;
  }
  EXPECT_EQ(test::ReadFile(Native("SR-DATA.MDB")), text);
  EXPECT_EQ(test::ReadFile(Native("jet3.mdb")), jet3);
  EXPECT_EQ(test::ReadFile(Native("empty.mdb")), "");
  // Nothing was made beside them.
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp_.path() / "C")) ++files;
  EXPECT_EQ(files, 6u);  // the four, sys and prog

  EXPECT_EQ(KindOf([&] { Ws().OpenDatabase("C:\\none.mdb"); }), DbError::Kind::Other);
  EXPECT_FALSE(fs::exists(Native("none.mdb")));
  EXPECT_EQ(KindOf([&] { New("SR-DATA.MDB"); }), DbError::Kind::Other);
  EXPECT_EQ(test::ReadFile(Native("SR-DATA.MDB")), text);
}

TEST_P(EngineTest, MissingTableAndClosedDatabase) {
  auto db = New("n.db");
  EXPECT_EQ(KindOf([&] { db->OpenRecordset("ボーリング"); }), DbError::Kind::NoTable);
  db->Close();
  EXPECT_THROW(db->Execute("INSERT INTO T VALUES( 1);"), DbError);
  EXPECT_THROW(engine_.Workspaces(1), DbError);
}

TEST_P(EngineTest, TheSlotIsEmptiedOnEveryPath) {
  DbState state(platform_);
  state.createFormat = GetParam();
  EXPECT_EQ(&state.Engine(), &state.Engine());
  try {
    SlotCloser closer(state);
    state.BoringDb = state.Engine().Workspaces(0).CreateDatabase("C:\\s.db", kDbLocale, GetParam());
    throw std::runtime_error("stop");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(state.BoringDb, nullptr);
  {
    SlotCloser closer(state);
    state.BoringDb = state.Engine().Workspaces(0).OpenDatabase("C:\\s.db");
    closer.Close();
    EXPECT_EQ(state.BoringDb, nullptr);
  }
}

TEST_P(EngineTest, AKillAtAnyMomentLeavesADatabaseThatReads) {
#ifdef _WIN32
  GTEST_SKIP() << "kills a forked writer at any moment; Windows has no fork, and the file's replacement there "
                  "(MoveFileEx) is tested in windows_services_test";
#else
  Make({{"A", dbText, 10}, {"ソース位置", dbText, 128}}, "k.db")->Close();
  size_t rows = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Writes and closes the database again and again, telling the parent
      // after each close.
      ::close(progress[0]);
      try {
        for (;;) {
          auto db = Ws().OpenDatabase("C:\\k.db");
          for (int i = 0; i < 300; ++i) db->Execute("INSERT INTO T VALUES( 'x','p" + std::to_string(i) + "');");
          db->Execute("UPDATE T SET A = 'yyyyyyyyyy' WHERE ソース位置 = 'p1';");
          db->Close();
          if (::write(progress[1], "c", 1) != 1) ::_exit(1);
        }
      } catch (...) {
        ::_exit(1);
      }
    }
    ::close(progress[1]);
    // One whole cycle measured, then the kill falls at a point spread over
    // the next cycle: before, during and after the writing of the file.
    char byte;
    ASSERT_EQ(::read(progress[0], &byte, 1), 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(::read(progress[0], &byte, 1), 1);
    const auto cycle = std::chrono::steady_clock::now() - start;
    std::this_thread::sleep_for(cycle * attempt / 12);
    ::kill(child, SIGKILL);
    ::close(progress[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own";
    // The file opens and reads whole; it never loses rows it had.
    test::TableContents t = test::ReadTable(Native("k.db"), "T");
    EXPECT_GE(t.rows.size(), rows);
    EXPECT_GE(t.rows.size(), 600u);
    rows = t.rows.size();
  }
#endif
}

std::string FormatName(const ::testing::TestParamInfo<StorageFormat>& info) {
  return Backend(info.param).Name();
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineTest, ::testing::ValuesIn(test::AllFormats()), FormatName);
INSTANTIATE_TEST_SUITE_P(Backends, StatementTest, ::testing::ValuesIn(test::AllFormats()), FormatName);

}  // namespace
}  // namespace s2q
