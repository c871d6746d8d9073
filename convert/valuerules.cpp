#include "convert/valuerules.h"

#include <string_view>

#include "env/errors.h"
#include "env/fileops.h"
#include "env/seqfile.h"
#include "env/text.h"

namespace s2q {

namespace {

constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";  // U+3000

// The names translated through the code lists, positions 0, 1 and 2 of
// CodeListFiles.
constexpr const char* kElevationName = "孔口標高";
constexpr const char* kWaterLevelName = "孔内水位";
constexpr const char* kHammerName = "ハンマ落下用具";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The longest prefix of `s` that reads as a number: sign, digits, an optional
// fraction and an optional exponent (taken only when it has digits); "0" when
// the prefix has no digit.
std::string LeadingNumber(const std::string& s) {
  size_t i = 0;
  std::string out;
  auto takeDigits = [&] {
    size_t count = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++count) out += s[i];
    return count;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') out += '-';
    ++i;
  }
  size_t digits = takeDigits();
  if (i < s.size() && s[i] == '.') {
    out += s[i++];
    digits += takeDigits();
  }
  if (digits == 0) return "0";
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    const std::string mantissa = out;
    ++i;
    out += 'e';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) out += s[i++];
    if (takeDigits() == 0) out = mantissa;
  }
  return out;
}

const std::string& Cell(const ValueSources& sources, const TitleEntry& entry, int offset) {
  return sources.table.cells[entry.FileNo - 1][entry.ItemNo - 1 + offset];
}

// Where a cell of the entry comes from, in the user's terms: "TITL02.TXT の
// 4 番目の項目".
std::string CellPlace(const TitleEntry& entry, int offset) {
  const std::vector<std::string> files = BuildTitleFileNames();
  const size_t row = static_cast<size_t>(entry.FileNo - 1);
  const std::string file =
      row < files.size() ? files[row] : "表題ファイル " + std::to_string(entry.FileNo);
  return file + " の " + std::to_string(entry.ItemNo + offset) + " 番目の項目";
}

// Whether the entry's value takes the cells k+1 or k+2 as well.
bool UsesFollowingCells(const TitleEntry& entry) {
  switch (entry.FieldKind) {
    case kKindText:
      return entry.FieldName == kElevationName || entry.FieldName == kWaterLevelName;
    case kKindDate:
      return true;
    case kKindInteger:
      return IsCoordinateEntry(entry);
    default:
      return false;
  }
}

void CheckEntry(const TitleEntry& entry, int index) {
  if (entry.FieldKind < kKindText || entry.FieldKind > kKindSingle) {
    throw Error(EntryLabel(entry, index) + "のフィールド種別 " +
                std::to_string(entry.FieldKind) +
                " は使えません。種別は 0～3 のいずれかでなければなりません。");
  }
  const bool composite = UsesFollowingCells(entry);
  const int lastItemNo = composite ? kTitleItems - 2 : kTitleItems;
  if (entry.FileNo < 1 || entry.FileNo > kTitleRows || entry.ItemNo < 1 ||
      entry.ItemNo > lastItemNo) {
    throw Error(EntryLabel(entry, index) + "の位置（ファイル番号 " +
                std::to_string(entry.FileNo) + "、項目番号 " + std::to_string(entry.ItemNo) +
                "）が表題データの範囲の外にあります。ファイル番号は 1～" +
                std::to_string(kTitleRows) + "、項目番号は 1～" + std::to_string(lastItemNo) +
                (composite ? "（2 つ先の項目まで使うため）" : "") + " でなければなりません。");
  }
}

const std::string& CodeListFile(const ValueSources& sources, size_t position,
                                const TitleEntry& entry, int index) {
  if (position >= sources.codeListFiles.size()) {
    throw Error(EntryLabel(entry, index) + "を変換できません。コードリストファイル名が設定されていません。");
  }
  return sources.codeListFiles[position];
}

std::string TextFragment(const TitleEntry& entry, int index, const ValueSources& sources) {
  std::string v = Cell(sources, entry, 0);
  if (IsBlank(v)) v = " ";
  const bool elevation = entry.FieldName == kElevationName;
  if (elevation || entry.FieldName == kWaterLevelName) {
    const std::string& file = CodeListFile(sources, elevation ? 0 : 1, entry, index);
    v = LookupCode(v, file, sources.patdatFolder, sources.platform);
    return QuoteText(v + " " + Cell(sources, entry, 2));
  }
  if (entry.FieldName == kHammerName) {
    v = LookupCode(v, CodeListFile(sources, 2, entry, index), sources.patdatFolder,
                   sources.platform);
  }
  return QuoteText(v);
}

// A numeric cell stands unquoted in the statement, so anything but a number
// would change the statement itself (a quoted title item may hold commas and
// quotes); such a value is refused with the entry's name.
std::string NumberOr(const ValueSources& sources, int offset, const char* replacement,
                     const TitleEntry& entry, int index) {
  const std::string& cell = Cell(sources, entry, offset);
  if (IsBlank(cell)) return replacement;
  if (!IsDecimalNumber(TrimSpaces(cell))) {
    throw Error(EntryLabel(entry, index) + "の値「" + cell + "」（" +
                CellPlace(entry, offset) + "）は数値ではありません。");
  }
  return cell;
}

}  // namespace

std::vector<std::string> BuildCodeListFiles() { return {"L1.TXT", "L3.TXT", "L2.TXT"}; }

double NumericValue(const std::string& text) {
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') compact += c;
  }
  return DecimalValue(LeadingNumber(compact));
}

std::string LookupCode(const std::string& codeValue, const std::string& fileName,
                       const std::string& patdatFolder, const Platform& platform) {
  std::string folder = patdatFolder;
  const std::string path = JoinPath(folder, fileName);
  if (IsFileMissing(platform, path)) return " ";
  ItemReader reader(platform, path);
  const double wanted = NumericValue(codeValue);
  while (!reader.AtEnd()) {
    const std::string code = reader.ReadItem();
    if (reader.AtEnd()) break;  // a last code without its text never matches
    std::string text = reader.ReadItem();
    if (NumericValue(code) == wanted) return text;
  }
  return " ";
}

bool IsBlank(const std::string& text) {
  std::string_view rest = text;
  while (!rest.empty()) {
    if (rest.front() == ' ') {
      rest.remove_prefix(1);
    } else if (rest.starts_with(kIdeographicSpace)) {
      rest.remove_prefix(kIdeographicSpace.size());
    } else {
      return false;
    }
  }
  return true;
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::vector<std::string> ValueFragments(const TitleEntry& entry, int index,
                                        const ValueSources& sources) {
  CheckEntry(entry, index);
  switch (entry.FieldKind) {
    case kKindText:
      return {TextFragment(entry, index, sources)};
    case kKindDate:
      return {QuoteText(Cell(sources, entry, 0) + "/" + Cell(sources, entry, 1) + "/" +
                        Cell(sources, entry, 2))};
    case kKindInteger: {
      std::string degrees = NumberOr(sources, 0, "0", entry, index);
      if (!IsCoordinateEntry(entry)) return {degrees};
      return {degrees, NumberOr(sources, 1, "0", entry, index),
              NumberOr(sources, 2, "0.0", entry, index)};
    }
    default:  // kKindSingle; CheckEntry refused every other kind
      return {NumberOr(sources, 0, "0.0", entry, index)};
  }
}

}  // namespace s2q
