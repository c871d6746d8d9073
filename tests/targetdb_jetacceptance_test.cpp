// Files written by our Jet backend, read back by mdbtools, mdb-reader and
// accessdb-parser and checked by our verifier: every value each of them reads
// equals what was written, also after many rows grew and moved and after the
// file was opened and written into again.
#include <gtest/gtest.h>

#include "targetdb/jet/jetbackend.h"
#include "tests/jetreaders.h"
#include "tests/support.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

const std::string kTable = "ボーリング";
const std::string kLocale = ";LANGID=0x0411;CP=1252;COUNTRY=0";

const std::vector<Field> kFields = {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100},
                                    {"調査緯度（度）", dbInteger, 0}, {"孔口標高", dbSingle, 0},
                                    {"調査開始日", dbDate, 0},       {"ソース位置", dbText, 128}};
const std::vector<ReadColumn> kColumns = {{"ボーリング名", "text", 50}, {"調査位置", "text", 100},
                                          {"調査緯度（度）", "integer", 0}, {"孔口標高", "single", 0},
                                          {"調査開始日", "datetime", 0},   {"ソース位置", "text", 128}};
enum { kName, kPlace, kLatitude, kHeight, kDate, kSource };

// `n` characters of Japanese text (three UTF-8 bytes each).
std::string Japanese(size_t n, size_t shift = 0) {
  static const char* const kana[] = {"地", "盤", "調", "査", "孔", "東", "京", "都", "ソ", "ー", "ス"};
  std::string s;
  for (size_t k = 0; k < n; ++k) s += kana[(k + shift) % 11];
  return s;
}

// One row as the backend takes it and as the readers should show it.
struct Written {
  std::vector<Value> values;
  std::vector<Cell> cells;
};

Written Row(const Cell& name, const Cell& place, std::optional<int> latitude, std::optional<float> height,
            const Cell& date, const Cell& source) {
  Written w;
  auto text = [&](const Cell& c) {
    w.values.push_back(c ? Value::Text(*c) : Value::Null());
    w.cells.push_back(c);
  };
  text(name);
  text(place);
  w.values.push_back(latitude ? Value::Int(*latitude) : Value::Null());
  w.cells.push_back(latitude ? Cell(std::to_string(*latitude)) : std::nullopt);
  w.values.push_back(height ? Value::Real(*height) : Value::Null());
  w.cells.push_back(height ? Cell(ShortestSingle(*height)) : std::nullopt);
  w.values.push_back(date ? Value::Date(*date) : Value::Null());
  w.cells.push_back(date);
  text(source);
  return w;
}

class JetAcceptance : public ::testing::Test {
 protected:
  std::unique_ptr<Storage> Create() {
    auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file_, kLocale, {});
    db->CreateTable(kTable, kFields);
    return db;
  }
  std::unique_ptr<Storage> Open(const fs::path& file) { return JetBackend().Open("C:\\map\\SR-DATA.MDB", file, {}); }
  void Insert(Storage& db, const std::vector<Written>& rows) {
    auto table = db.Table(kTable);
    ASSERT_TRUE(table);
    for (const auto& r : rows) {
      db.Insert(*table, r.values);
      expected_.push_back(r.cells);
    }
  }

  TempDir dir_;
  fs::path file_ = dir_ / "SR-DATA.MDB";
  Rows expected_;
};

TEST_F(JetAcceptance, EmptyTableAndOneRow) {
  S2Q_REQUIRE_JET_READERS();
  Create()->Close();
  ExpectTablesListed(file_, {kTable});
  ExpectReadersAgree(file_, kTable, kColumns, {});

  auto db = Open(file_);
  Insert(*db, {Row("BH-0001", "東京都千代田区", 35, 12.3f, "2003-04-05", "C:\\data\\holes\\BH-0001\\")});
  db->Close();
  ExpectReadersAgree(file_, kTable, kColumns, expected_);
}

TEST_F(JetAcceptance, EveryFieldKindWithItsLimitsNullsAndQuotes) {
  S2Q_REQUIRE_JET_READERS();
  auto db = Create();
  Insert(*db, {
      Row("BH-1", "最小", -32768, -3.25f, std::nullopt, Japanese(128)),
      Row("BH-2", "最大", 32767, 12.3f, "1999-12-31 13:45:06", Japanese(128, 5)),
      Row("O'Brien \"引用\"", "a,b;c\td", 0, 0.0f, "1900-01-01", "改行\nの後"),
      Row(Japanese(50), Japanese(100, 3), -1, 1e10f, "2099-12-31 23:59:59", "'"),
      Row(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt),
      Row("空", "", 1, 0.1f, "1899-12-30", "\"\""),
  });
  db->Close();
  ExpectReadersAgree(file_, kTable, kColumns, expected_);
}

// Many rows, then every row grown by an update so that rows no longer fit
// their pages and move. Grouped updates keep the run short under the
// sanitizers: ten statements of a thousand rows each.
TEST_F(JetAcceptance, TenThousandRowsGrownByUpdates) {
  S2Q_REQUIRE_JET_READERS();
  const int rows = 10000, groups = 10;
  auto db = Create();
  std::vector<Written> all;
  for (int i = 0; i < rows; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "BH-%05d", i);
    all.push_back(Row(name, "地区" + std::to_string(i % groups), i % 90, 0.5f * static_cast<float>(i),
                      i % 7 ? Cell("2001-02-03") : std::nullopt, "短"));
  }
  Insert(*db, all);
  auto table = db->Table(kTable);
  for (int g = 0; g < groups; ++g) {
    const std::string longer = Japanese(128, static_cast<size_t>(g));
    EXPECT_EQ(db->Update(*table, {{kSource, Value::Text(longer)}}, kPlace, "地区" + std::to_string(g)),
              rows / groups);
    for (int i = g; i < rows; i += groups) expected_[i][kSource] = longer;
  }
  db->Close();
  // A moved row is read where it now lies: compare the rows as a set (the
  // names keep them apart).
  ExpectReadersAgree(file_, kTable, kColumns, expected_, /*anyOrder=*/true);
}

// A file written, closed, then opened and written into again: rows added,
// one grown, another changed.
TEST_F(JetAcceptance, WrittenAgainAfterReopening) {
  S2Q_REQUIRE_JET_READERS();
  auto db = Create();
  for (int i = 0; i < 40; ++i)
    Insert(*db, {Row("BH-" + std::to_string(i), "東京都" + std::to_string(i), i, 1.5f * static_cast<float>(i),
                     "2010-06-0" + std::to_string(1 + i % 9), Japanese(20, static_cast<size_t>(i)))});
  db->Close();
  ExpectReadersAgree(file_, kTable, kColumns, expected_);

  db = Open(file_);
  Insert(*db, {Row("BH-後", "追加", 7, -3.25f, "2024-02-29", "ソース位置"),
               Row("BH-無", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)});
  auto table = db->Table(kTable);
  const std::string longer = Japanese(128);
  EXPECT_EQ(db->Update(*table, {{kSource, Value::Text(longer)}, {kLatitude, Value::Int(-32768)}}, kName, "BH-0"), 1);
  expected_[0][kSource] = longer;
  expected_[0][kLatitude] = "-32768";
  EXPECT_EQ(db->Update(*table, {{kPlace, Value::Text(Japanese(100))}}, kName, "bh-39"), 1);
  expected_[39][kPlace] = Japanese(100);
  db->Close();
  ExpectReadersAgree(file_, kTable, kColumns, expected_, /*anyOrder=*/true);
}

}  // namespace
}  // namespace s2q::test
