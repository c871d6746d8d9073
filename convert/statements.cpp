#include "convert/statements.h"

#include <vector>

#include "convert/appstate.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "targetdb/boringdb.h"

namespace s2q {

namespace {

struct Part {
  const TitleEntry* entry;
  std::vector<std::string> fragments;
};

// The taking-part entries with their value fragments, in index order.
std::vector<Part> TakingPart(const AppState& app, const std::string& holePath) {
  const ValueSources sources{app.titleTable, app.CodeListFiles, app.PatdatFolder, app.platform};
  std::vector<Part> parts;
  for (int i = 0; i < app.titles.count && i < kMaxTitleEntries; ++i) {
    const TitleEntry& entry = app.titles.entries[i];
    if (entry.SelectFlg != 1) continue;
    parts.push_back({&entry, ValueFragments(entry, i, sources)});
  }
  if (parts.empty()) {
    throw Error("ボーリング孔 " + holePath +
                " に変換する項目がありません。ボーリング テーブルに表題項目のフィールドがありません。");
  }
  return parts;
}

}  // namespace

void BuildUpdateSql(std::string& sql, const std::string& holePath, const AppState& app) {
  std::string text = std::string("UPDATE ") + kBoringTable + " " + "SET ";
  bool first = true;
  for (const Part& part : TakingPart(app, holePath)) {
    if (!first) text += ",";
    first = false;
    const std::string& name = part.entry->FieldName;
    if (IsCoordinateEntry(*part.entry)) {
      const std::vector<std::string> names = CoordinateFieldNames(name);
      text += names[0] + " = " + part.fragments[0] + "," + names[1] + " = " + part.fragments[1] +
              "," + names[2] + " = " + part.fragments[2];
    } else {
      text += name + " = " + part.fragments[0];
    }
  }
  text += std::string(" WHERE ") + kSourceField + " = " + QuoteText(holePath) + ";";
  sql = std::move(text);
}

void BuildInsertSql(std::string& sql, const std::string& holePath, const AppState& app) {
  std::string text = std::string("INSERT INTO ") + kBoringTable + " " + "VALUES( " + "Null" + ",";
  bool first = true;
  for (const Part& part : TakingPart(app, holePath)) {
    for (const std::string& fragment : part.fragments) {
      if (!first) text += ",";
      first = false;
      text += fragment;
    }
  }
  text += "," + QuoteText(holePath) + ");";
  sql = std::move(text);
}

}  // namespace s2q
