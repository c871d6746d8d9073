#pragma once
#include <string>
#include <string_view>

namespace s2q {

// The text without its leading and trailing spaces (" " only, as the
// platform's own trimming of paths and settings).
std::string TrimSpaces(std::string_view text);
// The text without its leading and trailing blanks (spaces and tabs), as the
// statements of the database engine are read.
std::string_view TrimBlanks(std::string_view text);

// Whether two names are the same when the letters A to Z are taken without
// their case, as the platform compares file and folder names. Every other
// character, full-width letters included, must match exactly.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Whether the text is a decimal number and nothing else:
// [+-] digits [. digits] [e [+-] digits] (no blanks, no "inf", no hex).
bool IsDecimalNumber(std::string_view text);
// The value of a decimal number text, read in the C locale whatever the
// program's locale says of decimal signs, and rounded as strtod rounds: a
// number beyond the double range is infinite when too large and zero when too
// small. An empty text is 0.
double DecimalValue(std::string_view text);

}  // namespace s2q
