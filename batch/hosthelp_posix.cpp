// The parts of the batch command's help that tell how this platform names
// folders and where it keeps the settings.
#include "batch/batchcommand.h"

namespace s2q {

std::string HostPathHelp() {
  return R"(パス:
  フォルダはドライブ名付きで指定します (例: C:\data\holes)。シェルでは "\" が
  消えないように ' で囲みます (例: 'C:\data\holes')。"/" で始まるフォルダ
  (例: /home/user/holes) はドライブ名付きの形に直して使います。この環境では
  ドライブ C: が "/" です。

設定:
  PatdatV5.ini   $XDG_CONFIG_HOME (未設定のときは ~/.config) にある設定ファイル。
                 2 行目が PATDAT フォルダ (コード表 L1.TXT, L2.TXT, L3.TXT の
                 フォルダ) です。ないときは起動しません。
  TitleDb.TXT    このプログラムと同じフォルダにある表題設定ファイル。
                 フィールドにできる表題項目と前回の変換先フォルダを記録します。

)";
}

// The text as a POSIX shell reads it back: in single quotes, so that the
// backslashes of a drive-form path survive being pasted into a command line.
std::string HostQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string HostFormatHelp() { return ""; }

std::string HostExampleHelp() {
  return R"(例:
  stolvik2quarnix-batch create --dest 'C:\data\map' --field 事業名 --field 調査会社
  stolvik2quarnix-batch create --dest 'C:\data\map' --without 調査会社
  stolvik2quarnix-batch convert --dest 'C:\data\map' --source 'C:\data\holes' --all
  stolvik2quarnix-batch convert --dest /data/map --source /data/holes BH-0001 BH-0002
  stolvik2quarnix-batch check --dest 'C:\data\map'
)";
}

}  // namespace s2q
