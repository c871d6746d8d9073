#include "convert/run.h"

#include <exception>
#include <map>
#include <string_view>
#include <vector>

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

namespace {

struct SelectedHole {
  std::string name;  // the list entry's text
  std::string path;  // the hole path
};

// The hole path as the lookup of ソース位置 compares it: A to Z without
// regard to case, every other character exactly.
std::string LookupKey(std::string path) {
  for (char& c : path) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return path;
}

// A hole path is the key of a row; a folder whose name holds the separator
// cannot form one, and two paths that the lookup compares as equal (A to Z
// without regard to case) would meet the same row.
void CheckSelectedHoles(const std::vector<SelectedHole>& holes) {
  for (const SelectedHole& hole : holes) {
    if (hole.name.find('\\') != std::string::npos) {
      throw Error("ボーリング孔フォルダ「" + hole.name +
                  "」の名前に「\\」があるため、孔のパス（ソース位置）を作れません。"
                  "フォルダ名を変えるか、選択から外してください。何も変換していません。");
    }
  }
  std::map<std::string, const SelectedHole*> byKey;
  for (const SelectedHole& hole : holes) {
    auto [it, added] = byKey.emplace(LookupKey(hole.path), &hole);
    if (!added && it->second->path != hole.path) {
      throw Error("ボーリング孔フォルダ「" + it->second->name + "」と「" + hole.name +
                  "」は英字の大文字と小文字だけが違うため、データベースでは同じ孔（ソース位置）になります。"
                  "どちらか一方だけを選んでください。何も変換していません。");
    }
  }
}

// A folder with neither of the first two title files (absent or empty, as the
// reading counts them) holds no hole; written, it would be a row of blanks at
// 0° N 0° E.
bool HasNoTitleFiles(const AppState& app, const std::string& holePath) {
  for (size_t r = 0; r < 2; ++r) {
    if (!IsFileMissing(app.platform, holePath + app.TitleFileNames.at(r))) return false;
  }
  return true;
}

// The length of the UTF-8 character a byte starts: 1 to 4, 0 for a byte that
// starts none.
size_t CharacterLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead < 0xE0) return 2;
  if (lead >= 0xE0 && lead < 0xF0) return 3;
  if (lead >= 0xF0 && lead < 0xF5) return 4;
  return 0;
}

// The text without bytes that do not form a whole UTF-8 character, so that a
// piece of text cut by the engine shows no broken character.
std::string WholeCharacters(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t length = CharacterLength(static_cast<unsigned char>(text[i]));
    size_t n = 1;
    while (n < length && i + n < text.size() &&
           (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
      ++n;
    if (length != 0 && n == length) out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace

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
  DatabaseHold hold(app.db, databasePath);  // released after the close below
  SlotCloser closer(app.db);
  app.db.BoringDb = app.db.Engine().Workspaces(0).OpenDatabase(databasePath);
  // A table the database keeps but cannot write into (a field of a type it
  // does not write, an index it cannot keep consistent) would fail only at
  // the first hole.
  if (const std::string why = app.db.BoringDb->WhyUnwritable(kBoringTable); !why.empty()) {
    throw RunRefused(why + "。何も変換していません。");
  }

  // The selected holes and their paths, checked before anything is
  // written, so that a refused selection changes nothing.
  std::vector<SelectedHole> selected;
  const int count = holes.Count();
  for (int i = 0; i < count; ++i) {
    if (!holes.Selected(i)) continue;
    const std::string name = holes.Text(i);
    selected.push_back({name, HolePath(sourceText(), name)});
  }
  CheckSelectedHoles(selected);

  RunResult result;
  for (const SelectedHole& hole : selected) {
    const std::string& holePath = hole.path;
    const char* failure = "の表題ファイルを読み込めません：";
    try {
      if (HasNoTitleFiles(app, holePath)) {
        result.leftOut.push_back(hole.name);
        continue;
      }
      ReadHoleTitles(app.titleTable, app.TitleFileNames, app.platform, holePath);
      failure = "をデータベースで探せません：";
      const bool found = FindHole(*app.db.BoringDb, kSourceField, holePath);
      failure = "の値を書き込めません：";
      std::string sql;
      if (found) {
        BuildUpdateSql(sql, holePath, app);
      } else {
        BuildInsertSql(sql, holePath, app);
      }
      failure = "をデータベースに書き込めません：";
      app.db.BoringDb->Execute(sql);
      ++(found ? result.updated : result.inserted);
    } catch (const std::exception& e) {
      const int done = result.inserted + result.updated;
      throw Error("ボーリング孔 " + holePath + " " + failure + WholeCharacters(e.what()) +
                  (done > 0 ? "（これより前の " + std::to_string(done) + " 孔は書き込み済みです）"
                            : std::string()));
    }
  }
  closer.Close();
  return result;
}

}  // namespace s2q
