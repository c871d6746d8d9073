// The statement dialect parser and the engine's value rules on arbitrary
// statement and criteria text.
// Properties: only DbError(Rejected) escapes; a parsed statement or criteria,
// written out again in the dialect, parses to the same thing; a converted
// value fits its field (16-bit range, integral, size, a real date that reads
// back the same); a name that passes the name rules is 1 to 64 characters
// without control characters.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/text.h"
#include "targetdb/dialect.h"
#include "targetdb/enginevalues.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace s2q;

const std::string kDb = "C:\\db\\SR-DATA.MDB";

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Write(const Literal& v) {
  switch (v.type) {
    case Literal::Type::Null: return "Null";
    case Literal::Type::Number: return v.text;
    default: return Quote(v.text);
  }
}

std::string Write(const ParsedStatement& st) {
  std::string out;
  if (st.insert) {
    out = "INSERT INTO " + st.table + " VALUES( ";
    for (size_t i = 0; i < st.values.size(); ++i) out += (i ? "," : "") + Write(st.values[i].value);
    out += ");";
  } else {
    out = "UPDATE " + st.table + " SET ";
    for (size_t i = 0; i < st.values.size(); ++i)
      out += (i ? "," : "") + st.values[i].field + " = " + Write(st.values[i].value);
    out += " WHERE " + st.where.field + " = " + Quote(st.where.value.text) + ";";
  }
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void RequireRejected(const DbError& e) { S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected); }

void CheckValue(const Literal& literal) {
  static const Field fields[] = {{"T", dbText, 5},    {"M", dbMemo, 0},   {"I", dbInteger, 0},
                                 {"L", dbLong, 0},    {"S", dbSingle, 0}, {"D", dbDouble, 0},
                                 {"A", dbDate, 0}};
  for (const Field& field : fields) {
    for (bool comparison : {false, true}) {
      Value v;
      try {
        v = ConvertValue(field, literal, kDb, comparison);
      } catch (const DbError& e) {
        RequireRejected(e);
        S2Q_REQUIRE(literal.type != Literal::Type::Null);
        continue;
      }
      if (literal.type == Literal::Type::Null) {
        S2Q_REQUIRE(v.type == Value::Type::Null);
        continue;
      }
      switch (field.Type) {
        case dbText:
        case dbMemo:
          S2Q_REQUIRE(v == Value::Text(literal.text));
          if (!comparison && field.Size > 0) S2Q_REQUIRE(CharCount(v.text) <= 5);
          break;
        case dbInteger:
        case dbLong: {
          const int64_t limit = field.Type == dbInteger ? 32767 : 2147483647;
          S2Q_REQUIRE(v.type == Value::Type::Integer);
          S2Q_REQUIRE(v.integer >= -limit - 1 && v.integer <= limit);
          S2Q_REQUIRE(static_cast<double>(v.integer) == DecimalValue(TrimBlanks(literal.text)));
          break;
        }
        case dbSingle:
        case dbDouble:
          S2Q_REQUIRE(v.type == Value::Type::Real && std::isfinite(v.real));
          break;
        default: {
          if (v.type == Value::Type::Null) break;  // a blank date
          S2Q_REQUIRE(v.type == Value::Type::Date && v.text.size() == 10);
          std::string again = v.text;
          again[4] = again[7] = '/';
          std::string iso, reason;
          S2Q_REQUIRE(ParseDate(again, iso, reason) && iso == v.text);
        }
      }
    }
  }
}

void CheckName(const std::string& name) {
  for (const char* what : {"テーブル", "フィールド"}) {
    try {
      ValidateName(name, what);
    } catch (const DbError& e) {
      RequireRejected(e);
      continue;
    }
    S2Q_REQUIRE(!name.empty() && CharCount(name) <= 64 && name.front() != ' ');
    for (unsigned char c : name) S2Q_REQUIRE(c >= 0x20 && c != 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  try {
    const ParsedStatement st = ParseStatement(text, kDb);
    S2Q_REQUIRE(!st.table.empty() && !st.values.empty());
    const std::string written = Write(st);
    const ParsedStatement again = ParseStatement(written, kDb);
    S2Q_REQUIRE(again.insert == st.insert && again.table == st.table);
    S2Q_REQUIRE(again.values == st.values && again.where == st.where);
    CheckName(st.table);
    for (const Assignment& a : st.values) {
      if (!st.insert) CheckName(a.field);
      CheckValue(a.value);
    }
  } catch (const DbError& e) {
    RequireRejected(e);
  }

  try {
    const Assignment a = ParseCriteria(text, kDb);
    S2Q_REQUIRE(a.value.type == Literal::Type::Text);
    const Assignment again = ParseCriteria(a.field + " = " + Quote(a.value.text), kDb);
    S2Q_REQUIRE(again == a);
    CheckValue(a.value);
  } catch (const DbError& e) {
    RequireRejected(e);
  }

  std::string iso, reason;
  if (ParseDate(text, iso, reason)) {
    S2Q_REQUIRE(iso.empty() || iso.size() == 10);
  } else {
    S2Q_REQUIRE(!reason.empty());
  }
  return 0;
}
