#include "tests/fuzz/dbfile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "env/errors.h"
#include "targetdb/dao.h"
#include "tests/fuzz/fuzzsupport.h"

namespace s2q::fuzz {

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<Value>>;

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Rows equal value by value, a NaN (which a damaged file may hold in a float
// field) equal to a NaN.
bool SameRows(const Rows& a, const Rows& b) {
  auto same = [](const Value& x, const Value& y) {
    if (x.type == Value::Type::Real && y.type == Value::Type::Real && std::isnan(x.real)) {
      return std::isnan(y.real);
    }
    return x == y;
  };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!std::equal(a[i].begin(), a[i].end(), b[i].begin(), b[i].end(), same)) return false;
  }
  return true;
}

struct Setup {
  Platform platform{ScratchFacts()};
  DBEngine engine{platform};
};

// The rows of the table and its field count, or nothing when the database
// has no such table or cannot read it.
bool ReadTable(Database& db, const std::string& table, Rows& rows, int16_t& fields) {
  std::unique_ptr<Recordset> rs;
  try {
    rs = db.OpenRecordset(table);
    fields = rs->Fields().Count();
    rows = rs->GetRows();
    rs->FindFirst("K = 'a'");
  } catch (const DbError& e) {
    return false;
  }
  for (const auto& row : rows) S2Q_REQUIRE(row.size() == static_cast<size_t>(fields));
  rs->Close();
  return true;
}

}  // namespace

fs::path DatabaseFileOf(const char* fileName) { return ScratchRoot() / "C" / "f" / fileName; }

void RunDatabaseFile(const uint8_t* data, size_t size, const char* fileName) {
  static Setup* setup = new Setup;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string path = std::string("C:\\f\\") + fileName;
  const fs::path native = DatabaseFileOf(fileName);
  fs::remove_all(native.parent_path());
  WriteBytes(native, bytes);
  Workspace& ws = setup->engine.Workspaces(0);

  std::unique_ptr<Database> db;
  try {
    db = ws.OpenDatabase(path);
  } catch (const DbError&) {
    S2Q_REQUIRE(FileBytes(native) == bytes);
    return;
  }

  Rows before;
  int16_t fields = 0;
  bool readable = false;
  for (const char* table : {"ボーリング", "T"}) {
    if (ReadTable(*db, table, before, fields)) {
      readable = true;
      // A row of Nulls, with a text key for the lookup.
      std::string sql = std::string("INSERT INTO ") + table + " VALUES( ";
      for (int16_t i = 0; i < fields; ++i) sql += i ? ",Null" : "'k'";
      sql += ");";
      bool inserted = false;
      try {
        db->Execute(sql);
        inserted = true;
      } catch (const DbError&) {
      }
      Rows after;
      int16_t fieldsAfter = 0;
      S2Q_REQUIRE(ReadTable(*db, table, after, fieldsAfter) && fieldsAfter == fields);
      S2Q_REQUIRE(after.size() == before.size() + (inserted ? 1 : 0));
      if (!inserted) S2Q_REQUIRE(SameRows(after, before));
      try {
        db->Close();
      } catch (const DbError&) {
        return;
      }
      if (!inserted) S2Q_REQUIRE(FileBytes(native) == bytes);
      if (inserted) {
        std::unique_ptr<Database> again;
        try {
          again = ws.OpenDatabase(path);
        } catch (const DbError& e) {
          std::fprintf(stderr, "reopen: %s\n", e.what());
          S2Q_REQUIRE(false);
        }
        Rows reread;
        int16_t fieldsAgain = 0;
        S2Q_REQUIRE(ReadTable(*again, table, reread, fieldsAgain) && SameRows(reread, after));
        again->Close();
      }
      return;
    }
  }
  S2Q_REQUIRE(!readable);
  try {
    db->Close();
  } catch (const DbError&) {
    return;
  }
  S2Q_REQUIRE(FileBytes(native) == bytes);
}

}  // namespace s2q::fuzz
