#include "targetdb/enginevalues.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/text.h"

namespace s2q {

namespace {

using Kind = DbError::Kind;

// Names as the old engine allowed them.
constexpr size_t kMaxNameLength = 64;

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

// The value of a number text (blanks around it allowed); infinite when it is
// beyond the double range.
std::optional<double> ParseNumber(std::string_view s) {
  s = TrimBlanks(s);
  if (!IsDecimalNumber(s)) return std::nullopt;
  return DecimalValue(s);
}

// Whether the text is well-formed UTF-8: no stray or missing continuation
// bytes, no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool IsWellFormedUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    const auto second = static_cast<unsigned char>(s[i + 1]);
    if (second < low || second > high) return false;
    for (size_t k = 2; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

}  // namespace

std::string FieldText(const Field& field) { return "フィールド「" + field.Name + "」"; }

bool ParseDate(std::string_view text, std::string& iso, std::string& reason) {
  std::string_view parts[3];
  for (int i = 0; i < 3; ++i) {
    size_t slash = text.find('/');
    if ((i < 2) != (slash != std::string_view::npos)) {
      reason = "年/月/日 の形の日付ではありません";
      return false;
    }
    parts[i] = TrimBlanks(text.substr(0, slash));
    if (i < 2) text.remove_prefix(slash + 1);
  }
  if (parts[0].empty() && parts[1].empty() && parts[2].empty()) return true;
  int numbers[3];
  for (int i = 0; i < 3; ++i) {
    std::string_view p = parts[i];
    if (p.empty() || p.size() > 4 || p.find_first_not_of("0123456789") != std::string_view::npos) {
      reason = "年/月/日 の形の日付ではありません";
      return false;
    }
    std::from_chars(p.data(), p.data() + p.size(), numbers[i]);
  }
  int year = numbers[0], month = numbers[1], day = numbers[2];
  if (parts[0].size() <= 2) year += year < 30 ? 2000 : 1900;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 100 || month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
    reason = "存在しない日付です";
    return false;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  iso = buffer;
  return true;
}

Value ConvertValue(const Field& field, const Literal& value, const std::string& dbPath,
                   bool forComparison) {
  Value out;
  if (value.type == Literal::Type::Null) return out;
  auto reject = [&](const std::string& reason) -> Value {
    Fail(Kind::Rejected, "データベース「" + dbPath + "」の" + FieldText(field) + "に値「" +
                             value.text + "」を使えません: " + reason);
  };
  switch (field.Type) {
    case dbText:
    case dbMemo: {
      // A backend that keeps texts as UTF-16 could not store broken UTF-8
      // as it is; a comparison with it just matches nothing.
      if (!forComparison && !IsWellFormedUtf8(value.text)) {
        return reject("正しい UTF-8 の文字列ではありません");
      }
      size_t length = CharCount(value.text);
      if (!forComparison && field.Size > 0 && length > static_cast<size_t>(field.Size)) {
        return reject("長さ " + std::to_string(length) + " 文字はフィールドの大きさ " +
                      std::to_string(field.Size) + " 文字を超えています");
      }
      out = Value::Text(value.text);
      return out;
    }
    case dbInteger:
    case dbLong: {
      std::optional<double> number = ParseNumber(value.text);
      if (!number) return reject("数値ではありません");
      bool small = field.Type == dbInteger;
      double low = small ? -32768.0 : -2147483648.0;
      double high = small ? 32767.0 : 2147483647.0;
      if (!(*number >= low && *number <= high)) {
        return reject(std::string(small ? "16" : "32") + " ビット整数の範囲 (" +
                      std::to_string(static_cast<int64_t>(low)) + "～" +
                      std::to_string(static_cast<int64_t>(high)) + ") を超えています");
      }
      if (*number != std::floor(*number)) return reject("整数ではありません");
      out = Value::Int(static_cast<int64_t>(*number));
      return out;
    }
    case dbSingle:
    case dbDouble: {
      std::optional<double> number = ParseNumber(value.text);
      if (!number) return reject("数値ではありません");
      double limit = field.Type == dbSingle ? FLT_MAX : DBL_MAX;
      if (!(std::fabs(*number) <= limit)) {
        return reject(field.Type == dbSingle ? "単精度実数の範囲を超えています"
                                             : "倍精度実数の範囲を超えています");
      }
      // The number as written, not rounded to single precision.
      out = Value::Real(*number);
      return out;
    }
    case dbDate: {
      if (value.type != Literal::Type::Text) return reject("引用符で囲んだ日付ではありません");
      std::string iso, reason;
      if (!ParseDate(value.text, iso, reason)) return reject(reason);
      if (iso.empty()) return out;
      out = Value::Date(iso);
      return out;
    }
    default:
      return reject("フィールドの型 " + std::to_string(field.Type) + " には値を入れられません");
  }
}

void ValidateName(const std::string& name, const std::string& what) {
  auto reject = [&](const std::string& reason) {
    Fail(Kind::Rejected, what + "名「" + name + "」は使えません: " + reason);
  };
  if (name.empty()) reject("名前が空です");
  if (CharCount(name) > kMaxNameLength) reject("64 文字を超えています");
  if (name.front() == ' ') reject("空白で始まっています");
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) reject("制御文字を含んでいます");
    if (std::strchr(".!`[]", c) != nullptr) reject(". ! ` [ ] のいずれかを含んでいます");
  }
}

}  // namespace s2q
