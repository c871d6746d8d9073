// The statement dialect and the engine's value rules, without any file.
#include <gtest/gtest.h>

#include "env/codepage.h"
#include "env/errors.h"
#include "targetdb/dialect.h"
#include "targetdb/enginevalues.h"

namespace s2q {
namespace {

Literal Num(const std::string& s) { return {Literal::Type::Number, s}; }
Literal Txt(const std::string& s) { return {Literal::Type::Text, s}; }
Literal Nul() { return {}; }

std::string Rejection(const std::function<void()>& action) {
  try {
    action();
  } catch (const DbError& e) {
    EXPECT_EQ(e.kind(), DbError::Kind::Rejected);
    return e.what();
  }
  ADD_FAILURE() << "not rejected";
  return {};
}

TEST(Dialect, ParsesTheTwoStatementsOfTheBuilders) {
  ParsedStatement insert =
      ParseStatement("INSERT INTO ボーリング VALUES( Null,35,-4.5e1,'it''s','a,b)');", "db");
  EXPECT_TRUE(insert.insert);
  EXPECT_EQ(insert.table, "ボーリング");
  ASSERT_EQ(insert.values.size(), 5u);
  EXPECT_EQ(insert.values[0].value, Nul());
  EXPECT_EQ(insert.values[1].value, Num("35"));
  EXPECT_EQ(insert.values[2].value, Num("-4.5e1"));
  EXPECT_EQ(insert.values[3].value, Txt("it's"));
  EXPECT_EQ(insert.values[4].value, Txt("a,b)"));

  ParsedStatement update = ParseStatement(
      "update ボーリング set 孔口標高 = 'TP 12.5',調査緯度（度） =  35 ,備考 = null where "
      "ソース位置 = 'C:\\H''1\\';",
      "db");
  EXPECT_FALSE(update.insert);
  EXPECT_EQ(update.table, "ボーリング");
  ASSERT_EQ(update.values.size(), 3u);
  EXPECT_EQ(update.values[0], (Assignment{"孔口標高", Txt("TP 12.5")}));
  EXPECT_EQ(update.values[1], (Assignment{"調査緯度（度）", Num("35")}));
  EXPECT_EQ(update.values[2], (Assignment{"備考", Nul()}));
  EXPECT_EQ(update.where, (Assignment{"ソース位置", Txt("C:\\H'1\\")}));
  // A field whose name only begins with a keyword is a field.
  EXPECT_EQ(ParseStatement("UPDATE T SET WHEREABOUTS = 1 WHERE C = 'x'", "db").values[0].field,
            "WHEREABOUTS");
  // A text may hold the words and signs of the statement.
  EXPECT_EQ(ParseStatement("UPDATE T SET A = ' WHERE B = 1,' WHERE C = 'x'", "db").values[0].value,
            Txt(" WHERE B = 1,"));
}

TEST(Dialect, RefusalsNameTheDatabaseAndThePlace) {
  for (const char* sql : {"", "SELECT 1", "INSERT INTO T VALUES 1", "INSERT INTO T VALUES( 1,)",
                          "INSERT INTO T VALUES( 'a)", "INSERT INTO  VALUES( 1)",
                          "UPDATE T SET A = 1", "UPDATE T SET A = 1 WHERE B = 2",
                          "UPDATE T SET A = x WHERE B = 'c'", "INSERT INTO T VALUES( 1); --"}) {
    std::string message = Rejection([&] { ParseStatement(sql, "C:\\m\\SR-DATA.MDB"); });
    EXPECT_NE(message.find("C:\\m\\SR-DATA.MDB"), std::string::npos) << sql << ": " << message;
  }
  // The quoted piece of the statement ends on a whole character.
  const std::string message =
      Rejection([&] { ParseStatement("INSERT INTO T VALUES( 1,'" + std::string(14, 'x') + "あいうえおかきくけこさしすせそ", "db"); });
  EXPECT_TRUE(IsValidUtf8(message)) << message;
  EXPECT_EQ(ParseCriteria("ソース位置 = 'a''b'", "db"), (Assignment{"ソース位置", Txt("a'b")}));
  for (const char* criteria : {"ソース位置 = a", "ソース位置 = 'a'b'", "= 'a'", "ソース位置='a'"}) {
    std::string message = Rejection([&] { ParseCriteria(criteria, "db"); });
    EXPECT_NE(message.find(criteria), std::string::npos) << message;
  }
}

TEST(EngineValues, ConvertByTheFieldType) {
  const Field text{"孔口標高", dbText, 4}, small{"N", dbInteger, 0}, single{"S", dbSingle, 0},
      date{"D", dbDate, 0};
  EXPECT_EQ(ConvertValue(text, Txt("漢字四つ"), "db", false), Value::Text("漢字四つ"));
  EXPECT_EQ(ConvertValue(text, Num("12.5"), "db", false), Value::Text("12.5"));
  EXPECT_EQ(ConvertValue(text, Nul(), "db", false), Value::Null());
  EXPECT_EQ(ConvertValue(text, Txt("長すぎる値"), "db", true), Value::Text("長すぎる値"));
  EXPECT_EQ(ConvertValue(small, Num("-32768"), "db", false), Value::Int(-32768));
  EXPECT_EQ(ConvertValue(small, Txt(" 41.0 "), "db", false), Value::Int(41));
  EXPECT_EQ(ConvertValue(single, Num("12.3"), "db", false), Value::Real(12.3));
  EXPECT_EQ(ConvertValue(date, Txt("29/1/1"), "db", false), Value::Date("2029-01-01"));
  EXPECT_EQ(ConvertValue(date, Txt("30/12/31"), "db", false), Value::Date("1930-12-31"));
  EXPECT_EQ(ConvertValue(date, Txt(" / / "), "db", false), Value::Null());

  const std::vector<std::pair<Field, Literal>> bad = {
      {text, Txt("長すぎる値")}, {small, Num("32768")}, {small, Num("1.5")},
      {small, Txt("x")},        {single, Num("3.5e38")}, {date, Num("19981201")},
      {date, Txt("1998/2/29")},  {date, Txt("1998/ /1")}, {Field{"M", 99, 0}, Num("1")}};
  for (const auto& [field, literal] : bad) {
    std::string message = Rejection([&] { ConvertValue(field, literal, "C:\\x.mdb", false); });
    EXPECT_NE(message.find(field.Name), std::string::npos) << message;
    EXPECT_NE(message.find(literal.text), std::string::npos) << message;
    EXPECT_NE(message.find("C:\\x.mdb"), std::string::npos) << message;
  }
}

TEST(EngineValues, NamesAsTheOldEngineAcceptedThem) {
  EXPECT_NO_THROW(ValidateName("調査緯度（度）", "フィールド"));
  EXPECT_NO_THROW(ValidateName(std::string(64, 'x'), "フィールド"));
  for (const std::string& bad : {std::string(), std::string(65, 'x'), std::string(" a"),
                                 std::string("a.b"), std::string("a[b"), std::string("a\tb")}) {
    Rejection([&] { ValidateName(bad, "フィールド"); });
  }
}

}  // namespace
}  // namespace s2q
