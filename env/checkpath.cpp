#include "env/checkpath.h"

#include <cstddef>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/platform.h"
#include "env/ui.h"
#include "env/text.h"

namespace s2q {

namespace {

const char kDriveMessage[] =
    "規定値のドライブ名が正しくありません。ドライブ名は１文字のアルファベットと \":\" "
    "でなければいけません。  例 \"C:\", \"D:\"...";

}  // namespace

bool CheckPath(std::string& path, Platform& platform, UserInterface& ui) {
  path = TrimSpaces(path);

  // Characters are counted as characters, not bytes, so that a first
  // character outside ASCII is one character like any other; a byte that
  // is no part of a UTF-8 character is a character of its own, so "C\x80:"
  // has no colon second.
  const size_t second = path.empty() ? 0 : Utf8CharLength(path, 0);
  if (second >= path.size() || path[second] != ':') {
    ui.MsgBox(kDriveMessage, MsgIcon::Information);
    return false;
  }
  // Bytes that are no UTF-8 name no folder: the caller reports the path.
  if (!IsValidUtf8(path)) return false;
  if (path.find('*') != std::string::npos) return false;
  if (path.find('?') != std::string::npos) return false;

  const size_t third = second + 1;
  if (third < path.size() && path[third] != '\\') {
    path.insert(path.begin() + static_cast<std::ptrdiff_t>(third), '\\');
  }

  try {
    platform.ChangeDrive(path);
  } catch (const Error&) {
    return false;  // no such drive, or not ready: the caller reports the path
  }

  if (path.back() != '\\') path += '\\';
  if (CharCount(path) == 3) return true;  // a drive root such as "C:\"
  return path.find("\\\\") == std::string::npos;
}

}  // namespace s2q
