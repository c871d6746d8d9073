#pragma once
// Code page 932 (Windows Shift_JIS, with the NEC and IBM extensions): through
// ICU's "windows-31j" converter on POSIX systems (codepage_icu.cpp), through
// the system's own code page 932 on Windows (codepage_windows.cpp). Text
// inside the system is UTF-8.
#include <string>
#include <string_view>

namespace s2q {

// How the code page is named in messages.
inline constexpr char kCp932Name[] = "Shift_JIS (コードページ 932)";

// Decodes code page 932 bytes. Bytes that are not valid code page 932 raise an
// Error naming `fileName` and the byte offset (counted from `baseOffset`).
std::string DecodeCp932(std::string_view bytes, const std::string& fileName,
                        size_t baseOffset = 0);

// Encodes UTF-8 text. A character that code page 932 cannot hold raises an
// Error naming `fileName` and the character; never a substitute byte.
std::string EncodeCp932(std::string_view utf8, const std::string& fileName);

// Number of characters (code points) of a UTF-8 text.
size_t CharCount(std::string_view utf8);

// Byte length of the character that starts at `pos`: the length of a
// well-formed UTF-8 sequence there, or 1 for a byte that starts none (a stray
// continuation byte, a cut or over-long sequence), which so counts as a
// character of its own.
size_t Utf8CharLength(std::string_view text, size_t pos);
// Appends the UTF-8 bytes of the code point `cp` (up to U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);
bool IsValidUtf8(std::string_view text);
// The text with every byte that is not part of a well-formed UTF-8 sequence
// written as "\xNN": a text that can always be shown.
std::string EscapeInvalidUtf8(std::string_view text);
// The text with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD.
std::string ReplaceInvalidUtf8(std::string_view text);

// The bytes with every byte outside ASCII written as "\xNN": how a name is
// shown whose bytes are no text.
std::string EscapeNonAscii(std::string_view bytes);

// The text of a file or folder name as it lies on disk: a valid UTF-8 name as
// it is, any other name decoded as code page 932 (names unpacked from Windows
// archives keep their code page 932 bytes). A name that is neither raises an
// Error naming it with its bytes escaped.
std::string DecodeNativeName(std::string_view bytes);
// As DecodeNativeName, but false for a name that is neither.
bool TryDecodeNativeName(std::string_view bytes, std::string& text);
// The reason DecodeNativeName gives for such a name.
std::string UndecodableNameText(std::string_view bytes);

}  // namespace s2q
