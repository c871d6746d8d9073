// The Jet 4 backend: files made from nothing, rows written, changed and read
// back through our own reader, the refusals, and the same files checked by
// our verifier and read by the independent readers.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>

#include "env/errors.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "targetdb/jet/jetformat.h"
#include "targetdb/jet/jetverify.h"
#include "tests/dbread.h"
#include "tests/jetreaders.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kTable = "ボーリング";

std::vector<Field> BoringFields() {
  return {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100},  {"調査緯度（度）", dbInteger, 0},
          {"孔口標高", dbSingle, 0},   {"調査開始日", dbDate, 0},   {"総削孔長", dbDouble, 0},
          {"ソース位置", dbText, 255}, {"整理番号", dbLong, 0}};
}

std::vector<Value> BoringRow(const std::string& name, int n) {
  return {Value::Text(name),
          Value::Text("東京都千代田区" + std::to_string(n) + "丁目"),
          Value::Int(35 + n % 10),
          Value::Real(12.25 + n),
          Value::Date(n % 2 ? "2003-04-05" : "1998-12-31 13:45:10"),
          Value::Real(30.5 * n),
          n % 3 ? Value::Text("C:\\data\\holes\\" + name) : Value::Null(),
          Value::Int(100000 + n)};
}

std::unique_ptr<Storage> CreateWithTable(const fs::path& file, const std::vector<Field>& fields = BoringFields()) {
  auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable(kTable, fields);
  return db;
}

std::unique_ptr<Storage> Reopen(const fs::path& file) {
  return JetBackend().Open("C:\\map\\SR-DATA.MDB", file, {});
}

}  // namespace

void PrintTo(const Value& v, std::ostream* os) {
  static const char* kTypes[] = {"Null", "Integer", "Real", "Text", "Date", "Decimal", "Binary"};
  *os << kTypes[static_cast<int>(v.type)] << "(";
  if (v.type == Value::Type::Integer) *os << v.integer;
  if (v.type == Value::Type::Real) *os << v.real;
  if (v.type == Value::Type::Binary) *os << test::ValueText(v, Field{});
  else if (!v.text.empty()) *os << v.text;
  *os << ")";
}

namespace {

std::string ReadAll(const fs::path& p) { return test::ReadFile(p); }

// Runs a command; returns its exit status and standard output.
#ifdef _WIN32
// Not reached there: the tests that run the readers skip on Windows.
std::pair<int, std::string> RunCommand(const std::string&) { return {-1, {}}; }
#else
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {-1, out};
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}
#endif

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

using test::KindOf;

// The in-memory database of a file, to look at its pages.
std::unique_ptr<jet::Database> Load(const fs::path& file) {
  const std::string bytes = ReadAll(file);
  return jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()));
}

// Changes the file's header region in its unmasked form.
void PatchHeader(const fs::path& file, const std::function<void(uint8_t*)>& change) {
  std::string bytes = ReadAll(file);
  auto* page = reinterpret_cast<uint8_t*>(bytes.data());
  jet::ApplyHeaderMask(page);
  change(page);
  jet::ApplyHeaderMask(page);
  test::WriteFile(file, bytes);
}


TEST(JetFormat, TextRoundTripsInBothStoredForms) {
  const std::u16string ascii = u"BH-0001 abc";
  const jet::Bytes packed = jet::EncodeText(ascii, true);
  ASSERT_EQ(packed.size(), ascii.size() + 2);
  EXPECT_EQ(packed[0], 0xFF);
  EXPECT_EQ(packed[1], 0xFE);
  EXPECT_EQ(jet::DecodeText(packed.data(), packed.size()), ascii);
  // Kana do not fit one byte: stored as UCS-2 even with compression on.
  const std::u16string kana = jet::Utf16("ボーリング1");
  const jet::Bytes wide = jet::EncodeText(kana, true);
  EXPECT_EQ(wide.size(), kana.size() * 2);
  EXPECT_EQ(jet::DecodeText(wide.data(), wide.size()), kana);
  EXPECT_EQ(jet::EncodeText(ascii, false).size(), ascii.size() * 2);
  // The mixed form: a 00 byte switches to two-byte characters and back.
  const uint8_t mixed[] = {0xFF, 0xFE, 'A', 0x00, 0xDC, 0x30, 0x00, 'B'};
  EXPECT_EQ(jet::Utf8(jet::DecodeText(mixed, sizeof mixed)), "AボB");
}

TEST(JetFormat, Utf8ConversionNeverYieldsInvalidText) {
  EXPECT_EQ(jet::Utf8(jet::Utf16("調査緯度（度）")), "調査緯度（度）");
  EXPECT_EQ(jet::Utf8(jet::Utf16("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");  // outside the BMP
  EXPECT_EQ(jet::Utf8(jet::Utf16("a\xFF" "b\xE3\x81")), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(jet::Utf8(std::u16string_view(lone, 3)), "x\xEF\xBF\xBDy");
}

TEST(JetFormat, DatesAreDaysSince18991230) {
  EXPECT_EQ(jet::DateToDays("1899-12-30"), 0.0);
  EXPECT_EQ(jet::DateToDays("1900-01-01"), 2.0);
  EXPECT_EQ(jet::DateToDays("2003-04-05"), 37716.0);
  EXPECT_EQ(jet::DateToDays("1899-12-29 06:00:00"), -1.25);
  EXPECT_EQ(jet::DaysToDate(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(jet::DaysToDate(37716.5), "2003-04-05 12:00:00");
  for (const char* text : {"2003-04-05", "1998-12-31 13:45:10", "2000-02-29", "1850-06-01 23:59:59"}) {
    EXPECT_EQ(jet::DaysToDate(*jet::DateToDays(text)), text) << text;
  }
  EXPECT_FALSE(jet::DateToDays("2001-02-29"));
  EXPECT_FALSE(jet::DateToDays("2001-13-01"));
  EXPECT_FALSE(jet::DateToDays("2001/01/01"));
  EXPECT_FALSE(jet::DateToDays("2001-01-01 24:00:00"));
}

TEST(JetFormat, IndexKeysOfNumbersAndTexts) {
  jet::Bytes key;
  jet::AppendLongKey(key, 2);
  jet::AppendLongKey(key, -1);
  jet::AppendLongKey(key, std::nullopt);
  EXPECT_EQ(key, (jet::Bytes{0x7F, 0x80, 0, 0, 2, 0x7F, 0x7F, 0xFF, 0xFF, 0xFF, 0x00}));
  // Text keys ignore the case of A to Z and sort as the General order does.
  auto text = [](const std::string& s) {
    jet::Bytes k;
    jet::AppendTextKey(k, jet::Utf16(s));
    return k;
  };
  EXPECT_EQ(text("Tables"), text("TABLES"));
  EXPECT_LT(text("MSysACEs"), text("MSysObjects"));
  EXPECT_LT(text("abc"), text("abd"));
  EXPECT_EQ(text("ab").front(), 0x7F);
  EXPECT_EQ(text("ab").back(), 0x00);
  EXPECT_NE(text("ボーリング"), text("ホーリング"));
  // Spaces at the end do not count; each half of a surrogate pair has codes
  // of its own (U+20BB7 here as an independent implementation keys it).
  EXPECT_EQ(text("ab  "), text("ab"));
  EXPECT_EQ(text(" "), text(""));
  EXPECT_NE(text(" ab"), text("ab"));
  EXPECT_EQ(text("\xF0\xA0\xAE\xB7"), (jet::Bytes{0x7F, 0xB0, 0x44, 0xB8, 0xB7, 0x01, 0x3F, 0x3F, 0x00}));
}

TEST(JetStorage, ADescendingCatalogIndexIsRefusedRatherThanFilledWithWrongKeys) {
  auto db = jet::Database::FromImage(jet::Database::CreateEmpty()->Image());
  db->FindTable("MSysObjects")->indexes.at(1).columns.at(1).second = 0;  // ParentIdName: Name descending
  db->Begin();
  EXPECT_THROW(db->CreateTable("T", {jet::ColumnDef{}}, 0), std::runtime_error);
  db->Rollback();
}

TEST(JetStorage, CreatedTableReadsBackWithItsFieldsAndRows) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    ASSERT_TRUE(table);
    for (int i = 0; i < 5; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i));
    db->Insert(*table, std::vector<Value>(table->fields.size(), Value::Null()));
    db->Close();
  }
  EXPECT_TRUE(JetBackend().Recognises(ReadAll(file).substr(0, 4096)));
  test::ExpectJetConsistent(file);
  auto db = Reopen(file);
  auto table = db->Table("ボーリング");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->fields.size(), BoringFields().size());
  for (size_t i = 0; i < table->fields.size(); ++i) {
    EXPECT_EQ(table->fields[i].Name, BoringFields()[i].Name);
    EXPECT_EQ(table->fields[i].Type, BoringFields()[i].Type);
    EXPECT_EQ(table->fields[i].Size, BoringFields()[i].Size);
  }
  const auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 6u);
  for (int i = 0; i < 5; ++i) {
    auto expect = BoringRow("BH-" + std::to_string(i), i);
    expect[3] = Value::Real(static_cast<float>(12.25 + i));  // a single keeps a float
    EXPECT_EQ(rows[i], expect) << i;
  }
  EXPECT_EQ(rows[5], std::vector<Value>(table->fields.size(), Value::Null()));
  EXPECT_EQ(db->Table("MSysObjects2"), nullptr);
  EXPECT_TRUE(db->HasRow(*table, 0, "bh-3"));
  EXPECT_FALSE(db->HasRow(*table, 0, "BH-9"));
  // Names are found A to Z without regard to case, other characters exactly.
  auto created = JetBackend().Create("C:\\map\\X.MDB", dir / "X.MDB", "", {});
  created->CreateTable("Holes", {{"Name", dbText, 10}});
  EXPECT_TRUE(created->Table("hOLES"));
  EXPECT_FALSE(created->Table("Ｈoles"));
  created->Close();
  test::ExpectJetConsistent(dir / "X.MDB");
}

TEST(JetStorage, LongTableDefinitionsGoOnOverSeveralPages) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  std::vector<Field> fields;
  for (int i = 0; i < 150; ++i) {
    fields.push_back({"長いフィールド名の項目番号" + std::to_string(i), i % 2 ? dbText : dbLong, 10});
  }
  {
    auto db = CreateWithTable(file, fields);
    db->CreateTable("二番目", {{"名前", dbText, 20}});
    auto table = db->Table(kTable);
    for (int n = 0; n < 20; ++n) {
      std::vector<Value> row;
      for (int i = 0; i < 150; ++i) row.push_back(i % 2 ? Value::Text("v" + std::to_string(n)) : Value::Int(n * i));
      db->Insert(*table, row);
    }
    db->Close();
  }
  EXPECT_GT(Load(file)->FindTable(kTable)->tdefPages.size(), 1u);
  test::ExpectJetConsistent(file);
  auto db = Reopen(file);
  auto table = db->Table(kTable);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->fields.size(), 150u);
  EXPECT_EQ(table->fields[149].Name, "長いフィールド名の項目番号149");
  const auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[19][148], Value::Int(19 * 148));
  EXPECT_EQ(rows[19][149], Value::Text("v19"));
  ASSERT_TRUE(db->Table("二番目"));
  db->Close();
  EXPECT_EQ(Load(file)->FindTable("二番目")->rowCount, 0u);
}

TEST(JetStorage, UpdatesInPlaceOrMoveTheRowAndGiveBackItsSpace) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  auto db = CreateWithTable(file);
  auto table = db->Table(kTable);
  for (int i = 0; i < 60; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i));
  db->Close();

  auto before = Load(file);
  jet::Table* t = before->FindTable(kTable);
  ASSERT_TRUE(t);
  ASSERT_EQ(t->owned.pages.size(), 2u) << "the rows fill more than one page";
  const uint32_t firstPage = *t->owned.pages.begin();
  const uint16_t freeBefore = before->FreeSpace(firstPage);

  db = Reopen(file);
  table = db->Table(kTable);
  // Same length: stays where it is; matching ignores the case of A to Z.
  EXPECT_EQ(db->Update(*table, {{2, Value::Int(7)}}, 0, "bh-0"), 1);
  // Longer than the page has room for: moved, its old space given back.
  EXPECT_EQ(db->Update(*table, {{6, Value::Text(std::string(250, 'y'))}}, 0, "BH-1"), 1);
  // A changed key is found under its new text only.
  EXPECT_EQ(db->Update(*table, {{0, Value::Text("BH-X")}}, 0, "BH-2"), 1);
  EXPECT_FALSE(db->HasRow(*table, 0, "BH-2"));
  EXPECT_TRUE(db->HasRow(*table, 0, "bh-x"));
  EXPECT_EQ(db->Update(*table, {{2, Value::Int(1)}}, 0, "BH-2"), 0);
  EXPECT_EQ(db->Update(*table, {{2, Value::Int(1)}}, 0, "ＢＨ-3"), 0);
  db->Close();
  test::ExpectJetConsistent(file);

  auto after = Load(file);
  t = after->FindTable(kTable);
  EXPECT_EQ(t->rowCount, 60u);
  EXPECT_GT(after->FreeSpace(firstPage), freeBefore);
  EXPECT_TRUE(t->free.pages.count(firstPage));

  db = Reopen(file);
  table = db->Table(kTable);
  const auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 60u);
  EXPECT_EQ(rows[0][0], Value::Text("BH-0"));
  EXPECT_EQ(rows[0][2], Value::Int(7));
  EXPECT_EQ(rows[1][0], Value::Text("BH-X")) << "BH-1 moved away, BH-2 changed in place";
  EXPECT_EQ(rows.back()[0], Value::Text("BH-1")) << "the grown row moved behind the others";
  EXPECT_EQ(rows.back()[6], Value::Text(std::string(250, 'y')));
}

TEST(JetStorage, StatementsAreAllOrNothing) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  std::vector<Field> fields;
  for (int i = 0; i < 10; ++i) fields.push_back({"項目" + std::to_string(i), dbText, 255});
  auto db = CreateWithTable(file, fields);
  auto table = db->Table(kTable);
  std::vector<Value> small(10, Value::Text("a"));
  small[0] = Value::Text("A");
  db->Insert(*table, small);
  auto kana = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "ア";
    return s;
  };
  std::vector<Value> big(10, Value::Text(kana(200)));
  big[0] = Value::Text("A");
  db->Insert(*table, big);
  std::vector<Value> huge(10, Value::Text(kana(255)));
  std::string message;
  EXPECT_EQ(KindOf([&] { db->Insert(*table, huge); }, &message), DbError::Kind::Rejected);
  EXPECT_NE(message.find("ボーリング"), std::string::npos) << message;
  EXPECT_EQ(KindOf([&] { db->Insert(*table, std::vector<Value>(3, Value::Null())); }), DbError::Kind::Rejected);
  EXPECT_EQ(KindOf([&] { db->Insert(*table, std::vector<Value>(10, Value::Int(1))); }), DbError::Kind::Rejected);
  // Both rows match; the first would fit, the second grows past the row
  // limit: neither changes.
  const Value longest = Value::Text(kana(255));
  EXPECT_EQ(KindOf([&] { db->Update(*table, {{5, longest}, {6, longest}, {7, longest}, {8, longest}, {9, longest}},
                                    0, "a"); }),
            DbError::Kind::Rejected);
  auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], small);
  EXPECT_EQ(rows[1], big);
  EXPECT_FALSE(db->HasRow(*table, 1, "ア"));
  // Close writes what the statements before the failures did.
  db->Close();
  test::ExpectJetConsistent(file);
  db = Reopen(file);
  table = db->Table(kTable);
  rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], big);
  EXPECT_EQ(Load(file)->FindTable(kTable)->rowCount, 2u);
}

TEST(JetStorage, CloseReplacesTheFileInOneStep) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  auto db = CreateWithTable(file);
  db->Close();
  const std::string created = ReadAll(file);
#ifndef _WIN32  // Windows files have no such modes
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  db = Reopen(file);
  auto table = db->Table(kTable);
  db->Insert(*table, BoringRow("BH-1", 1));
  EXPECT_EQ(ReadAll(file), created) << "nothing is written before Close";
  db->Close();
  db->Close();
  EXPECT_NE(ReadAll(file), created);
  test::ExpectJetConsistent(file);
#ifndef _WIN32
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename(), "SR-DATA.MDB") << "left behind: " << entry.path();
  }
  EXPECT_EQ(KindOf([&] { db->Insert(*table, BoringRow("BH-2", 2)); }), DbError::Kind::Other);
  // Opening and closing without a change leaves the file as it was.
  const std::string written = ReadAll(file);
  auto again = Reopen(file);
  again->Rows(*again->Table(kTable));
  again->Close();
  EXPECT_EQ(ReadAll(file), written);
}

TEST(JetStorage, RefusesFilesItCannotOpenAndLeavesThemUntouched) {
  TempDir dir;
  std::string message;
  // Jet 3: recognised by its header, refused with its own reason.
  std::string jet3(3 * 4096, '\0');
  const char head[] = "\x00\x01\x00\x00Standard Jet DB";
  std::memcpy(jet3.data(), head, sizeof head);
  const fs::path old = dir / "OLD.MDB";
  test::WriteFile(old, jet3);
  EXPECT_TRUE(JetBackend().Recognises(jet3.substr(0, 4096)));
  EXPECT_EQ(KindOf([&] { Reopen(old); }, &message), DbError::Kind::NotADatabase);
  EXPECT_NE(message.find("Jet 3"), std::string::npos) << message;
  EXPECT_EQ(ReadAll(old), jet3);

  const fs::path text = dir / "TEXT.MDB";
  test::WriteFile(text, "not a database at all");
  EXPECT_FALSE(JetBackend().Recognises("not a database at all"));
  EXPECT_EQ(KindOf([&] { Reopen(text); }), DbError::Kind::NotADatabase);

  // Encrypted pages, or a password; a creation date far beyond any real one
  // no longer unmasks the password field either.
  for (int kind = 0; kind < 3; ++kind) {
    const fs::path file = dir / ("LOCKED" + std::to_string(kind) + ".MDB");
    CreateWithTable(file)->Close();
    PatchHeader(file, [kind](uint8_t* h) {
      if (kind == 0) jet::Put32(h + 0x3E, 0x12345678);
      else if (kind == 1) h[0x42] ^= 'p';
      else jet::Put64(h + 0x72, 0x54207FB19E0A5C71ULL);  // about 1.8e97 days
    });
    const std::string bytes = ReadAll(file);
    EXPECT_EQ(KindOf([&] { Reopen(file); }, &message), DbError::Kind::NotADatabase);
    EXPECT_NE(message.find("パスワード"), std::string::npos) << message;
    EXPECT_EQ(ReadAll(file), bytes);
  }

  // A lock file beside the database: the map application may have it open.
  const fs::path file = dir / "SR-DATA.MDB";
  CreateWithTable(file)->Close();
  const std::string bytes = ReadAll(file);
  // POSIX cannot tell whether a program still holds it, and refuses; Windows
  // lets a lock file be deleted only when no program holds it, so one that
  // goes was left by a program that ended (a held one: windows_services_test).
  test::WriteFile(dir / "SR-DATA.ldb", "");
#ifdef _WIN32
  Reopen(file)->Close();
  EXPECT_FALSE(fs::exists(dir / "SR-DATA.ldb"));
  EXPECT_EQ(ReadAll(file), bytes);
#else
  EXPECT_EQ(KindOf([&] { Reopen(file); }, &message), DbError::Kind::Locked);
  EXPECT_NE(message.find("SR-DATA.ldb"), std::string::npos) << message;
  EXPECT_NE(message.find("削除してください"), std::string::npos) << message;
  fs::remove(dir / "SR-DATA.ldb");
#endif
  test::WriteFile(dir / "SR-DATA2.LDB", "");
  Reopen(file)->Close();

  // Create never replaces an existing file.
  EXPECT_EQ(KindOf([&] { JetBackend().Create("C:\\map\\SR-DATA.MDB", file, "", {}); }), DbError::Kind::Other);
  EXPECT_EQ(ReadAll(file), bytes);
}

// A file holding the boring table with one row, BH-1: what the damage tests
// below damage.
void MakeOneRowFile(const fs::path& file) {
  auto db = CreateWithTable(file);
  db->Insert(*db->Table(kTable), BoringRow("BH-1", 1));
  db->Close();
  test::ExpectJetConsistent(file);
}

TEST(JetStorage, ADataPageWithMoreRowsThanItCanHoldIsDamage) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  MakeOneRowFile(file);
  // The row count of the table's data page, beyond what the page holds.
  auto image = Load(file);
  const uint32_t page = *image->FindTable(kTable)->owned.pages.begin();
  std::string bytes = ReadAll(file);
  jet::Put16(reinterpret_cast<uint8_t*>(bytes.data()) + page * 4096 + 12, 0x7FFF);
  test::WriteFile(file, bytes);

  auto db = Reopen(file);
  auto table = db->Table(kTable);
  ASSERT_TRUE(table);
  std::string message;
  EXPECT_EQ(KindOf([&] { db->Rows(*table); }, &message), DbError::Kind::Other);
  EXPECT_NE(message.find("壊れています"), std::string::npos) << message;
  EXPECT_EQ(KindOf([&] { db->Insert(*table, BoringRow("BH-2", 2)); }), DbError::Kind::Other);
  db->Close();
  EXPECT_EQ(ReadAll(file), bytes);
}

TEST(JetStorage, ARowOffsetPastThePageRefusesNewRowsOnThatPage) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  MakeOneRowFile(file);
  auto image = Load(file);
  const auto& pages = image->FindTable(kTable)->owned.pages;
  ASSERT_EQ(pages.size(), 1u);
  const uint32_t dataPage = *pages.begin();
  std::string bytes = ReadAll(file);
  // The page's one row claims to start beyond the page's end.
  jet::Put16(reinterpret_cast<uint8_t*>(bytes.data()) + dataPage * 4096 + 14, 0x1F00);
  test::WriteFile(file, bytes);
  auto db = Reopen(file);
  const auto table = db->Table(kTable);
  EXPECT_TRUE(db->Rows(*table).empty());  // the row cannot be read
  std::string message;
  EXPECT_EQ(KindOf([&] { db->Insert(*table, BoringRow("BH-2", 2)); }, &message), DbError::Kind::Other);
  EXPECT_NE(message.find("壊れています"), std::string::npos) << message;
  db->Close();
  EXPECT_EQ(ReadAll(file), bytes);
}

TEST(JetStorage, AColumnPlacedBeyondTheRowIsReadButNotWritten) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  MakeOneRowFile(file);
  const uint32_t tdef = Load(file)->FindTable(kTable)->tdefPage;
  const std::string bytes = ReadAll(file);
  // The 16-bit integer column's place in the fixed part of a row, and in a
  // second case its fixed-length flag, as a damaged definition may have them.
  for (int damage = 0; damage < 2; ++damage) {
    std::string damaged = bytes;
    uint8_t* d = reinterpret_cast<uint8_t*>(damaged.data()) + tdef * 4096;
    const size_t first = 63 + jet::Get32(d + 51) * 12;
    int patched = 0;
    for (size_t i = 0; i < jet::Get16(d + 45); ++i) {
      uint8_t* column = d + first + i * 25;
      if (column[0] != jet::kInt) continue;
      if (damage == 0) jet::Put16(column + 21, 0xFFF0);
      else column[15] &= static_cast<uint8_t>(~0x01);
      ++patched;
    }
    ASSERT_EQ(patched, 1);
    test::WriteFile(file, damaged);
    auto db = Reopen(file);
    const auto table = db->Table(kTable);
    // Reading gives the row or tells that the file is damaged.
    try {
      EXPECT_EQ(db->Rows(*table).size(), 1u);
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find("壊れています"), std::string::npos) << e.what();
    }
    std::string message;
    EXPECT_EQ(KindOf([&] { db->Insert(*table, BoringRow("BH-2", 2)); }, &message), DbError::Kind::Rejected);
    EXPECT_NE(message.find("調査緯度（度）」の定義が壊れている"), std::string::npos) << message;
    db->Close();
    EXPECT_EQ(ReadAll(file), damaged);
  }
}

TEST(JetStorage, TablesItCannotKeepConsistentAreReadButNotWritten) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    db->Insert(*table, BoringRow("BH-3", 3));  // without a source path
    // A text whose stored bytes are a memo value kept in the row: length 4,
    // flag 80, eight bytes of pointer, then the UCS-2 of the text.
    const char16_t memo[] = {0x0004, 0x8000, 0, 0, 0, 0, u'検', u'査'};
    auto row = BoringRow("BH-4", 4);
    row[6] = Value::Text(jet::Utf8(std::u16string_view(memo, 8)));
    db->Insert(*table, row);
    db->Close();
  }
  test::ExpectJetConsistent(file);
  // Turn the text column ソース位置 into a memo field, a type this backend
  // reads but does not write.
  auto image = Load(file);
  jet::Table* t = image->FindTable(kTable);
  std::string bytes = ReadAll(file);
  const size_t columns = t->tdefPage * 4096 + 63 + 12 * t->indexes.size();
  const size_t text = columns + 25 * 6;
  ASSERT_EQ(static_cast<uint8_t>(bytes[text]), jet::kText);
  bytes[text] = static_cast<char>(jet::kMemo);
  test::WriteFile(file, bytes);

  auto db = Reopen(file);
  auto table = db->Table(kTable);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->fields[6].Type, dbMemo);
  EXPECT_EQ(db->Rows(*table).size(), 2u);
  std::string message;
  EXPECT_EQ(KindOf([&] { db->Insert(*table, BoringRow("BH-2", 2)); }, &message), DbError::Kind::Rejected);
  EXPECT_NE(message.find("ボーリング"), std::string::npos) << message;
  EXPECT_NE(message.find("ソース位置"), std::string::npos) << message;
  EXPECT_EQ(KindOf([&] { db->Update(*table, {{2, Value::Int(1)}}, 0, "BH-3"); }), DbError::Kind::Rejected);
  auto system = db->Table("MSysObjects");
  ASSERT_TRUE(system);
  EXPECT_EQ(KindOf([&] { db->Insert(*system, std::vector<Value>(system->fields.size())); }),
            DbError::Kind::Rejected);
  db->Close();
  EXPECT_EQ(ReadAll(file), bytes);

  // The memo value stored in the second row reads back, here and in the
  // readers that read memo fields.
  const auto rows = Reopen(file)->Rows(*table);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][6], Value::Null());
  EXPECT_EQ(rows[1][6], Value::Text("検査"));
  S2Q_REQUIRE_JET_READERS();
  for (test::Reader r : {test::Reader::Mdbtools, test::Reader::MdbReader}) {
    const test::ReaderTable read = test::ReadTableWith(r, file, kTable);
    ASSERT_EQ(read.rows.size(), 2u) << test::ReaderName(r);
    EXPECT_EQ(read.rows[1][6], "検査") << test::ReaderName(r);
    EXPECT_EQ(read.rows[1][7], "100004") << test::ReaderName(r);
  }
  test::ExpectJetConsistent(file);
}

TEST(JetStorage, LongValuesOnPagesOfTheirOwnReadBack) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  CreateWithTable(file)->Close();
  // The rows go to a new data page, the long values to the page after it.
  const auto lvalPage = static_cast<uint32_t>(ReadAll(file).size() / 4096 + 1);
  // The bytes of a long value header (length, kind, row, page) written as a
  // text of UCS-2 characters, to be read as a memo field below.
  auto header = [](uint32_t length, uint8_t kind, uint8_t row, uint32_t page) {
    const char16_t chars[] = {static_cast<char16_t>(length & 0xFFFF),
                              static_cast<char16_t>((kind << 8) | (length >> 16)),
                              static_cast<char16_t>(((page & 0xFF) << 8) | row),
                              static_cast<char16_t>(page >> 8), 0, 0};
    return Value::Text(jet::Utf8(std::u16string_view(chars, 6)));
  };
  const std::u16string one = jet::Utf16("一頁の長い値");
  const std::u16string first = jet::Utf16("二頁に"), second = jet::Utf16("わたる値");
  {
    auto db = Reopen(file);
    auto table = db->Table(kTable);
    auto row = BoringRow("BH-1", 1);
    row[6] = header(static_cast<uint32_t>(one.size() * 2), 0x40, 0, lvalPage);
    db->Insert(*table, row);
    row = BoringRow("BH-2", 2);
    row[6] = header(static_cast<uint32_t>((first.size() + second.size()) * 2), 0x00, 1, lvalPage);
    db->Insert(*table, row);
    db->Close();
  }
  test::ExpectJetConsistent(file);
  // The page of long values: row 0 whole, rows 1 and 2 a chain.
  std::string page(4096, '\0');
  auto* p = reinterpret_cast<uint8_t*>(page.data());
  p[0] = 0x01;
  p[1] = 0x01;
  std::memcpy(p + 4, "LVAL", 4);
  std::vector<jet::Bytes> rows;
  rows.push_back(jet::EncodeText(one, false));
  jet::Bytes link(4, 0);
  link[0] = 2;
  jet::Put24(link.data() + 1, lvalPage);
  const jet::Bytes a = jet::EncodeText(first, false), b = jet::EncodeText(second, false);
  link.insert(link.end(), a.begin(), a.end());
  rows.push_back(link);
  jet::Bytes end(4, 0);
  end.insert(end.end(), b.begin(), b.end());
  rows.push_back(end);
  size_t top = 4096;
  for (size_t i = 0; i < rows.size(); ++i) {
    top -= rows[i].size();
    std::memcpy(p + top, rows[i].data(), rows[i].size());
    jet::Put16(p + 14 + 2 * i, static_cast<uint32_t>(top));
  }
  jet::Put16(p + 12, static_cast<uint32_t>(rows.size()));
  jet::Put16(p + 2, static_cast<uint32_t>(top - 14 - 2 * rows.size()));
  std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), lvalPage * 4096u);
  bytes += page;
  // The global map (row 0 of page 1, inline from page 0) counts it in use.
  bytes[4096 + (jet::Get16(reinterpret_cast<const uint8_t*>(bytes.data()) + 4096 + 14) & 0x1FFF) + 5 + lvalPage / 8] ^=
      static_cast<char>(1 << (lvalPage % 8));
  // ソース位置 becomes a memo field.
  const size_t column = Load(file)->FindTable(kTable)->tdefPage * 4096 + 63 + 25 * 6;
  ASSERT_EQ(static_cast<uint8_t>(bytes[column]), jet::kText);
  bytes[column] = static_cast<char>(jet::kMemo);
  test::WriteFile(file, bytes);

  auto db = Reopen(file);
  const auto read = db->Rows(*db->Table(kTable));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0][6], Value::Text("一頁の長い値"));
  EXPECT_EQ(read[1][6], Value::Text("二頁にわたる値"));

  // The verifier follows both values and reports each damage of them on
  // their page: the chain's last row gone, the whole value's row shorter.
  test::ExpectJetConsistent(file);
  auto problems = [&](const std::function<void(uint8_t*)>& damage) {
    jet::Bytes image(bytes.begin(), bytes.end());
    damage(image.data() + lvalPage * 4096);
    std::string out;
    for (const auto& line : jet::VerifyImage(image)) out += line + "\n";
    EXPECT_NE(out.find("ページ " + std::to_string(lvalPage) + ":"), std::string::npos) << out;
    return out;
  };
  auto cut = [](uint8_t* pg) {
    jet::Put16(pg + 12, 2);
    jet::Put16(pg + 2, (jet::Get16(pg + 16) & 0x1FFF) - 18);
  };
  EXPECT_NE(problems(cut).find("存在しない行"), std::string::npos);
  EXPECT_NE(problems([](uint8_t* pg) { jet::Put16(pg + 14, jet::Get16(pg + 14) + 2); }).find("長さ"), std::string::npos);
}

TEST(JetStorage, BigTablesSwitchToAReferenceUsageMap) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  const int kRows = 100000;
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    for (int i = 0; i < kRows; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i % 20000));
    EXPECT_TRUE(db->HasRow(*table, 0, "BH-99999"));
    EXPECT_EQ(db->Update(*table, {{6, Value::Text(std::string(200, 'z'))}}, 0, "BH-5"), 1);
    db->Close();
  }
  test::ExpectJetConsistent(file);
  auto image = Load(file);
  jet::Table* t = image->FindTable(kTable);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->rowCount, static_cast<uint32_t>(kRows));
  EXPECT_GT(t->owned.pages.size(), 512u);
  EXPECT_EQ(image->MapKind(t->owned.loc), 1) << "reference map";
  // Every data page of the table is in its map, and nothing else is.
  size_t dataPages = 0;
  for (uint32_t p = 0; p < image->PageCount(); ++p) {
    const uint8_t* pg = image->Page(p);
    if (pg[0] == 0x01 && jet::Get32(pg + 4) == t->tdefPage) {
      ++dataPages;
      EXPECT_TRUE(t->owned.pages.count(p)) << p;
    }
  }
  EXPECT_EQ(dataPages, t->owned.pages.size());
}

TEST(JetReaders, IndependentReadersAcceptCreatedFile) {
  S2Q_REQUIRE_JET_READERS();
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    for (int i = 0; i < 3; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i));
    db->Update(*table, {{6, Value::Text(std::string(240, 'q'))}}, 0, "BH-0");
    db->Close();
  }
  EXPECT_EQ(RunCommand("mdb-ver " + Quote(file)).second, "JET4\n");
  auto [status, schema] = RunCommand("mdb-schema " + Quote(file));
  EXPECT_EQ(status, 0);
  EXPECT_NE(schema.find("[調査緯度（度）]\t\t\tInteger"), std::string::npos) << schema;
  EXPECT_NE(schema.find("[ソース位置]\t\t\tText (255)"), std::string::npos) << schema;
  EXPECT_NE(schema.find("[孔口標高]\t\t\tSingle"), std::string::npos) << schema;
  auto [estatus, out] =
      RunCommand("mdb-export -D '%Y-%m-%d' -T '%Y-%m-%d %H:%M:%S' " + Quote(file) + " " + kTable);
  EXPECT_EQ(estatus, 0);
  EXPECT_NE(out.find("\"BH-2\",\"東京都千代田区2丁目\",37,14.25,\"1998-12-31 13:45:10\",61,\"C:\\data\\holes\\BH-2\",100002"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"BH-1\",\"東京都千代田区1丁目\",36,13.25,\"2003-04-05 00:00:00\",30.5,"), std::string::npos) << out;
  // Our reader finds the table and its count, the verifier no fault; the
  // header names the General sort order (LCID 1033, version 0).
  auto image = Load(file);
  jet::Table* t = image->FindTable(kTable);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->rowCount, 3u);
  EXPECT_EQ(t->columns[2].type, jet::kInt);
  test::ExpectJetConsistent(file);
  uint8_t header[4096];
  std::memcpy(header, image->Page(0), sizeof header);
  jet::ApplyHeaderMask(header);
  EXPECT_EQ(jet::Get16(header + 0x6E), 1033u);
  EXPECT_EQ(header[0x71], 0);
}

// The scanning readers do not notice; our verifier, which walks every index
// against the rows, does.
TEST(JetReaders, AWrongCatalogKeyHidesTheTableFromIndexedLookups) {
  S2Q_REQUIRE_JET_READERS();
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    db->Insert(*db->Table(kTable), BoringRow("BH-1", 1));
    db->Close();
  }
  auto image = Load(file);
  jet::Table* catalog = image->FindTable("MSysObjects");
  ASSERT_EQ(catalog->indexes.size(), 2u);
  const uint32_t leaf = catalog->indexes[1].root;  // ParentIdName
  jet::Bytes key;
  jet::AppendTextKey(key, jet::Utf16(kTable));
  std::string bytes = ReadAll(file);
  const std::string_view page(bytes.data() + leaf * 4096, 4096);
  const size_t at = page.find(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
  ASSERT_NE(at, std::string_view::npos);
  // The first character code of the name: the entry now sorts before the
  // system tables' names, where a lookup of the name does not look.
  bytes[leaf * 4096 + at + 1] ^= 0x40;
  test::WriteFile(file, bytes);

  const std::vector<std::string> problems = jet::VerifyImage(jet::Bytes(bytes.begin(), bytes.end()));
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems[0].find("MSysObjects"), std::string::npos) << problems[0];
  auto [status, out] = RunCommand("mdb-export " + Quote(file) + " " + kTable);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("BH-1"), std::string::npos);
  EXPECT_EQ(test::TableNames(test::Reader::AccessdbParser, file), std::vector<std::string>{kTable});
}

}  // namespace
}  // namespace s2q
