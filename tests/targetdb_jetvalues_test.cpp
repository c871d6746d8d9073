// Values of the column types a Jet 4 file may hold, as the Jet backend hands
// them to the engine layer: fixed-length texts, Currency to its last digit,
// NUMERIC as exact decimals, GUIDs as text, binary and OLE values as bytes,
// and a refusal naming the field, never a Null, for a value it cannot carry.
// Files our writer made with a column's definition patched, and files Jet
// wrote (the corpus shared beside the sources).
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <limits>

#include "env/errors.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::KindOf;

std::unique_ptr<Storage> Open(const fs::path& file) { return JetBackend().Open("C:\\m\\SR-DATA.MDB", file, {}); }

// A new file with table T of `fields` holding `rows`; then `patch` changes
// the 25-byte definition of each column in turn (and the table's).
void Make(const fs::path& file, const std::vector<Field>& fields, const std::vector<std::vector<Value>>& rows,
          const std::function<void(size_t, uint8_t* column, uint8_t* table)>& patch) {
  fs::remove(file);
  auto db = JetBackend().Create("C:\\m\\SR-DATA.MDB", file, "", {});
  db->CreateTable("T", fields);
  for (const auto& row : rows) db->Insert(*db->Table("T"), row);
  db->Close();
  std::string bytes = test::ReadFile(file);
  const uint32_t page = jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()))->FindTable("T")->tdefPage;
  auto* table = reinterpret_cast<uint8_t*>(bytes.data()) + page * jet::kPageSize;
  for (size_t i = 0; i < fields.size(); ++i) patch(i, table + 63 + 25 * i, table);  // T has no index
  test::WriteFile(file, bytes);
}

// A text whose UCS-2 bytes are `bytes` (no two of them forming a surrogate).
Value TextOfBytes(std::string_view bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  return Value::Text(jet::Utf8(text));
}

std::vector<Value> Column(Storage& db, size_t column) {
  std::vector<Value> values;
  for (const auto& row : db.Rows(*db.Table("T"))) values.push_back(row.at(column));
  return values;
}

TEST(JetValues, RetypedColumnsReadAsTheirTypesOrAreRefusedByName) {
  const test::TempDir dir;
  const std::string guid("\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xEE\xFF\x10\x20", 16);
  const std::string bytes("\x00\x01\xFF\x7F\x80\x30", 6);
  const std::vector<Value> row = {TextOfBytes(guid), TextOfBytes(bytes), Value::Real(1e300),
                                  Value::Real(std::bit_cast<double>(std::numeric_limits<int64_t>::max()))};
  struct Case {
    size_t column;
    uint8_t type;
    Value value;        // what the field reads as, or
    std::string field;  // the field a refusal names
  };
  for (const Case& c : std::vector<Case>{
           {0, jet::kGuid, Value::Text("{44332211-6655-8877-99AA-BBCCEEFF1020}"), ""},
           {1, jet::kBinary, Value::Binary(bytes), ""},
           {3, jet::kMoney, Value::Decimal("922337203685477.5807"), ""},
           {0, jet::kNumeric, {}, "g"},  // 16 bytes are no NUMERIC value
           {2, jet::kDateTime, {}, "d"},  // nor 1e300 days a date
           {1, 0x13, {}, "b"}}) {         // a type without a value
    Make(dir / "t.mdb", {{"g", dbText, 8}, {"b", dbText, 10}, {"d", dbDouble, 0}, {"m", dbDouble, 0}}, {row},
         [&](size_t i, uint8_t* column, uint8_t*) {
           if (i == c.column) column[0] = c.type;
         });
    auto db = Open(dir / "t.mdb");
    std::string message;
    if (c.field.empty()) {
      EXPECT_EQ(Column(*db, c.column), std::vector<Value>{c.value}) << int(c.type);
    } else {
      EXPECT_EQ(KindOf([&] { db->Rows(*db->Table("T")); }, &message), DbError::Kind::Other);
      EXPECT_NE(message.find("「T」のフィールド「" + c.field + "」"), std::string::npos) << message;
    }
  }
  jet::Bytes numeric(17, 0xFF);
  numeric[0] = 0;
  EXPECT_EQ(jet::NumericText(numeric.data(), 17, 0), "340282366920938463463374607431768211455");
  numeric.assign(17, 0);
  numeric[0] = 0x80;
  numeric[13] = 150;
  EXPECT_EQ(jet::NumericText(numeric.data(), 17, 2), "-1.50");
}

TEST(JetValues, CurrencyIsWrittenAndWrittenBackToTheLastDigit) {
  const test::TempDir dir;
  std::vector<std::vector<Value>> rows;
  for (int64_t units : {std::numeric_limits<int64_t>::min(), int64_t{-1}}) {
    rows.push_back({Value::Text("r" + std::to_string(rows.size())), Value::Real(std::bit_cast<double>(units)), {}});
  }
  Make(dir / "t.mdb", {{"k", dbText, 10}, {"m", dbDouble, 0}, {"n", dbLong, 0}}, rows,
       [](size_t i, uint8_t* column, uint8_t*) {
         if (i == 1) column[0] = jet::kMoney;
       });
  auto db = Open(dir / "t.mdb");
  auto table = db->Table("T");
  EXPECT_EQ(table->fields[1].Type, dbCurrency);
  EXPECT_EQ(db->Update(*table, {{2, Value::Int(9)}}, 0, "r0"), 1);  // money left alone
  for (const Value& v : {Value::Decimal("-12.3456"), Value::Int(7), Value::Real(0.25)}) db->Insert(*table, {{}, v, {}});
  for (const Value& v : {Value::Decimal("1.23456"), Value::Decimal("922337203685477.5808"), Value::Text("x")}) {
    EXPECT_EQ(KindOf([&] { db->Insert(*table, {{}, v, {}}); }), DbError::Kind::Rejected) << v.text;
  }
  db->Close();
  EXPECT_EQ(Column(*Open(dir / "t.mdb"), 1),
            (std::vector<Value>{Value::Decimal("-922337203685477.5808"), Value::Decimal("-0.0001"),
                                Value::Decimal("-12.3456"), Value::Decimal("7.0000"), Value::Decimal("0.2500")}));
}

TEST(JetValues, AFixedLengthTextLiesInTheFixedPartOfTheRow) {
  const test::TempDir dir;
  // f becomes a fixed-length text of three characters after the long.
  Make(dir / "t.mdb", {{"k", dbText, 10}, {"n", dbLong, 0}, {"f", dbText, 3}}, {},
       [](size_t i, uint8_t* column, uint8_t* table) {
         if (i != 2) return;
         column[15] |= 0x01;
         jet::Put16(column + 21, 4);
         jet::Put16(table + 43, 1);  // one variable-length column left
       });
  auto db = Open(dir / "t.mdb");
  auto table = db->Table("T");
  for (const char* f : {"N", "abc"}) db->Insert(*table, {Value::Text(f), Value::Int(1), Value::Text(f)});
  db->Insert(*table, {Value::Null(), Value::Null(), Value::Null()});
  EXPECT_EQ(KindOf([&] { db->Insert(*table, {{}, {}, Value::Text("abcd")}); }), DbError::Kind::Rejected);
  EXPECT_EQ(db->Update(*table, {{2, Value::Text("Y")}}, 0, "N"), 1);
  db->Close();
  // Uncompressed and padded with spaces, as Jet keeps a fixed-length text.
  const std::string image = test::ReadFile(dir / "t.mdb");
  EXPECT_NE(image.find(std::string("Y\0 \0 \0", 6)), std::string::npos);
  EXPECT_EQ(Column(*Open(dir / "t.mdb"), 2), (std::vector<Value>{Value::Text("Y  "), Value::Text("abc"), {}}));
}

TEST(JetValues, FilesJetWroteReadAsTheIndependentReadersReadThem) {
  const fs::path corpus = test::SharedPath("jet-corpus");
  S2Q_REQUIRE_SHARED(corpus);
  struct Case {
    std::string file, table, field;
    std::vector<std::string> values;  // ValueText of each row
  };
  std::vector<Case> cases = {{"fixedTextTestV2000.mdb", "users", "c_flag_", {"N", "N"}},
                             {"testV2000.mdb", "Table1", "H", {"3.5000", "0.0000"}},
                             {"testV2000.mdb", "Table1", "I", {"-1", "0"}}};
  const char* numbers[] = {"1", "0", "0", "4", "-1", "1"};
  for (int i = 0; i < 6; ++i) {
    cases.push_back({"fixedNumericTestV2000.mdb", "test", "col" + std::to_string(i + 2), {numbers[i]}});
  }
  const test::TempDir dir;
  for (const Case& c : cases) {
    fs::copy_file(corpus / c.file, dir / "t.mdb", fs::copy_options::overwrite_existing);
    fs::permissions(dir / "t.mdb", fs::perms::owner_write, fs::perm_options::add);
    auto db = Open(dir / "t.mdb");
    auto table = db->Table(c.table);
    const size_t at = table->Position(c.field).value();
    std::vector<std::string> values;
    for (const auto& row : db->Rows(*table)) values.push_back(test::ValueText(row[at], table->fields[at]));
    EXPECT_EQ(values, c.values) << c.file << " " << c.table << "." << c.field;
    if (c.table == "users") {  // refused for its index, not the fixed text's definition
      EXPECT_NE(db->WhyUnwritable(*table).find("索引があり"), std::string::npos);
    }
  }
  // An OLE value of 22970 bytes on pages of its own.
  fs::copy_file(corpus / "test2V2000.mdb", dir / "t.mdb", fs::copy_options::overwrite_existing);
  fs::permissions(dir / "t.mdb", fs::perms::owner_write, fs::perm_options::add);
  auto db = Open(dir / "t.mdb");
  auto table = db->Table("MSP_PROJECTS");
  const Value ole = db->Rows(*table).at(0).at(table->Position("RESERVED_BINARY_DATA").value());
  EXPECT_EQ(ole.type, Value::Type::Binary);
  EXPECT_EQ(ole.text.size(), 22970u);
  EXPECT_EQ(ole.text.find("Word.Document"), 29u);
}

}  // namespace
}  // namespace s2q
