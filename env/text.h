#pragma once
#include <string>
#include <string_view>

namespace s2q {

// The text without its leading and trailing spaces (" " only, as the
// platform's own trimming of paths and settings).
std::string TrimSpaces(std::string_view text);

}  // namespace s2q
