// Execute on arbitrary statement text, on a small table of each storage
// backend; a lookup with the same text as criteria. The first byte picks the
// backend, the rest is the statement.
// Properties: only DbError escapes; a refused statement changes nothing; an
// INSERT adds exactly the row of its converted values; an UPDATE sets the
// assigned fields of exactly the rows whose text matches (A to Z without
// regard to case) and leaves everything else; what is stored is still there
// after the database is closed and opened again.
#include <cmath>
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
// Rows kept before the database is checked after a reopen and made anew.
constexpr size_t kMaxRows = 40;

struct Slot {
  std::string path;
  StorageFormat format;
  std::unique_ptr<Database> db;
};

struct Setup {
  Platform platform{fuzz::ScratchFacts()};
  DBEngine engine{platform};
  Slot slots[2] = {{"C:\\x\\t.mdb", StorageFormat::Jet4, nullptr},
                   {"C:\\x\\t.db", StorageFormat::Sqlite, nullptr}};
};

Setup& TheSetup() {
  static Setup* setup = new Setup;
  return *setup;
}

void Fresh(Setup& s, Slot& slot) {
  if (slot.db) slot.db->Close();
  slot.db.reset();
  fs::create_directories(fuzz::ScratchRoot() / "C" / "x");
  fs::remove(s.platform.ToNative(slot.path));
  slot.db = s.engine.Workspaces(0).CreateDatabase(slot.path, ";LANGID=0x0411;CP=1252;COUNTRY=0",
                                                  slot.format);
  TableDef def = slot.db->CreateTableDef("T");
  for (const Field& f : kFields) def.Fields().Append(def.CreateField(f.Name, f.Type, f.Size));
  slot.db->TableDefs().Append(def);
  slot.db->Execute("INSERT INTO T VALUES( 'a',1,1.5,'2000/1/2','x');");
  slot.db->Execute("INSERT INTO T VALUES( 'B',Null,Null,Null,Null);");
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

bool SameRows(const Rows& a, const Rows& b) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Setup& setup = TheSetup();
  Slot& slot = setup.slots[data[0] % 2];
  if (!slot.db) Fresh(setup, slot);
  Database& db = *slot.db;
  const std::string sql(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Rows before = ReadRows(db);
  try {
    db.Execute(sql);
  } catch (const DbError& e) {
    S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected);
    S2Q_REQUIRE(SameRows(ReadRows(db), before));
    return 0;
  }
  const ParsedStatement st = ParseStatement(sql, db.Path());
  S2Q_REQUIRE(SameText(st.table, "T"));
  const Rows after = ReadRows(db);
  S2Q_REQUIRE(SameRows(after, Expected(st, before, db.Path())));

  // A lookup by the statement's own text as criteria finds nothing or raises
  // a refusal, never anything else.
  auto rs = db.OpenRecordset("T");
  try {
    rs->FindFirst(sql);
  } catch (const DbError& e) {
    S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected);
  }
  rs->Close();

  if (after.size() > kMaxRows) {
    db.Close();
    slot.db = setup.engine.Workspaces(0).OpenDatabase(slot.path);
    S2Q_REQUIRE(SameRows(ReadRows(*slot.db), after));
    Fresh(setup, slot);
  }
  return 0;
}
