#include "targetdb/dao.h"

#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/platform.h"
#include "env/text.h"
#include "targetdb/boringdb.h"

namespace s2q {

namespace fs = std::filesystem;
using Kind = DbError::Kind;

namespace {

// How long a statement waits for another program's lock before it fails.
constexpr int kBusyTimeoutMs = 1500;
// Prepared statements kept per database; far more than the shapes one run uses.
constexpr size_t kMaxCachedStatements = 100;
// Names as the old engine allowed them.
constexpr size_t kMaxNameLength = 64;

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlankChar(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankChar(s.back())) s.remove_suffix(1);
  return s;
}

// An identifier for SQLite's own SQL text: double-quoted, inner quotes doubled.
std::string QuoteId(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string FieldText(const Field& field) { return "フィールド「" + field.Name + "」"; }

// ---- Values ---------------------------------------------------------------

// A value of a statement as written: Null, an unquoted number, a quoted text.
struct Literal {
  enum class Type { Null, Number, Text } type = Type::Null;
  std::string text;  // the number as written (trimmed) or the text unquoted
};

// A value converted to its field's type, ready to be bound.
struct Bound {
  enum class Type { Null, Integer, Real, Text } type = Type::Null;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};

// The value of a number text (blanks around it allowed); infinite when it is
// beyond the double range.
std::optional<double> ParseNumber(std::string_view s) {
  s = Trim(s);
  if (!IsDecimalNumber(s)) return std::nullopt;
  return DecimalValue(s);
}

// Reads a date text "y/m/d" into `iso` as "YYYY-MM-DD", or leaves `iso`
// empty when all three parts are blank; false with the reason when it is not
// a date. Years of one or two digits are read as the old platform did: 00 to
// 29 are 2000 to 2029, 30 to 99 are 1930 to 1999.
bool ParseDate(std::string_view text, std::string& iso, std::string& reason) {
  std::string_view parts[3];
  for (int i = 0; i < 3; ++i) {
    size_t slash = text.find('/');
    if ((i < 2) != (slash != std::string_view::npos)) {
      reason = "年/月/日 の形の日付ではありません";
      return false;
    }
    parts[i] = Trim(text.substr(0, slash));
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

// Converts a value to the field's type. A value that does not fit raises a
// DbError naming the field and the value. For a comparison (criteria, WHERE)
// a text is not held to the field's size: it just matches nothing.
Bound ConvertValue(const Field& field, const Literal& value, const std::string& dbPath,
                   bool forComparison) {
  Bound out;
  if (value.type == Literal::Type::Null) return out;
  auto reject = [&](const std::string& reason) -> Bound {
    Fail(Kind::Rejected, "データベース「" + dbPath + "」の" + FieldText(field) + "に値「" +
                             value.text + "」を使えません: " + reason);
  };
  switch (field.Type) {
    case dbText: {
      size_t length = CharCount(value.text);
      if (!forComparison && field.Size > 0 && length > static_cast<size_t>(field.Size)) {
        return reject("長さ " + std::to_string(length) + " 文字はフィールドの大きさ " +
                      std::to_string(field.Size) + " 文字を超えています");
      }
      out.type = Bound::Type::Text;
      out.text = value.text;
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
      out.type = Bound::Type::Integer;
      out.integer = static_cast<int64_t>(*number);
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
      out.type = Bound::Type::Real;
      out.real = *number;
      return out;
    }
    case dbDate: {
      if (value.type != Literal::Type::Text) return reject("引用符で囲んだ日付ではありません");
      std::string iso, reason;
      if (!ParseDate(value.text, iso, reason)) return reject(reason);
      if (iso.empty()) return out;
      out.type = Bound::Type::Text;
      out.text = iso;
      return out;
    }
    default:
      return reject("フィールドの型 " + std::to_string(field.Type) + " には値を入れられません");
  }
}

// ---- Declared types -------------------------------------------------------

// The field of a column from its declared type. Our own tables use TEXT(n),
// DATETIME, SMALLINT and REAL. For tables made by other tools, SQLite's own
// affinity rules decide: text types keep their size (none: no limit), date
// types are dates, SMALLINT/INT2/TINYINT 16-bit and other integer types 32-bit
// integers, REAL single and FLOAT/DOUBLE/NUMERIC/DECIMAL double floats, and a
// column without a type (or BLOB) takes any value as a text without limit.
Field FieldFromDeclared(const std::string& name, const std::string& declared) {
  std::string upper;
  for (char c : declared) upper += AsciiUpper(c);
  std::string base = upper.substr(0, upper.find('('));
  std::string_view type = Trim(base);
  Field field{name, dbText, 0};
  auto has = [&](const char* part) { return type.find(part) != std::string_view::npos; };
  if (has("INT")) {
    bool small = type == "SMALLINT" || type == "INT2" || type == "TINYINT";
    field.Type = small ? dbInteger : dbLong;
  } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
    size_t open = upper.find('(');
    if (open != std::string::npos) {
      int size = 0;
      std::string_view arg = Trim(std::string_view(upper).substr(open + 1));
      auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), size);
      if (ec == std::errc() && size > 0 && size <= INT16_MAX &&
          Trim(std::string_view(end, arg.data() + arg.size() - end)).starts_with(")")) {
        field.Size = static_cast<int16_t>(size);
      }
    }
  } else if (type == "DATETIME" || type == "DATE" || type == "TIMESTAMP") {
    field.Type = dbDate;
  } else if (type == "REAL") {
    field.Type = dbSingle;
  } else if (has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
    field.Type = dbDouble;
  }
  return field;
}

std::string DeclaredType(const Field& field) {
  switch (field.Type) {
    case dbText: return "TEXT(" + std::to_string(field.Size) + ")";
    case dbDate: return "DATETIME";
    case dbInteger: return "SMALLINT";
    case dbLong: return "INTEGER";
    case dbSingle: return "REAL";
    case dbDouble: return "DOUBLE";
    default: return "";
  }
}

// Names as the old engine accepted them: 1 to 64 characters, no control
// characters, no leading space, none of . ! ` [ ].
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

// ---- Connection -----------------------------------------------------------

std::string AsciiUpperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

struct TableLayout {
  std::string name;  // as stored in the database
  std::vector<Field> fields;
  // Position of each field by its name with a to z in upper case, as SQLite
  // compares names.
  std::unordered_map<std::string, size_t> positions;
};

const Field* FindField(const TableLayout& table, const std::string& name) {
  auto it = table.positions.find(AsciiUpperText(name));
  return it == table.positions.end() ? nullptr : &table.fields[it->second];
}

// One open SQLite connection with its prepared statements and the layouts of
// the tables looked at so far.
class Connection {
 public:
  explicit Connection(std::string path) : path_(std::move(path)) {}
  ~Connection() {
    DropStatements();
    sqlite3_close(handle_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3*& handle() { return handle_; }
  const std::string& path() const { return path_; }

  [[noreturn]] void Raise(int rc, const std::string& what) const {
    std::string detail = handle_ ? sqlite3_errmsg(handle_) : sqlite3_errstr(rc);
    std::string head = "データベース「" + path_ + "」の" + what + "に失敗しました: ";
    switch (rc & 0xff) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        Fail(Kind::Locked, head + "他のプログラムが使用中です");
      case SQLITE_READONLY:
      case SQLITE_CANTOPEN:
      case SQLITE_PERM:
        Fail(Kind::ReadOnly, head + "ファイルかフォルダに書き込めません (" + detail + ")");
      case SQLITE_NOTADB:
      case SQLITE_CORRUPT:
        Fail(Kind::NotADatabase,
             head + "このプログラムで開けるデータベースではありません (" + detail + ")");
      case SQLITE_CONSTRAINT:
        Fail(Kind::Rejected, head + "テーブルの制約に反します (" + detail + ")");
      default:
        Fail(Kind::Other, head + detail);
    }
  }

  void Exec(const char* sql, const std::string& what) {
    int rc = sqlite3_exec(handle_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Raise(rc, what);
  }

  // The first column of the first row of a query, "" when there is none.
  std::string QueryText(const char* sql, const std::string& what) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(handle_, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Raise(rc, what);
    rc = sqlite3_step(stmt);
    std::string result;
    if (rc == SQLITE_ROW && sqlite3_column_text(stmt, 0)) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Raise(rc, what);
    return result;
  }

  // A prepared statement of the given shape, made from the SQL text that
  // `sql` gives the first time only.
  sqlite3_stmt* Statement(const std::string& key, const std::function<std::string()>& sql,
                          const std::string& what) {
    auto it = statements_.find(key);
    if (it != statements_.end()) return it->second;
    if (statements_.size() >= kMaxCachedStatements) DropStatements();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(handle_, sql().c_str(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) Raise(rc, what);
    statements_[key] = stmt;
    return stmt;
  }

  // The layout of a table, or nullptr when the database has no such table.
  std::shared_ptr<const TableLayout> Table(const std::string& name) {
    auto it = tables_.find(name);
    if (it != tables_.end()) return it->second;
    sqlite3_stmt* find = Statement(
        "schema",
        [] { return "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE"; },
        "テーブルの検索");
    auto layout = std::make_shared<TableLayout>();
    {
      Use use(find);
      sqlite3_bind_text(find, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
      int rc = sqlite3_step(find);
      if (rc == SQLITE_DONE) return nullptr;
      if (rc != SQLITE_ROW) Raise(rc, "テーブル「" + name + "」の検索");
      layout->name = reinterpret_cast<const char*>(sqlite3_column_text(find, 0));
    }
    sqlite3_stmt* info = Statement(
        "columns", [] { return "SELECT name, type FROM pragma_table_info(?1)"; }, "テーブルの検索");
    Use use(info);
    sqlite3_bind_text(info, 1, layout->name.data(), static_cast<int>(layout->name.size()),
                      SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(info)) == SQLITE_ROW) {
      auto text = [&](int column) {
        const unsigned char* t = sqlite3_column_text(info, column);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
      };
      layout->positions.emplace(AsciiUpperText(text(0)), layout->fields.size());
      layout->fields.push_back(FieldFromDeclared(text(0), text(1)));
    }
    if (rc != SQLITE_DONE) Raise(rc, "テーブル「" + name + "」のフィールドの読み込み");
    tables_[name] = layout;
    return layout;
  }

  void ForgetTables() { tables_.clear(); }

  void Bind(sqlite3_stmt* stmt, int index, const Bound& value) {
    switch (value.type) {
      case Bound::Type::Null: sqlite3_bind_null(stmt, index); break;
      case Bound::Type::Integer: sqlite3_bind_int64(stmt, index, value.integer); break;
      case Bound::Type::Real: sqlite3_bind_double(stmt, index, value.real); break;
      case Bound::Type::Text:
        sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_TRANSIENT);
        break;
    }
  }

  // Resets a statement for its next use when the scope ends.
  class Use {
   public:
    explicit Use(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~Use() {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    sqlite3_stmt* stmt_;
  };

 private:
  void DropStatements() {
    for (auto& [key, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
  }

  sqlite3* handle_ = nullptr;
  std::string path_;
  std::map<std::string, sqlite3_stmt*> statements_;
  std::map<std::string, std::shared_ptr<const TableLayout>> tables_;
};

// ---- Statement dialect ----------------------------------------------------

struct Assignment {
  std::string field;
  Literal value;
};

struct ParsedStatement {
  bool insert = false;
  std::string table;
  std::vector<Assignment> values;  // field names empty for an insert
  Assignment where;                // update only
};

// Parses the dialect of the statement builders:
//   INSERT INTO t VALUES( v,v,...);
//   UPDATE t SET f = v,f = v WHERE f = 'text';
// Keywords and Null are matched without regard to case; a field name ends at
// " = "; a value is Null, an unquoted number (up to the next separator, spaces
// around it allowed) or a quoted text in which '' stands for one quote.
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
      st.table = std::string(Trim(s_.substr(pos_, end - pos_)));
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
      st.table = std::string(Trim(s_.substr(pos_, end - pos_)));
      pos_ = end + 5;
      while (true) {
        SkipSpaces();
        if (AtKeyword("WHERE")) Reject("SET の後に代入がありません");
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
    std::string near(s_.substr(std::min(pos_, s_.size()), 40));
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
    return pos_ + word.size() <= s_.size() && AsciiIEquals(s_.substr(pos_, word.size()), word);
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
      if (AsciiIEquals(s_.substr(i, word.size()), word)) return i;
    }
    return std::string_view::npos;
  }
  size_t Find(std::string_view word) {
    size_t at = FindFrom(word, pos_);
    if (at == std::string_view::npos) Reject(std::string(Trim(word)) + " がありません");
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
    std::string_view raw = Trim(s_.substr(pos_, end - pos_));
    if (raw.empty()) Reject("値がありません");
    Literal v;
    if (AsciiIEquals(raw, "Null")) {
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

// Parses a criteria text "field = 'value'".
Assignment ParseCriteria(const std::string& criteria, const std::string& dbPath) {
  auto reject = [&]() -> Assignment {
    Fail(Kind::Rejected, "データベース「" + dbPath + "」の検索条件「" + criteria +
                             "」を解釈できません: 「フィールド名 = '値'」の形ではありません");
  };
  std::string_view s(criteria);
  size_t eq = s.find(" = ");
  if (eq == std::string_view::npos) return reject();
  std::string_view name = Trim(s.substr(0, eq));
  std::string_view rest = Trim(s.substr(eq + 3));
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

bool HeaderIsSqlite(const fs::path& native) {
  static constexpr char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                      'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  std::ifstream in(native, std::ios::binary);
  char head[16];
  return in.read(head, sizeof head) && std::memcmp(head, kMagic, sizeof head) == 0;
}

std::shared_ptr<Connection> Connect(const std::string& path, const fs::path& native) {
  auto conn = std::make_shared<Connection>(path);
  int rc = sqlite3_open_v2(native.c_str(), &conn->handle(), SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) conn->Raise(rc, "オープン");
  sqlite3_extended_result_codes(conn->handle(), 1);
  sqlite3_busy_timeout(conn->handle(), kBusyTimeoutMs);
  return conn;
}

}  // namespace

struct Database::Impl {
  std::shared_ptr<Connection> conn;

  Connection& Open() {
    if (!conn) Fail(Kind::Other, "データベースは閉じられています");
    return *conn;
  }
};

struct Recordset::Impl {
  std::weak_ptr<Connection> conn;
  std::shared_ptr<const TableLayout> table;
};

// ---- TableDef -------------------------------------------------------------

Field TableDef::CreateField(const std::string& name, int16_t type, int16_t size) const {
  return Field{name, type, type == dbText ? size : int16_t{0}};
}

void TableDef::FieldList::Append(const Field& field) {
  for (const Field& f : items_) {
    if (AsciiIEquals(f.Name, field.Name)) {
      Fail(Kind::Rejected, "フィールド「" + field.Name + "」は既にテーブル定義にあります");
    }
  }
  items_.push_back(field);
}

const Field& TableDef::FieldList::Item(int16_t position) const {
  if (position < 0 || position >= Count()) {
    Fail(Kind::Other, "テーブル定義にフィールド位置 " + std::to_string(position) + " はありません");
  }
  return items_[static_cast<size_t>(position)];
}

// ---- Recordset ------------------------------------------------------------

Recordset::~Recordset() = default;

const Field& Recordset::FieldList::Item(int16_t position) const {
  if (position < 0 || position >= Count()) {
    Fail(Kind::Other, "レコードセットにフィールド位置 " + std::to_string(position) +
                          " はありません (フィールド数 " + std::to_string(Count()) + ")");
  }
  return items_[static_cast<size_t>(position)];
}

void Recordset::FindFirst(const std::string& criteria) {
  noMatch_ = true;
  std::shared_ptr<Connection> conn = impl_ ? impl_->conn.lock() : nullptr;
  if (!conn) Fail(Kind::Other, "レコードセットかデータベースは閉じられています");
  Assignment a = ParseCriteria(criteria, conn->path());
  const std::string& t = impl_->table->name;
  const Field* field = FindField(*impl_->table, a.field);
  if (!field) {
    Fail(Kind::Rejected, "データベース「" + conn->path() + "」のテーブル「" + t +
                             "」にフィールド「" + a.field + "」がありません");
  }
  Bound value = ConvertValue(*field, a.value, conn->path(), true);
  sqlite3_stmt* stmt = conn->Statement(
      "F\x1f" + t + "\x1f" + field->Name,
      [&] {
        return "SELECT 1 FROM " + QuoteId(t) + " WHERE " + QuoteId(field->Name) +
               " = ?1 COLLATE NOCASE LIMIT 1";
      },
      "検索");
  Connection::Use use(stmt);
  conn->Bind(stmt, 1, value);
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) conn->Raise(rc, "検索");
  noMatch_ = rc != SQLITE_ROW;
}

void Recordset::Close() { impl_.reset(); }

// ---- Database -------------------------------------------------------------

Database::Database() : impl_(std::make_unique<Impl>()) { tableDefs_.db_ = this; }

Database::~Database() { Close(); }

void Database::Close() { impl_->conn.reset(); }

void Database::TableDefList::Append(const TableDef& table) {
  Connection& conn = db_->impl_->Open();
  ValidateName(table.Name, "テーブル");
  if (table.Fields().Count() == 0) {
    Fail(Kind::Rejected, "テーブル「" + table.Name + "」にフィールドがありません");
  }
  if (conn.Table(table.Name)) {
    Fail(Kind::Rejected, "データベース「" + conn.path() + "」にテーブル「" + table.Name +
                             "」は既にあります");
  }
  std::string sql = "CREATE TABLE " + QuoteId(table.Name) + " (";
  bool hasSource = false;
  for (int16_t i = 0; i < table.Fields().Count(); ++i) {
    const Field& f = table.Fields().Item(i);
    ValidateName(f.Name, "フィールド");
    std::string type = DeclaredType(f);
    if (type.empty()) {
      Fail(Kind::Rejected, FieldText(f) + "の型 " + std::to_string(f.Type) + " は使えません");
    }
    if (f.Type == dbText && f.Size < 1) {
      Fail(Kind::Rejected, FieldText(f) + "の大きさ " + std::to_string(f.Size) +
                               " は正しくありません (1 以上)");
    }
    sql += (i ? ", " : "") + QuoteId(f.Name) + " " + type;
    hasSource = hasSource || f.Name == kSourceField;
  }
  sql += ")";
  conn.ForgetTables();
  conn.Exec("BEGIN IMMEDIATE", "テーブルの作成");
  try {
    conn.Exec(sql.c_str(), "テーブル「" + table.Name + "」の作成");
    // The storage's own index for the lookups of holes by their source path;
    // it compares as the lookups do and is not visible through this layer.
    if (hasSource) {
      std::string index = "CREATE INDEX " + QuoteId(table.Name + "_" + kSourceField + "_索引") +
                          " ON " + QuoteId(table.Name) + " (" + QuoteId(kSourceField) +
                          " COLLATE NOCASE)";
      conn.Exec(index.c_str(), "テーブル「" + table.Name + "」の索引の作成");
    }
    conn.Exec("COMMIT", "テーブルの作成");
  } catch (...) {
    sqlite3_exec(conn.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::unique_ptr<Recordset> Database::OpenRecordset(const std::string& table, int16_t type) {
  Connection& conn = impl_->Open();
  if (type != dbOpenSnapshot) {
    Fail(Kind::Other, "レコードセットの種類 " + std::to_string(type) + " には対応していません");
  }
  std::shared_ptr<const TableLayout> layout = conn.Table(table);
  if (!layout) {
    Fail(Kind::NoTable, "データベース「" + conn.path() + "」にテーブル「" + table + "」がありません");
  }
  std::unique_ptr<Recordset> rs(new Recordset());
  rs->impl_ = std::make_unique<Recordset::Impl>();
  rs->impl_->conn = impl_->conn;
  rs->impl_->table = layout;
  rs->fields_.items_ = layout->fields;
  return rs;
}

void Database::Execute(const std::string& sql) {
  Connection& conn = impl_->Open();
  ParsedStatement st = Parser(sql, conn.path()).Statement();
  std::shared_ptr<const TableLayout> table = conn.Table(st.table);
  if (!table) {
    Fail(Kind::Rejected, "データベース「" + conn.path() + "」にテーブル「" + st.table + "」がありません");
  }
  auto field = [&](const std::string& name) -> const Field& {
    const Field* f = FindField(*table, name);
    if (!f) {
      Fail(Kind::Rejected, "データベース「" + conn.path() + "」のテーブル「" + table->name +
                               "」にフィールド「" + name + "」がありません");
    }
    return *f;
  };
  // The fields the values go to, in statement order, and the values converted.
  std::vector<const Field*> targets;
  std::vector<Bound> bound;
  std::string key;
  const Field* where = nullptr;
  if (st.insert) {
    if (st.values.size() != table->fields.size()) {
      Fail(Kind::Rejected, "データベース「" + conn.path() + "」への INSERT の値の数 " +
                               std::to_string(st.values.size()) + " がテーブル「" + table->name +
                               "」のフィールド数 " + std::to_string(table->fields.size()) +
                               " と合いません");
    }
    key = "I\x1f" + table->name;
    for (const Field& f : table->fields) targets.push_back(&f);
  } else {
    key = "U\x1f" + table->name;
    std::vector<bool> assigned(table->fields.size());
    for (const Assignment& a : st.values) {
      const Field& f = field(a.field);
      size_t position = static_cast<size_t>(&f - table->fields.data());
      if (assigned[position]) {
        Fail(Kind::Rejected, "データベース「" + conn.path() + "」への UPDATE で" + FieldText(f) +
                                 "に二度代入しています");
      }
      assigned[position] = true;
      targets.push_back(&f);
      key += "\x1f" + f.Name;
    }
    where = &field(st.where.field);
    key += "\x1fW\x1f" + where->Name;
  }
  for (size_t i = 0; i < targets.size(); ++i) {
    bound.push_back(ConvertValue(*targets[i], st.values[i].value, conn.path(), false));
  }
  if (where) bound.push_back(ConvertValue(*where, st.where.value, conn.path(), true));
  auto text = [&] {
    std::string sql;
    if (where) {
      sql = "UPDATE " + QuoteId(table->name) + " SET ";
      for (size_t i = 0; i < targets.size(); ++i) {
        sql += (i ? "," : "") + QuoteId(targets[i]->Name) + " = ?" + std::to_string(i + 1);
      }
      sql += " WHERE " + QuoteId(where->Name) + " = ?" + std::to_string(bound.size()) +
             " COLLATE NOCASE";
    } else {
      std::string columns, params;
      for (size_t i = 0; i < targets.size(); ++i) {
        columns += (i ? "," : "") + QuoteId(targets[i]->Name);
        params += (i ? ",?" : "?") + std::to_string(i + 1);
      }
      sql = "INSERT INTO " + QuoteId(table->name) + " (" + columns + ") VALUES (" + params + ")";
    }
    return sql;
  };
  // One statement in autocommit mode: applied completely or not at all.
  sqlite3_stmt* stmt = conn.Statement(key, text, "文の実行");
  Connection::Use use(stmt);
  for (size_t i = 0; i < bound.size(); ++i) conn.Bind(stmt, static_cast<int>(i + 1), bound[i]);
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) conn.Raise(rc, "文の実行");
}

// ---- Workspace, engine, state ---------------------------------------------

std::unique_ptr<Database> Workspace::OpenDatabase(const std::string& path) {
  fs::path native = platform_.ToNative(path);
  std::error_code ec;
  fs::file_status status = fs::status(native, ec);
  if (!fs::exists(status)) Fail(Kind::Other, "データベース「" + path + "」が見つかりません");
  // Only a file that starts as an SQLite database is handed to SQLite, so
  // nothing is ever written to any other file.
  if (!fs::is_regular_file(status) || !HeaderIsSqlite(native)) {
    Fail(Kind::NotADatabase, "「" + path + "」はこのプログラムで開けるデータベースではありません");
  }
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  std::shared_ptr<Connection> conn = Connect(path, native);
  if (sqlite3_db_readonly(conn->handle(), "main") == 1) {
    Fail(Kind::ReadOnly, "データベース「" + path + "」は読み取り専用で、書き込めません");
  }
  conn->Exec("PRAGMA synchronous=NORMAL", "オープン");
  // Reading the schema tells a damaged file; taking the write lock once tells
  // a database that another program holds or that cannot be written.
  conn->QueryText("SELECT count(*) FROM sqlite_schema", "オープン");
  conn->Exec("BEGIN IMMEDIATE", "オープン");
  conn->Exec("ROLLBACK", "オープン");
  db->impl_->conn = std::move(conn);
  return db;
}

std::unique_ptr<Database> Workspace::CreateDatabase(const std::string& path,
                                                    const std::string& locale) {
  // The locale names the old engine's sort order; the layer's comparison rule
  // (case-insensitive for A to Z) is fixed, so it is not recorded.
  (void)locale;
  fs::path native = platform_.ToNative(path);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(native, ec))) {
    Fail(Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
  }
  // Made exclusively, so a file that appeared meanwhile is never taken over.
  std::FILE* file = std::fopen(native.c_str(), "wx");
  if (!file) {
    int err = errno;
    std::string head = "データベース「" + path + "」を作成できません: ";
    if (err == EEXIST) Fail(Kind::Other, head + "既に存在します");
    if (err == EACCES || err == EROFS || err == EPERM) {
      Fail(Kind::ReadOnly, head + "フォルダに書き込めません");
    }
    if (err == ENOENT) Fail(Kind::Other, head + "フォルダがありません");
    Fail(Kind::Other, head + std::strerror(err));
  }
  std::fclose(file);
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  try {
    std::shared_ptr<Connection> conn = Connect(path, native);
    // WAL with synchronous=NORMAL: each statement is atomic and survives a
    // crash of the program once it returned, without a flush to disk per
    // statement.
    if (conn->QueryText("PRAGMA journal_mode=WAL", "作成") != "wal") {
      Fail(Kind::Other, "データベース「" + path + "」の作成に失敗しました: WAL モードにできません");
    }
    conn->Exec("PRAGMA synchronous=NORMAL", "作成");
    db->impl_->conn = std::move(conn);
  } catch (...) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      fs::remove(native.string() + suffix, ec);
    }
    throw;
  }
  return db;
}

Workspace& DBEngine::Workspaces(int16_t index) {
  if (index != 0) Fail(Kind::Other, "ワークスペース " + std::to_string(index) + " はありません");
  return workspace_;
}

DBEngine& DbState::Engine() {
  if (!engine_) engine_ = std::make_unique<DBEngine>(platform_);
  return *engine_;
}

SlotCloser::~SlotCloser() {
  if (state_.BoringDb) {
    state_.BoringDb->Close();
    state_.BoringDb.reset();
  }
}

}  // namespace s2q
