#include "targetdb/fieldmatch.h"

#include <vector>

#include "env/fileops.h"
#include "targetdb/boringdb.h"

namespace s2q {

namespace {

// The names of the fields between the first and the last of the boring
// table. The database and the record set are closed again on every path.
std::vector<std::string> InnerFieldNames(std::string& folder, const std::string& fileName,
                                         DbState& db) {
  const std::string path = JoinPath(folder, fileName);
  DatabaseHold hold(db, path);
  SlotCloser closer(db);
  db.BoringDb = db.Engine().Workspaces(0).OpenDatabase(path);
  std::unique_ptr<Recordset> rs = db.BoringDb->OpenRecordset(kBoringTable, dbOpenSnapshot);
  std::vector<std::string> names;
  const int16_t n = rs->Fields().Count();
  for (int16_t p = 1; p <= n - 2; ++p) names.push_back(rs->Fields().Item(p).Name);
  rs->Close();
  closer.Close();
  return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

}  // namespace

void MarkExistingFields(std::string& folder, const std::string& fileName,
                        TitleSelection& selection, DbState& db) {
  const std::vector<std::string> inner = InnerFieldNames(folder, fileName, db);
  for (int i = 0; i < selection.count && i < kMaxTitleEntries; ++i) {
    TitleEntry& e = selection.entries[static_cast<size_t>(i)];
    e.SelectFlg = Contains(inner, MatchedFieldNames(e).front()) ? 1 : 0;
  }
}

int16_t CheckTableFields(std::string& folder, const std::string& fileName,
                         const TitleSelection& selection, DbState& db) {
  const std::vector<std::string> inner = InnerFieldNames(folder, fileName, db);
  std::vector<std::string> expected;
  for (int i = 0; i < selection.count && i < kMaxTitleEntries; ++i) {
    const TitleEntry& e = selection.entries[static_cast<size_t>(i)];
    if (e.SelectFlg != 1) continue;
    for (const std::string& name : MatchedFieldNames(e)) expected.push_back(name);
  }
  if (inner.size() != expected.size()) return 1;
  for (const std::string& name : expected) {
    if (!Contains(inner, name)) return 1;
  }
  return 0;
}

}  // namespace s2q
