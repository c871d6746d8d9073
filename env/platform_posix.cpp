// The platform facts of a POSIX system: one drive C: rooted at "/".
#include <cstdlib>

#include "env/errors.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

PlatformFacts HostPlatformFacts() {
  PlatformFacts facts;
  facts.drives['C'] = "/";
  // A relative $XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && fs::path(xdg).is_absolute()) {
    facts.systemFolder = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    facts.systemFolder = fs::path(home) / ".config";
  } else {
    throw Error("システムフォルダが決まりません: 環境変数 XDG_CONFIG_HOME も HOME も設定されていません");
  }
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw Error("実行ファイルの場所 (/proc/self/exe) を読めません: " + ErrorCodeText(ec));
  facts.programFolder = exe.parent_path();
  facts.startDrive = 'C';
  return facts;
}

}  // namespace s2q
