#pragma once
// The title table: the title items of the hole being converted, 6 rows (title
// files) by 42 items.
#include <array>
#include <string>
#include <vector>

namespace s2q {

class Platform;

inline constexpr int kTitleRows = 6;
inline constexpr int kTitleItems = 42;

struct TitleTable {
  std::array<std::array<std::string, kTitleItems>, kTitleRows> cells{};
};

// "TITL01.TXT", "TITL02.TXT", "TITL21.TXT", "G102.TXT".
std::vector<std::string> BuildTitleFileNames();

// Refills one row from a title file: the row is emptied, then filled with the
// items in file order; items after the 42nd are ignored. A missing or empty
// file sets all 42 items to " ".
void ReadTitleFile(TitleTable& table, const Platform& platform,
                   const std::string& path, int row);
// Refills rows 0 and 1 from the hole's first two title files. `holePath`
// ends with "\".
void ReadHoleTitles(TitleTable& table, const std::vector<std::string>& titleFileNames,
                    const Platform& platform, const std::string& holePath);

}  // namespace s2q
