#include "targetdb/boringdb.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "env/errors.h"
#include "env/fileops.h"
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

fs::path WithSuffix(const fs::path& path, const std::string& suffix) {
  return fs::path(path.string() + suffix);
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

void Rename(const fs::path& from, const fs::path& to, const std::string& path) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) {
    throw Error("データベース「" + path + "」のファイル " + from.filename().string() + " を " +
                to.filename().string() + " に名前を変えられません: " + ec.message());
  }
}

void Remove(const fs::path& file, const std::string& path) {
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) {
    throw Error("データベース「" + path + "」の古いファイル " + file.filename().string() +
                " を削除できません: " + ec.message());
  }
}

void RemoveQuietly(const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
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
        throw Error("表題設定の項目 " + std::to_string(i + 1) + "「" + e.FieldName + "」の種別 " +
                    std::to_string(e.FieldKind) + " は 0～3 のいずれでもないため、フィールドを作れません");
    }
  }
  fields.push_back({kSourceField, dbText, 128});
  return fields;
}

bool IsDatabaseMissing(std::string& folder, const std::string& fileName,
                       const Platform& platform) {
  return IsFileMissing(platform, JoinPath(folder, fileName));
}

void DeleteDatabaseFile(std::string& folder, const std::string& fileName,
                        const Platform& platform) {
  const std::string path = JoinPath(folder, fileName);
  const fs::path native = platform.ToNative(path);
  if (!Exists(native)) {
    // Companions without their database belong to nothing; an older backup
    // stays as it is, and none of them may end up beside it.
    for (const std::string& suffix : Companions()) {
      if (Exists(WithSuffix(native, suffix))) Remove(WithSuffix(native, suffix), path);
    }
    return;
  }
  const fs::path backup = WithSuffix(native, ".bak");
  // The companions of an older backup go first: beside the new backup they
  // would be read as part of it.
  for (const std::string& suffix : Companions()) {
    if (Exists(WithSuffix(backup, suffix))) Remove(WithSuffix(backup, suffix), path);
  }
  Rename(native, backup, path);
  for (const std::string& suffix : Companions()) {
    if (Exists(WithSuffix(native, suffix))) {
      Rename(WithSuffix(native, suffix), WithSuffix(backup, suffix), path);
    }
  }
}

namespace {

// Builds the database laid out from `layout` under a name of its own beside
// `native` and returns that file; nothing of it is left on a failure.
fs::path BuildUnderTemporaryName(const std::string& folder, const std::string& fileName,
                                 const fs::path& native,
                                 const std::vector<Field>& layout, DbState& db) {
  std::string tempName;
  for (int n = 0;; ++n) {
    tempName = fileName + "." + std::to_string(::getpid()) + "-" + std::to_string(n) + ".tmp";
    if (!Exists(native.parent_path() / tempName)) break;
  }
  const fs::path tempNative = native.parent_path() / tempName;
  try {
    SlotCloser closer(db);
    db.BoringDb = db.Engine().Workspaces(0).CreateDatabase(folder + tempName, kDbLocale,
                                                           db.createFormat);
    TableDef table = db.BoringDb->CreateTableDef(kBoringTable);
    for (const Field& f : layout) table.Fields().Append(table.CreateField(f.Name, f.Type, f.Size));
    db.BoringDb->TableDefs().Append(table);
    closer.Close();
  } catch (...) {
    RemoveQuietly(tempNative);
    for (const std::string& suffix : Companions()) RemoveQuietly(WithSuffix(tempNative, suffix));
    throw;
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
  const std::vector<Field> layout = BoringTableLayout(selection);
  const fs::path native = db.platform().ToNative(path);
  if (Exists(native)) {
    throw DbError(DbError::Kind::Other, "データベース「" + path + "」は既に存在するため作成できません");
  }
  MoveIntoPlace(BuildUnderTemporaryName(folder, fileName, native, layout, db), native, path);
}

void ReplaceBoringDatabase(std::string& folder, const std::string& fileName,
                           const TitleSelection& selection, DbState& db) {
  const std::string path = JoinPath(folder, fileName);
  const std::vector<Field> layout = BoringTableLayout(selection);
  const fs::path native = db.platform().ToNative(path);
  const fs::path tempNative = BuildUnderTemporaryName(folder, fileName, native, layout, db);
  try {
    DeleteDatabaseFile(folder, fileName, db.platform());
  } catch (...) {
    RemoveQuietly(tempNative);
    throw;
  }
  MoveIntoPlace(tempNative, native, path);
}

}  // namespace s2q
