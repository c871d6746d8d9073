#pragma once
// The title selection: the catalogue of the fields the boring table can have,
// read from TitleDb.TXT in the program's folder together with the last
// destination folder.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace s2q {

class Platform;
class UserInterface;

inline constexpr int kMaxTitleEntries = 51;
inline constexpr const char* kTitleDbFileName = "TitleDb.TXT";

// Field kinds.
inline constexpr int16_t kKindText = 0;
inline constexpr int16_t kKindDate = 1;
inline constexpr int16_t kKindInteger = 2;
inline constexpr int16_t kKindSingle = 3;

struct TitleEntry {
  int16_t FileNo = 0;     // 1-based row of the title table
  int16_t ItemNo = 0;     // 1-based item of that row
  std::string FieldName;  // field of the boring table
  int16_t FieldSize = 0;  // text size, kind 0 only
  int16_t FieldKind = 0;
  int16_t SelectFlg = 0;  // 1 selected; never saved
  // The entry's line as read from the file (code page 932 bytes, without the
  // line end); written back unchanged. Empty for an entry made in memory.
  std::string sourceLine;
};

struct TitleSelection {
  std::array<TitleEntry, kMaxTitleEntries> entries{};
  int16_t count = 0;  // entries 0 to count - 1 are loaded
};

// The line of TitleDb.TXT that holds entry `index`: line 1 is the destination
// folder, so entry 0 stands on line 2. Messages name entries by this line.
inline constexpr int CatalogueLine(int index) { return index + 2; }
// The entry as messages name it, by its name and its line:
// "表題項目「<FieldName>」（TitleDb.TXT の <line> 行目）".
std::string EntryLabel(const TitleEntry& entry, int index);

inline constexpr std::array<int, 10> kMandatoryEntries = {0, 3, 5, 6, 7, 8, 9, 15, 23, 24};
bool IsMandatoryEntry(int index);

// Coordinate entries. An entry named "調査緯度", "調査経度", "掘削緯度" or
// "掘削経度" (compared exactly) stands for three fields: the name followed by
// "（度）", "（分）" and "（秒）". Two rules decide when, on purpose not the same:
bool IsCoordinateName(const std::string& fieldName);
inline constexpr const char* kDegreesSuffix = "（度）";
inline constexpr const char* kMinutesSuffix = "（分）";
inline constexpr const char* kSecondsSuffix = "（秒）";
std::vector<std::string> CoordinateFieldNames(const std::string& fieldName);
// - The table layout and the values: by name and kind. Only a kind-2 entry
//   is split; a coordinate name of another kind is one field of that kind.
bool IsCoordinateEntry(const TitleEntry& entry);
// - Field matching: by the name alone, whatever the kind, so an existing
//   table is recognised by the coordinate's fields as the old program did.
//   Gives the names the table must have for the entry, the first being the
//   one that marks the entry as present.
std::vector<std::string> MatchedFieldNames(const TitleEntry& entry);

// Reads TitleDb.TXT from the program's folder into entries 0 to count - 1 and
// `destFolder`, and returns the count; every SelectFlg becomes 0. A missing or
// empty file is told with "表題設定ファイルが存在しません" and gives 0, leaving
// the selection and `destFolder` as they were. A malformed file raises an Error
// naming the file, the line and the problem, and changes nothing.
int16_t ReadTitleDb(TitleSelection& selection, std::string& destFolder,
                    const Platform& platform, UserInterface& ui);

// Writes TitleDb.TXT (the folder line, then one line per entry) atomically.
// With a count of 0 the file is left empty.
// Refuses, before any work, a destination folder that TitleDb.TXT could not
// hold (a character outside code page 932 such as 〜 or ¥, a double quote or
// a line end) and a program folder that cannot be written, with an Error that
// says why and what to do.
void CheckTitleDbCanHold(const std::string& destFolder, const Platform& platform);

void WriteTitleDb(const TitleSelection& selection, const std::string& destFolder,
                  const Platform& platform);

// SelectFlg 1 for the mandatory entries below the count, 0 for all others.
void SetDefaultSelection(TitleSelection& selection);
// Sets SelectFlg 1 on the mandatory entries below the count; others keep theirs.
void SelectMandatoryEntries(TitleSelection& selection);

}  // namespace s2q
