#pragma once
// Example data of the boring-log product: hole folders whose title files
// follow the layout of docs/title-files.md (the items the shipped TitleDb.TXT
// reads), the PATDAT folder with the three code lists, and the PatdatV5.ini
// that names it. Everything is written in code page 932 with CR LF line ends.
// The values are pseudo-random but fixed by the hole's index and the seed.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace s2q {

// One item of a title file: its text (UTF-8) and whether it stands in double
// quotes. A blank item is an empty text.
struct ExampleItem {
  std::string text;
  bool quoted = false;
};
using ExampleLines = std::vector<std::vector<ExampleItem>>;

struct ExampleHole {
  std::string folderName;
  ExampleLines titl01;
  std::optional<ExampleLines> titl02;  // none: the hole has no TITL02.TXT
};

// Hole `index` (from 0) of the example made with `seed`; the same whatever the
// number of holes written. Every tenth hole (index 7, 17, ...) has no
// TITL02.TXT.
ExampleHole MakeExampleHole(int index, uint64_t seed = 1);

// The item texts of a file in file order, as a reader gives them back.
std::vector<std::string> ExampleItemTexts(const ExampleLines& lines);

// The bytes of a title file: items of a line separated by commas, texts in
// double quotes, code page 932, CR LF.
std::string ExampleFileBytes(const ExampleLines& lines);

// Writes holes 0 to count - 1 as sub-folders of `folder` (made when missing).
// Throws Error naming the file that cannot be written.
void WriteExampleHoles(const std::filesystem::path& folder, int count, uint64_t seed = 1);

// The bytes of the code list "L1.TXT", "L2.TXT" or "L3.TXT"; throws Error for
// any other name.
std::string ExampleCodeListBytes(const std::string& fileName);
// Writes the three code lists into `folder` (made when missing).
void WriteExampleCodeLists(const std::filesystem::path& folder);

// Writes PatdatV5.ini into `configFolder` (made when missing): a section line,
// then the PATDAT folder `patdatDriveForm` in double quotes; a closing "\" is
// added when it lacks one.
void WritePatdatIni(const std::filesystem::path& configFolder, std::string patdatDriveForm);

}  // namespace s2q
