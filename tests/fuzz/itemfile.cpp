// The sequential item reader on arbitrary bytes, read as each of the four
// kinds of item file by the code that reads that kind. The first byte picks
// the kind, the rest is the file.
// Properties: only Error escapes; the items of every line, written back with
// ItemWriter, read back the same; a title file fills the cells with its first
// 42 items; the first code of a code list finds its own text; a setting has
// no surrounding spaces; a catalogue that was read writes back and reads back
// the same.
#include <memory>
#include <string>
#include <vector>

#include "convert/titletable.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "env/patdat.h"
#include "env/platform.h"
#include "env/seqfile.h"
#include "targetdb/titledb.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace s2q;

Platform& ScratchPlatform() {
  static Platform platform(fuzz::ScratchFacts());
  return platform;
}

// Every line's items, or false when the bytes are not code page 932.
bool ReadAllLines(const std::string& bytes, std::vector<std::vector<std::string>>& lines) {
  try {
    ItemReader reader = ItemReader::FromBytes(bytes, "fuzz.TXT");
    while (!reader.AtEnd()) lines.push_back(reader.ReadLineItems());
    return true;
  } catch (const Error&) {
    return false;
  }
}

// Items written with ItemWriter read back as they were.
void CheckRewrite(const std::vector<std::vector<std::string>>& lines) {
  ItemWriter writer("fuzz.TXT");
  for (const auto& items : lines) {
    for (const std::string& item : items) {
      if (item.find('"') != std::string::npos) return;  // not writable as an item
      writer.WriteQuoted(item);
    }
    writer.EndLine();
  }
  std::vector<std::vector<std::string>> again;
  S2Q_REQUIRE(ReadAllLines(writer.Bytes(), again));
  S2Q_REQUIRE(again == lines);
}

void TitleFile(const std::string& bytes, bool readable) {
  Platform& platform = ScratchPlatform();
  fuzz::WriteBytes(fuzz::ScratchRoot() / "C" / "hole" / "TITL01.TXT", bytes);
  // On the heap: clang 14 crashes evaluating the initializer of a variable.
  auto owned = std::make_unique<TitleTable>();
  TitleTable& table = *owned;
  table.cells[0].fill("before");
  try {
    ReadTitleFile(table, platform, "C:\\hole\\TITL01.TXT", 0);
  } catch (const Error& e) {
    // Only a file the item reader refuses, or a title item holding a
    // control character, is refused.
    S2Q_REQUIRE(!readable || std::string(e.what()).find("制御文字") != std::string::npos);
    return;
  }
  S2Q_REQUIRE(readable);
  if (bytes.empty()) {
    for (const std::string& cell : table.cells[0]) S2Q_REQUIRE(cell == " ");
    return;
  }
  ItemReader reader = ItemReader::FromBytes(bytes, "TITL01.TXT");
  for (const std::string& cell : table.cells[0])
    S2Q_REQUIRE(cell == (reader.AtEnd() ? std::string() : reader.ReadItem()));
}

void CodeList(const std::string& bytes, bool readable) {
  Platform& platform = ScratchPlatform();
  fuzz::WriteBytes(fuzz::ScratchRoot() / "C" / "pat" / "L1.TXT", bytes);
  std::vector<std::string> items;
  if (readable) {
    ItemReader reader = ItemReader::FromBytes(bytes, "L1.TXT");
    while (!reader.AtEnd() && items.size() < 2) items.push_back(reader.ReadItem());
  }
  const std::string code = items.empty() ? "1" : items[0];
  std::string text;
  try {
    text = LookupCode(code, "L1.TXT", "C:\\pat\\", platform);
  } catch (const Error&) {
    S2Q_REQUIRE(!readable);
    return;
  }
  S2Q_REQUIRE(readable);
  if (items.size() == 2) S2Q_REQUIRE(text == items[1]);
}

void Settings(const std::string& bytes, bool readable) {
  Platform& platform = ScratchPlatform();
  fuzz::WriteBytes(fuzz::ScratchRoot() / "C" / "sys" / "PatdatV5.ini", bytes);
  std::string setting;
  try {
    setting = ReadPatdatSetting(platform);
  } catch (const Error&) {
    S2Q_REQUIRE(!readable);
    return;
  }
  S2Q_REQUIRE(readable);
  S2Q_REQUIRE(setting.empty() || (setting.front() != ' ' && setting.back() != ' '));
  S2Q_REQUIRE(setting.find_first_of("\r\n") == std::string::npos);
  PatdatFolderExists(platform, setting);
}

void Catalogue(const std::string& bytes) {
  Platform& platform = ScratchPlatform();
  fuzz::WriteBytes(fuzz::ScratchRoot() / "C" / "prog" / kTitleDbFileName, bytes);
  fuzz::CountingUi ui;
  TitleSelection selection;
  std::string folder = "unchanged";
  int16_t count = 0;
  try {
    count = ReadTitleDb(selection, folder, platform, ui);
  } catch (const Error&) {
    // A malformed catalogue changes nothing.
    S2Q_REQUIRE(folder == "unchanged" && selection.count == 0);
    S2Q_REQUIRE(selection.entries[0].FieldName.empty());
    return;
  }
  S2Q_REQUIRE(count >= 0 && count <= kMaxTitleEntries);
  if (count == 0) return;
  selection.count = count;
  if (folder.find('"') != std::string::npos) return;  // cannot be written as an item
  WriteTitleDb(selection, folder, platform);
  TitleSelection again;
  std::string folderAgain;
  S2Q_REQUIRE(ReadTitleDb(again, folderAgain, platform, ui) == count);
  S2Q_REQUIRE(folderAgain == folder);
  for (int i = 0; i < count; ++i) {
    const TitleEntry& a = selection.entries[static_cast<size_t>(i)];
    const TitleEntry& b = again.entries[static_cast<size_t>(i)];
    S2Q_REQUIRE(a.FileNo == b.FileNo && a.ItemNo == b.ItemNo && a.FieldName == b.FieldName &&
                a.FieldSize == b.FieldSize && a.FieldKind == b.FieldKind &&
                a.sourceLine == b.sourceLine);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int kind = data[0] % 4;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::vector<std::string>> lines;
  const bool readable = ReadAllLines(bytes, lines);
  for (const auto& items : lines) {
    S2Q_REQUIRE(!items.empty());
    for (const std::string& item : items) S2Q_REQUIRE(item.find_first_of("\r\n") == std::string::npos);
  }
  if (readable) CheckRewrite(lines);

  switch (kind) {
    case 0: TitleFile(bytes, readable); break;
    case 1: CodeList(bytes, readable); break;
    case 2: Settings(bytes, readable); break;
    default: Catalogue(bytes); break;
  }
  return 0;
}
