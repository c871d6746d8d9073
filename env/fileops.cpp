#include "env/fileops.h"

#include <random>

#include "env/errors.h"
#include "env/native.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

void AddBackslash(std::string& folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
}

std::string JoinPath(std::string& folder, const std::string& name) {
  AddBackslash(folder);
  return folder + name;
}

void ReplaceFileAtomically(const Platform& platform, const std::string& path,
                           std::string_view bytes) {
  const fs::path target = platform.ToNativeFile(path);
  auto fail = [&](const std::string& why) -> Error {
    return Error("ファイル " + path + " を書けません: " + why);
  };
  try {
    if (EntryBehind(target).kind == EntryFacts::Kind::Folder) throw fail("同じ名前のフォルダがあります");
    // A temporary file of a fresh name beside the target.
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path temp = WithSuffix(target.parent_path() / NativePath("." + NativeText(target.filename())),
                                       ".tmp" + std::to_string(rd()));
      if (EntryAt(temp).kind != EntryFacts::Kind::None) continue;
      WriteNewFile(temp, bytes, target);
      try {
        MoveReplacing(temp, target);
      } catch (const SystemFailure&) {
        RemoveFile(temp);
        throw;
      }
      return;
    }
  } catch (const SystemFailure& e) {
    throw fail(e.what());
  }
  throw fail("一時ファイルを作れません");
}

}  // namespace s2q
