// The parts of the batch command's help that tell how Windows names folders
// and where the settings are.
#include "batch/batchcommand.h"

namespace s2q {

std::string HostPathHelp() {
  return R"(パス:
  フォルダはドライブ名付きで指定します (例: C:\data\holes)。空白を含むフォルダは
  " で囲みます (例: "C:\地図 データ")。"C:data" のようにドライブ名のあとに "\" が
  ないときは、そのドライブの現在のフォルダからの名前です。

設定:
  PatdatV5.ini   Windows のシステムフォルダ (64 ビット版 Windows では
                 C:\Windows\SysWOW64、32 ビット版では C:\Windows\System32) に
                 ある設定ファイル。2 行目が PATDAT フォルダ (コード表 L1.TXT,
                 L2.TXT, L3.TXT のフォルダ) です。ないときは起動しません。
  TitleDb.TXT    このプログラムと同じフォルダにある表題設定ファイル。
                 フィールドにできる表題項目と前回の変換先フォルダを記録します。

)";
}

// As cmd.exe reads it back: in double quotes when it holds a blank, where a
// closing "\" is doubled so that it does not escape the quote.
std::string HostQuoted(const std::string& text) {
  if (text.find_first_of(" \t&()^") == std::string::npos) return text;
  return "\"" + text + (!text.empty() && text.back() == '\\' ? "\\" : "") + "\"";
}

std::string HostFormatHelp() {
  return "                      Windows 版は jet だけを作ります (sqlite は使えません)。\n";
}

std::string HostExampleHelp() {
  return R"(例:
  stolvik2quarnix-batch create --dest C:\data\map --field 事業名 --field 調査会社
  stolvik2quarnix-batch create --dest C:\data\map --without 調査会社
  stolvik2quarnix-batch convert --dest C:\data\map --source C:\data\holes --all
  stolvik2quarnix-batch convert --dest C:\data\map --source C:\data\holes BH-0001 BH-0002
  stolvik2quarnix-batch check --dest C:\data\map
)";
}

}  // namespace s2q
