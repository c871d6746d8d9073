// The value rules and the statement builders on arbitrary title items, with
// the shipped catalogue (every entry selected) and code lists, executed on a
// boring table of each storage backend. The first byte picks the backend;
// the rest is two title files separated by a NUL byte, read into rows 1 and 2
// as the conversion reads TITL01.TXT and TITL02.TXT.
// Properties: a statement that cannot be built raises an Error naming the
// entry; a statement the engine refuses changes nothing; a statement that is
// applied stores in every field the title item it was built from (the code
// list's text for the translated fields, the date, the number).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "convert/appstate.h"
#include "convert/statements.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "env/seqfile.h"
#include "env/text.h"
#include "targetdb/boringdb.h"
#include "targetdb/enginevalues.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace s2q;
namespace fs = std::filesystem;

const char kHole[] = "C:\\holes\\BH'1\\";

struct Setup {
  Platform platform{fuzz::ScratchFacts()};
  fuzz::CountingUi ui;
  // One application state per backend, each with its open database holding
  // the one row of kHole.
  std::unique_ptr<AppState> apps[2];
};

std::string ReadSource(const std::string& rel) {
  std::ifstream in(fs::path(S2Q_SOURCE_DIR) / rel, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  S2Q_REQUIRE(!bytes.empty());
  return bytes;
}

Setup& TheSetup() {
  static Setup* setup = [] {
    auto* s = new Setup;
    const fs::path root = fuzz::ScratchRoot() / "C";
    fuzz::WriteBytes(root / "prog" / kTitleDbFileName, ReadSource("data/TitleDb.TXT"));
    for (const char* list : {"L1.TXT", "L2.TXT", "L3.TXT"})
      fuzz::WriteBytes(root / "pat" / list, ReadSource(std::string("data/") + list));
    const StorageFormat formats[2] = {StorageFormat::Jet4, StorageFormat::Sqlite};
    for (int b = 0; b < 2; ++b) {
      auto app = std::make_unique<AppState>(s->platform, s->ui);
      app->titles.count = ReadTitleDb(app->titles, app->DestFolder, s->platform, s->ui);
      S2Q_REQUIRE(app->titles.count > 0);
      for (int i = 0; i < app->titles.count; ++i) app->titles.entries[i].SelectFlg = 1;
      app->PatdatFolder = "C:\\pat\\";
      app->CodeListFiles = BuildCodeListFiles();
      app->TitleFileNames = BuildTitleFileNames();
      app->db.createFormat = formats[b];
      std::string folder = "C:\\db" + std::to_string(b);
      fs::create_directories(root / ("db" + std::to_string(b)));
      CreateBoringDatabase(folder, kDatabaseFileName, app->titles, app->db);
      app->db.BoringDb =
          app->db.Engine().Workspaces(0).OpenDatabase(folder + kDatabaseFileName);
      for (auto& row : app->titleTable.cells) row.fill(" ");
      std::string sql;
      BuildInsertSql(sql, kHole, *app);
      app->db.BoringDb->Execute(sql);
      s->apps[b] = std::move(app);
    }
    return s;
  }();
  return *setup;
}

std::vector<Value> TheRow(Database& db) {
  auto rs = db.OpenRecordset(kBoringTable);
  std::vector<std::vector<Value>> rows = rs->GetRows();
  rs->Close();
  S2Q_REQUIRE(rows.size() == 1);
  return rows[0];
}

// The stored number equals the cell's number (a single field holds it to
// single precision); a blank cell stores 0.
void CheckNumber(const Value& stored, const std::string& cell) {
  const double want = IsBlank(cell) ? 0.0 : DecimalValue(TrimSpaces(cell));
  if (stored.type == Value::Type::Integer) {
    S2Q_REQUIRE(static_cast<double>(stored.integer) == want);
  } else {
    S2Q_REQUIRE(stored.type == Value::Type::Real);
    S2Q_REQUIRE(std::fabs(stored.real - want) <= 1e-6 * std::fabs(want) + 1e-38);
  }
}

void CheckStored(const AppState& app, const std::vector<Value>& row) {
  const TitleTable& t = app.titleTable;
  size_t column = 1;  // after LINKCODE
  for (int i = 0; i < app.titles.count; ++i) {
    const TitleEntry& e = app.titles.entries[i];
    const auto& cells = t.cells[e.FileNo - 1];
    const size_t k = static_cast<size_t>(e.ItemNo - 1);
    auto text = [](const std::string& c) { return IsBlank(c) ? std::string(" ") : c; };
    switch (e.FieldKind) {
      case kKindText: {
        std::string want = text(cells[k]);
        if (e.FieldName == "孔口標高" || e.FieldName == "孔内水位") {
          want = LookupCode(want, e.FieldName == "孔口標高" ? "L1.TXT" : "L3.TXT", "C:\\pat\\",
                            app.platform) +
                 " " + cells[k + 2];
        } else if (e.FieldName == "ハンマ落下用具") {
          want = LookupCode(want, "L2.TXT", "C:\\pat\\", app.platform);
        }
        S2Q_REQUIRE(row[column] == Value::Text(want));
        ++column;
        break;
      }
      case kKindDate: {
        std::string iso, reason;
        S2Q_REQUIRE(ParseDate(text(cells[k]) + "/" + text(cells[k + 1]) + "/" + text(cells[k + 2]),
                              iso, reason));
        S2Q_REQUIRE(row[column] == (iso.empty() ? Value::Null() : Value::Date(iso)));
        ++column;
        break;
      }
      default: {
        const size_t count = IsCoordinateEntry(e) ? 3 : 1;
        for (size_t j = 0; j < count; ++j) CheckNumber(row[column++], cells[k + j]);
        break;
      }
    }
  }
  S2Q_REQUIRE(row[column] == Value::Text(kHole));
  S2Q_REQUIRE(column + 1 == row.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Setup& setup = TheSetup();
  AppState& app = *setup.apps[data[0] % 2];
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  TitleTable& table = app.titleTable;
  for (auto& row : table.cells) row.fill(std::string());
  const size_t split = std::min(bytes.find('\0'), bytes.size());
  const std::string files[2] = {bytes.substr(0, split),
                                split < bytes.size() ? bytes.substr(split + 1) : std::string()};
  try {
    for (int r = 0; r < 2; ++r) {
      ItemReader reader = ItemReader::FromBytes(files[r], "TITL0" + std::to_string(r + 1) + ".TXT");
      for (size_t k = 0; k < kTitleItems && !reader.AtEnd(); ++k)
        table.cells[r][k] = reader.ReadItem();
    }
  } catch (const Error&) {
    return 0;  // not code page 932: no title file gets this far
  }

  std::string sql;
  try {
    BuildUpdateSql(sql, kHole, app);
  } catch (const Error& e) {
    S2Q_REQUIRE(std::string(e.what()).find("表題項目") != std::string::npos);
    return 0;
  }
  Database& db = *app.db.BoringDb;
  const std::vector<Value> before = TheRow(db);
  try {
    db.Execute(sql);
  } catch (const DbError& e) {
    S2Q_REQUIRE(e.kind() == DbError::Kind::Rejected);
    S2Q_REQUIRE(TheRow(db) == before);
    return 0;
  }
  CheckStored(app, TheRow(db));
  return 0;
}
