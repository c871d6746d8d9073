// Reading files on Windows: only regular files, opened in binary mode through
// the wide-character API.
#include <optional>

#include "env/errors.h"
#include "env/fileops.h"
#include "env/native.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

// The facts of the file at `native` (drive form `path`) once it is known to
// be a regular file; nullopt when nothing is there.
std::optional<EntryFacts> RegularFile(const fs::path& native, const std::string& path) {
  EntryFacts facts;
  try {
    facts = EntryBehind(native);
  } catch (const SystemFailure& e) {
    throw Error("ファイル " + path + " を調べられません: " + e.what());
  }
  switch (facts.kind) {
    case EntryFacts::Kind::None: return std::nullopt;
    case EntryFacts::Kind::File: return facts;
    case EntryFacts::Kind::Folder: throw Error("ファイル " + path + " は通常のファイルではなくフォルダです");
    default: throw Error("ファイル " + path + " は通常のファイルではなく" + facts.what + "です");
  }
}

}  // namespace

bool IsFileMissing(const Platform& platform, const std::string& path) {
  const fs::path native = platform.ToNativeFile(path);
  if (!RegularFile(native, path)) {
    // An absent file is missing only where its folder exists.
    if (EntryBehind(native.parent_path()).kind == EntryFacts::Kind::Folder) return true;
    throw Error("ファイル " + path + " のフォルダがありません");
  }
  // Opened once, as a file that cannot be opened is an error, not missing.
  std::string head;
  try {
    head = ReadFileHead(native, 1);
    if (head.empty() && EntryBehind(native).size > 0) ReadWholeFile(native);  // raises the reason
  } catch (const SystemFailure& e) {
    throw Error("ファイル " + path + " を開けません: " + e.what());
  }
  if (!head.empty()) return false;
  try {
    RemoveFile(native);
  } catch (const SystemFailure& e) {
    throw Error("空のファイル " + path + " を削除できません: " + e.what());
  }
  return true;
}

std::string ReadFileBytes(const Platform& platform, const std::string& path) {
  const fs::path native = platform.ToNativeFile(path);
  if (!RegularFile(native, path)) throw Error("ファイル " + path + " を開けません: ファイルまたはフォルダがありません");
  try {
    return ReadWholeFile(native);
  } catch (const SystemFailure& e) {
    throw Error("ファイル " + path + " を開けません: " + e.what());
  }
}

}  // namespace s2q
