// The harness that reads Jet files back with mdbtools, mdb-reader and
// accessdb-parser: its JSON and CSV readers, the common form of values, the
// parsing of each reader's reply, and the three readers and our verifier on a
// file of our Jet backend.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "targetdb/jet/jetbackend.h"
#include "tests/jetreaders.h"
#include "tests/support.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

TEST(JsonReader, ValuesEscapesAndSurrogatePairs) {
  Json doc = ParseJson(
      " {\"a\": [1, -0.5, 2e-3, 1E+10, true, false, null],\n"
      "  \"s\": \"q\\\" b\\\\ s\\/ \\b\\f\\n\\r\\t \\u00e9 \\u3042 \\ud83d\\ude00 ソース位置\", \"\": {}} ");
  ASSERT_EQ(doc.kind, Json::Kind::Object);
  const Json& a = doc.At("a");
  ASSERT_EQ(a.items.size(), 7u);
  EXPECT_EQ(a.items[0].text, "1");
  EXPECT_EQ(a.items[1].text, "-0.5");
  EXPECT_EQ(a.items[2].text, "2e-3");
  EXPECT_EQ(a.items[3].text, "1E+10");
  EXPECT_TRUE(a.items[4].boolean);
  EXPECT_EQ(a.items[5].kind, Json::Kind::Bool);
  EXPECT_FALSE(a.items[5].boolean);
  EXPECT_EQ(a.items[6].kind, Json::Kind::Null);
  EXPECT_EQ(doc.At("s").text,
            "q\" b\\ s/ \b\f\n\r\t \xC3\xA9 \xE3\x81\x82 \xF0\x9F\x98\x80 ソース位置");
  EXPECT_EQ(doc.At("").kind, Json::Kind::Object);
  EXPECT_EQ(doc.Find("missing"), nullptr);
  EXPECT_THROW(doc.At("missing"), std::runtime_error);
}

TEST(JsonReader, RefusesWhatIsNotStrictJson) {
  for (const char* bad : {"", "[1,]", "{\"a\":1,}", "[01]", "[1.]", "[.5]", "[-]", "[1e]", "'a'",
                          "[\"a\tb\"]", "[\"\\x\"]", "[\"\\ud83d\"]", "[\"\\ude00\"]",
                          "[\"\\ud83d\\u0041\"]", "[\"\\u12\"]", "[\"open]", "[1] 2", "{a:1}",
                          "[tru]", "[nul]", "{\"a\" 1}", "[1 2]"}) {
    EXPECT_THROW(ParseJson(bad), std::runtime_error) << bad;
  }
  std::string deep(300, '[');
  EXPECT_THROW(ParseJson(deep + std::string(300, ']')), std::runtime_error);
}

TEST(CsvReader, QuotesCommasNewlinesAndEmptyFields) {
  auto rows = ParseCsv(
      "\"a,b\",\"say \"\"hi\"\"\",12.3,\r\n"
      "\"line1\nline2\",\"\",,\"ソース位置\"\n"
      "x");
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_EQ(rows[0].size(), 4u);
  EXPECT_EQ(rows[0][0].text, "a,b");
  EXPECT_TRUE(rows[0][0].quoted);
  EXPECT_EQ(rows[0][1].text, "say \"hi\"");
  EXPECT_EQ(rows[0][2].text, "12.3");
  EXPECT_FALSE(rows[0][2].quoted);
  EXPECT_EQ(rows[0][3].text, "");
  EXPECT_FALSE(rows[0][3].quoted);
  ASSERT_EQ(rows[1].size(), 4u);
  EXPECT_EQ(rows[1][0].text, "line1\nline2");
  EXPECT_TRUE(rows[1][1].quoted);
  EXPECT_EQ(rows[1][1].text, "");
  EXPECT_FALSE(rows[1][2].quoted);
  EXPECT_EQ(rows[1][3].text, "ソース位置");
  ASSERT_EQ(rows[2].size(), 1u);
  EXPECT_EQ(rows[2][0].text, "x");
  EXPECT_EQ(ParseCsv("a,\n").at(0).size(), 2u);
  EXPECT_EQ(ParseCsv("a,").at(0).size(), 2u);
  EXPECT_TRUE(ParseCsv("").empty());
  EXPECT_THROW(ParseCsv("a\"b\n"), std::runtime_error);
  EXPECT_THROW(ParseCsv("\"open\n"), std::runtime_error);
  EXPECT_THROW(ParseCsv("\"a\"b\n"), std::runtime_error);
}

TEST(ReaderValues, OneTextFormPerType) {
  EXPECT_EQ(NormalizeValue("single", "12.300000190734863"), "12.3");
  EXPECT_EQ(NormalizeValue("single", "12.3"), "12.3");
  EXPECT_EQ(NormalizeValue("single", "-3.25"), "-3.25");
  EXPECT_EQ(NormalizeValue("single", "10000000000"), NormalizeValue("single", "1.0E10"));
  EXPECT_EQ(NormalizeValue("single", "0.00000010"), ShortestSingle(1e-7f));
  EXPECT_EQ(NormalizeValue("double", "0.1"), "0.1");
  EXPECT_EQ(NormalizeValue("double", "1.0E300"), "1e+300");
  EXPECT_EQ(NormalizeValue("integer", "-32768"), "-32768");
  EXPECT_EQ(NormalizeValue("long", "007"), "7");
  EXPECT_EQ(NormalizeValue("datetime", "2001-02-03 00:00:00"), "2001-02-03");
  EXPECT_EQ(NormalizeValue("datetime", "1999-12-31 13:45:06"), "1999-12-31 13:45:06");
  EXPECT_EQ(NormalizeValue("text", " a,\"b\" "), " a,\"b\" ");
  EXPECT_EQ(NormalizeValue("boolean", "1"), "true");
  for (auto [type, raw] : std::initializer_list<std::pair<const char*, const char*>>{
           {"single", "12.3x"}, {"single", ""}, {"integer", "1.5"}, {"long", "x"}, {"double", "1,5"},
           {"datetime", "2001-13-01"}, {"datetime", "2001-02-03 25:00:00"}, {"datetime", "03/02/2001"},
           {"datetime", "2001-02-03T00:00"},
           {"boolean", "yes"}})
    EXPECT_THROW(NormalizeValue(type, raw), std::runtime_error) << type << " " << raw;
}

// accessdb-parser gives every value as text, dates as DD/MM/YYYY, a single
// float as the double it widens to.
TEST(ReaderReplies, AccessdbParser) {
  ReaderTable t = ParseAccessdbParser(
      "{\"tables\":[\"T\"],\"table\":{\"name\":\"T\",\"columns\":[{\"name\":\"名\",\"type\":\"text\","
      "\"length\":50},{\"name\":\"i\",\"type\":\"integer\",\"length\":0},{\"name\":\"l\",\"type\":\"long\","
      "\"length\":0},{\"name\":\"f\",\"type\":\"single\",\"length\":0},{\"name\":\"d\",\"type\":\"double\","
      "\"length\":0},{\"name\":\"t\",\"type\":\"datetime\",\"length\":0}],"
      "\"rows\":[[\"a\\nb\",\"-32768\",\"2147483647\",\"12.300000190734863\",\"1e+300\",\"31/12/1999\"],"
      "[\"\",\"0\",\"0\",\"0\",\"0\",\"30/12/1899\"],null]}}");
  EXPECT_EQ(t.name, "T");
  EXPECT_EQ(t.columns, (std::vector<ReadColumn>{{"名", "text", 50}, {"i", "integer", 0}, {"l", "long", 0},
                                                {"f", "single", 0}, {"d", "double", 0}, {"t", "datetime", 0}}));
  EXPECT_EQ(t.rows, (Rows{{"a\nb", "-32768", "2147483647", "12.3", "1e+300", "1999-12-31"},
                          {"", "0", "0", "0", "0", "1899-12-30"}, {}}));
  // A table without rows.
  EXPECT_TRUE(ParseAccessdbParser("{\"tables\":[\"T\"],\"table\":{\"name\":\"T\",\"columns\":[{\"name\":"
                                  "\"i\",\"type\":\"integer\",\"length\":0}],\"rows\":[]}}")
                  .rows.empty());
  const std::string head = "{\"tables\":[\"T\"],\"table\":{\"name\":\"T\",\"columns\":[{\"name\":\"t\","
                           "\"type\":\"datetime\",\"length\":0}],\"rows\":";
  for (const char* rows : {"[[\"1999-12-31\"]]", "[[\"31/12/99\"]]", "[[\"31/13/1999\"]]", "[[\"31/12\"]]",
                           "[[null]]", "[[\"31/12/1999\",\"x\"]]"})
    EXPECT_THROW(ParseAccessdbParser(head + rows + "}}"), ReaderError) << rows;
  EXPECT_THROW(ParseAccessdbParser("{\"tables\":[]}"), ReaderError);
}

TEST(ReaderReplies, MdbReaderAndMdbSchema) {
  ReaderTable t = ParseMdbReader(
      "{\"tables\":[\"T\"],\"table\":{\"name\":\"T\",\"columns\":[{\"name\":\"ソース位置\",\"type\":\"text\","
      "\"size\":256,\"length\":128},{\"name\":\"f\",\"type\":\"float\",\"size\":4,\"length\":0},"
      "{\"name\":\"d\",\"type\":\"datetime\",\"size\":8,\"length\":0}],"
      "\"rows\":[[\"\",\"-3.25\",\"1999-12-31 13:45:06\"],[null,\"12.300000190734863\",null]]}}");
  EXPECT_EQ(t.columns, (std::vector<ReadColumn>{{"ソース位置", "text", 128}, {"f", "single", 0}, {"d", "datetime", 0}}));
  EXPECT_EQ(t.rows, (Rows{{"", "-3.25", "1999-12-31 13:45:06"}, {std::nullopt, "12.3", std::nullopt}}));
  EXPECT_THROW(ParseMdbReader("{\"tables\":[]}"), ReaderError);
  // Only accessdb-parser's script marks a row as misread.
  EXPECT_THROW(ParseMdbReader("{\"tables\":[\"T\"],\"table\":{\"name\":\"T\",\"columns\":[{\"name\":\"i\","
                              "\"type\":\"integer\",\"size\":2,\"length\":0}],\"rows\":[null]}}"),
               ReaderError);

  const char* schema =
      "-- That file uses encoding UTF-8\n\nCREATE TABLE [他]\n (\n\t[x]\t\t\tLong Integer\n);\n\n"
      "CREATE TABLE [数]\n (\n\t[n]\t\t\tNumeric (18, 0), \n\t[m]\t\t\tCurrency, \n\t[o]\t\t\tOLE (255)\n);\n\n"
      "CREATE TABLE [ボーリング]\n (\n\t[ボーリング名]\t\t\tText (50), \n\t[調査緯度（度）]\t\t\tInteger, \n"
      "\t[標高]\t\t\tSingle, \n\t[日付]\t\t\tDateTime, \n\t[メモ]\t\t\tMemo/Hyperlink (255), \n"
      "\t[ソース位置]\t\t\tText (128)\n);\n";
  EXPECT_EQ(ParseMdbSchema(schema, "ボーリング"),
            (std::vector<ReadColumn>{{"ボーリング名", "text", 50},
                                     {"調査緯度（度）", "integer", 0},
                                     {"標高", "single", 0},
                                     {"日付", "datetime", 0},
                                     {"メモ", "memo", 0},
                                     {"ソース位置", "text", 128}}));
  EXPECT_EQ(ParseMdbSchema(schema, "他"), (std::vector<ReadColumn>{{"x", "long", 0}}));
  // The comma of a NUMERIC's precision and scale is inside the parentheses;
  // other types take mdb-reader's words.
  EXPECT_EQ(ParseMdbSchema(schema, "数"),
            (std::vector<ReadColumn>{{"n", "numeric", 0}, {"m", "currency", 0}, {"o", "ole", 0}}));
  EXPECT_EQ(NormalizeValue("ole", "00FFab"), "00ffab");
  EXPECT_THROW(NormalizeValue("binary", "0x1"), std::runtime_error);
  EXPECT_THROW(ParseMdbSchema(schema, "ボーリング2"), ReaderError);
}

// ---- the three readers on a file of our Jet backend ----

const std::vector<Field> kFields = {
    {"ボーリング名", dbText, 50}, {"調査緯度（度）", dbInteger, 0}, {"標高", dbSingle, 0},
    {"日付", dbDate, 0},         {"ソース位置", dbText, 128}};
const std::vector<ReadColumn> kColumns = {{"ボーリング名", "text", 50}, {"調査緯度（度）", "integer", 0},
                                          {"標高", "single", 0},       {"日付", "datetime", 0},
                                          {"ソース位置", "text", 128}};
const Rows kRows = {{"BH-1", "-32768", "12.3", "2001-02-03", "a,b\"c\nd"},
                    {"日本語", "32767", "-3.25", "1999-12-31 13:45:06", "ソース位置"},
                    {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}};

class ReadersOnJetFile : public ::testing::Test {
 protected:
  void SetUp() override {
    auto db = JetBackend().Create("C:\\SR-DATA.MDB", file_, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
    db->CreateTable("ボーリング", kFields);
    auto t = db->Table("ボーリング");
    db->Insert(*t, {Value::Text("BH-1"), Value::Int(-32768), Value::Real(12.3), Value::Date("2001-02-03"),
                    Value::Text("a,b\"c\nd")});
    db->Insert(*t, {Value::Text("日本語"), Value::Int(32767), Value::Real(-3.25),
                    Value::Date("1999-12-31 13:45:06"), Value::Text("ソース位置")});
    db->Insert(*t, {Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null()});
    db->Close();
  }
  TempDir dir_;
  fs::path file_ = dir_ / "SR-DATA.MDB";
};

TEST_F(ReadersOnJetFile, EachReaderListsTheTableAndReadsEveryValue) {
  S2Q_REQUIRE_JET_READERS();
  for (Reader r : kAllReaders) {
    SCOPED_TRACE(ReaderName(r));
    EXPECT_EQ(TableNames(r, file_), std::vector<std::string>{"ボーリング"});
    ReaderTable t = ReadTableWith(r, file_, "ボーリング");
    EXPECT_EQ(t.columns, kColumns);
    Rows expected = kRows;
    if (r == Reader::AccessdbParser) {
      // It sees no Null (it ignores the null mask) and no time of day.
      expected[1][3] = "1999-12-31";
      expected[2] = {"", "0", "0", "1899-12-30", ""};
    }
    EXPECT_EQ(t.rows, expected);
    EXPECT_THROW(ReadTableWith(r, file_, "無い表"), ReaderError);
  }
  ExpectReadersAgree(file_, "ボーリング", kColumns, kRows);
  ExpectTablesListed(file_, {"ボーリング"});
}

TEST_F(ReadersOnJetFile, DisagreementNamesReaderRowAndColumn) {
  S2Q_REQUIRE_JET_READERS();
  Rows wrong = kRows;
  wrong[1][4] = "ソース位置X";
  std::vector<ReadColumn> columns = kColumns;
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    ExpectReadersAgree(file_, "ボーリング", columns, wrong);
  }
  ASSERT_EQ(failures.size(), 3);
  for (int k = 0; k < 3; ++k) {
    std::string m = failures.GetTestPartResult(k).message();
    EXPECT_NE(m.find(ReaderName(kAllReaders[k])), std::string::npos) << m;
    EXPECT_NE(m.find("row 2 column ソース位置: written \"ソース位置X\", read \"ソース位置\""), std::string::npos) << m;
  }

  // A column of another length and a missing row fail too; rows compared as
  // sets pass in any order.
  columns[4].length = 255;
  Rows fewer(kRows.begin(), kRows.begin() + 2);
  ::testing::TestPartResultArray more;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &more);
    ExpectReadersAgree(file_, "ボーリング", columns, fewer);
  }
  EXPECT_EQ(more.size(), 6);
  Rows reversed(kRows.rbegin(), kRows.rend());
  ExpectReadersAgree(file_, "ボーリング", kColumns, reversed, /*anyOrder=*/true);
}

// The row count of the table's definition page is what the scanning readers
// ignore: a wrong count is a problem only our verifier sees.
TEST_F(ReadersOnJetFile, VerifierProblemsFailTheComparison) {
  S2Q_REQUIRE_JET_READERS();
  std::string bytes = ReadFile(file_);
  const size_t page = 4096;
  size_t found = 0;
  for (size_t p = 3; (p + 1) * page <= bytes.size(); ++p) {
    // A table definition page (type 2) holding 3 rows at offset 16.
    if (bytes[p * page] == 2 && bytes[p * page + 16] == 3 && bytes[p * page + 17] == 0 &&
        bytes[p * page + 18] == 0 && bytes[p * page + 19] == 0) {
      bytes[p * page + 16] = 4;
      ++found;
    }
  }
  ASSERT_EQ(found, 1u);
  WriteFile(file_, bytes);
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    ExpectReadersAgree(file_, "ボーリング", kColumns, kRows);
  }
  // The readers still agree; only the verifier objects, naming the table.
  ASSERT_EQ(failures.size(), 1);
  std::string m = failures.GetTestPartResult(0).message();
  EXPECT_NE(m.find("ボーリング"), std::string::npos) << m;
  EXPECT_NE(m.find("SR-DATA.MDB"), std::string::npos) << m;
}

// accessdb-parser misreads a record of 256 bytes or more: such a row is
// counted, not compared, in either order; the rows it reads are compared.
TEST(ReadersOnLongRows, AccessdbParserComparesTheRowsItCanRead) {
  S2Q_REQUIRE_JET_READERS();
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  auto db = JetBackend().Create("C:\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable("T", {{"名", dbText, 20}, {"長", dbText, 255}});
  auto t = db->Table("T");
  const std::string longText(250, 'x');
  for (const char* name : {"a", "b", "c"}) db->Insert(*t, {Value::Text(name), Value::Text(name)});
  db->Insert(*t, {Value::Text("long"), Value::Text(longText)});
  db->Close();
  const std::vector<ReadColumn> columns = {{"名", "text", 20}, {"長", "text", 255}};
  const Rows rows = {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"long", longText}};
  EXPECT_EQ(ReadTableWith(Reader::AccessdbParser, file, "T").rows, (Rows{{"a", "a"}, {"b", "b"}, {"c", "c"}, {}}));
  ExpectReadersAgree(file, "T", columns, rows);
  ExpectReadersAgree(file, "T", columns, Rows(rows.rbegin(), rows.rend()), /*anyOrder=*/true);
  // A wrong short row fails every reader, a wrong long one all but
  // accessdb-parser, a missing row every reader.
  for (bool anyOrder : {false, true}) {
    for (auto [row, failing] : {std::pair{1, 3}, std::pair{3, 2}}) {
      Rows wrong = rows;
      wrong[row][0] = "z";
      ::testing::TestPartResultArray failures;
      {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        ExpectReadersAgree(file, "T", columns, wrong, anyOrder);
      }
      EXPECT_EQ(failures.size(), failing) << "row " << row << " any order " << anyOrder;
    }
    ::testing::TestPartResultArray failures;
    {
      ::testing::ScopedFakeTestPartResultReporter reporter(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
      ExpectReadersAgree(file, "T", columns, Rows(rows.begin(), rows.begin() + 3), anyOrder);
    }
    bool counted = false;
    for (int k = 0; k < failures.size(); ++k)
      counted |= std::string(failures.GetTestPartResult(k).message()).find("accessdb-parser reads 4 rows") !=
                 std::string::npos;
    EXPECT_TRUE(counted) << "any order " << anyOrder;
  }
}

#ifndef _WIN32
// Sets an environment variable for the scope of a test, or removes it.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvVar() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};
#endif

// A missing reader fails the test on every machine, in CI or not.
TEST_F(ReadersOnJetFile, AMissingReaderFailsTheTest) {
  S2Q_REQUIRE_JET_READERS();
#ifndef _WIN32
  EnvVar script("S2Q_ADB_READ", (dir_ / "no-adb-read.js").c_str());
  EXPECT_NE(ReaderMissing(Reader::AccessdbParser), "");
  EXPECT_EQ(ReaderMissing(Reader::Mdbtools), "");
  EXPECT_EQ(ReaderMissing(Reader::MdbReader), "");
  for (bool ci : {true, false}) {
    EnvVar ciVar("CI", ci ? "true" : nullptr);
    ::testing::TestPartResultArray results;
    {
      ::testing::ScopedFakeTestPartResultReporter reporter(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      ExpectReadersAgree(file_, "ボーリング", kColumns, kRows);
      [] { S2Q_REQUIRE_JET_READERS(); }();
    }
    // The readers there still agree; only the missing one is reported.
    ASSERT_EQ(results.size(), 2) << "CI " << ci;
    for (int k = 0; k < 2; ++k) {
      const auto& r = results.GetTestPartResult(k);
      EXPECT_TRUE(r.failed()) << "CI " << ci;
      EXPECT_NE(std::string(r.message()).find("accessdb-parser"), std::string::npos) << r.message();
    }
  }
#endif
}

}  // namespace
}  // namespace s2q::test
