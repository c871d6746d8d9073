#include "targetdb/titledb.h"


#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/native.h"
#include "env/fileops.h"
#include "env/platform.h"
#include "env/seqfile.h"
#include "env/ui.h"

namespace s2q {

namespace {

std::string CataloguePath(const Platform& platform) {
  std::string folder = platform.ProgramFolder();
  return JoinPath(folder, kTitleDbFileName);
}

[[noreturn]] void Malformed(const std::string& path, int line, const std::string& problem) {
  throw Error("表題設定ファイル " + path + " の " + std::to_string(line) + " 行目: " + problem);
}

int16_t ParseNumber(const std::string& path, int line, const char* what,
                    const std::string& text) {
  int value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec == std::errc::invalid_argument || ptr != last)
    Malformed(path, line, std::string(what) + " \"" + text + "\" は整数ではありません");
  if (ec == std::errc::result_out_of_range || value < INT16_MIN || value > INT16_MAX)
    Malformed(path, line,
              std::string(what) + " " + text + " は -32768 から 32767 の範囲を超えています");
  return static_cast<int16_t>(value);
}

// The statements name a field as "名前 = 値", separated by ",", after
// "UPDATE ボーリング SET " and before " WHERE ソース位置 = '...';". A name
// holding a blank, a character of that syntax or a control character, or one
// that is a word of the statement, cannot be read back out of it; such a
// name is refused here, before any table is made with it. Full-width
// characters are no part of the syntax.
std::string FieldNameProblem(const std::string& name) {
  if (name.empty()) return "フィールド名が空です";
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", c);
      return std::string("フィールド名に制御文字 (") + code + ") があります";
    }
  }
  static constexpr std::string_view kSyntax = " =,'\"`()[]{};";
  for (char c : name) {
    if (kSyntax.find(c) == std::string_view::npos) continue;
    const std::string shown = c == ' ' ? "半角の空白" : "「" + std::string(1, c) + "」";
    return "フィールド名「" + name + "」に" + shown +
           "があります。データベースへの文の中でフィールド名として読めなくなるため、使えません";
  }
  static constexpr std::string_view kWords[] = {"UPDATE", "SET",    "WHERE", "INSERT",
                                                "INTO",   "VALUES", "NULL"};
  std::string upper = name;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (std::string_view word : kWords) {
    if (upper == word) {
      return "フィールド名「" + name + "」はデータベースへの文の語 " + std::string(word) +
             " と同じです。データベースへの文の中でフィールド名として読めなくなるため、使えません";
    }
  }
  return "";
}

// The line of the first byte that is not code page 932, told as the other
// faults of the catalogue are. Lines end as the item reader ends them.
[[noreturn]] void UnreadableByte(const std::string& path, const std::string& bytes,
                                 const std::exception& whole) {
  size_t start = 0;
  for (int line = 1; start < bytes.size(); ++line) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    try {
      DecodeCp932(std::string_view(bytes).substr(start, end - start), kTitleDbFileName, start);
    } catch (const std::exception& e) {
      Malformed(path, line, e.what());
    }
    if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ++end;
    start = end + 1;
  }
  throw Error(whole.what());
}

}  // namespace

std::string EntryLabel(const TitleEntry& entry, int index) {
  return "表題項目「" + entry.FieldName + "」（" + kTitleDbFileName + " の " +
         std::to_string(CatalogueLine(index)) + " 行目）";
}

bool IsMandatoryEntry(int index) {
  return std::find(kMandatoryEntries.begin(), kMandatoryEntries.end(), index) !=
         kMandatoryEntries.end();
}

bool IsCoordinateName(const std::string& fieldName) {
  return fieldName == "調査緯度" || fieldName == "調査経度" || fieldName == "掘削緯度" ||
         fieldName == "掘削経度";
}

std::vector<std::string> CoordinateFieldNames(const std::string& fieldName) {
  return {fieldName + kDegreesSuffix, fieldName + kMinutesSuffix, fieldName + kSecondsSuffix};
}

bool IsCoordinateEntry(const TitleEntry& entry) {
  return entry.FieldKind == kKindInteger && IsCoordinateName(entry.FieldName);
}

std::vector<std::string> MatchedFieldNames(const TitleEntry& entry) {
  if (IsCoordinateName(entry.FieldName)) return CoordinateFieldNames(entry.FieldName);
  return {entry.FieldName};
}

int16_t ReadTitleDb(TitleSelection& selection, std::string& destFolder,
                    const Platform& platform, UserInterface& ui) {
  const std::string path = CataloguePath(platform);
  if (IsFileMissing(platform, path)) {
    ui.MsgBox("表題設定ファイルが存在しません");
    return 0;
  }
  // The whole file is read before anything is taken over, so a malformed
  // catalogue leaves the selection as it was (and is never written over).
  const std::string bytes = ReadFileBytes(platform, path);
  std::optional<ItemReader> read;
  try {
    read.emplace(ItemReader::FromBytes(bytes, path));
  } catch (const Error& e) {
    UnreadableByte(path, bytes, e);
  }
  ItemReader& reader = *read;
  int line = reader.LineNumber();
  std::vector<std::string> items = reader.ReadLineItems();
  if (items.size() != 1) Malformed(path, line, "変換先フォルダ名の項目が 1 つではありません");
  std::string folder = items[0];

  TitleSelection loaded;
  int16_t count = 0;
  if (reader.AtEnd()) Malformed(path, line + 1, "表題項目の行がありません");
  while (!reader.AtEnd()) {
    line = reader.LineNumber();
    if (count == kMaxTitleEntries)
      Malformed(path, line, "表題項目が " + std::to_string(kMaxTitleEntries) + " 個を超えています");
    std::string raw;
    items = reader.ReadLineItems(&raw);
    if (items.size() != 5)
      Malformed(path, line,
                "項目が 5 つではありません (" + std::to_string(items.size()) + " 個)");
    TitleEntry& e = loaded.entries[static_cast<size_t>(count)];
    e.FileNo = ParseNumber(path, line, "ファイル番号", items[0]);
    e.ItemNo = ParseNumber(path, line, "項目番号", items[1]);
    e.FieldName = items[2];
    if (const std::string problem = FieldNameProblem(e.FieldName); !problem.empty())
      Malformed(path, line, problem);
    e.FieldSize = ParseNumber(path, line, "フィールドサイズ", items[3]);
    e.FieldKind = ParseNumber(path, line, "フィールド種別", items[4]);
    e.SelectFlg = 0;
    e.sourceLine = std::move(raw);
    ++count;
  }
  for (int16_t i = 0; i < count; ++i)
    selection.entries[static_cast<size_t>(i)] = std::move(loaded.entries[static_cast<size_t>(i)]);
  destFolder = std::move(folder);
  return count;
}

void CheckTitleDbCanHold(const std::string& destFolder, const Platform& platform) {
  const std::string path = CataloguePath(platform);
  const std::string head = "変換先フォルダ " + destFolder + " は表題設定ファイル " + path +
                           " に保存できないため、処理しません: ";
  if (destFolder.find_first_of("\"\r\n") != std::string::npos) {
    throw Error(head + "名前に \" か改行が含まれています。フォルダ名を変えてください。");
  }
  try {
    EncodeCp932(destFolder, kTitleDbFileName);
  } catch (const Error&) {
    throw Error(head + "名前に Shift_JIS (コードページ 932) で表せない文字 (〜 や ¥ など) が"
                       "含まれています。フォルダ名を変えてください。");
  }
  const std::filesystem::path folder = platform.ToNative(platform.ProgramFolder());
  if (!CanWriteFolder(folder)) {
    throw Error("表題設定ファイル " + path + " を保存できないため、処理しません: プログラムのフォルダに"
                "書き込めません (アクセスが拒否されました)。書き込めるフォルダにプログラムを置いてください。");
  }
}

void WriteTitleDb(const TitleSelection& selection, const std::string& destFolder,
                  const Platform& platform) {
  const std::string path = CataloguePath(platform);
  ItemWriter writer(path);
  if (selection.count > 0) {
    writer.WriteQuoted(destFolder);
    writer.EndLine();
  }
  for (int16_t i = 0; i < selection.count; ++i) {
    const TitleEntry& e = selection.entries[static_cast<size_t>(i)];
    if (!e.sourceLine.empty()) {
      writer.WriteRawLine(e.sourceLine);
      continue;
    }
    writer.WriteNumber(e.FileNo);
    writer.WriteNumber(e.ItemNo);
    writer.WriteQuoted(e.FieldName);
    writer.WriteNumber(e.FieldSize);
    writer.WriteNumber(e.FieldKind);
    writer.EndLine();
  }
  writer.Commit(platform, path);
}

void SetDefaultSelection(TitleSelection& selection) {
  for (int i = 0; i < selection.count; ++i)
    selection.entries[static_cast<size_t>(i)].SelectFlg = IsMandatoryEntry(i) ? 1 : 0;
}

void SelectMandatoryEntries(TitleSelection& selection) {
  for (int i : kMandatoryEntries)
    if (i < selection.count) selection.entries[static_cast<size_t>(i)].SelectFlg = 1;
}

}  // namespace s2q
