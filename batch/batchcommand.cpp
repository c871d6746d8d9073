#include "batch/batchcommand.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>

#include "convert/appstate.h"
#include "convert/commands.h"
#include "env/checkpath.h"
#include "env/codepage.h"
#include "env/errors.h"
#include "env/fileops.h"
#include "env/text.h"
#include "targetdb/boringdb.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/storage.h"

namespace s2q {

namespace {

constexpr const char* kProgram = "stolvik2quarnix-batch";

// Message boxes become lines on the terminal: "caption: text".
class TerminalUi : public UserInterface {
 public:
  explicit TerminalUi(std::ostream& err) : err_(err) {}
  void MsgBox(const std::string& text, MsgIcon, const std::string& caption) override {
    err_ << (caption.empty() ? std::string(kProgramTitle) : caption) << ": " << text << '\n';
  }
  void SetHourglass(bool) override {}

 private:
  std::ostream& err_;
};

struct Options {
  std::string command;
  std::optional<std::string> dest;
  std::optional<std::string> source;
  bool all = false;
  std::vector<std::string> holes;
  std::vector<std::string> fields;   // --field: added to the selection
  std::vector<std::string> without;  // --without: taken away from it
  std::optional<std::string> format;  // --format: jet or sqlite
  bool help = false;
};

class UsageError : public Error {
 public:
  using Error::Error;
};

// Reads `--name VALUE` or `--name=VALUE` at args[i]; true when it matched.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               const char* what, std::optional<std::string>& value) {
  const std::string& arg = args[i];
  std::string text;
  if (arg == name) {
    if (i + 1 >= args.size()) throw UsageError(name + " のあとに" + what + "がありません。");
    text = args[++i];
  } else if (arg.rfind(name + "=", 0) == 0) {
    text = arg.substr(name.size() + 1);
  } else {
    return false;
  }
  if (value) throw UsageError(name + " が 2 回指定されています。");
  value = text;
  return true;
}

Options ParseArgs(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw UsageError("コマンド (convert、create または check) を指定してください。");
  if (args[0] == "--help" || args[0] == "-h") {
    o.help = true;
    return o;
  }
  o.command = args[0];
  if (o.command != "convert" && o.command != "create" && o.command != "check")
    throw UsageError("不明なコマンド " + o.command + " です。convert、create または check を指定してください。");
  const bool convert = o.command == "convert";
  const bool create = o.command == "create";
  bool positionalOnly = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!positionalOnly && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--help" || arg == "-h") {
        o.help = true;
      } else if (arg == "--") {
        positionalOnly = true;
      } else if (TakeValue(args, i, "--dest", "フォルダ名", o.dest)) {
      } else if (convert && TakeValue(args, i, "--source", "フォルダ名", o.source)) {
      } else if (convert && arg == "--all") {
        o.all = true;
      } else if (std::optional<std::string> field;
                 create && TakeValue(args, i, "--field", "表題項目名", field)) {
        o.fields.push_back(*field);
      } else if (std::optional<std::string> field;
                 create && TakeValue(args, i, "--without", "表題項目名", field)) {
        o.without.push_back(*field);
      } else if (create && TakeValue(args, i, "--format", "形式 (jet または sqlite)", o.format)) {
        if (!BackendNamed(*o.format)) {
          throw UsageError("--format の形式 " + *o.format + " は使えません。jet か sqlite を指定してください。");
        }
      } else {
        throw UsageError(o.command + " コマンドに不明なオプション " + arg + " があります。");
      }
    } else if (convert) {
      o.holes.push_back(arg);
    } else {
      throw UsageError(o.command + " コマンドには余分な引数 " + arg + " は指定できません。");
    }
  }
  if (o.all && !o.holes.empty())
    throw UsageError("--all とボーリング孔名は同時に指定できません。");
  if (o.command == "check" && !o.help && (!o.dest || TrimSpaces(*o.dest).empty()))
    throw UsageError("check コマンドには --dest で変換先フォルダを指定してください。");
  return o;
}

// A native absolute path ("/data/holes", blanks around it allowed) becomes
// its drive form ("C:\data\holes"); any other text is taken as a drive-form
// path as typed.
std::string DriveFormOf(const Platform& platform, const std::string& text) {
  const std::string native = TrimSpaces(text);
  if (native.empty() || native[0] != '/') return text;
  std::optional<std::string> form;
  try {
    form = platform.ToDriveForm(native);
  } catch (const Error& e) {
    throw UsageError("パス " + native + " は使えません: " + e.what());
  }
  if (!form) throw UsageError("パス " + native + " はどのドライブにも含まれていません。");
  return *form;
}

// A hole name as a shell's completion gives it ("BH-0001/") names the folder.
std::string HoleName(std::string name) {
  while (name.size() > 1 && (name.back() == '/' || name.back() == '\\')) name.pop_back();
  return name;
}

class BatchHoleList : public HoleList {
 public:
  int Count() const override { return static_cast<int>(names.size()); }
  std::string Text(int index) const override { return names.at(static_cast<size_t>(index)); }
  bool Selected(int index) const override { return selected.at(static_cast<size_t>(index)); }

  std::vector<std::string> names;
  std::vector<bool> selected;
};

// The two path boxes hold the folder texts; the hole list holds the source
// folder's sub-folders as the window lists them, with the named holes (or
// all of them) selected. The list is made when the Execute road first asks
// for it, after both paths have passed their checks.
class BatchExecuteView : public ExecuteView {
 public:
  BatchExecuteView(AppState& app, const Options& o, std::ostream& err)
      : app_(app), options_(o), err_(err) {}

  std::string DestText() override { return options_.dest.value_or(""); }
  std::string SourceText() override { return listed_ ? checkedSource_ : options_.source.value_or(""); }
  const HoleList& Holes() override {
    if (!listed_) FillHoles();
    return holes_;
  }
  void SetMessageLine(const std::string& text) override {
    if (!text.empty()) err_ << text << '\n';
  }
  void FocusAndSelectDest() override {}
  void FocusAndSelectSource() override {}
  void OpenDatabaseCreation() override {
    app_.ui.MsgBox("変換先フォルダ " + app_.DestFolder + " にデータベース " + kDatabaseFileName +
                       " がありません。先に " + kProgram + " create --dest " + HostQuoted(app_.DestFolder) +
                       " で作成してください。",
                   MsgIcon::Exclamation);
  }

 private:
  void FillHoles() {
    // The source has passed its check by now. The list and the run use the
    // form the check gave it, as the window's folder browser would show it,
    // so that " c:holes" reads and records the accepted c:\holes\ rather than
    // a folder relative to the working folder.
    checkedSource_ = options_.source.value_or("");
    CheckPath(checkedSource_, app_.platform, app_.ui);
    listed_ = true;
    const std::string& folder = checkedSource_;
    if (!app_.platform.FolderExists(folder)) {
      app_.ui.MsgBox("変換元フォルダ " + folder + " がありません。", MsgIcon::Exclamation);
      return;
    }
    try {
      holes_.names = app_.platform.ListSubfolders(folder);
    } catch (const Error& e) {
      // A folder that cannot be listed, or holds a name that is no text.
      app_.ui.MsgBox(e.what(), MsgIcon::Exclamation);
      return;
    }
    holes_.selected.assign(holes_.names.size(), options_.all);
    if (options_.all) return;
    bool allFound = true;
    for (const std::string& given : options_.holes) {
      const std::string hole = HoleName(given);
      auto it = std::find(holes_.names.begin(), holes_.names.end(), hole);
      if (it == holes_.names.end()) {
        app_.ui.MsgBox("変換元ﾎﾞｰﾘﾝｸﾞ孔 " + hole + " は変換元フォルダ " + folder + " にありません。",
                       MsgIcon::Exclamation);
        allFound = false;
      } else {
        holes_.selected[static_cast<size_t>(it - holes_.names.begin())] = true;
      }
    }
    // One unknown hole refuses the whole command: nothing is selected.
    if (!allFound) holes_.selected.assign(holes_.names.size(), false);
  }

  AppState& app_;
  const Options& options_;
  std::ostream& err_;
  BatchHoleList holes_;
  std::string checkedSource_;
  bool listed_ = false;
};

int Convert(AppState& app, const Options& o, std::ostream& out, std::ostream& err) {
  BatchExecuteView view(app, o, err);
  ExecuteResult result = ExecuteConversion(app, view);
  switch (result.outcome) {
    case ExecuteOutcome::Converted:
      out << "新規 " << result.counts.inserted << " 孔、更新 " << result.counts.updated
          << " 孔を " << app.DestFolder << kDatabaseFileName << " に変換しました。\n";
      if (!result.counts.leftOut.empty())
        out << LeftOutText(result.counts.leftOut) << '\n';
      return kExitOk;
    case ExecuteOutcome::Failed:
      return kExitFailed;
    case ExecuteOutcome::Refused:
    case ExecuteOutcome::DatabaseMissing:
      break;
  }
  return kExitRefused;
}

// The catalogue index of each named entry, in the order given; an unknown
// name is told and makes the result empty.
std::optional<std::vector<int>> EntriesNamed(AppState& app, const std::vector<std::string>& names) {
  std::vector<int> indices;
  bool allKnown = true;
  for (const std::string& name : names) {
    int index = 0;
    while (index < app.titles.count &&
           app.titles.entries[static_cast<size_t>(index)].FieldName != name)
      ++index;
    if (index == app.titles.count) {
      app.ui.MsgBox("表題項目 " + name + " は表題設定ファイル TitleDb.TXT にありません。",
                    MsgIcon::Exclamation);
      allKnown = false;
    }
    indices.push_back(index);
  }
  if (!allKnown) return std::nullopt;
  return indices;
}

int Create(AppState& app, const Options& o, std::ostream& out) {
  const std::string dest = o.dest.value_or("");
  if (dest.empty()) {
    app.ui.MsgBox("変換先ﾌｫﾙﾀﾞが指定されていません");
    return kExitRefused;
  }
  const std::optional<std::vector<int>> named = EntriesNamed(app, o.fields);
  const std::optional<std::vector<int>> unnamed = EntriesNamed(app, o.without);
  if (!named || !unnamed) return kExitRefused;
  // As in the dialog, the mandatory entries cannot be taken away.
  bool allowed = true;
  for (size_t k = 0; k < unnamed->size(); ++k) {
    const int index = (*unnamed)[k];
    if (IsMandatoryEntry(index)) {
      app.ui.MsgBox("表題項目 " + o.without[k] + " は必須項目のため、--without で外すことはできません。",
                    MsgIcon::Exclamation);
      allowed = false;
    } else if (std::find(named->begin(), named->end(), index) != named->end()) {
      app.ui.MsgBox("表題項目 " + o.without[k] + " が --field と --without の両方に指定されています。",
                    MsgIcon::Exclamation);
      allowed = false;
    }
  }
  if (!allowed) return kExitRefused;

  app.DestFolder = dest;
  CreateResult result;
  try {
    try {
      PrepareSelectionForDialog(app);
    } catch (const DbError& e) {
      // A file this build cannot open (a SQLite file of an earlier version
      // on Windows) has no fields to start from when it is to be made again
      // in the format asked for: the shipped selection is the start.
      const std::string existing = JoinPath(app.DestFolder, kDatabaseFileName);
      if (e.kind() != DbError::Kind::NotADatabase || !o.format ||
          app.db.Engine().Workspaces(0).FormatOf(existing) == BackendNamed(*o.format)->Format()) {
        throw;
      }
      SetDefaultSelection(app.titles);
    }
    for (int index : *named) app.titles.entries[static_cast<size_t>(index)].SelectFlg = 1;
    for (int index : *unnamed) app.titles.entries[static_cast<size_t>(index)].SelectFlg = 0;
    int selected = 0;
    for (int i = 0; i < app.titles.count; ++i)
      if (app.titles.entries[static_cast<size_t>(i)].SelectFlg == 1) ++selected;
    if (selected == 0) {
      app.ui.MsgBox("データベースフィールドが指定されていません");
      return kExitRefused;
    }
    if (o.format) app.db.createFormat = BackendNamed(*o.format)->Format();
    result = CreateOrReplaceDatabase(app, o.format.has_value());
  } catch (const std::exception& e) {
    // A database in use is refused before any work, as a check refuses.
    if (IsDatabaseInUse(e)) {
      app.ui.MsgBox(e.what(), MsgIcon::Exclamation);
      return kExitRefused;
    }
    app.ui.MsgBox(std::string("データベースの作成に失敗しました。") + e.what(),
                  MsgIcon::Exclamation);
    return kExitFailed;
  }
  const std::string path = app.DestFolder + kDatabaseFileName;
  switch (result.outcome) {
    case CreateOutcome::Created:
      out << path << " を作成しました。\n";
      break;
    case CreateOutcome::Replaced:
      out << path << " を作り直しました";
      if (result.backup) out << " (元のデータベースは " << *result.backup << ")";
      out << "。\n";
      break;
    case CreateOutcome::Unchanged:
      out << path << " のフィールドは指定と同じです。変更していません。\n";
      break;
  }
  if (result.catalogueError) {
    app.ui.MsgBox("表題設定ファイルを保存できませんでした: " + *result.catalogueError,
                  MsgIcon::Exclamation);
    return kExitFailed;
  }
  return kExitOk;
}

// Checks SR-DATA.MDB in the destination folder without writing it: a Jet
// file with our verifier, a SQLite file with SQLite's integrity check (which
// opening it through its backend runs). Problems go to `out`, one a line,
// then a summary line.
int Check(const Platform& platform, const std::string& dest, std::ostream& out, std::ostream& err) {
  std::string path;
  std::string bytes;
  try {
    std::string folder = platform.AbsoluteFolder(dest);
    path = JoinPath(folder, kDatabaseFileName);
    if (!platform.FolderExists(folder)) throw Error("変換先フォルダ " + folder + " がありません。");
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(platform.ToNativeFile(path), ec))) {
      throw Error("変換先フォルダ " + folder + " にデータベース " + kDatabaseFileName + " がありません。");
    }
    bytes = ReadFileBytes(platform, path);
  } catch (const Error& e) {
    err << kProgram << ": " << e.what() << '\n';
    return kExitFailed;
  }
  std::vector<std::string> problems;
  try {
    const StorageBackend* backend = BackendForHeader(std::string_view(bytes).substr(0, 4096));
    if (backend && backend->Format() == StorageFormat::Sqlite) {
      try {
        backend->Open(path, platform.ToNativeFile(path), {})->Close();
      } catch (const DbError& e) {
        // A file SQLite reads but whose integrity check fails is a file with a
        // problem; any other refusal means it could not be checked.
        if (e.kind() != DbError::Kind::NotADatabase || std::string(e.what()).find("壊れています") == std::string::npos) throw;
        problems.push_back(e.what());
      }
    } else {
      problems = VerifyJetFile(path, bytes);
    }
  } catch (const std::exception& e) {
    err << kProgram << ": " << e.what() << '\n';
    return kExitFailed;
  }
  for (const std::string& problem : problems) out << problem << '\n';
  if (problems.empty()) {
    out << "「" << path << "」に問題はありません。\n";
    return kExitOk;
  }
  out << "「" << path << "」に " << problems.size() << " 件の問題があります。\n";
  return kExitRefused;
}

}  // namespace

std::string BatchHelpText() {
  return R"(使い方:
  stolvik2quarnix-batch convert --dest 変換先フォルダ --source 変換元フォルダ (--all | ボーリング孔名...)
  stolvik2quarnix-batch create --dest 変換先フォルダ [--field 表題項目名]... [--without 表題項目名]... [--format jet|sqlite]
  stolvik2quarnix-batch check --dest 変換先フォルダ
  stolvik2quarnix-batch --help

ボーリング柱状図データの表題 (TITL01.TXT, TITL02.TXT) を、変換先フォルダの
データベース SR-DATA.MDB のテーブル「ボーリング」に変換します。画面版
(stolvik2quarnix) の「実  行」と「ﾃﾞｰﾀﾍﾞｰｽ - 新規作成」と同じ処理を行います。

convert  変換元フォルダのボーリング孔 (サブフォルダ) を変換します。
  --dest フォルダ     変換先フォルダ。SR-DATA.MDB が必要です。ないときは
                      何もせずに終了しますので、先に create で作成してください。
  --source フォルダ   変換元フォルダ。そのサブフォルダがボーリング孔です。
  --all               変換元フォルダのすべてのボーリング孔を変換します。
  ボーリング孔名...   指定したボーリング孔 (サブフォルダ名) だけを変換します。
                      変換は一覧の順 (名前順) に行います。1 つでも見つからない
                      孔があると、何も変換しません。"-" で始まる孔名は
                      "--" のあとに指定します。
  データベースにすでにある孔 (ソース位置が同じ孔) は更新し、ない孔は追加します。
  変換するのはデータベースにあるフィールドだけです。終了すると新規と更新の
  孔数を表示し、TitleDb.TXT の 1 行目に変換先フォルダを保存します。

create   変換先フォルダにデータベース SR-DATA.MDB を作成します。
  --dest フォルダ     変換先フォルダ。
  --field 表題項目名  必須項目に加えてフィールドにする表題項目 (TitleDb.TXT の
                      項目名、例: 事業名)。何度でも指定できます。
  --format 形式       作るデータベースの形式。jet (既定: 地図アプリケーションが
                      Jet で読む Jet 4 形式) か sqlite (SQLite 3 形式)。
                      指定した形式と違う形式のデータベースがあるときは、
                      フィールドが同じでもその形式で作り直します。
)" + HostFormatHelp() + R"(  --without 表題項目名
                      選ぶフィールドから外す表題項目 (画面の「選択解除」と
                      同じ)。何度でも指定できます。データベースにある
                      フィールドを除いて作り直すときに使います。必須項目は
                      外せません (指定すると何もせずに終了します)。
  必須項目は表題項目の 0, 3, 5, 6, 7, 8, 9, 15, 23, 24 番目 (TitleDb.TXT の
  2 行目を 0 番目として数えます) で、いつも選ばれます。データベースが
  すでにあるときは、そのフィールドも選ばれます (--without で外せます)。
  選んだフィールドがすでにあるものと同じなら何もしません。違うときは
  データベースを作り直します。
  元のファイルは SR-DATA.<日付>-<時刻>.MDB.bak として残ります (前の控えを
  上書きすることはありません)。
  作成または作り直したときは TitleDb.TXT を保存します。

check    変換先フォルダのデータベース SR-DATA.MDB に矛盾がないかを調べます。
  --dest フォルダ     変換先フォルダ。
  ファイルは読むだけで、変更しません。見つかった問題を 1 行に 1 件ずつ
  (ページ番号とテーブル・索引・フィールドの名前を付けて) 表示し、最後に
  件数を表示します。Jet 4 形式のファイルでは、索引とテーブルの行の対応、
  名前によるテーブルの検索、ページの使用表、行数、空き容量、長い値を
  調べます。SQLite 形式のファイルでは SQLite の整合性検査を行います。
  PatdatV5.ini と TitleDb.TXT は使いません。

)" + HostPathHelp() + R"(メッセージは標準エラー出力に、結果 (孔数など) は標準出力に出します。

終了コード:
  0  正常に終了しました。
  1  指定や設定の確認で中止しました (データベースは変更していません)。
  2  処理の途中で失敗しました (失敗した孔より前の孔は変換済みです)。
  check では 0 は問題なし、1 は問題あり (または指定の誤り)、2 はファイルが
  ないか、データベースとして読めないことを表します。

)" + HostExampleHelp();
}

int RunBatch(const std::vector<std::string>& givenArgs, const PlatformFacts& facts,
             std::ostream& out, std::ostream& err) {
  Options options;
  try {
    // An argument that is not UTF-8 is taken as code page 932, as a folder
    // name unpacked from a Windows archive is (what a shell completes).
    std::vector<std::string> args;
    for (const std::string& arg : givenArgs) {
      try {
        args.push_back(DecodeNativeName(arg));
      } catch (const Error& e) {
        throw UsageError(std::string("引数の") + e.what());
      }
    }
    options = ParseArgs(args);
  } catch (const UsageError& e) {
    err << kProgram << ": " << e.what() << " (--help で使い方を表示します)\n";
    return kExitRefused;
  }
  if (options.help) {
    out << BatchHelpText();
    return kExitOk;
  }

  try {
    Platform platform(facts);
    TerminalUi ui(err);
    AppState app(platform, ui);
    try {
      if (options.dest) options.dest = DriveFormOf(platform, *options.dest);
      if (options.source) options.source = DriveFormOf(platform, *options.source);
    } catch (const UsageError& e) {
      err << kProgram << ": " << e.what() << '\n';
      return kExitRefused;
    }
    // The check reads the database only: no setting or catalogue is needed.
    if (options.command == "check") return Check(platform, *options.dest, out, err);
    // Start as the main window does.
    if (!ReadPatdat(app) || !LoadCatalogue(app)) return kExitRefused;
    if (app.titles.count == 0) {
      // The windows go on without a catalogue; a command has nothing to do.
      std::string folder = platform.ProgramFolder();
      app.ui.MsgBox("表題設定ファイル " + JoinPath(folder, kTitleDbFileName) +
                        " に表題項目がないため、処理できません。",
                    MsgIcon::Exclamation);
      return kExitRefused;
    }
    BuildFileNameLists(app);
    return options.command == "convert" ? Convert(app, options, out, err)
                                        : Create(app, options, out);
  } catch (const std::exception& e) {
    err << kProgram << ": " << e.what() << '\n';
    return kExitFailed;
  }
}

}  // namespace s2q
