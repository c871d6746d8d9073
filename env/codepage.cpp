#include "env/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "env/errors.h"

namespace s2q {

namespace {

const char kCodePageName[] = "Shift_JIS (コードページ 932)";

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Leaves the error set for every character that cannot be encoded. ICU's own
// stop callback lets unmappable default-ignorable characters (U+200B, U+00AD,
// U+FEFF and the like) through, which would drop them from the file unsaid.
void StopAtAnyCharacter(const void*, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
                        UConverterCallbackReason, UErrorCode*) {}

// A windows-31j converter that stops at the first byte or character it
// cannot convert instead of substituting or skipping it.
Converter OpenConverter() {
  UErrorCode status = U_ZERO_ERROR;
  Converter conv(ucnv_open("windows-31j", &status));
  if (U_FAILURE(status)) {
    throw Error(std::string("文字コード変換 (windows-31j) を開けません: ") + u_errorName(status));
  }
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(conv.get(), StopAtAnyCharacter, nullptr, nullptr, nullptr, &status);
  ucnv_setFallback(conv.get(), false);
  if (U_FAILURE(status)) {
    throw Error(std::string("文字コード変換 (windows-31j) を設定できません: ") +
                u_errorName(status));
  }
  return conv;
}

// ICU's windows-31j table follows IBM in rotating three control codes
// (0x1A, 0x1C, 0x7F); code page 932 keeps them as they are. None of these
// bytes can be the second byte of a double-byte character, so they are
// swapped back character by character after decoding and before encoding.
UChar FromIbmControl(UChar c) {
  switch (c) {
    case 0x1C: return 0x1A;
    case 0x7F: return 0x1C;
    case 0x1A: return 0x7F;
    default: return c;
  }
}
UChar ToIbmControl(UChar c) {
  switch (c) {
    case 0x1A: return 0x1C;
    case 0x1C: return 0x7F;
    case 0x7F: return 0x1A;
    default: return c;
  }
}

std::string HexBytes(const char* bytes, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%s0x%02X", i ? " " : "", static_cast<unsigned char>(bytes[i]));
    out += buf;
  }
  return out;
}

std::string Utf16ToUtf8(const UChar* text, int32_t length) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strToUTF8(nullptr, 0, &needed, text, length, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    throw Error(std::string("UTF-8 への変換に失敗しました: ") + u_errorName(status));
  }
  std::string out(static_cast<size_t>(needed), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), needed, nullptr, text, length, &status);
  if (U_FAILURE(status)) {
    throw Error(std::string("UTF-8 への変換に失敗しました: ") + u_errorName(status));
  }
  return out;
}

}  // namespace

std::string DecodeCp932(std::string_view bytes, const std::string& fileName, size_t baseOffset) {
  if (bytes.empty()) return {};
  Converter conv = OpenConverter();
  // Every code page 932 character is one or two bytes and one UTF-16 unit.
  std::vector<UChar> target(bytes.size() + 1);
  const char* source = bytes.data();
  const char* sourceEnd = bytes.data() + bytes.size();
  UChar* out = target.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_toUnicode(conv.get(), &out, target.data() + target.size(), &source, sourceEnd, nullptr,
                 true, &status);
  if (U_FAILURE(status)) {
    char invalid[8];
    int8_t invalidLength = sizeof invalid;
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_getInvalidChars(conv.get(), invalid, &invalidLength, &ignored);
    if (U_FAILURE(ignored)) invalidLength = 0;
    size_t offset = static_cast<size_t>(source - bytes.data()) - static_cast<size_t>(invalidLength);
    throw Error("ファイル " + fileName + " のオフセット " + std::to_string(baseOffset + offset) +
                " に " + kCodePageName + " として読めないバイト (" +
                HexBytes(bytes.data() + offset, static_cast<size_t>(invalidLength)) + ") があります");
  }
  for (UChar* p = target.data(); p != out; ++p) *p = FromIbmControl(*p);
  return Utf16ToUtf8(target.data(), static_cast<int32_t>(out - target.data()));
}

std::string EncodeCp932(std::string_view utf8, const std::string& fileName) {
  if (utf8.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    throw Error("ファイル " + fileName + " に書くテキストが正しい UTF-8 ではありません");
  }
  std::vector<UChar> text(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  u_strFromUTF8(text.data(), length, nullptr, utf8.data(), static_cast<int32_t>(utf8.size()),
                &status);
  if (U_FAILURE(status)) {
    throw Error("ファイル " + fileName + " に書くテキストが正しい UTF-8 ではありません");
  }

  for (UChar& c : text) c = ToIbmControl(c);

  Converter conv = OpenConverter();
  std::string bytes(static_cast<size_t>(length) * 2 + 2, '\0');
  const UChar* source = text.data();
  char* out = bytes.data();
  ucnv_fromUnicode(conv.get(), &out, bytes.data() + bytes.size(), &source,
                   text.data() + text.size(), nullptr, true, &status);
  if (U_FAILURE(status)) {
    UChar invalid[4];
    int8_t invalidLength = 4;
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_getInvalidUChars(conv.get(), invalid, &invalidLength, &ignored);
    if (U_FAILURE(ignored)) invalidLength = 0;
    std::string what;
    if (invalidLength > 0) {
      UChar32 c = invalid[0];
      if (U16_IS_LEAD(invalid[0]) && invalidLength > 1) {
        c = U16_GET_SUPPLEMENTARY(invalid[0], invalid[1]);
      }
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      what = "文字「" + Utf16ToUtf8(invalid, invalidLength) + "」(" + code + ")";
    } else {
      what = "文字";
    }
    throw Error("ファイル " + fileName + " に書く" + what + "は " + kCodePageName +
                " で表せません");
  }
  bytes.resize(static_cast<size_t>(out - bytes.data()));
  return bytes;
}

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
  return "名前 " + EscapeNonAscii(bytes) + " は UTF-8 でも " + kCodePageName + " でもないため扱えません";
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
