#include "targetdb/sqlite/sqlitebackend.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string_view>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/text.h"
#include "targetdb/names.h"

namespace s2q {

namespace fs = std::filesystem;
using Kind = DbError::Kind;

namespace {

// Prepared statements kept per database; far more than the shapes one run uses.
constexpr size_t kMaxCachedStatements = 100;

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

// An identifier for SQLite's own SQL text: double-quoted, inner quotes doubled.
std::string QuoteId(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// A text column as UTF-8. A file made by another program may hold any bytes
// in a text; each byte that does not start a well-formed UTF-8 character
// reads as U+FFFD, so that no invalid text goes further into the program.
std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* t = sqlite3_column_text(stmt, column);
  if (!t) return {};
  return ReplaceInvalidUtf8(std::string_view(reinterpret_cast<const char*>(t),
                                             static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
}

// Whether a text is a date as the engine keeps it: "YYYY-MM-DD", with
// " HH:MM:SS" when it has a time of day.
bool IsStoredDate(std::string_view t) {
  static constexpr std::string_view kForm = "0000-00-00 00:00:00";
  if (t.size() != 10 && t.size() != kForm.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    const bool digit = t[i] >= '0' && t[i] <= '9';
    if (kForm[i] == '0' ? !digit : t[i] != kForm[i]) return false;
  }
  return true;
}

// The field of a column from its declared type. Our own tables use TEXT(n),
// DATETIME, SMALLINT and REAL. For tables made by other tools, SQLite's own
// affinity rules decide: text types keep their size (none: no limit), date
// types are dates, SMALLINT/INT2/TINYINT 16-bit and other integer types 32-bit
// integers, REAL single and FLOAT/DOUBLE/NUMERIC/DECIMAL double floats, and a
// column without a type (or BLOB) takes any value as a text without limit.
Field FieldFromDeclared(const std::string& name, const std::string& declared) {
  std::string upper;
  for (char c : declared) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  std::string base = upper.substr(0, upper.find('('));
  std::string_view type = TrimBlanks(base);
  Field field{name, dbText, 0};
  auto has = [&](const char* part) { return type.find(part) != std::string_view::npos; };
  if (has("INT")) {
    bool small = type == "SMALLINT" || type == "INT2" || type == "TINYINT";
    field.Type = small ? dbInteger : dbLong;
  } else if (has("CHAR") || has("CLOB") || has("TEXT")) {
    size_t open = upper.find('(');
    if (open != std::string::npos) {
      int size = 0;
      std::string_view arg = TrimBlanks(std::string_view(upper).substr(open + 1));
      auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), size);
      if (ec == std::errc() && size > 0 && size <= INT16_MAX &&
          TrimBlanks(std::string_view(end, arg.data() + arg.size() - end)).starts_with(")")) {
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

// One open SQLite connection with its prepared statements and the layouts of
// the tables looked at so far.
class Connection {
 public:
  Connection(std::string path, fs::path native) : path_(std::move(path)), native_(std::move(native)) {}
  ~Connection() {
    DropStatements();
    sqlite3_close(handle_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3*& handle() { return handle_; }
  const std::string& path() const { return path_; }
  const fs::path& native() const { return native_; }

  // Raises the failure of an SQLite call as a DbError in Japanese that names
  // the database and says what to do where there is something to do.
  [[noreturn]] void Raise(int rc, const std::string& what) const {
    std::string head = "データベース「" + path_ + "」の" + what + "に失敗しました: ";
    switch (rc & 0xff) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        Fail(Kind::Locked, head + "他のプログラムが使用中です。そのプログラムを閉じてからやり直してください");
      case SQLITE_READONLY:
      case SQLITE_CANTOPEN:
      case SQLITE_PERM:
      case SQLITE_AUTH:
        Fail(Kind::ReadOnly, head + "ファイルかフォルダに書き込めません。書き込みの権限を確かめてください");
      case SQLITE_FULL:
        Fail(Kind::Other, head + "ディスクの空きが足りません。空きを作ってからやり直してください");
      case SQLITE_IOERR:
        if (rc == SQLITE_IOERR_NOMEM) Fail(Kind::Other, head + "メモリが足りません");
        Fail(Kind::Other, head + "ファイルの読み書きでエラーが起きました。ディスクや接続先を確かめてください");
      case SQLITE_NOMEM:
        Fail(Kind::Other, head + "メモリが足りません");
      case SQLITE_NOTADB:
      case SQLITE_CORRUPT:
        Fail(Kind::NotADatabase,
             head + "このプログラムで開けるデータベースではないか、ファイルが壊れています");
      case SQLITE_CONSTRAINT:
        Fail(Kind::Rejected, head + "テーブルの制約に反します");
      case SQLITE_TOOBIG:
        Fail(Kind::Rejected, head + "値が大きすぎます");
      default:
        Fail(Kind::Other, head + "データベース エンジンのエラーです (コード " + std::to_string(rc) + ")");
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
      layout->name = ColumnText(find, 0);
    }
    sqlite3_stmt* info = Statement(
        "columns", [] { return "SELECT name, type FROM pragma_table_info(?1)"; }, "テーブルの検索");
    Use use(info);
    sqlite3_bind_text(info, 1, layout->name.data(), static_cast<int>(layout->name.size()),
                      SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(info)) == SQLITE_ROW) {
      layout->fields.push_back(FieldFromDeclared(ColumnText(info, 0), ColumnText(info, 1)));
    }
    if (rc != SQLITE_DONE) Raise(rc, "テーブル「" + name + "」のフィールドの読み込み");
    tables_[name] = layout;
    return layout;
  }

  void ForgetTables() { tables_.clear(); }

  void Bind(sqlite3_stmt* stmt, int index, const Value& value) {
    switch (value.type) {
      case Value::Type::Null: sqlite3_bind_null(stmt, index); break;
      case Value::Type::Integer: sqlite3_bind_int64(stmt, index, value.integer); break;
      case Value::Type::Real: sqlite3_bind_double(stmt, index, value.real); break;
      case Value::Type::Text:
      case Value::Type::Date:
      case Value::Type::Decimal:
        sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                          SQLITE_TRANSIENT);
        break;
      case Value::Type::Binary:
        sqlite3_bind_blob(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
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
  fs::path native_;
  std::map<std::string, sqlite3_stmt*> statements_;
  std::map<std::string, std::shared_ptr<const TableLayout>> tables_;
};

std::shared_ptr<Connection> Connect(const std::string& path, const fs::path& native,
                                    int busyTimeoutMs) {
  auto conn = std::make_shared<Connection>(path, native);
  int rc = sqlite3_open_v2(native.c_str(), &conn->handle(), SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) conn->Raise(rc, "オープン");
  sqlite3_extended_result_codes(conn->handle(), 1);
  sqlite3_busy_timeout(conn->handle(), busyTimeoutMs);
  return conn;
}

// The value of a column of a row read back, by the field's type.
Value ColumnValue(sqlite3_stmt* stmt, int column, const Field& field) {
  int type = sqlite3_column_type(stmt, column);
  if (type == SQLITE_NULL) return Value::Null();
  if (type == SQLITE_BLOB) {
    // Bytes another program stored stay bytes, whatever the field's type.
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    return Value::Binary(std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
  }
  switch (field.Type) {
    case dbInteger:
    case dbLong:
      if (type == SQLITE_INTEGER) return Value::Int(sqlite3_column_int64(stmt, column));
      break;
    case dbSingle:
    case dbDouble:
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        return Value::Real(sqlite3_column_double(stmt, column));
      }
      break;
    case dbDate: {
      // A date this engine wrote; anything else another program put there
      // reads back as the text it is.
      std::string t = ColumnText(stmt, column);
      if (IsStoredDate(t)) return Value::Date(std::move(t));
      return Value::Text(std::move(t));
    }
    default: break;
  }
  return Value::Text(ColumnText(stmt, column));
}

class SqliteStorage : public Storage {
 public:
  SqliteStorage(std::shared_ptr<Connection> conn, bool created)
      : conn_(std::move(conn)), created_(created) {}
  ~SqliteStorage() override { conn_.reset(); }

  const std::string& Path() const override { return conn_->path(); }

  std::shared_ptr<const TableLayout> Table(const std::string& name) override {
    return Open().Table(name);
  }

  // Every table of the file takes rows; the engine holds it to no more.
  std::string WhyUnwritable(const TableLayout&) override { return ""; }

  void CreateTable(const std::string& name, const std::vector<Field>& fields) override {
    Connection& conn = Open();
    std::string sql = "CREATE TABLE " + QuoteId(name) + " (";
    bool hasSource = false;
    for (size_t i = 0; i < fields.size(); ++i) {
      sql += (i ? ", " : "") + QuoteId(fields[i].Name) + " " + DeclaredType(fields[i]);
      hasSource = hasSource || fields[i].Name == kSourceField;
    }
    sql += ")";
    conn.ForgetTables();
    conn.Exec("BEGIN IMMEDIATE", "テーブルの作成");
    try {
      conn.Exec(sql.c_str(), "テーブル「" + name + "」の作成");
      // The storage's own index for the lookups of holes by their source
      // path; it compares as the lookups do and is not visible above.
      if (hasSource) {
        std::string index = "CREATE INDEX " + QuoteId(name + "_" + kSourceField + "_索引") +
                            " ON " + QuoteId(name) + " (" + QuoteId(kSourceField) +
                            " COLLATE NOCASE)";
        conn.Exec(index.c_str(), "テーブル「" + name + "」の索引の作成");
      }
      conn.Exec("COMMIT", "テーブルの作成");
    } catch (...) {
      sqlite3_exec(conn.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  bool HasRow(const TableLayout& table, size_t field, const std::string& text) override {
    Connection& conn = Open();
    const std::string& column = table.fields[field].Name;
    sqlite3_stmt* stmt = conn.Statement(
        "F\x1f" + table.name + "\x1f" + column,
        [&] {
          return "SELECT 1 FROM " + QuoteId(table.name) + " WHERE " + QuoteId(column) +
                 " = ?1 COLLATE NOCASE LIMIT 1";
        },
        "検索");
    Connection::Use use(stmt);
    conn.Bind(stmt, 1, Value::Text(text));
    int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) conn.Raise(rc, "検索");
    return rc == SQLITE_ROW;
  }

  void Insert(const TableLayout& table, const std::vector<Value>& row) override {
    Connection& conn = Open();
    sqlite3_stmt* stmt = conn.Statement(
        "I\x1f" + table.name,
        [&] {
          std::string columns, params;
          for (size_t i = 0; i < table.fields.size(); ++i) {
            columns += (i ? "," : "") + QuoteId(table.fields[i].Name);
            params += (i ? ",?" : "?") + std::to_string(i + 1);
          }
          return "INSERT INTO " + QuoteId(table.name) + " (" + columns + ") VALUES (" + params + ")";
        },
        "文の実行");
    Step(conn, stmt, row);
  }

  int64_t Update(const TableLayout& table, const std::vector<std::pair<size_t, Value>>& assignments,
                 size_t where, const std::string& text) override {
    Connection& conn = Open();
    std::string key = "U\x1f" + table.name;
    std::vector<Value> values;
    for (const auto& [position, value] : assignments) {
      key += "\x1f" + table.fields[position].Name;
      values.push_back(value);
    }
    key += "\x1fW\x1f" + table.fields[where].Name;
    values.push_back(Value::Text(text));
    sqlite3_stmt* stmt = conn.Statement(
        key,
        [&] {
          std::string sql = "UPDATE " + QuoteId(table.name) + " SET ";
          for (size_t i = 0; i < assignments.size(); ++i) {
            sql += (i ? "," : "") + QuoteId(table.fields[assignments[i].first].Name) + " = ?" +
                   std::to_string(i + 1);
          }
          return sql + " WHERE " + QuoteId(table.fields[where].Name) + " = ?" +
                 std::to_string(values.size()) + " COLLATE NOCASE";
        },
        "文の実行");
    Step(conn, stmt, values);
    return sqlite3_changes(conn.handle());
  }

  std::vector<std::vector<Value>> Rows(const TableLayout& table) override {
    Connection& conn = Open();
    sqlite3_stmt* stmt = conn.Statement(
        "R\x1f" + table.name,
        [&] {
          std::string columns;
          for (size_t i = 0; i < table.fields.size(); ++i) {
            columns += (i ? "," : "") + QuoteId(table.fields[i].Name);
          }
          return "SELECT " + columns + " FROM " + QuoteId(table.name) + " ORDER BY rowid";
        },
        "読み込み");
    Connection::Use use(stmt);
    std::vector<std::vector<Value>> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<Value> row;
      for (size_t i = 0; i < table.fields.size(); ++i) {
        row.push_back(ColumnValue(stmt, static_cast<int>(i), table.fields[i]));
      }
      rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) conn.Raise(rc, "読み込み");
    return rows;
  }

  void Close() override {
    if (!conn_) return;
    fs::path native(conn_->native());
    conn_.reset();
    // Closing the last connection moves everything into the file itself; a
    // database just made must not depend on a -wal file beside it.
    std::error_code ec;
    if (created_ && fs::exists(fs::path(native.string() + "-wal"), ec)) {
      Fail(Kind::Other, "データベースを閉じきれません: 作成中のファイルの書き込みが終わっていません");
    }
  }

 private:
  Connection& Open() {
    if (!conn_) Fail(Kind::Other, "データベースは閉じられています");
    return *conn_;
  }

  // One statement in autocommit mode: applied completely or not at all.
  static void Step(Connection& conn, sqlite3_stmt* stmt, const std::vector<Value>& values) {
    Connection::Use use(stmt);
    for (size_t i = 0; i < values.size(); ++i) conn.Bind(stmt, static_cast<int>(i + 1), values[i]);
    int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) conn.Raise(rc, "文の実行");
  }

  std::shared_ptr<Connection> conn_;
  bool created_;
};

class Sqlite final : public StorageBackend {
 public:
  StorageFormat Format() const override { return StorageFormat::Sqlite; }
  const char* Name() const override { return "sqlite"; }

  bool Recognises(std::string_view head) const override { return IsSqliteHead(head); }

  std::unique_ptr<Storage> Open(const std::string& path, const fs::path& native,
                                const StorageOptions& options) const override {
    std::shared_ptr<Connection> conn = Connect(path, native, options.busyTimeoutMs);
    if (sqlite3_db_readonly(conn->handle(), "main") == 1) {
      Fail(Kind::ReadOnly, "データベース「" + path + "」は読み取り専用で、書き込めません");
    }
    conn->Exec("PRAGMA synchronous=NORMAL", "オープン");
    // Reading the schema tells a damaged file; taking the write lock once
    // tells a database that another program holds or that cannot be written.
    conn->QueryText("SELECT count(*) FROM sqlite_schema", "オープン");
    // SQLite reads and even writes a damaged file without noticing, and a
    // write can leave rows that were readable before unreadable: a file that
    // fails the integrity check is refused before anything is changed.
    std::string check = conn->QueryText("PRAGMA integrity_check(1)", "オープン");
    if (check != "ok") {
      // SQLite's finding, on one line without its heading.
      static constexpr std::string_view kHeading = "*** in database main ***\n";
      if (check.starts_with(kHeading)) check.erase(0, kHeading.size());
      std::replace(check.begin(), check.end(), '\n', ' ');
      Fail(Kind::NotADatabase, "「" + path + "」はデータベースとして読めません: 壊れています（" +
                                   ReplaceInvalidUtf8(check) + "）");
    }
    conn->Exec("BEGIN IMMEDIATE", "オープン");
    conn->Exec("ROLLBACK", "オープン");
    return std::make_unique<SqliteStorage>(std::move(conn), false);
  }

  std::unique_ptr<Storage> Create(const std::string& path, const fs::path& native,
                                  const std::string& /*locale*/,
                                  const StorageOptions& options) const override {
    // The comparison rule of the lookups (A to Z without case) is fixed, so
    // the locale is not recorded.
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
      Fail(Kind::Other, head + SystemErrorText(err));
    }
    std::fclose(file);
    try {
      std::shared_ptr<Connection> conn = Connect(path, native, options.busyTimeoutMs);
      // WAL with synchronous=NORMAL: each statement is atomic and survives a
      // crash of the program once it returned, without a flush to disk per
      // statement.
      if (conn->QueryText("PRAGMA journal_mode=WAL", "作成") != "wal") {
        Fail(Kind::Other, "データベース「" + path + "」の作成に失敗しました: WAL モードにできません");
      }
      conn->Exec("PRAGMA synchronous=NORMAL", "作成");
      return std::make_unique<SqliteStorage>(std::move(conn), true);
    } catch (...) {
      std::error_code ec;
      for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(native.string() + suffix, ec);
      throw;
    }
  }

  std::vector<std::string> CompanionSuffixes() const override {
    return {"-wal", "-shm", "-journal"};
  }
};

}  // namespace

const StorageBackend& SqliteBackend() {
  static const Sqlite backend;
  return backend;
}

}  // namespace s2q
