#include "targetdb/dao.h"

#include <filesystem>
#include <unordered_map>

#include "env/errors.h"
#include "env/native.h"
#include "env/platform.h"
#include "env/text.h"
#include "targetdb/dialect.h"
#include "targetdb/enginevalues.h"

namespace s2q {

namespace fs = std::filesystem;
using Kind = DbError::Kind;

namespace {

[[noreturn]] void Fail(Kind kind, const std::string& message) { throw DbError(kind, message); }

// How many first bytes of a file the backends are shown to recognise it.
constexpr size_t kHeaderBytes = 4096;

// The first bytes of a file, read without following it into anything but a
// regular file; empty when it cannot be read.
std::string ReadHeader(const fs::path& native) { return ReadFileHead(native, kHeaderBytes); }

// The layout of a table with its fields found by name as the engine compares
// names (A to Z without regard to case).
struct BoundTable {
  std::shared_ptr<const TableLayout> layout;
  std::unordered_map<std::string, size_t> positions;

  explicit BoundTable(std::shared_ptr<const TableLayout> l) : layout(std::move(l)) {
    for (size_t i = 0; i < layout->fields.size(); ++i) {
      positions.emplace(AsciiUpperText(layout->fields[i].Name), i);
    }
  }
  const Field* Find(const std::string& name, size_t* position = nullptr) const {
    auto it = positions.find(AsciiUpperText(name));
    if (it == positions.end()) return nullptr;
    if (position) *position = it->second;
    return &layout->fields[it->second];
  }
};

bool IsTextField(const Field& field) { return field.Type == dbText || field.Type == dbMemo; }

}  // namespace

struct Database::Impl {
  std::shared_ptr<Storage> storage;
  std::unordered_map<std::string, std::shared_ptr<const BoundTable>> tables;

  Storage& Open() {
    if (!storage) Fail(Kind::Other, "データベースは閉じられています");
    return *storage;
  }
  // A table by name, or nullptr when the database has none.
  std::shared_ptr<const BoundTable> Table(const std::string& name) {
    auto it = tables.find(name);
    if (it != tables.end()) return it->second;
    std::shared_ptr<const TableLayout> layout = Open().Table(name);
    if (!layout) return nullptr;
    auto bound = std::make_shared<const BoundTable>(std::move(layout));
    tables.emplace(name, bound);
    return bound;
  }
};

struct Recordset::Impl {
  std::weak_ptr<Storage> storage;
  std::shared_ptr<const BoundTable> table;

  Storage& Open() const {
    std::shared_ptr<Storage> s = storage.lock();
    if (!s) Fail(Kind::Other, "レコードセットかデータベースは閉じられています");
    return *s;
  }
};

// ---- TableDef -------------------------------------------------------------

Field TableDef::CreateField(const std::string& name, int16_t type, int16_t size) const {
  return Field{name, type, type == dbText ? size : int16_t{0}};
}

void TableDef::FieldList::Append(const Field& field) {
  for (const Field& f : items_) {
    if (EqualsIgnoringAsciiCase(f.Name, field.Name)) {
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
  if (!impl_) Fail(Kind::Other, "レコードセットかデータベースは閉じられています");
  Storage& storage = impl_->Open();
  Assignment a = ParseCriteria(criteria, storage.Path());
  const TableLayout& table = *impl_->table->layout;
  size_t position = 0;
  const Field* field = impl_->table->Find(a.field, &position);
  if (!field) {
    Fail(Kind::Rejected, "データベース「" + storage.Path() + "」のテーブル「" + table.name +
                             "」にフィールド「" + a.field + "」がありません");
  }
  if (!IsTextField(*field)) {
    Fail(Kind::Rejected, "データベース「" + storage.Path() + "」の" + FieldText(*field) +
                             "は文字列のフィールドではないため、文字列で検索できません");
  }
  Value value = ConvertValue(*field, a.value, storage.Path(), true);
  noMatch_ = !storage.HasRow(table, position, value.text);
}

std::vector<std::vector<Value>> Recordset::GetRows() {
  if (!impl_) Fail(Kind::Other, "レコードセットかデータベースは閉じられています");
  return impl_->Open().Rows(*impl_->table->layout);
}

void Recordset::Close() { impl_.reset(); }

// ---- Database -------------------------------------------------------------

Database::Database() : impl_(std::make_unique<Impl>()) { tableDefs_.db_ = this; }

Database::~Database() {
  try {
    Close();
  } catch (...) {
    // A failure to close is reported by an explicit Close; a destructor
    // cannot report it.
  }
}

void Database::Close() {
  impl_->tables.clear();
  std::shared_ptr<Storage> storage = std::move(impl_->storage);
  if (storage) storage->Close();
}

void Database::TableDefList::Append(const TableDef& table) {
  Storage& storage = db_->impl_->Open();
  ValidateName(table.Name, "テーブル");
  if (table.Fields().Count() == 0) {
    Fail(Kind::Rejected, "テーブル「" + table.Name + "」にフィールドがありません");
  }
  if (db_->impl_->Table(table.Name)) {
    Fail(Kind::Rejected, "データベース「" + storage.Path() + "」にテーブル「" + table.Name +
                             "」は既にあります");
  }
  std::vector<Field> fields;
  for (int16_t i = 0; i < table.Fields().Count(); ++i) {
    const Field& f = table.Fields().Item(i);
    ValidateName(f.Name, "フィールド");
    if (f.Type != dbText && f.Type != dbDate && f.Type != dbInteger && f.Type != dbLong &&
        f.Type != dbSingle && f.Type != dbDouble) {
      Fail(Kind::Rejected, FieldText(f) + "の型 " + std::to_string(f.Type) + " は使えません");
    }
    if (f.Type == dbText && f.Size < 1) {
      Fail(Kind::Rejected, FieldText(f) + "の大きさ " + std::to_string(f.Size) +
                               " は正しくありません (1 以上)");
    }
    fields.push_back(f);
  }
  db_->impl_->tables.clear();
  storage.CreateTable(table.Name, fields);
}

std::unique_ptr<Recordset> Database::OpenRecordset(const std::string& table, int16_t type) {
  Storage& storage = impl_->Open();
  if (type != dbOpenSnapshot) {
    Fail(Kind::Other, "レコードセットの種類 " + std::to_string(type) + " には対応していません");
  }
  std::shared_ptr<const BoundTable> bound = impl_->Table(table);
  if (!bound) {
    Fail(Kind::NoTable, "データベース「" + storage.Path() + "」にテーブル「" + table + "」がありません");
  }
  std::unique_ptr<Recordset> rs(new Recordset());
  rs->impl_ = std::make_unique<Recordset::Impl>();
  rs->impl_->storage = impl_->storage;
  rs->impl_->table = bound;
  rs->fields_.items_ = bound->layout->fields;
  return rs;
}

void Database::Execute(const std::string& sql) {
  Storage& storage = impl_->Open();
  const std::string& path = storage.Path();
  ParsedStatement st = ParseStatement(sql, path);
  std::shared_ptr<const BoundTable> bound = impl_->Table(st.table);
  if (!bound) {
    Fail(Kind::Rejected, "データベース「" + path + "」にテーブル「" + st.table + "」がありません");
  }
  const TableLayout& table = *bound->layout;
  auto field = [&](const std::string& name, size_t& position) -> const Field& {
    const Field* f = bound->Find(name, &position);
    if (!f) {
      Fail(Kind::Rejected, "データベース「" + path + "」のテーブル「" + table.name +
                               "」にフィールド「" + name + "」がありません");
    }
    return *f;
  };
  if (st.insert) {
    if (st.values.size() != table.fields.size()) {
      Fail(Kind::Rejected, "データベース「" + path + "」への INSERT の値の数 " +
                               std::to_string(st.values.size()) + " がテーブル「" + table.name +
                               "」のフィールド数 " + std::to_string(table.fields.size()) +
                               " と合いません");
    }
    std::vector<Value> row;
    row.reserve(table.fields.size());
    for (size_t i = 0; i < table.fields.size(); ++i) {
      row.push_back(ConvertValue(table.fields[i], st.values[i].value, path, false));
    }
    storage.Insert(table, row);
    return;
  }
  std::vector<std::pair<size_t, Value>> assignments;
  std::vector<bool> assigned(table.fields.size());
  for (const Assignment& a : st.values) {
    size_t position = 0;
    const Field& f = field(a.field, position);
    if (assigned[position]) {
      Fail(Kind::Rejected, "データベース「" + path + "」への UPDATE で" + FieldText(f) +
                               "に二度代入しています");
    }
    assigned[position] = true;
    assignments.emplace_back(position, ConvertValue(f, a.value, path, false));
  }
  size_t where = 0;
  const Field& whereField = field(st.where.field, where);
  if (!IsTextField(whereField)) {
    Fail(Kind::Rejected, "データベース「" + path + "」への UPDATE の WHERE の" +
                             FieldText(whereField) + "は文字列のフィールドではありません");
  }
  storage.Update(table, assignments, where, st.where.value.text);
}

std::string Database::WhyUnwritable(const std::string& table) {
  Storage& storage = impl_->Open();
  std::shared_ptr<const BoundTable> bound = impl_->Table(table);
  if (!bound) {
    Fail(Kind::NoTable, "データベース「" + storage.Path() + "」にテーブル「" + table + "」がありません");
  }
  return storage.WhyUnwritable(*bound->layout);
}

// ---- Workspace, engine ----------------------------------------------------

std::optional<StorageFormat> Workspace::FormatOf(const std::string& path) const {
  fs::path native = platform_.ToNative(path);
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(native, ec))) return std::nullopt;
  const StorageBackend* backend = BackendForHeader(ReadHeader(native));
  if (!backend) return std::nullopt;
  return backend->Format();
}

std::unique_ptr<Database> Workspace::OpenDatabase(const std::string& path) {
  fs::path native = platform_.ToNative(path);
  std::error_code ec;
  fs::file_status status = fs::status(native, ec);
  if (!fs::exists(status)) Fail(Kind::Other, "データベース「" + path + "」が見つかりません");
  RemoveStaleTemporaries(native);
  // Only a file whose first bytes a backend recognises is handed to it, so
  // nothing is ever written to any other file.
  const StorageBackend* backend =
      fs::is_regular_file(status) ? BackendForHeader(ReadHeader(native)) : nullptr;
  if (!backend) {
    Fail(Kind::NotADatabase, "「" + path + "」はこのプログラムで開けるデータベースではありません");
  }
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  db->impl_->storage = backend->Open(path, native, options_);
  return db;
}

std::unique_ptr<Database> Workspace::CreateDatabase(const std::string& path,
                                                    const std::string& locale,
                                                    StorageFormat format) {
  fs::path native = platform_.ToNative(path);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(native, ec))) {
    Fail(Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
  }
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  db->impl_->storage = Backend(format).Create(path, native, locale, options_);
  return db;
}

Workspace& DBEngine::Workspaces(int16_t index) {
  if (index != 0) Fail(Kind::Other, "ワークスペース " + std::to_string(index) + " はありません");
  return workspace_;
}

}  // namespace s2q
