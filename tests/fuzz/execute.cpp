// Execute on arbitrary statement text, on a small table of each storage
// backend; a lookup with the same text as criteria. The first byte picks the
// backend, the rest holds up to eight statements, one a line, applied in
// turn to a fresh copy of the table.
// Properties: only DbError escapes; a refused statement changes nothing; an
// INSERT adds exactly the row of its converted values; an UPDATE sets the
// assigned fields of exactly the rows whose text matches (A to Z without
// regard to case) and leaves everything else; what is stored is still there
// after the database is closed and opened again.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "env/errors.h"
#include "targetdb/dao.h"
#include "targetdb/dialect.h"
#include "targetdb/enginevalues.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace s2q;
namespace fs = std::filesystem;
using Rows = std::vector<std::vector<Value>>;

const std::vector<Field> kFields = {{"K", dbText, 8},     {"I", dbInteger, 0},
                                    {"S", dbSingle, 0},   {"A", dbDate, 0},
                                    {"調査名", dbText, 255}};
constexpr size_t kMaxStatements = 8;

struct Setup {
  Platform platform{fuzz::ScratchFacts()};
  DBEngine engine{platform};
  // The database of each backend as made, copied afresh for every input.
  std::string templates[2];
};

const char* const kPaths[2] = {"C:\\x\\t.mdb", "C:\\x\\t.db"};

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Setup& TheSetup() {
  static Setup* setup = [] {
    auto* s = new Setup;
    fs::create_directories(fuzz::ScratchRoot() / "C" / "x");
    const StorageFormat formats[2] = {StorageFormat::Jet4, StorageFormat::Sqlite};
    for (int b = 0; b < 2; ++b) {
      auto db = s->engine.Workspaces(0).CreateDatabase(kPaths[b], ";LANGID=0x0411;CP=1252;COUNTRY=0",
                                                       formats[b]);
      TableDef def = db->CreateTableDef("T");
      for (const Field& f : kFields) def.Fields().Append(def.CreateField(f.Name, f.Type, f.Size));
      db->TableDefs().Append(def);
      db->Execute("INSERT INTO T VALUES( 'a',1,1.5,'2000/1/2','x');");
      db->Execute("INSERT INTO T VALUES( 'B',Null,Null,Null,Null);");
      db->Close();
      s->templates[b] = FileBytes(s->platform.ToNative(kPaths[b]));
    }
    return s;
  }();
  return *setup;
}

Rows ReadRows(Database& db) {
  auto rs = db.OpenRecordset("T");
  Rows rows = rs->GetRows();
  rs->Close();
  return rows;
}

bool IsUpperAscii(char c) { return c >= 'a' && c <= 'z'; }
bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = IsUpperAscii(a[i]) ? static_cast<char>(a[i] - 32) : a[i];
    char y = IsUpperAscii(b[i]) ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// Equal, reals to single precision (a single field may keep only that).
bool SameValue(const Value& a, const Value& b) {
  if (a.type == Value::Type::Real && b.type == Value::Type::Real)
    return std::fabs(a.real - b.real) <= 1e-6 * std::fabs(b.real) + 1e-38;
  return a == b;
}

// A row as text for sorting, reals as the single float a field may keep.
std::string SortKey(const std::vector<Value>& row) {
  std::string key;
  for (const Value& v : row) {
    char number[64];
    if (v.type == Value::Type::Real) {
      std::snprintf(number, sizeof number, "%a", static_cast<double>(static_cast<float>(v.real)));
    } else {
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(v.integer));
    }
    key += std::to_string(static_cast<int>(v.type)) + number + v.text + '\x1F';
  }
  return key;
}

Rows Sorted(Rows rows) {
  std::sort(rows.begin(), rows.end(),
            [](const auto& x, const auto& y) { return SortKey(x) < SortKey(y); });
  return rows;
}

// The same rows in any order: an update may move a row that grew to
// another page, and rows are read in storage order.
bool SameRows(const Rows& unsortedA, const Rows& unsortedB) {
  const Rows a = Sorted(unsortedA), b = Sorted(unsortedB);
  if (a.size() != b.size()) return false;
  for (size_t r = 0; r < a.size(); ++r) {
    if (a[r].size() != b[r].size()) return false;
    for (size_t i = 0; i < a[r].size(); ++i)
      if (!SameValue(a[r][i], b[r][i])) return false;
  }
  return true;
}

size_t Position(const std::string& name) {
  for (size_t i = 0; i < kFields.size(); ++i)
    if (SameText(kFields[i].Name, name)) return i;
  S2Q_REQUIRE(false);
  return 0;
}

// The rows an applied statement must leave.
Rows Expected(const ParsedStatement& st, Rows rows, const std::string& dbPath) {
  if (st.insert) {
    std::vector<Value> row;
    for (size_t i = 0; i < kFields.size(); ++i)
      row.push_back(ConvertValue(kFields[i], st.values[i].value, dbPath, false));
    rows.push_back(row);
    return rows;
  }
  const size_t where = Position(st.where.field);
  for (auto& row : rows) {
    if (row[where].type != Value::Type::Text || !SameText(row[where].text, st.where.value.text))
      continue;
    for (const Assignment& a : st.values) {
      const size_t p = Position(a.field);
      row[p] = ConvertValue(kFields[p], a.value, dbPath, false);
    }
  }
  return rows;
}

// Applies one statement and checks what it did.
void RunStatement(Database& db, const std::string& sql) {
  const Rows before = ReadRows(db);
  try {
    db.Execute(sql);
  } catch (const DbError& e) {
    S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected);
    S2Q_REQUIRE(SameRows(ReadRows(db), before));
    return;
  }
  const ParsedStatement st = ParseStatement(sql, db.Path());
  S2Q_REQUIRE(SameText(st.table, "T"));
  S2Q_REQUIRE(SameRows(ReadRows(db), Expected(st, before, db.Path())));

  // A lookup by the statement's own text as criteria finds nothing or raises
  // a refusal, never anything else.
  auto rs = db.OpenRecordset("T");
  try {
    rs->FindFirst(sql);
  } catch (const DbError& e) {
    S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected);
  }
  rs->Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Setup& setup = TheSetup();
  const int backend = data[0] % 2;
  const std::string path = kPaths[backend];
  fuzz::WriteBytes(setup.platform.ToNative(path), setup.templates[backend]);
  Workspace& ws = setup.engine.Workspaces(0);
  std::unique_ptr<Database> db = ws.OpenDatabase(path);

  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t start = 0;
  for (size_t n = 0; n < kMaxStatements && start <= text.size(); ++n) {
    size_t end = std::min(text.find('\n', start), text.size());
    RunStatement(*db, text.substr(start, end - start));
    start = end + 1;
  }

  const Rows rows = ReadRows(*db);
  db->Close();
  db = ws.OpenDatabase(path);
  S2Q_REQUIRE(SameRows(ReadRows(*db), rows));
  db->Close();
  return 0;
}
