#include "targetdb/boringdb.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "env/errors.h"
#include "env/fileops.h"
#include "env/native.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

// The files a storage keeps beside a database while it is open or after a
// crash. They belong to the database of the same name: one left beside
// another database file would be read as part of it.
const std::vector<std::string>& Companions() {
  static const std::vector<std::string> suffixes = AllCompanionSuffixes();
  return suffixes;
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// Every rename here goes to a name that is free (checked just before), so
// replacing is no concern; it is the one rename the platform gives.
void Rename(const fs::path& from, const fs::path& to, const std::string& path) {
  try {
    MoveReplacing(from, to);
  } catch (const SystemFailure& e) {
    throw Error("データベース「" + path + "」のファイル " + NativeText(from.filename()) + " を " +
                NativeText(to.filename()) + " に名前を変えられません: " + e.what());
  }
}

void Remove(const fs::path& file, const std::string& path) {
  try {
    RemoveFile(file);
  } catch (const SystemFailure& e) {
    throw Error("データベース「" + path + "」の古いファイル " + NativeText(file.filename()) +
                " を削除できません: " + e.what());
  }
}

void RemoveQuietly(const fs::path& file) {
  try {
    RemoveFile(file);
  } catch (const SystemFailure&) {
    // Already failing: the first failure is the one reported.
  }
}

}  // namespace

std::vector<Field> BoringTableLayout(const TitleSelection& selection) {
  if (selection.count < 0 || selection.count > kMaxTitleEntries) {
    throw Error("表題設定の項目数 " + std::to_string(selection.count) + " が正しくありません");
  }
  std::vector<Field> fields;
  fields.push_back({kLinkCodeField, dbText, 32});
  for (int i = 0; i < selection.count; ++i) {
    const TitleEntry& e = selection.entries[static_cast<size_t>(i)];
    if (e.SelectFlg != 1) continue;
    switch (e.FieldKind) {
      case kKindText: fields.push_back({e.FieldName, dbText, e.FieldSize}); break;
      case kKindDate: fields.push_back({e.FieldName, dbDate, 0}); break;
      case kKindInteger:
        if (IsCoordinateEntry(e)) {
          const std::vector<std::string> names = CoordinateFieldNames(e.FieldName);
          fields.push_back({names[0], dbInteger, 0});
          fields.push_back({names[1], dbInteger, 0});
          fields.push_back({names[2], dbSingle, 0});
        } else {
          fields.push_back({e.FieldName, dbInteger, 0});
        }
        break;
      case kKindSingle: fields.push_back({e.FieldName, dbSingle, 0}); break;
      default:
        throw Error(EntryLabel(e, i) + "の種別 " + std::to_string(e.FieldKind) +
                    " は 0～3 のいずれでもないため、フィールドを作れません");
    }
  }
  fields.push_back({kSourceField, dbText, 128});
  return fields;
}

bool IsDatabaseMissing(std::string& folder, const std::string& fileName,
                       const Platform& platform) {
  return IsFileMissing(platform, JoinPath(folder, fileName));
}

std::string BackupFileName(const std::string& fileName, std::chrono::system_clock::time_point when,
                           int attempt) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  const std::tm local = LocalTime(t);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string tag = stamp;
  if (attempt > 1) tag += "-" + std::to_string(attempt);
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || dot == 0) return fileName + "." + tag + ".bak";
  return fileName.substr(0, dot) + "." + tag + fileName.substr(dot) + ".bak";
}

std::string DeleteDatabaseFile(std::string& folder, const std::string& fileName,
                               const Platform& platform, std::chrono::system_clock::time_point now) {
  const std::string path = JoinPath(folder, fileName);
  const fs::path native = platform.ToNative(path);
  if (!Exists(native)) {
    // Companions without their database belong to nothing; none of them may
    // end up beside a database made later under this name.
    for (const std::string& suffix : Companions()) {
      if (Exists(WithSuffix(native, suffix))) Remove(WithSuffix(native, suffix), path);
    }
    return {};
  }
  // A name of its own, never an earlier backup's, nor one with companions
  // left beside it.
  fs::path backup;
  for (int attempt = 1;; ++attempt) {
    backup = native.parent_path() / NativePath(BackupFileName(fileName, now, attempt));
    bool taken = Exists(backup);
    for (const std::string& suffix : Companions()) taken = taken || Exists(WithSuffix(backup, suffix));
    if (!taken) break;
  }
  Rename(native, backup, path);
  for (const std::string& suffix : Companions()) {
    if (Exists(WithSuffix(native, suffix))) {
      Rename(WithSuffix(native, suffix), WithSuffix(backup, suffix), path);
    }
  }
  return NativeText(backup.filename());
}

namespace {

// A failure while building names the database the user asked for, not the
// temporary file it is built in.
[[noreturn]] void RethrowNaming(const std::string& tempPath, const std::string& path) {
  try {
    throw;
  } catch (const Error& e) {
    std::string message = e.what();
    for (size_t at = message.find(tempPath); at != std::string::npos;
         at = message.find(tempPath, at + path.size())) {
      message.replace(at, tempPath.size(), path);
    }
    if (const auto* db = dynamic_cast<const DbError*>(&e)) throw DbError(db->kind(), message);
    throw Error(message);
  }
}

// Builds the database laid out from `layout` under a name of its own beside
// `native` and returns that file; nothing of it is left on a failure.
fs::path BuildUnderTemporaryName(const std::string& folder, const std::string& path,
                                 const fs::path& native, const std::vector<Field>& layout,
                                 DbState& db) {
  RemoveStaleTemporaries(native);
  const fs::path tempNative = TemporaryPathFor(native);
  const std::string tempPath = folder + NativeText(tempNative.filename());
  try {
    SlotCloser closer(db);
    db.BoringDb = db.Engine().Workspaces(0).CreateDatabase(tempPath, kDbLocale, db.createFormat);
    TableDef table = db.BoringDb->CreateTableDef(kBoringTable);
    for (const Field& f : layout) table.Fields().Append(table.CreateField(f.Name, f.Type, f.Size));
    db.BoringDb->TableDefs().Append(table);
    closer.Close();
  } catch (...) {
    RemoveQuietly(tempNative);
    for (const std::string& suffix : Companions()) RemoveQuietly(WithSuffix(tempNative, suffix));
    RethrowNaming(tempPath, path);
  }
  return tempNative;
}

// Renames the finished database into place; companions left at that name
// without their database belong to nothing and go first.
void MoveIntoPlace(const fs::path& tempNative, const fs::path& native, const std::string& path) {
  try {
    for (const std::string& suffix : Companions()) {
      if (Exists(WithSuffix(native, suffix))) Remove(WithSuffix(native, suffix), path);
    }
    if (Exists(native)) {
      throw DbError(DbError::Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
    }
    Rename(tempNative, native, path);
  } catch (...) {
    RemoveQuietly(tempNative);
    throw;
  }
}

}  // namespace

void CreateBoringDatabase(std::string& folder, const std::string& fileName,
                          const TitleSelection& selection, DbState& db) {
  const std::string path = JoinPath(folder, fileName);
  DatabaseHold hold(db, path);
  const std::vector<Field> layout = BoringTableLayout(selection);
  const fs::path native = db.platform().ToNative(path);
  if (Exists(native)) {
    throw DbError(DbError::Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
  }
  MoveIntoPlace(BuildUnderTemporaryName(folder, path, native, layout, db), native, path);
}

std::string ReplaceBoringDatabase(std::string& folder, const std::string& fileName,
                                  const TitleSelection& selection, DbState& db) {
  const std::string path = JoinPath(folder, fileName);
  DatabaseHold hold(db, path);
  const std::vector<Field> layout = BoringTableLayout(selection);
  const fs::path native = db.platform().ToNative(path);
  const fs::path tempNative = BuildUnderTemporaryName(folder, path, native, layout, db);
  std::string backup;
  try {
    backup = DeleteDatabaseFile(folder, fileName, db.platform());
  } catch (...) {
    RemoveQuietly(tempNative);
    throw;
  }
  MoveIntoPlace(tempNative, native, path);
  return backup;
}

}  // namespace s2q
