// Code page 932 through Windows' own tables (MultiByteToWideChar and
// WideCharToMultiByte). Windows also maps the single bytes 0x80, 0xA0 and
// 0xFD to 0xFF (to U+0080 and private-use characters); they are refused here
// as on every other platform, so that a file reads the same everywhere.
#include <windows.h>

#include <cstdio>

#include "env/codepage.h"
#include "env/errors.h"

namespace s2q {

namespace {

constexpr UINT kCp932 = 932;

bool IsLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }
bool IsRefusedSingle(unsigned char b) { return b == 0x80 || b == 0xA0 || b >= 0xFD; }

std::wstring Decode(std::string_view bytes, DWORD flags, bool* ok) {
  std::wstring out;
  *ok = true;
  if (bytes.empty()) return out;
  const int n = MultiByteToWideChar(kCp932, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) {
    *ok = false;
    return out;
  }
  out.resize(static_cast<size_t>(n));
  MultiByteToWideChar(kCp932, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string Utf8Of(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The bytes of one character, or "" when code page 932 has none for it.
std::string EncodeOne(const wchar_t* unit, int length) {
  const char32_t cp = length == 2 ? 0x10000 + ((unit[0] - 0xD800) << 10) + (unit[1] - 0xDC00) : unit[0];
  if (cp == 0x80 || (cp >= 0xF8F0 && cp <= 0xF8F3)) return {};
  char out[8];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, unit, length, out, sizeof out, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return {};
  return std::string(out, static_cast<size_t>(n));
}

}  // namespace

std::string DecodeCp932(std::string_view bytes, const std::string& fileName, size_t baseOffset) {
  auto fail = [&](size_t offset, size_t count) -> Error {
    std::string hex;
    for (size_t i = 0; i < count; ++i) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%s0x%02X", i ? " " : "", static_cast<unsigned char>(bytes[offset + i]));
      hex += buf;
    }
    return Error("ファイル " + fileName + " のオフセット " + std::to_string(baseOffset + offset) + " に " +
                 kCp932Name + " として読めないバイト (" + hex + ") があります");
  };
  // The characters' bounds first: a byte that starts none, or a lead byte
  // without its second byte, is refused where it stands.
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (IsRefusedSingle(b)) throw fail(i, 1);
    if (!IsLead(b)) continue;
    if (i + 1 >= bytes.size() || !IsTrail(static_cast<unsigned char>(bytes[i + 1]))) throw fail(i, 1);
    ++i;
  }
  bool ok = false;
  std::wstring wide = Decode(bytes, MB_ERR_INVALID_CHARS, &ok);
  if (!ok) {
    // A pair of bytes that names no character: found one by one.
    for (size_t i = 0; i < bytes.size(); ++i) {
      const size_t length = IsLead(static_cast<unsigned char>(bytes[i])) ? 2 : 1;
      Decode(bytes.substr(i, length), MB_ERR_INVALID_CHARS, &ok);
      if (!ok) throw fail(i, length);
      i += length - 1;
    }
    throw fail(0, 0);
  }
  return Utf8Of(wide);
}

std::string EncodeCp932(std::string_view utf8, const std::string& fileName) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  if (n <= 0) throw Error("ファイル " + fileName + " に書くテキストが正しい UTF-8 ではありません");
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (size_t i = 0; i < wide.size();) {
    const int length = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
    const std::string one = EncodeOne(wide.data() + i, length);
    if (one.empty()) {
      const char32_t cp =
          length == 2 ? 0x10000 + ((wide[i] - 0xD800) << 10) + (wide[i + 1] - 0xDC00) : wide[i];
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
      throw Error("ファイル " + fileName + " に書く文字「" + Utf8Of(wide.substr(i, static_cast<size_t>(length))) +
                  "」(" + code + ")は " + kCp932Name + " で表せません");
    }
    bytes += one;
    i += static_cast<size_t>(length);
  }
  return bytes;
}

}  // namespace s2q
