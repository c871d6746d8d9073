#include "convert/run.h"

#include <exception>

#include "convert/statements.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "env/fileops.h"
#include "targetdb/boringdb.h"

namespace s2q {

std::string HolePath(const std::string& sourceFolder, const std::string& holeName) {
  std::string path = sourceFolder;
  AddBackslash(path);
  return path + holeName + "\\";
}

bool FindHole(Database& db, const std::string& fieldName, const std::string& value) {
  std::unique_ptr<Recordset> records = db.OpenRecordset(kBoringTable, dbOpenSnapshot);
  records->FindFirst(fieldName + " = " + QuoteText(value));
  const bool found = !records->NoMatch();
  records->Close();
  return found;
}

RunResult ConvertHoles(AppState& app, const HoleList& holes,
                       const std::function<std::string()>& sourceText) {
  std::string folder = app.DestFolder;
  const std::string databasePath = JoinPath(folder, kDatabaseFileName);
  SlotCloser closer(app.db);
  app.db.BoringDb = app.db.Engine().Workspaces(0).OpenDatabase(databasePath);

  RunResult result;
  const int count = holes.Count();
  for (int i = 0; i < count; ++i) {
    if (!holes.Selected(i)) continue;
    const std::string holePath = HolePath(sourceText(), holes.Text(i));
    const char* step = "表題ファイルの読み込み";
    try {
      ReadHoleTitles(app.titleTable, app.TitleFileNames, app.platform, holePath);
      step = "ソース位置の検索";
      const bool found = FindHole(*app.db.BoringDb, kSourceField, holePath);
      step = "SQL 文の作成";
      std::string sql;
      if (found) {
        BuildUpdateSql(sql, holePath, app);
      } else {
        BuildInsertSql(sql, holePath, app);
      }
      step = "データベースへの書き込み";
      app.db.BoringDb->Execute(sql);
      ++(found ? result.updated : result.inserted);
    } catch (const std::exception& e) {
      const int done = result.inserted + result.updated;
      throw Error("ボーリング孔 " + holePath + " の変換に失敗しました（" + step + "）：" +
                  e.what() +
                  (done > 0 ? "（これより前の " + std::to_string(done) + " 孔は書き込み済みです）"
                            : std::string()));
    }
  }
  closer.Close();
  return result;
}

}  // namespace s2q
