#include "env/codepage.h"

#include <cstdio>

#include "env/errors.h"

namespace s2q {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t Utf8CharLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // over-long
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // over-long
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 1;
  }
  if (pos + length > text.size()) return 1;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 1;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 1;
  }
  return length;
}

namespace {

bool StartsValidCharacter(std::string_view text, size_t pos) {
  return static_cast<unsigned char>(text[pos]) < 0x80 || Utf8CharLength(text, pos) > 1;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size(); i += Utf8CharLength(text, i)) {
    if (!StartsValidCharacter(text, i)) return false;
  }
  return true;
}

namespace {

// The text with each byte that is not part of a well-formed UTF-8 sequence
// given to `invalid`, which appends what stands for it.
template <typename Invalid>
std::string MendUtf8(std::string_view text, Invalid invalid) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8CharLength(text, i);
    if (StartsValidCharacter(text, i)) {
      out.append(text.substr(i, length));
    } else {
      invalid(out, static_cast<unsigned char>(text[i]));
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string EscapeInvalidUtf8(std::string_view text) {
  return MendUtf8(text, [](std::string& out, unsigned char byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", byte);
    out += buf;
  });
}

std::string ReplaceInvalidUtf8(std::string_view text) {
  return MendUtf8(text, [](std::string& out, unsigned char) { out += "\xEF\xBF\xBD"; });
}

std::string EscapeNonAscii(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
      out += buf;
    }
  }
  return out;
}

bool TryDecodeNativeName(std::string_view bytes, std::string& text) {
  if (IsValidUtf8(bytes)) {
    text.assign(bytes);
    return true;
  }
  try {
    text = DecodeCp932(bytes, {});
  } catch (const Error&) {
    return false;
  }
  return true;
}

std::string UndecodableNameText(std::string_view bytes) {
  return "名前 " + EscapeNonAscii(bytes) + " は UTF-8 でも " + kCp932Name + " でもないため扱えません";
}

std::string DecodeNativeName(std::string_view bytes) {
  std::string text;
  if (!TryDecodeNativeName(bytes, text)) throw Error(UndecodableNameText(bytes));
  return text;
}

size_t CharCount(std::string_view utf8) {
  size_t count = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace s2q
