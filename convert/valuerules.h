#pragma once
// How the value of a title selection entry is written into a statement: which
// cells of the title table it takes, what replaces a blank cell, which values
// are quoted, and the three fields translated through the code lists of the
// PATDAT folder.
#include <string>
#include <vector>

#include "convert/titletable.h"
#include "targetdb/titledb.h"

namespace s2q {

class Platform;

// "L1.TXT", "L3.TXT", "L2.TXT": the lists of "孔口標高", "孔内水位" and
// "ハンマ落下用具", in that order.
std::vector<std::string> BuildCodeListFiles();

// The numeric value of a text: its leading number after every blank, tab and
// line feed has been removed; 0 when it has none.
double NumericValue(const std::string& text);

// The text paired with `codeValue` in the code list `fileName` of
// `patdatFolder`, comparing the codes as numbers; the first matching pair
// wins. " " when the file is missing or empty, or when no code matches. The
// file is read anew on every call; a file that cannot be read raises an Error.
std::string LookupCode(const std::string& codeValue, const std::string& fileName,
                       const std::string& patdatFolder, const Platform& platform);

// Blank: empty once leading and trailing spaces are removed. The full-width
// space U+3000 counts as a space here: a cell holding only full-width spaces
// looks empty to the user and is replaced like an empty one. A value that is
// not blank is used as it stands, spaces included.
bool IsBlank(const std::string& text);

// The text between single quotes, with each quote inside it doubled.
std::string QuoteText(const std::string& text);


// What the value rules read besides the entry itself.
struct ValueSources {
  const TitleTable& table;
  const std::vector<std::string>& codeListFiles;  // as BuildCodeListFiles
  const std::string& patdatFolder;
  const Platform& platform;
};

// The value fragments of the taking-part entry at `index`: three (degrees,
// minutes, seconds) for a coordinate entry, one for any other entry. Raises an
// Error naming the entry when its kind is not 0 to 3, when its cells lie
// outside the title table (nothing outside it is read) or when a cell of a
// number field holds something other than a decimal number.
std::vector<std::string> ValueFragments(const TitleEntry& entry, int index,
                                        const ValueSources& sources);

}  // namespace s2q
