#include "convert/commands.h"

#include <exception>

#include "convert/run.h"
#include "convert/valuerules.h"
#include "env/checkpath.h"
#include "env/errors.h"
#include "env/fileops.h"
#include "env/patdat.h"
#include "env/text.h"
#include "targetdb/boringdb.h"
#include "targetdb/fieldmatch.h"

namespace s2q {

namespace {

constexpr const char* kNoPatdat = " PATDAT の設定がありません.";
constexpr const char* kNoDest = "変換先ファイルが選択されていません。";
constexpr const char* kNoSource = "変換元ファイルが選択されていません。";
constexpr const char* kBadPath = "指定されたパスは正しくありません。";
constexpr const char* kNoHole = "変換元ﾎﾞｰﾘﾝｸﾞ孔名が選択されていません。";
constexpr const char* kConverting = "只今変換中！　しばらくお待ちください。";
constexpr const char* kConverted = "変換が正常に終了しました。";
// Names of left-out folders the one-line message line has room for.
constexpr size_t kLeftOutShown = 3;

}  // namespace

std::string LeftOutText(const std::vector<std::string>& names, size_t shown) {
  if (names.empty()) return "";
  std::string text = "表題ファイルのないフォルダ " + std::to_string(names.size()) +
                     " 個は変換していません：";
  for (size_t i = 0; i < names.size() && i < shown; ++i) text += (i ? "、" : "") + names[i];
  if (names.size() > shown) text += " ほか " + std::to_string(names.size() - shown) + " 個";
  return text;
}

bool ReadPatdat(AppState& app) {
  std::string setting;
  bool usable = false;
  try {
    setting = ReadPatdatSetting(app.platform);
    usable = !setting.empty() && PatdatFolderExists(app.platform, setting);
  } catch (const std::exception& e) {
    app.ui.MsgBox(std::string("PATDAT の設定を読めません。") + e.what(), MsgIcon::Exclamation);
    app.ui.EndProgram();
    return false;
  }
  if (!usable) {
    app.ui.MsgBox(kNoPatdat);
    app.ui.EndProgram();
    return false;
  }
  app.PatdatFolder = setting;
  return true;
}

bool LoadCatalogue(AppState& app) {
  try {
    app.titles.count = ReadTitleDb(app.titles, app.DestFolder, app.platform, app.ui);
  } catch (const std::exception& e) {
    std::string folder = app.platform.ProgramFolder();
    app.ui.MsgBox("表題設定ファイル " + JoinPath(folder, kTitleDbFileName) +
                      " を読めません。プログラムを終了します。" + e.what(),
                  MsgIcon::Exclamation);
    app.ui.EndProgram();
    return false;
  }
  return true;
}

void BuildFileNameLists(AppState& app) {
  app.TitleFileNames = BuildTitleFileNames();
  app.CodeListFiles = BuildCodeListFiles();
}

ExecuteResult ExecuteConversion(AppState& app, ExecuteView& view) {
  ExecuteResult result;
  // The checks, in order; each refusal empties the message line.
  app.DestFolder = view.DestText();
  if (TrimSpaces(app.DestFolder).empty()) {
    app.ui.MsgBox(kNoDest);
    view.SetMessageLine("");
    return result;
  }
  if (!CheckPath(app.DestFolder, app.platform, app.ui)) {
    app.ui.MsgBox(kBadPath, MsgIcon::Exclamation, app.DestFolder);
    view.FocusAndSelectDest();
    view.SetMessageLine("");
    return result;
  }
  std::string source = view.SourceText();
  if (TrimSpaces(source).empty()) {
    app.ui.MsgBox(kNoSource);
    view.SetMessageLine("");
    return result;
  }
  if (!CheckPath(source, app.platform, app.ui)) {
    app.ui.MsgBox(kBadPath, MsgIcon::Exclamation, source);
    view.FocusAndSelectSource();
    view.SetMessageLine("");
    return result;
  }
  const HoleList& holes = view.Holes();
  int first = 0;
  while (first < holes.Count() && !holes.Selected(first)) ++first;
  if (first >= holes.Count()) {
    app.ui.MsgBox(kNoHole);
    view.SetMessageLine("");
    return result;
  }

  app.ui.SetHourglass(true);
  const char* failure = "データベースの確認に失敗しました。";
  try {
    if (IsDatabaseMissing(app.DestFolder, kDatabaseFileName, app.platform)) {
      result.outcome = ExecuteOutcome::DatabaseMissing;
    } else {
      view.SetMessageLine(kConverting);
      app.MessageShown = 1;
      failure = "データベースのフィールドの確認に失敗しました。";
      MarkExistingFields(app.DestFolder, kDatabaseFileName, app.titles, app.db);
      failure = "変換を中止しました。";
      result.counts = ConvertHoles(app, holes, [&view] { return view.SourceText(); });
      failure = "表題設定ファイルの保存に失敗しました。";
      WriteTitleDb(app.titles, app.DestFolder, app.platform);
      result.outcome = ExecuteOutcome::Converted;
    }
  } catch (const std::exception& e) {
    { SlotCloser closer(app.db); }  // a database left open by the failure is closed
    app.ui.SetHourglass(false);
    view.SetMessageLine("");
    app.ui.MsgBox(std::string(failure) + e.what(), MsgIcon::Exclamation);
    result.outcome = ExecuteOutcome::Failed;
    return result;
  }
  if (result.outcome == ExecuteOutcome::DatabaseMissing) {
    // The database menu command takes over; its own failures are its own.
    app.ui.SetHourglass(false);
    view.OpenDatabaseCreation();
    return result;
  }
  view.SetMessageLine(kConverted + LeftOutText(result.counts.leftOut, kLeftOutShown));
  app.ui.SetHourglass(false);
  return result;
}

void PrepareSelectionForDialog(AppState& app) {
  if (IsDatabaseMissing(app.DestFolder, kDatabaseFileName, app.platform)) {
    SetDefaultSelection(app.titles);
  } else {
    MarkExistingFields(app.DestFolder, kDatabaseFileName, app.titles, app.db);
    SelectMandatoryEntries(app.titles);
  }
}

CreateOutcome CreateOrReplaceDatabase(AppState& app) {
  CreateOutcome outcome = CreateOutcome::Created;
  if (!IsDatabaseMissing(app.DestFolder, kDatabaseFileName, app.platform)) {
    if (CheckTableFields(app.DestFolder, kDatabaseFileName, app.titles, app.db) != 1) {
      return CreateOutcome::Unchanged;
    }
    ReplaceBoringDatabase(app.DestFolder, kDatabaseFileName, app.titles, app.db);
    outcome = CreateOutcome::Replaced;
  } else {
    CreateBoringDatabase(app.DestFolder, kDatabaseFileName, app.titles, app.db);
  }
  WriteTitleDb(app.titles, app.DestFolder, app.platform);
  return outcome;
}

}  // namespace s2q
