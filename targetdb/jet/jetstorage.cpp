// The Storage interface on a Jet 4 database held in memory. Open reads the
// whole file; statements change the pages in memory, each one completely or
// not at all; Close writes the whole image to a temporary file beside the
// database, flushes it, renames it over the database and flushes the folder,
// so that the file on disk is always either the old or the new database.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <unordered_map>

#include "env/errors.h"
#include "env/native.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "targetdb/jet/jetverify.h"

namespace s2q {

namespace fs = std::filesystem;
using Kind = DbError::Kind;

namespace {

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The lock file Jet keeps beside an open database: the same name with the
// extension .ldb, found whatever the case of its extension.
std::optional<fs::path> LockFileOf(const fs::path& db) {
  const fs::path dir = db.has_parent_path() ? db.parent_path() : fs::path(".");
  const std::string stem = NativeText(db.stem());
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path name = it->path().filename();
    if (NativeText(name.stem()) == stem && Lower(NativeText(name.extension())) == ".ldb") return it->path();
  }
  return std::nullopt;
}

// Jet's lock file beside the database. Where the system tells that no
// program holds it any more (Windows lets such a file be deleted, never one
// that Jet holds), it is a file left by a program that ended, and goes;
// otherwise the database is refused as in use.
void RefuseIfJetHolds(const std::string& path, const fs::path& native) {
  const std::optional<fs::path> lock = LockFileOf(native);
  if (!lock) return;
  const std::string name = NativeText(lock->filename());
  switch (RemoveUnheldLockFile(*lock)) {
    case LeftLockFile::Removed:
      return;
    case LeftLockFile::Held:
      Fail(Kind::Locked, "データベース「" + path + "」は他のプログラムが使用中です（ロックファイル「" + name +
                             "」を使用中です）。Ｑｕａｒｎｉｘを閉じてから、もう一度実行してください");
    case LeftLockFile::Unknown:
      break;
  }
  Fail(Kind::Locked, "データベース「" + path + "」は他のプログラムが使用中です（ロックファイル「" + name +
                         "」があります）。Ｑｕａｒｎｉｘを閉じてから、もう一度実行してください。"
                         "Ｑｕａｒｎｉｘが動いていないときは、終了したプログラムが残したファイルです: "
                         "どのプログラムもデータベースを使っていないことを確かめてから削除してください");
}

// The current local time as days since 1899-12-30.
double NowDays() {
  const std::tm local = LocalTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return jet::DateToDays(text).value_or(0);
}

// Puts `image` at `target` through a temporary file in the same folder: the
// target is either untouched or completely replaced.
void ReplaceFile(const fs::path& target, const jet::Bytes& image) {
  static std::atomic<unsigned> counter{0};
  const fs::path tmp = WithSuffix(target, "." + std::to_string(CurrentProcessId()) + "-" +
                                              std::to_string(counter.fetch_add(1)) + ".tmp");
  WriteNewFile(tmp, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()), target);
  try {
    MoveReplacing(tmp, target);
  } catch (const SystemFailure&) {
    RemoveFile(tmp);
    throw;
  }
}

// Why a file cannot be read as a Jet 4 database, as the user is told.
[[noreturn]] void FailUnreadable(const std::string& path, const jet::FormatError& e) {
  switch (e.kind) {
    case jet::FormatError::Kind::Jet3:
      Fail(Kind::NotADatabase, "「" + path + "」は Jet 3（Access 97）形式のデータベースのため開けません。"
                               "Jet 4（Access 2000 以降）形式のデータベースが必要です");
    case jet::FormatError::Kind::Encrypted:
      Fail(Kind::NotADatabase, "「" + path + "」は暗号化またはパスワードで保護されたデータベースのため開けません");
    case jet::FormatError::Kind::NotJet:
      Fail(Kind::NotADatabase, "「" + path + "」はこのプログラムで開けるデータベースではありません");
    case jet::FormatError::Kind::Damaged:
      break;
  }
  Fail(Kind::NotADatabase, "「" + path + "」はデータベースとして読めません: 壊れています（" + e.detail + "）");
}

// The field type of a column: the numbers of the two agree except for
// NUMERIC, which the engine layer knows as a decimal field.
int16_t FieldType(uint8_t jetType) {
  return jetType == jet::kNumeric ? int16_t{dbDecimal} : static_cast<int16_t>(jetType);
}

class JetStorage : public Storage {
 public:
  JetStorage(std::string path, fs::path native, std::unique_ptr<jet::Database> db)
      : path_(std::move(path)), native_(std::move(native)), db_(std::move(db)) {}

  const std::string& Path() const override { return path_; }

  std::shared_ptr<const TableLayout> Table(const std::string& name) override {
    Ready();
    jet::Table* t = Find(name);
    if (!t) return nullptr;
    auto& slot = layouts_[AsciiUpperText(t->name)];
    if (!slot) {
      auto layout = std::make_shared<TableLayout>();
      layout->name = t->name;
      for (const auto& c : t->columns) {
        Field f;
        f.Name = c.name;
        f.Type = FieldType(c.type);
        f.Size = static_cast<int16_t>(c.type == jet::kText ? c.length / 2 : 0);
        layout->fields.push_back(f);
      }
      slot = std::move(layout);
    }
    return slot;
  }

  void CreateTable(const std::string& name, const std::vector<Field>& fields) override {
    Ready();
    std::vector<jet::ColumnDef> cols;
    for (const auto& f : fields) {
      jet::ColumnDef c;
      c.name = f.Name;
      switch (f.Type) {
        case dbText:
          if (f.Size < 0 || f.Size > 255) {
            Fail(Kind::Rejected, Head(name) + "のフィールド「" + f.Name + "」の長さ " + std::to_string(f.Size) +
                                     " は 1 から 255 文字でなければなりません");
          }
          c.type = jet::kText;
          c.length = static_cast<uint16_t>((f.Size == 0 ? 255 : f.Size) * 2);
          break;
        case dbInteger: c.type = jet::kInt; break;
        case dbLong: c.type = jet::kLong; break;
        case dbSingle: c.type = jet::kFloat; break;
        case dbDouble: c.type = jet::kDouble; break;
        case dbDate: c.type = jet::kDateTime; break;
        default:
          Fail(Kind::Rejected, Head(name) + "のフィールド「" + f.Name + "」の型 " + std::to_string(f.Type) +
                                   " はこのデータベースに作成できません");
      }
      cols.push_back(c);
    }
    Statement("テーブル「" + name + "」の作成", [&] { db_->CreateTable(name, cols, NowDays()); });
  }

  std::string WhyUnwritable(const TableLayout& table) override {
    Ready();
    jet::Table* t = Find(table.name);
    if (!t) Fail(Kind::NoTable, "データベース「" + path_ + "」にテーブル「" + table.name + "」がありません");
    if (t->system) return Head(t->name) + "はシステムテーブルのため書き込めません";
    if (!t->unwritable.empty()) return Head(t->name) + "には" + t->unwritable + "、行を書き込めません";
    return "";
  }

  bool HasRow(const TableLayout& table, size_t field, const std::string& text) override {
    Ready();
    const auto& rows = LookupOf(table, field).rows;
    auto it = rows.find(AsciiUpperText(text));
    return it != rows.end() && !it->second.empty();
  }

  void Insert(const TableLayout& table, const std::vector<Value>& row) override {
    Ready();
    jet::Table& t = Writable(table);
    std::vector<jet::Cell> cells = Cells(t, table, row);
    Statement("テーブル「" + t.name + "」への追加", [&] {
      jet::Bytes bytes = EncodeFor(t, cells);
      const jet::RowId id = db_->InsertRow(t, bytes);
      for (auto& [key, lookup] : lookups_) {
        if (key.first != AsciiUpperText(t.name)) continue;
        if (auto k = KeyOf(cells[key.second])) lookup.rows[*k].push_back(id);
      }
    });
  }

  int64_t Update(const TableLayout& table, const std::vector<std::pair<size_t, Value>>& assignments,
                 size_t where, const std::string& text) override {
    Ready();
    jet::Table& t = Writable(table);
    std::vector<std::pair<size_t, jet::Cell>> sets;
    for (const auto& [pos, value] : assignments) {
      if (pos >= t.columns.size()) Fail(Kind::Rejected, Head(t.name) + "にないフィールドへの代入です");
      sets.emplace_back(pos, Cell(t, pos, value));
    }
    const std::string key = AsciiUpperText(text);
    std::vector<jet::RowId> targets;
    {
      auto& rows = LookupOf(table, where).rows;
      if (auto it = rows.find(key); it != rows.end()) targets = it->second;
    }
    if (targets.empty()) return 0;
    Statement("テーブル「" + t.name + "」の更新", [&] {
      const std::string tableKey = AsciiUpperText(t.name);
      for (const jet::RowId& id : targets) {
        auto old = db_->ReadRow(t, id);
        if (!old) continue;
        std::vector<jet::Cell> cells = *old;
        for (const auto& [pos, cell] : sets) cells[pos] = cell;
        const jet::RowId moved = db_->ReplaceRow(t, id, EncodeFor(t, cells));
        for (auto& [lk, lookup] : lookups_) {
          if (lk.first != tableKey) continue;
          if (auto k = KeyOf((*old)[lk.second])) std::erase(lookup.rows[*k], id);
          if (auto k = KeyOf(cells[lk.second])) lookup.rows[*k].push_back(moved);
        }
      }
    });
    return static_cast<int64_t>(targets.size());
  }

  std::vector<std::vector<Value>> Rows(const TableLayout& table) override {
    Ready();
    jet::Table* t = Find(table.name);
    if (!t) Fail(Kind::NoTable, "データベース「" + path_ + "」にテーブル「" + table.name + "」がありません");
    std::vector<std::vector<Value>> out;
    try {
      db_->ScanRows(*t, [&](jet::RowId, std::vector<jet::Cell>&& cells) {
        std::vector<Value> row;
        row.reserve(cells.size());
        for (size_t i = 0; i < cells.size(); ++i) row.push_back(ToValue(*t, t->columns[i], cells[i]));
        out.push_back(std::move(row));
      });
    } catch (const jet::FormatError& e) {
      Fail(Kind::Other, Head(t->name) + "を読めません: データベースが壊れています（" + e.detail + "）");
    }
    return out;
  }

  void Close() override {
    if (!db_) return;
    if (dirty_) {
      try {
        ReplaceFile(native_, db_->Image());
      } catch (const SystemFailure& e) {
        Fail(Kind::Other, "データベース「" + path_ + "」を書き込めません: " + e.what());
      }
    }
    db_.reset();
    lookups_.clear();
    layouts_.clear();
  }

  void MarkDirty() { dirty_ = true; }

 private:
  struct Lookup {
    std::unordered_map<std::string, std::vector<jet::RowId>> rows;
  };

  void Ready() const {
    if (!db_) Fail(Kind::Other, "データベース「" + path_ + "」は閉じられています");
  }

  std::string Head(const std::string& table) const {
    return "データベース「" + path_ + "」のテーブル「" + table + "」";
  }

  jet::Table* Find(const std::string& name) {
    try {
      return db_->FindTable(name);
    } catch (const jet::FormatError& e) {
      Fail(Kind::Other, Head(name) + "を読めません: データベースが壊れています（" + e.detail + "）");
    }
  }

  jet::Table& Writable(const TableLayout& table) {
    if (std::string why = WhyUnwritable(table); !why.empty()) Fail(Kind::Rejected, why);
    return *Find(table.name);
  }

  jet::Cell Cell(const jet::Table& t, size_t pos, const Value& v) {
    const jet::ColumnDef& c = t.columns[pos];
    if (c.type == jet::kMoney && v.type != Value::Type::Null) return MoneyCell(t, c, v);
    switch (v.type) {
      case Value::Type::Null:
        return {};
      case Value::Type::Text:
        if (c.type == jet::kText) return jet::Cell{jet::Utf16(v.text)};
        if (c.type == jet::kDateTime) {
          if (auto d = jet::DateToDays(v.text)) return jet::Cell{*d};
          BadValue(t, c, "日付「" + v.text + "」を読めません");
        }
        BadValue(t, c, "文字列は数値のフィールドに入りません");
      case Value::Type::Date:
        if (c.type == jet::kDateTime) {
          if (auto d = jet::DateToDays(v.text)) return jet::Cell{*d};
          BadValue(t, c, "日付「" + v.text + "」を読めません");
        }
        if (c.type == jet::kText) return jet::Cell{jet::Utf16(v.text)};
        BadValue(t, c, "日付は日付型でないフィールドに入りません");
      case Value::Type::Integer:
        if (c.type == jet::kText) BadValue(t, c, "数値は文字列のフィールドに入りません");
        return jet::Cell{v.integer};
      case Value::Type::Real:
        if (c.type == jet::kText) BadValue(t, c, "数値は文字列のフィールドに入りません");
        return jet::Cell{v.real};
      case Value::Type::Decimal:
        BadValue(t, c, "小数「" + v.text + "」は通貨型でないフィールドに入りません");
      case Value::Type::Binary:
        BadValue(t, c, "バイナリの値はこのフィールドに入りません");
    }
    return {};
  }

  // A value for a Currency field: exactly its count of 1/10000.
  jet::Cell MoneyCell(const jet::Table& t, const jet::ColumnDef& c, const Value& v) {
    constexpr double kLimit = 9223372036854775807.0;  // units beyond 64 bits
    switch (v.type) {
      case Value::Type::Integer:
        if (v.integer >= -922337203685477 && v.integer <= 922337203685477) return jet::Cell{v.integer * 10000};
        break;
      case Value::Type::Real:
        if (std::isfinite(v.real) && std::fabs(v.real * 10000) < kLimit) {
          return jet::Cell{static_cast<int64_t>(std::llround(v.real * 10000))};
        }
        break;
      case Value::Type::Text:
      case Value::Type::Decimal:
        if (auto units = jet::MoneyUnits(v.text)) return jet::Cell{*units};
        BadValue(t, c, "「" + v.text + "」は小数点以下 4 桁までの通貨の値ではありません");
      default:
        BadValue(t, c, "通貨型のフィールドには数値しか入りません");
    }
    BadValue(t, c, "通貨型の範囲を超える値です");
  }

  [[noreturn]] void BadValue(const jet::Table& t, const jet::ColumnDef& c, const std::string& why) {
    Fail(Kind::Rejected, Head(t.name) + "のフィールド「" + c.name + "」に値を書き込めません: " + why);
  }

  std::vector<jet::Cell> Cells(const jet::Table& t, const TableLayout& table, const std::vector<Value>& row) {
    if (row.size() != t.columns.size() || table.fields.size() != t.columns.size()) {
      Fail(Kind::Rejected, Head(t.name) + "への追加の値の数 " + std::to_string(row.size()) + " がフィールドの数 " +
                               std::to_string(t.columns.size()) + " と合いません");
    }
    std::vector<jet::Cell> cells;
    cells.reserve(row.size());
    for (size_t i = 0; i < row.size(); ++i) cells.push_back(Cell(t, i, row[i]));
    return cells;
  }

  jet::Bytes EncodeFor(const jet::Table& t, const std::vector<jet::Cell>& cells) {
    try {
      return db_->EncodeRow(t, cells);
    } catch (const std::runtime_error& e) {
      Fail(Kind::Rejected, Head(t.name) + "に行を書き込めません: " + e.what());
    }
  }

  // The lookup key of a text value: upper case from A to Z; other values
  // are never found by text.
  static std::optional<std::string> KeyOf(const jet::Cell& c) {
    if (const auto* s = std::get_if<std::u16string>(&c.v)) return AsciiUpperText(jet::Utf8(*s));
    return std::nullopt;
  }

  Lookup& LookupOf(const TableLayout& table, size_t field) {
    jet::Table* t = Find(table.name);
    if (!t) Fail(Kind::NoTable, "データベース「" + path_ + "」にテーブル「" + table.name + "」がありません");
    if (field >= t->columns.size()) Fail(Kind::Rejected, Head(t->name) + "にないフィールドでの検索です");
    const auto key = std::make_pair(AsciiUpperText(t->name), field);
    auto it = lookups_.find(key);
    if (it != lookups_.end()) return it->second;
    Lookup lookup;
    try {
      db_->ScanRows(*t, [&](jet::RowId id, std::vector<jet::Cell>&& cells) {
        if (auto k = KeyOf(cells[field])) lookup.rows[*k].push_back(id);
      });
    } catch (const jet::FormatError& e) {
      Fail(Kind::Other, Head(t->name) + "を読めません: データベースが壊れています（" + e.detail + "）");
    }
    return lookups_.emplace(key, std::move(lookup)).first->second;
  }

  // Runs one change: on any failure every page, count and lookup is as
  // before it and the failure is reported as a DbError.
  template <typename F>
  void Statement(const std::string& what, F&& body) {
    db_->Begin();
    try {
      body();
      db_->Commit();
    } catch (...) {
      db_->Rollback();
      lookups_.clear();
      layouts_.clear();
      try {
        throw;
      } catch (const DbError&) {
        throw;
      } catch (const jet::FormatError& e) {
        Fail(Kind::Other, "データベース「" + path_ + "」の" + what + "に失敗しました: データベースが壊れています（" +
                              e.detail + "）");
      } catch (const std::runtime_error& e) {
        Fail(Kind::Rejected, "データベース「" + path_ + "」の" + what + "に失敗しました: " + e.what());
      } catch (const std::bad_alloc&) {
        Fail(Kind::Other, "データベース「" + path_ + "」の" + what + "に失敗しました: メモリが足りません");
      }
    }
    dirty_ = true;
  }

  // A stored value as the engine layer carries it; a value it cannot carry
  // is refused with the field named, never read as Null.
  Value ToValue(const jet::Table& t, const jet::ColumnDef& c, const jet::Cell& cell) const {
    if (cell.IsNull()) return Value::Null();
    const auto* s = std::get_if<std::u16string>(&cell.v);
    const auto* b = std::get_if<jet::Bytes>(&cell.v);
    const auto* i = std::get_if<int64_t>(&cell.v);
    const auto* d = std::get_if<double>(&cell.v);
    auto unreadable = [&](const std::string& why) -> Value {
      Fail(Kind::Other, Head(t.name) + "のフィールド「" + c.name + "」の値を読めません: " + why);
    };
    switch (c.type) {
      case jet::kBool:
        if (const auto* yes = std::get_if<bool>(&cell.v)) return Value::Int(*yes ? -1 : 0);
        break;
      case jet::kByte: case jet::kInt: case jet::kLong:
        if (i) return Value::Int(*i);
        break;
      case jet::kMoney:
        if (i) return Value::Decimal(jet::MoneyText(*i));
        break;
      case jet::kFloat: case jet::kDouble:
        if (d) return Value::Real(*d);
        break;
      case jet::kDateTime:
        if (d) {
          std::string text = jet::DaysToDate(*d);
          if (text.empty()) {
            char number[32];
            std::snprintf(number, sizeof number, "%.17g", *d);
            return unreadable("日付として表せない値 " + std::string(number) + " です");
          }
          return Value::Date(std::move(text));
        }
        break;
      case jet::kText: case jet::kMemo:
        if (s) return Value::Text(jet::Utf8(*s));
        break;
      case jet::kBinary: case jet::kOle:
        if (b) return Value::Binary(std::string(b->begin(), b->end()));
        break;
      case jet::kGuid:
        if (b) {
          if (auto text = jet::GuidText(b->data(), b->size())) return Value::Text(std::move(*text));
          return unreadable("GUID の長さ " + std::to_string(b->size()) + " バイトが 16 バイトではありません");
        }
        break;
      case jet::kNumeric:
        if (b) {
          if (auto text = jet::NumericText(b->data(), b->size(), c.scale)) return Value::Decimal(std::move(*text));
          return unreadable("長さ " + std::to_string(b->size()) + " バイト、小数点以下 " + std::to_string(c.scale) +
                            " 桁の数値は読めません");
        }
        break;
      default:
        return unreadable("型 " + std::to_string(c.type) + " の値はこのプログラムでは扱えません");
    }
    return unreadable("値の形が型と合いません");
  }

  std::string path_;
  fs::path native_;
  std::unique_ptr<jet::Database> db_;
  bool dirty_ = false;
  std::map<std::string, std::shared_ptr<const TableLayout>> layouts_;
  std::map<std::pair<std::string, size_t>, Lookup> lookups_;
};

class JetBackendImpl : public StorageBackend {
 public:
  StorageFormat Format() const override { return StorageFormat::Jet4; }
  const char* Name() const override { return "jet"; }

  bool Recognises(std::string_view head) const override {
    static const char kStart[] = "\x00\x01\x00\x00Standard Jet DB";
    return head.size() > 0x14 && head.substr(0, sizeof kStart) == std::string_view(kStart, sizeof kStart) &&
           (head[0x14] == 0 || head[0x14] == 1);
  }

  std::unique_ptr<Storage> Open(const std::string& path, const fs::path& native,
                                const StorageOptions&) const override {
    std::error_code ec;
    if (!fs::is_regular_file(native, ec)) Fail(Kind::Other, "データベース「" + path + "」が見つかりません");
    RefuseIfJetHolds(path, native);
    jet::Bytes image;
    try {
      const std::string bytes = ReadWholeFile(native);
      image.assign(bytes.begin(), bytes.end());
    } catch (const SystemFailure& e) {
      Fail(Kind::Other, "データベース「" + path + "」を開けません: " + e.what());
    }
    std::unique_ptr<jet::Database> db;
    try {
      db = jet::Database::FromImage(image);
    } catch (const jet::FormatError& e) {
      FailUnreadable(path, e);
    } catch (const std::bad_alloc&) {
      Fail(Kind::Other, "データベース「" + path + "」を開けません: メモリが足りません");
    }
    const fs::path dir = native.has_parent_path() ? native.parent_path() : fs::path(".");
    if (!CanWriteFile(native) || !CanWriteFolder(dir)) {
      Fail(Kind::ReadOnly, "データベース「" + path + "」は読み取り専用で、書き込めません");
    }
    return std::make_unique<JetStorage>(path, native, std::move(db));
  }

  // The locale the caller asks for is not the one written: see the sort order
  // in Database::CreateEmpty.
  std::unique_ptr<Storage> Create(const std::string& path, const fs::path& native, const std::string& /*locale*/,
                                  const StorageOptions&) const override {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(native, ec))) {
      Fail(Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
    }
    auto db = jet::Database::CreateEmpty();
    try {
      ReplaceFile(native, db->Image());
    } catch (const SystemFailure& e) {
      Fail(Kind::Other, "データベース「" + path + "」を作成できません: " + e.what());
    }
    return std::make_unique<JetStorage>(path, native, std::move(db));
  }

  std::vector<std::string> CompanionSuffixes() const override { return {}; }
};

}  // namespace

const StorageBackend& JetBackend() {
  static const JetBackendImpl backend;
  return backend;
}

std::vector<std::string> VerifyJetFile(const std::string& path, std::string_view bytes) {
  try {
    return jet::VerifyImage(jet::Bytes(bytes.begin(), bytes.end()));
  } catch (const jet::FormatError& e) {
    FailUnreadable(path, e);
  } catch (const std::bad_alloc&) {
    Fail(Kind::Other, "データベース「" + path + "」を読めません: メモリが足りません");
  }
}

}  // namespace s2q
