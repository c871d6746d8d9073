#include "targetdb/dialect.h"

#include <algorithm>
#include <cstring>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/text.h"
#include "targetdb/storage.h"

namespace s2q {

namespace {

using Kind = DbError::Kind;

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

// The parser of one statement text; see dialect.h for the dialect.
class Parser {
 public:
  Parser(std::string_view sql, const std::string& dbPath) : s_(sql), dbPath_(dbPath) {}

  ParsedStatement Statement() {
    ParsedStatement st;
    SkipSpaces();
    if (Keyword("INSERT")) {
      st.insert = true;
      Expect("INTO");
      size_t end = Find(" VALUES");
      st.table = std::string(TrimBlanks(s_.substr(pos_, end - pos_)));
      pos_ = end + 7;
      SkipSpaces();
      if (!Char('(')) Reject("VALUES の後に ( がありません");
      while (true) {
        st.values.push_back({"", Value(",)", false)});
        SkipSpaces();
        if (Char(',')) continue;
        if (Char(')')) break;
        Reject("値の後に , か ) がありません");
      }
    } else if (Keyword("UPDATE")) {
      size_t end = Find(" SET ");
      st.table = std::string(TrimBlanks(s_.substr(pos_, end - pos_)));
      pos_ = end + 5;
      while (true) {
        SkipSpaces();
        if (AtKeyword("WHERE") && (pos_ + 5 >= s_.size() || IsBlankChar(s_[pos_ + 5]))) {
          Reject("SET の後に代入がありません");
        }
        std::string field = Name();
        st.values.push_back({field, Value(",", true)});
        SkipSpaces();
        if (Char(',')) continue;
        if (Keyword("WHERE")) break;
        Reject("値の後に , か WHERE がありません");
      }
      SkipSpaces();
      st.where.field = Name();
      SkipSpaces();
      if (!At('\'')) Reject("WHERE の値が引用符で囲まれていません");
      st.where.value = Quoted();
    } else {
      Reject("INSERT INTO か UPDATE で始まっていません");
    }
    SkipSpaces();
    Char(';');
    while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) != nullptr) ++pos_;
    if (pos_ != s_.size()) Reject("文の終わりの後に余分な文字があります");
    if (st.table.empty()) Reject("テーブル名がありません");
    return st;
  }

 private:
  [[noreturn]] void Reject(const std::string& reason) const {
    // About 40 bytes of the text from the place, never cut inside a character.
    const size_t from = std::min(pos_, s_.size());
    size_t end = from;
    while (end < s_.size() && end - from < 40) end += Utf8CharLength(s_, end);
    std::string near(s_.substr(from, end - from));
    Fail(Kind::Rejected, "データベース「" + dbPath_ + "」への文を解釈できません: " + reason +
                             (near.empty() ? "" : " (「" + near + "」の所)"));
  }
  bool At(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
  bool Char(char c) {
    if (!At(c)) return false;
    ++pos_;
    return true;
  }
  void SkipSpaces() {
    while (pos_ < s_.size() && IsBlankChar(s_[pos_])) ++pos_;
  }
  bool AtKeyword(std::string_view word) const {
    return pos_ + word.size() <= s_.size() && EqualsIgnoringAsciiCase(s_.substr(pos_, word.size()), word);
  }
  // A keyword followed by at least one space.
  bool Keyword(std::string_view word) {
    if (!AtKeyword(word) || pos_ + word.size() >= s_.size() ||
        !IsBlankChar(s_[pos_ + word.size()])) {
      return false;
    }
    pos_ += word.size();
    SkipSpaces();
    return true;
  }
  void Expect(std::string_view word) {
    if (!Keyword(word)) Reject(std::string(word) + " がありません");
  }
  // Position of the next occurrence of a keyword (any case) that ends
  // before `limit`.
  size_t FindFrom(std::string_view word, size_t from,
                  size_t limit = std::string_view::npos) const {
    limit = std::min(limit, s_.size());
    for (size_t i = from; i + word.size() <= limit; ++i) {
      if (EqualsIgnoringAsciiCase(s_.substr(i, word.size()), word)) return i;
    }
    return std::string_view::npos;
  }
  size_t Find(std::string_view word) {
    size_t at = FindFrom(word, pos_);
    if (at == std::string_view::npos) Reject(std::string(TrimBlanks(word)) + " がありません");
    return at;
  }
  // A field name: everything up to " = ".
  std::string Name() {
    size_t end = s_.find(" = ", pos_);
    if (end == std::string_view::npos || end == pos_) Reject("「フィールド名 = 値」がありません");
    std::string name(s_.substr(pos_, end - pos_));
    pos_ = end + 3;
    return name;
  }
  Literal Quoted() {
    Literal v{Literal::Type::Text, ""};
    ++pos_;
    while (true) {
      size_t quote = s_.find('\'', pos_);
      if (quote == std::string_view::npos) Reject("引用符が閉じていません");
      v.text.append(s_.substr(pos_, quote - pos_));
      pos_ = quote + 1;
      if (!At('\'')) return v;
      v.text += '\'';
      ++pos_;
    }
  }
  Literal Value(std::string_view ends, bool endsAtWhere) {
    SkipSpaces();
    if (At('\'')) return Quoted();
    size_t end = std::min(s_.find_first_of(ends, pos_), s_.size());
    if (endsAtWhere) end = std::min(end, FindFrom(" WHERE", pos_, end));
    std::string_view raw = TrimBlanks(s_.substr(pos_, end - pos_));
    if (raw.empty()) Reject("値がありません");
    Literal v;
    if (EqualsIgnoringAsciiCase(raw, "Null")) {
      v.type = Literal::Type::Null;
    } else if (IsDecimalNumber(raw)) {
      v.type = Literal::Type::Number;
      v.text = std::string(raw);
    } else {
      Reject("値「" + std::string(raw) + "」は Null でも数値でも引用符で囲んだ文字列でもありません");
    }
    pos_ = end;
    return v;
  }

  std::string_view s_;
  size_t pos_ = 0;
  const std::string& dbPath_;
};

}  // namespace

ParsedStatement ParseStatement(std::string_view sql, const std::string& dbPath) {
  return Parser(sql, dbPath).Statement();
}

Assignment ParseCriteria(const std::string& criteria, const std::string& dbPath) {
  auto reject = [&]() -> Assignment {
    Fail(Kind::Rejected, "データベース「" + dbPath + "」の検索条件「" + criteria +
                             "」を解釈できません: 「フィールド名 = '値'」の形ではありません");
  };
  std::string_view s(criteria);
  size_t eq = s.find(" = ");
  if (eq == std::string_view::npos) return reject();
  std::string_view name = TrimBlanks(s.substr(0, eq));
  std::string_view rest = TrimBlanks(s.substr(eq + 3));
  if (name.empty() || rest.size() < 2 || rest.front() != '\'' || rest.back() != '\'') {
    return reject();
  }
  Assignment a{std::string(name), {Literal::Type::Text, ""}};
  rest = rest.substr(1, rest.size() - 2);
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\'') {
      if (i + 1 >= rest.size() || rest[i + 1] != '\'') return reject();
      ++i;
    }
    a.value.text += rest[i];
  }
  return a;
}

}  // namespace s2q
