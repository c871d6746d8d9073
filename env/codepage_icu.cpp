// Code page 932 through ICU's "windows-31j" converter.
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "env/codepage.h"
#include "env/errors.h"

namespace s2q {

namespace {

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
                " に " + kCp932Name + " として読めないバイト (" +
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
    throw Error("ファイル " + fileName + " に書く" + what + "は " + kCp932Name +
                " で表せません");
  }
  bytes.resize(static_cast<size_t>(out - bytes.data()));
  return bytes;
}

}  // namespace s2q
