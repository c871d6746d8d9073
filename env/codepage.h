#pragma once
// Code page 932 (Windows Shift_JIS, with the NEC and IBM extensions) through
// ICU's "windows-31j" converter. Text inside the system is UTF-8.
#include <string>
#include <string_view>

namespace s2q {

// Decodes code page 932 bytes. Bytes that are not valid code page 932 raise an
// Error naming `fileName` and the byte offset (counted from `baseOffset`).
std::string DecodeCp932(std::string_view bytes, const std::string& fileName,
                        size_t baseOffset = 0);

// Encodes UTF-8 text. A character that code page 932 cannot hold raises an
// Error naming `fileName` and the character; never a substitute byte.
std::string EncodeCp932(std::string_view utf8, const std::string& fileName);

// Number of characters (code points) of a UTF-8 text.
size_t CharCount(std::string_view utf8);

}  // namespace s2q
