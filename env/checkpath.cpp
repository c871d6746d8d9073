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

// Byte length of the UTF-8 character that starts at `pos`. An ASCII byte is
// one character even when stray continuation bytes follow it (text given on
// the command line need not be UTF-8).
size_t CharLength(const std::string& text, size_t pos) {
  if (static_cast<unsigned char>(text[pos]) < 0x80) return 1;
  size_t end = pos + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return end - pos;
}

}  // namespace

bool CheckPath(std::string& path, Platform& platform, UserInterface& ui) {
  path = TrimSpaces(path);

  // Characters are counted as characters, not bytes, so that a first
  // character outside ASCII is one character like any other.
  const size_t second = path.empty() ? 0 : CharLength(path, 0);
  if (second >= path.size() || path[second] != ':') {
    ui.MsgBox(kDriveMessage, MsgIcon::Information);
    return false;
  }
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
