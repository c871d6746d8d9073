#include "env/errors.h"

#include <cerrno>

#include "env/codepage.h"

namespace s2q {

Error::Error(const std::string& message) : std::runtime_error(EscapeInvalidUtf8(message)) {}

std::string ErrnoText(int err) {
  switch (err) {
    case ENOENT: return "ファイルまたはフォルダがありません";
    case EACCES:
    case EPERM: return "アクセスが拒否されました";
    case EEXIST: return "同じ名前のものが既にあります";
    case EISDIR: return "フォルダです";
    case ENOTDIR: return "途中の名前がフォルダではありません";
    case ENOTEMPTY: return "フォルダが空ではありません";
    case ENOSPC: return "ディスクに空きがありません";
    case EFBIG: return "ファイルが大きすぎます";
    case EROFS: return "読み取り専用のディスクです";
    case ENAMETOOLONG: return "名前が長すぎます";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます";
    case EBUSY: return "使用中です";
    case EIO: return "入出力エラーが起きました";
    case ELOOP: return "シンボリックリンクが多すぎます";
    default: return {};
  }
}

}  // namespace s2q
