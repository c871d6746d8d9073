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
// The columns of the one-line message line, in half-width characters.
constexpr size_t kMessageLineWidth = 88;

}  // namespace

size_t TextWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      width += 1;
      i += 1;
      continue;
    }
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    // U+FF61 to U+FF9F, the half-width katakana, are EF BD A1 to EF BE 9F.
    const std::string_view c = text.substr(i, length);
    const bool halfWidth = c.size() == 3 && c[0] == '\xEF' &&
                           ((c[1] == '\xBD' && static_cast<unsigned char>(c[2]) >= 0xA1) ||
                            (c[1] == '\xBE' && static_cast<unsigned char>(c[2]) <= 0x9F));
    width += halfWidth ? 1 : 2;
    i += length;
  }
  return width;
}

std::string LeftOutText(const std::vector<std::string>& names, size_t width) {
  if (names.empty()) return "";
  const std::string head =
      "表題ファイルのないフォルダ " + std::to_string(names.size()) + " 個は除きました";
  auto rest = [](size_t count) {
    return count == 0 ? std::string() : " ほか " + std::to_string(count) + " 個";
  };
  std::string text = head + "：";
  size_t shown = 0;
  for (const std::string& name : names) {
    const std::string longer = text + (shown ? "、" : "") + name;
    if (TextWidth(longer + rest(names.size() - shown - 1)) > width) break;
    text = longer;
    ++shown;
  }
  return shown == 0 ? head : text + rest(names.size() - shown);
}

bool ReadPatdat(AppState& app) {
  std::string setting;
  bool usable = false;
  try {
    setting = ReadPatdatSetting(app.platform);
    usable = !setting.empty() && PatdatFolderExists(app.platform, setting);
  } catch (const std::exception& e) {
    app.ui.MsgBox(std::string("PATDAT の設定を読めません。") + e.what(), MsgIcon::Exclamation);
    return false;
  }
  if (!usable) {
    app.ui.MsgBox(kNoPatdat);
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

  try {
    CheckTitleDbCanHold(app.DestFolder, app.platform);
  } catch (const Error& e) {
    app.ui.MsgBox(e.what(), MsgIcon::Exclamation);
    view.SetMessageLine("");
    return result;
  }

  app.ui.SetHourglass(true);
  const char* failure = "データベースの確認に失敗しました。";
  // Held from the reading of the fields to the last hole, so that no other
  // run changes the database in between; released after any close below.
  std::optional<DatabaseHold> hold;
  try {
    if (IsDatabaseMissing(app.DestFolder, kDatabaseFileName, app.platform)) {
      result.outcome = ExecuteOutcome::DatabaseMissing;
    } else {
      std::string folder = app.DestFolder;
      hold.emplace(app.db, JoinPath(folder, kDatabaseFileName));
      view.SetMessageLine(kConverting);
      app.MessageShown = 1;
      failure = "データベースのフィールドの確認に失敗しました。";
      MarkExistingFields(app.DestFolder, kDatabaseFileName, app.titles, app.db);
      failure = "変換を中止しました。";
      result.counts = ConvertHoles(app, holes, [&view] { return view.SourceText(); });
      failure = "";  // the message says what was written
      try {
        WriteTitleDb(app.titles, app.DestFolder, app.platform);
      } catch (const std::exception& e) {
        // The holes are in the database; only the catalogue is not saved.
        throw Error("データベース " + app.DestFolder + kDatabaseFileName + " には " +
                    std::to_string(result.counts.inserted + result.counts.updated) +
                    " 孔を書き込みました (新規 " + std::to_string(result.counts.inserted) +
                    " 孔、更新 " + std::to_string(result.counts.updated) +
                    " 孔)。ただし表題設定ファイルを保存できませんでした: " + e.what());
      }
      result.outcome = ExecuteOutcome::Converted;
    }
  } catch (const RunRefused& e) {
    // Refused before anything was written: told as the checks are.
    { SlotCloser closer(app.db); }
    app.ui.SetHourglass(false);
    view.SetMessageLine("");
    app.ui.MsgBox(e.what(), MsgIcon::Exclamation);
    result = ExecuteResult{};
    return result;
  } catch (const std::exception& e) {
    { SlotCloser closer(app.db); }  // a database left open by the failure is closed
    hold.reset();
    app.ui.SetHourglass(false);
    view.SetMessageLine("");
    // A database in use is a refusal before any work: its message says what
    // to do.
    const bool inUse = IsDatabaseInUse(e);
    app.ui.MsgBox(inUse ? std::string(e.what()) : std::string(failure) + e.what(), MsgIcon::Exclamation);
    result.outcome = inUse ? ExecuteOutcome::Refused : ExecuteOutcome::Failed;
    return result;
  }
  if (result.outcome == ExecuteOutcome::DatabaseMissing) {
    // The database menu command takes over; its own failures are its own.
    app.ui.SetHourglass(false);
    view.OpenDatabaseCreation();
    return result;
  }
  const std::string done = kConverted;
  view.SetMessageLine(
      done + LeftOutText(result.counts.leftOut, kMessageLineWidth - TextWidth(done)));
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

CreateResult CreateOrReplaceDatabase(AppState& app, bool replaceOtherFormat) {
  CreateResult result;
  CheckTitleDbCanHold(app.DestFolder, app.platform);
  std::string folder = app.DestFolder;
  DatabaseHold hold(app.db, JoinPath(folder, kDatabaseFileName));
  if (!IsDatabaseMissing(app.DestFolder, kDatabaseFileName, app.platform)) {
    const bool otherFormat =
        replaceOtherFormat && app.db.Engine().Workspaces(0).FormatOf(JoinPath(
                                  app.DestFolder, kDatabaseFileName)) != app.db.createFormat;
    if (!otherFormat && CheckTableFields(app.DestFolder, kDatabaseFileName, app.titles, app.db) != 1) {
      return result;  // unchanged
    }
    const std::string backup =
        ReplaceBoringDatabase(app.DestFolder, kDatabaseFileName, app.titles, app.db);
    result.outcome = CreateOutcome::Replaced;
    // DestFolder ends with "\" since the missing-file check.
    if (!backup.empty()) result.backup = app.DestFolder + backup;
  } else {
    CreateBoringDatabase(app.DestFolder, kDatabaseFileName, app.titles, app.db);
    result.outcome = CreateOutcome::Created;
  }
  try {
    WriteTitleDb(app.titles, app.DestFolder, app.platform);
  } catch (const std::exception& e) {
    // The database is made; the catalogue is told as not saved.
    result.catalogueError = e.what();
  }
  return result;
}

std::string CreateResultMessage(const CreateResult& result) {
  const std::string database = std::string("データベース ") + kDatabaseFileName;
  switch (result.outcome) {
    case CreateOutcome::Created:
      return database + " を作成しました。";
    case CreateOutcome::Replaced: {
      if (!result.backup) return database + " を作り直しました。";
      // The file name alone, short enough for the message line: the folder
      // is the destination shown above.
      const size_t slash = result.backup->find_last_of('\\');
      return std::string(kDatabaseFileName) + " を作り直しました。元のファイル: " +
             (slash == std::string::npos ? *result.backup : result.backup->substr(slash + 1));
    }
    case CreateOutcome::Unchanged:
      break;
  }
  return "データベースのフィールドは選択と同じため、変更しませんでした。";
}

std::string CatalogueFailureMessage(const CreateResult& result) {
  if (!result.catalogueError) return {};
  std::string text = CreateResultMessage(result);
  if (!text.ends_with("。")) text += "。";
  return text + "ただし表題設定ファイルを保存できませんでした: " + *result.catalogueError;
}

}  // namespace s2q
