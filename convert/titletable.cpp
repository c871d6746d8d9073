#include "convert/titletable.h"

#include "env/fileops.h"
#include "env/seqfile.h"

namespace s2q {

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
  ItemReader reader(platform, path);
  // Items after the 42nd have no cell and are not read.
  for (size_t k = 0; k < cells.size() && !reader.AtEnd(); ++k) cells[k] = reader.ReadItem();
}

void ReadHoleTitles(TitleTable& table, const std::vector<std::string>& titleFileNames,
                    const Platform& platform, const std::string& holePath) {
  for (int r = 0; r < 2; ++r)
    ReadTitleFile(table, platform, holePath + titleFileNames.at(static_cast<size_t>(r)), r);
}

}  // namespace s2q
