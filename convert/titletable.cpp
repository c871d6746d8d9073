#include "convert/titletable.h"

#include <cstdio>

#include "env/errors.h"
#include "env/fileops.h"
#include "env/seqfile.h"

namespace s2q {

namespace {

// Control characters that would reach the database inside a title item: the
// C0 codes other than the tab (a blank to the reader) and the line ends, and
// DEL. None of them can be the second byte of a code page 932 character, so
// the bytes are searched as they stand.
bool IsControlByte(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
}

// Refuses a file that holds a control character inside one of the items the
// title table keeps, naming the file, the item and the byte offset.
void RefuseControlCharacters(const std::string& bytes, const std::string& path) {
  size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == '\x1A') --end;  // the end-of-file mark
  for (size_t offset = 0; offset < end; ++offset) {
    const auto c = static_cast<unsigned char>(bytes[offset]);
    if (!IsControlByte(c)) continue;
    // The item the byte stands in is the last one of the text before it,
    // completed by one more character (so that a byte at the start of a line
    // or after a comma counts as the next item).
    ItemReader before = ItemReader::FromBytes(bytes.substr(0, offset) + "x", path);
    int item = 0;
    while (!before.AtEnd()) {
      before.ReadItem();
      ++item;
    }
    if (item > kTitleItems) return;  // items past the table are not kept
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", c);
    throw Error("表題ファイル " + path + " の " + std::to_string(item) +
                " 番目の項目に制御文字 (" + code + ") があります（ファイルのオフセット " +
                std::to_string(offset) + "）。");
  }
}

}  // namespace

std::vector<std::string> BuildTitleFileNames() {
  return {"TITL01.TXT", "TITL02.TXT", "TITL21.TXT", "G102.TXT"};
}

void ReadTitleFile(TitleTable& table, const Platform& platform, const std::string& path,
                   int row) {
  auto& cells = table.cells.at(static_cast<size_t>(row));
  // Cells the file does not supply stay empty: nothing of the hole read
  // before may reach this hole's row.
  cells.fill(std::string());
  if (IsFileMissing(platform, path)) {
    cells.fill(" ");
    return;
  }
  std::string bytes = ReadFileBytes(platform, path);
  ItemReader reader = ItemReader::FromBytes(bytes, path);
  RefuseControlCharacters(bytes, path);
  // Items after the 42nd have no cell and are not read.
  for (size_t k = 0; k < cells.size() && !reader.AtEnd(); ++k) cells[k] = reader.ReadItem();
}

void ReadHoleTitles(TitleTable& table, const std::vector<std::string>& titleFileNames,
                    const Platform& platform, const std::string& holePath) {
  for (int r = 0; r < 2; ++r)
    ReadTitleFile(table, platform, holePath + titleFileNames.at(static_cast<size_t>(r)), r);
}

}  // namespace s2q
