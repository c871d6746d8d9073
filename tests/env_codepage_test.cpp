#include "env/codepage.h"

#include <gtest/gtest.h>

#include "env/errors.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::ErrorOf;

TEST(CodePage, DecodesHalfWidthKatakanaAndNecSpecials) {
  // "ｱｲｳ" half-width, "①" and "㈱" from the NEC rows, "表" whose second byte is
  // 0x5C, then backslash and tilde that stay ASCII.
  std::string bytes = "\xB1\xB2\xB3\x87\x40\x87\x8A\x95\x5C\\~";
  EXPECT_EQ(DecodeCp932(bytes, "T.TXT"), "ｱｲｳ①㈱表\\~");
  EXPECT_EQ(EncodeCp932("ｱｲｳ①㈱表\\~", "T.TXT"), bytes);
}

TEST(CodePage, RoundTripsTextAndKeepsControlCodes) {
  std::string text = "ボーリング,\"孔口標高\" ｺｳｺｳ ⅰ～ 纊 \x1A\x1C\x7F end";
  std::string bytes = EncodeCp932(text, "T.TXT");
  EXPECT_NE(bytes.find("\x1A\x1C\x7F"), std::string::npos);
  EXPECT_EQ(DecodeCp932(bytes, "T.TXT"), text);
}

TEST(CodePage, InvalidBytesNameFileAndOffset) {
  std::string msg = ErrorOf([] { DecodeCp932("abc\x85\x40xyz", "TITL01.TXT", 100); });
  EXPECT_NE(msg.find("TITL01.TXT"), std::string::npos) << msg;
  EXPECT_NE(msg.find("103"), std::string::npos) << msg;

  msg = ErrorOf([] { DecodeCp932("ab\x80", "X.TXT"); });
  EXPECT_NE(msg.find(" 2 "), std::string::npos) << msg;
  // A lead byte cut off by the end of the text.
  msg = ErrorOf([] { DecodeCp932("\x82\xA0\x82", "X.TXT"); });
  EXPECT_NE(msg.find(" 2 "), std::string::npos) << msg;
  msg = ErrorOf([] { DecodeCp932("\xFD", "X.TXT"); });
  EXPECT_NE(msg.find("X.TXT"), std::string::npos) << msg;
}

TEST(CodePage, UnencodableTextNamesFileAndCharacter) {
  std::string msg = ErrorOf([] { EncodeCp932("C:\\波〜線", "TitleDb.TXT"); });
  EXPECT_NE(msg.find("TitleDb.TXT"), std::string::npos) << msg;
  EXPECT_NE(msg.find("〜"), std::string::npos) << msg;
  EXPECT_NE(msg.find("U+301C"), std::string::npos) << msg;

  msg = ErrorOf([] { EncodeCp932("a😀", "T.TXT"); });
  EXPECT_NE(msg.find("U+1F600"), std::string::npos) << msg;
  EXPECT_THROW(EncodeCp932("caf\xC3", "T.TXT"), Error);  // cut UTF-8

  // Invisible characters are refused like any other, never dropped: zero
  // width space, soft hyphen, byte order mark, combining grapheme joiner.
  const std::pair<const char*, const char*> invisible[] = {
      {"\u200B", "U+200B"}, {"\u00AD", "U+00AD"}, {"\uFEFF", "U+FEFF"}, {"\u034F", "U+034F"}};
  for (const auto& [text, code] : invisible) {
    msg = ErrorOf([&] { EncodeCp932(std::string("C:\\a") + text + "b", "TitleDb.TXT"); });
    EXPECT_NE(msg.find(code), std::string::npos) << msg;
  }
}

TEST(CodePage, CharCountCountsCodePoints) {
  EXPECT_EQ(CharCount(""), 0u);
  EXPECT_EQ(CharCount("C:"), 2u);
  EXPECT_EQ(CharCount("aあ①ｱ😀"), 5u);
}

TEST(CodePage, NativeNamesAreUtf8OrElseCodePage932) {
  EXPECT_EQ(DecodeNativeName("BH-テスト"), "BH-テスト");
  EXPECT_EQ(DecodeNativeName("BH-\x83\x65\x83\x58\x83\x67"), "BH-テスト");
  EXPECT_EQ(DecodeNativeName("\x95\x5C"), "表");  // second byte 0x5C stays in the character
  std::string msg = ErrorOf([] { DecodeNativeName("BH-\x85\x40\xFF"); });
  EXPECT_NE(msg.find("BH-\\x85@\\xFF"), std::string::npos) << msg;

  // Well-formed UTF-8 only: over-long forms, surrogates, cut and stray bytes
  // are not.
  EXPECT_TRUE(IsValidUtf8("aあ😀"));
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE3\x81", "\x80", "\xF4\x90\x80\x80"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << EscapeNonAscii(bad);
  }
  EXPECT_EQ(Utf8CharLength("C\x80:", 0), 1u);
  EXPECT_EQ(Utf8CharLength("\xE3\x81\x82:", 0), 3u);
  EXPECT_EQ(Utf8CharLength("\xE3\x81:", 0), 1u);
  EXPECT_EQ(EscapeInvalidUtf8("あ\x83\x65い\xE3\x81"), "あ\\x83eい\\xE3\\x81");
  // No message of an Error holds invalid UTF-8.
  EXPECT_STREQ(Error("ファイル C:\\\x83\x65.TXT").what(), "ファイル C:\\\\x83e.TXT");
}

}  // namespace
}  // namespace s2q
