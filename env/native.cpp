// The conversions between texts and native paths, the same on every platform.
#include "env/native.h"

#include "env/codepage.h"

namespace s2q {

namespace fs = std::filesystem;

fs::path NativePath(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string NativeText(const fs::path& path) {
  try {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
  } catch (const std::exception&) {
    // A Windows name with a lone surrogate is no text: shown escaped.
    return EscapeNonAscii(path.string());
  }
}

fs::path WithSuffix(const fs::path& path, std::string_view asciiSuffix) {
  fs::path out = path;
  out += NativePath(asciiSuffix);
  return out;
}

}  // namespace s2q
