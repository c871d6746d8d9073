// Values of the column types a Jet 4 file may hold, as the Jet backend hands
// them to the engine layer: fixed-length texts, Currency to its last digit,
// NUMERIC as exact decimals, GUIDs as text, binary and OLE values as bytes;
// a value it cannot carry is refused with its field named, never read as
// Null. Files our writer made with a column's definition patched, and files
// Jet wrote (the corpus shared beside the sources).
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include "env/errors.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "targetdb/jet/jetformat.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::KindOf;
using test::TempDir;

const std::string kPath = "C:\\map\\SR-DATA.MDB";

std::unique_ptr<Storage> Open(const fs::path& file) { return JetBackend().Open(kPath, file, {}); }

void Create(const fs::path& file, const std::vector<Field>& fields,
            const std::vector<std::vector<Value>>& rows = {}) {
  auto db = JetBackend().Create(kPath, file, "", {});
  db->CreateTable("T", fields);
  for (const auto& row : rows) db->Insert(*db->Table("T"), row);
  db->Close();
}

// Changes the definition of table T in the file: `change` gets the table
// definition page and the 25-byte block of each column in turn.
void PatchColumns(const fs::path& file, const std::function<void(uint8_t*, size_t, uint8_t*)>& change) {
  std::string bytes = test::ReadFile(file);
  const auto db = jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()));
  auto* tdef = reinterpret_cast<uint8_t*>(bytes.data()) + db->FindTable("T")->tdefPage * jet::kPageSize;
  for (size_t i = 0; i < jet::Get16(tdef + 45); ++i) change(tdef, i, tdef + 63 + 12 * jet::Get32(tdef + 51) + 25 * i);
  test::WriteFile(file, bytes);
}

// A text whose UCS-2 bytes are `bytes` (none may form a surrogate).
Value TextOfBytes(const jet::Bytes& bytes) {
  std::u16string chars;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) chars += static_cast<char16_t>(jet::Get16(bytes.data() + i));
  return Value::Text(jet::Utf8(chars));
}

std::vector<Value> Column(Storage& db, size_t column) {
  std::vector<Value> values;
  for (const auto& row : db.Rows(*db.Table("T"))) values.push_back(row.at(column));
  return values;
}

TEST(JetValues, ExactNumbersAndIdentifiersAsText) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
  for (auto [units, text] : std::vector<std::pair<int64_t, std::string>>{
           {kMax, "922337203685477.5807"}, {kMin, "-922337203685477.5808"}, {35000, "3.5000"}, {-1, "-0.0001"},
           {0, "0.0000"}}) {
    EXPECT_EQ(jet::MoneyText(units), text);
    EXPECT_EQ(jet::MoneyUnits(text), units) << text;
  }
  for (auto [text, units] : std::vector<std::pair<std::string, int64_t>>{{"3.5", 35000}, {"+7", 70000}, {".5", 5000}}) {
    EXPECT_EQ(jet::MoneyUnits(text), units) << text;
  }
  for (const char* text : {"922337203685477.5808", "-922337203685477.5809", "1.23456", "", "-", ".", "1e3", "1,5", " 1"}) {
    EXPECT_EQ(jet::MoneyUnits(text), std::nullopt) << text;
  }
  // NUMERIC: sign byte, then four little-endian words, the most significant first.
  auto numeric = [](uint8_t sign, uint32_t high, uint32_t low) {
    jet::Bytes b(17, 0);
    b[0] = sign;
    jet::Put32(b.data() + 9, high);
    jet::Put32(b.data() + 13, low);
    return b;
  };
  struct Numeric {
    jet::Bytes bytes;
    unsigned scale;
    std::optional<std::string> text;
  };
  jet::Bytes all(17, 0xFF);
  all[0] = 0;
  for (const Numeric& n : std::vector<Numeric>{{numeric(0, 0, 1), 0, "1"},
                                               {numeric(0x80, 0, 150), 2, "-1.50"},
                                               {numeric(0, 0, 5), 3, "0.005"},
                                               {numeric(0x80, 0, 0), 1, "0.0"},
                                               {numeric(0, 1, 0), 0, "4294967296"},
                                               {all, 0, "340282366920938463463374607431768211455"},
                                               {all, 28, "34028236692.0938463463374607431768211455"},
                                               {all, 29, std::nullopt},
                                               {jet::Bytes(16, 0), 0, std::nullopt}}) {
    EXPECT_EQ(jet::NumericText(n.bytes.data(), n.bytes.size(), n.scale), n.text);
  }
  const jet::Bytes guid = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                           0x99, 0xAA, 0xBB, 0xCC, 0xEE, 0xFF, 0x10, 0x20};
  EXPECT_EQ(jet::GuidText(guid.data(), 16), "{44332211-6655-8877-99AA-BBCCEEFF1020}");
  EXPECT_EQ(jet::GuidText(guid.data(), 15), std::nullopt);
}

TEST(JetValues, AFixedLengthTextLiesInTheFixedPartOfTheRow) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  Create(file, {{"name", dbText, 10}, {"n", dbLong, 0}, {"flag", dbText, 3}});
  // flag becomes a fixed-length text of three characters after the long.
  PatchColumns(file, [](uint8_t* tdef, size_t i, uint8_t* column) {
    if (i != 2) return;
    column[15] |= 0x01;
    jet::Put16(column + 21, 4);
    jet::Put16(tdef + 43, 1);  // one variable-length column left
  });
  {
    auto db = Open(file);
    auto table = db->Table("T");
    EXPECT_EQ(table->fields[2].Size, 3);
    EXPECT_EQ(db->WhyUnwritable(*table), "");
    db->Insert(*table, {Value::Text("a"), Value::Int(1), Value::Text("N")});
    db->Insert(*table, {Value::Text("b"), Value::Int(2), Value::Text("abc")});
    db->Insert(*table, {Value::Text("c"), Value::Int(3), Value::Null()});
    EXPECT_EQ(KindOf([&] { db->Insert(*table, {Value::Text("d"), Value::Int(4), Value::Text("abcd")}); }),
              DbError::Kind::Rejected);
    EXPECT_EQ(db->Update(*table, {{2, Value::Text("Y")}}, 0, "a"), 1);
    db->Close();
  }
  // Stored uncompressed and padded with spaces, as Jet keeps a fixed text.
  const std::string image = test::ReadFile(file);
  EXPECT_NE(image.find(std::string("Y\0 \0 \0", 6)), std::string::npos);
  EXPECT_NE(image.find(std::string("a\0b\0c\0", 6)), std::string::npos);
  auto db = Open(file);
  EXPECT_EQ(Column(*db, 2), (std::vector<Value>{Value::Text("Y  "), Value::Text("abc"), Value::Null()}));
}

TEST(JetValues, CurrencyKeepsEveryDigitReadAndWrittenBack) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  // The money field starts as a double holding the 64-bit counts of 1/10000.
  const std::vector<int64_t> units = {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(),
                                      35000, -1};
  std::vector<std::vector<Value>> rows;
  for (size_t i = 0; i < units.size(); ++i) {
    rows.push_back({Value::Text("r" + std::to_string(i)), Value::Real(std::bit_cast<double>(units[i])),
                    Value::Int(static_cast<int64_t>(i))});
  }
  Create(file, {{"name", dbText, 10}, {"money", dbDouble, 0}, {"n", dbLong, 0}}, rows);
  PatchColumns(file, [](uint8_t*, size_t i, uint8_t* column) {
    if (i == 1) column[0] = jet::kMoney;
  });
  const std::vector<Value> stored = {Value::Decimal("922337203685477.5807"), Value::Decimal("-922337203685477.5808"),
                                     Value::Decimal("3.5000"), Value::Decimal("-0.0001")};
  auto db = Open(file);
  auto table = db->Table("T");
  EXPECT_EQ(table->fields[1].Type, dbCurrency);
  EXPECT_EQ(Column(*db, 1), stored);
  // Changing another field rewrites the money unchanged.
  EXPECT_EQ(db->Update(*table, {{2, Value::Int(99)}}, 0, "r0"), 1);
  db->Insert(*table, {Value::Text("d"), Value::Decimal("-12.3456"), Value::Null()});
  db->Insert(*table, {Value::Text("i"), Value::Int(7), Value::Null()});
  db->Insert(*table, {Value::Text("r"), Value::Real(0.25), Value::Null()});
  for (const Value& v : {Value::Decimal("1.23456"), Value::Decimal("922337203685477.5808"), Value::Text("abc"),
                         Value::Int(922337203685478), Value::Date("2001-01-01")}) {
    EXPECT_EQ(KindOf([&] { db->Insert(*table, {Value::Text("x"), v, Value::Null()}); }), DbError::Kind::Rejected)
        << v.text << v.integer;
  }
  db->Close();
  auto again = Open(file);
  std::vector<Value> expected = stored;
  for (const char* text : {"-12.3456", "7.0000", "0.2500"}) expected.push_back(Value::Decimal(text));
  auto money = Column(*again, 1);
  std::sort(money.begin(), money.end(), [](const Value& a, const Value& b) { return a.text < b.text; });
  std::sort(expected.begin(), expected.end(), [](const Value& a, const Value& b) { return a.text < b.text; });
  EXPECT_EQ(money, expected);
}

TEST(JetValues, GuidsAndBytesAreCarriedAndOtherValuesRefusedNeverNull) {
  TempDir dir;
  const fs::path original = dir / "original.mdb";
  const jet::Bytes guid = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                           0x99, 0xAA, 0xBB, 0xCC, 0xEE, 0xFF, 0x10, 0x20};
  const jet::Bytes bytes = {0x00, 0x01, 0xFF, 0x7F, 0x80, 0x30};
  Create(original, {{"k", dbText, 10}, {"g", dbText, 8}, {"b", dbText, 10}, {"d", dbDouble, 0}},
         {{Value::Text("r"), TextOfBytes(guid), TextOfBytes(bytes), Value::Real(1e300)}});
  struct Case {
    size_t column;
    uint8_t type;
    Value value;        // what the field reads as
    std::string field;  // or the field a refusal names
  };
  const std::vector<Case> cases = {
      {1, jet::kGuid, Value::Text("{44332211-6655-8877-99AA-BBCCEEFF1020}"), ""},
      {2, jet::kBinary, Value::Binary(std::string("\x00\x01\xFF\x7F\x80\x30", 6)), ""},
      {1, jet::kNumeric, {}, "「g」"},   // 16 bytes are no NUMERIC value
      {3, jet::kDateTime, {}, "「d」"},  // 1e300 days are no date
      {2, 0x13, {}, "「b」"},            // a type the engine layer has no value for
  };
  for (const Case& c : cases) {
    const fs::path file = dir / "SR-DATA.MDB";
    fs::copy_file(original, file, fs::copy_options::overwrite_existing);
    PatchColumns(file, [&](uint8_t*, size_t i, uint8_t* column) {
      if (i == c.column) column[0] = c.type;
    });
    auto db = Open(file);
    if (c.field.empty()) {
      EXPECT_EQ(Column(*db, c.column), std::vector<Value>{c.value}) << int(c.type);
      continue;
    }
    std::string message;
    EXPECT_EQ(KindOf([&] { db->Rows(*db->Table("T")); }, &message), DbError::Kind::Other) << int(c.type);
    EXPECT_NE(message.find("テーブル「T」のフィールド" + c.field), std::string::npos) << message;
  }
}

// Files Jet wrote.
class JetCorpus : public ::testing::Test {
 protected:
  void SetUp() override { S2Q_REQUIRE_SHARED(corpus_); }
  std::unique_ptr<Storage> OpenCorpus(const std::string& name) {
    return JetBackend().Open(kPath, corpus_ / name, {});
  }
  fs::path corpus_ = test::SharedPath("jet-corpus");
};

TEST_F(JetCorpus, EveryValueReadsAsTheIndependentReadersReadIt) {
  struct Case {
    std::string file, table, field;
    Value::Type type;
    std::vector<std::string> values;  // ValueText of each row
  };
  std::vector<Case> cases = {
      {"fixedTextTestV2000.mdb", "users", "c_flag_", Value::Type::Text, {"N", "N"}},
      {"testV2000.mdb", "Table1", "H", Value::Type::Decimal, {"3.5000", "0.0000"}},
      {"testV2000.mdb", "Table1", "C", Value::Type::Integer, {"2", "0"}},
      {"testV2000.mdb", "Table1", "I", Value::Type::Integer, {"-1", "0"}},
  };
  const char* numerics[] = {"1", "0", "0", "4", "-1", "1"};
  for (int i = 0; i < 6; ++i) {
    cases.push_back({"fixedNumericTestV2000.mdb", "test", "col" + std::to_string(i + 2), Value::Type::Decimal,
                     {numerics[i]}});
  }
  for (const Case& c : cases) {
    auto db = OpenCorpus(c.file);
    auto table = db->Table(c.table);
    ASSERT_TRUE(table) << c.file << " " << c.table;
    const size_t at = table->Position(c.field).value();
    std::vector<std::string> values;
    for (const auto& row : db->Rows(*table)) {
      EXPECT_EQ(row[at].type, c.type) << c.table << "." << c.field;
      values.push_back(test::ValueText(row[at], table->fields[at]));
    }
    EXPECT_EQ(values, c.values) << c.file << " " << c.table << "." << c.field;
  }
  // An OLE value of 22970 bytes kept on pages of its own.
  auto db = OpenCorpus("test2V2000.mdb");
  auto table = db->Table("MSP_PROJECTS");
  const size_t at = table->Position("RESERVED_BINARY_DATA").value();
  const auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][at].type, Value::Type::Binary);
  EXPECT_EQ(rows[0][at].text.size(), 22970u);
  EXPECT_EQ(rows[0][at].text.substr(0, 8), std::string("\x15\x1C\x2D\x00\x02\x00\x00\x00", 8));
  EXPECT_NE(rows[0][at].text.find("Word.Document"), std::string::npos);
  // The table with the fixed-length text is refused for its index, not for
  // that field's definition.
  db = OpenCorpus("fixedTextTestV2000.mdb");
  const std::string why = db->WhyUnwritable(*db->Table("users"));
  EXPECT_NE(why.find("索引があり"), std::string::npos) << why;
}


}  // namespace
}  // namespace s2q
