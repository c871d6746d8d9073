#include "env/seqfile.h"

#include "env/codepage.h"
#include "env/errors.h"
#include "env/fileops.h"
#include "env/platform.h"

namespace s2q {

// How the files are read, where users' files vary:
// - CR LF, LF alone and CR alone each end a line. A Ctrl-Z (0x1A) at the very
//   end of the file is an end-of-file mark, not data.
// - Blanks (spaces and tabs) before an item are skipped. An unquoted item ends
//   at a comma or the line end and loses its trailing blanks.
// - A quoted item is the text between its quotes. A quote that is never
//   closed ends at the end of its line, not of the file. Blanks after the
//   closing quote are skipped; anything else up to the next comma or line end
//   is appended to the item as written (less its trailing blanks), so nothing
//   is lost.
// - A comma always separates two items: "a,b," is three items, the last one
//   empty, and a comma before a line end gives an empty item there.
// - A blank line inside the file is one empty item. Blank lines and blanks at
//   the end of the file are ignored: the file has ended once nothing else
//   remains.
// - Lines are split in the raw bytes (code page 932 never uses CR or LF as the
//   second byte of a character) and decoded one by one, so that an error
//   gives the offset of the bad byte in the file.

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBlankText(const std::string& text) {
  for (char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

void TrimTrailingBlanks(std::string& text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
}

}  // namespace

ItemReader::ItemReader(const Platform& platform, const std::string& path) : fileName_(path) {
  Load(ReadFileBytes(platform, path));
}

ItemReader ItemReader::FromBytes(std::string bytes, std::string fileName) {
  ItemReader reader;
  reader.fileName_ = std::move(fileName);
  reader.Load(std::move(bytes));
  return reader;
}

void ItemReader::Load(std::string bytes) {
  while (!bytes.empty() && bytes.back() == '\x1A') bytes.pop_back();
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    Line line;
    line.raw = bytes.substr(start, end - start);
    line.text = DecodeCp932(line.raw, fileName_, start);
    lines_.push_back(std::move(line));
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  end_ = lines_.size();
  while (end_ > 0 && IsBlankText(lines_[end_ - 1].text)) --end_;
}

// A comma leaves the reader on its line, which holds something and so lies
// before end_: the item after a last comma is still read.
bool ItemReader::AtEnd() const { return line_ >= end_; }

std::string ItemReader::ReadItem() {
  if (AtEnd()) {
    throw Error("ファイル " + fileName_ + " は項目の途中で終わっています (" +
                std::to_string(line_ + 1) + " 行目で項目を読もうとしました)");
  }
  const std::string& text = lines_[line_].text;
  size_t i = pos_;
  while (i < text.size() && IsBlank(text[i])) ++i;

  std::string item;
  if (i < text.size() && text[i] == '"') {
    size_t close = text.find('"', i + 1);
    if (close == std::string::npos) {
      item = text.substr(i + 1);
      i = text.size();
    } else {
      item = text.substr(i + 1, close - i - 1);
      i = close + 1;
      while (i < text.size() && IsBlank(text[i])) ++i;
      size_t end = text.find(',', i);
      if (end == std::string::npos) end = text.size();
      std::string tail = text.substr(i, end - i);
      TrimTrailingBlanks(tail);
      item += tail;
      i = end;
    }
  } else {
    size_t end = text.find(',', i);
    if (end == std::string::npos) end = text.size();
    item = text.substr(i, end - i);
    TrimTrailingBlanks(item);
    i = end;
  }

  if (i < text.size()) {
    pos_ = i + 1;  // after the comma
  } else {
    ++line_;
    pos_ = 0;
  }
  return item;
}

std::string ItemReader::ReadLine() {
  if (AtEnd()) {
    throw Error("ファイル " + fileName_ + " は行の途中で終わっています (" +
                std::to_string(line_ + 1) + " 行目を読もうとしました)");
  }
  std::string rest = lines_[line_].text.substr(pos_);
  ++line_;
  pos_ = 0;
  return rest;
}

std::vector<std::string> ItemReader::ReadLineItems(std::string* raw) {
  if (pos_ == 0) {
    while (line_ < end_ && IsBlankText(lines_[line_].text)) ++line_;
  }
  if (AtEnd()) {
    throw Error("ファイル " + fileName_ + " は行の途中で終わっています (" +
                std::to_string(line_ + 1) + " 行目を読もうとしました)");
  }
  const size_t line = line_;
  if (raw) *raw = lines_[line].raw;
  std::vector<std::string> items;
  do {
    items.push_back(ReadItem());
  } while (line_ == line);
  return items;
}

int ItemReader::LineNumber() const { return static_cast<int>(line_) + 1; }

void ItemWriter::WriteQuoted(const std::string& text) {
  if (text.find_first_of("\"\r\n") != std::string::npos) {
    throw Error("ファイル " + fileName_ + " に書けません: 項目 " + text +
                " に \" または改行が含まれていて、読み戻せません");
  }
  std::string bytes = EncodeCp932(text, fileName_);
  if (lineStarted_) bytes_ += ',';
  bytes_ += '"';
  bytes_ += bytes;
  bytes_ += '"';
  lineStarted_ = true;
}

void ItemWriter::WriteNumber(long value) {
  if (lineStarted_) bytes_ += ',';
  bytes_ += std::to_string(value);
  lineStarted_ = true;
}

void ItemWriter::WriteRawLine(const std::string& cp932Bytes) {
  if (lineStarted_) EndLine();
  bytes_ += cp932Bytes;
  bytes_ += "\r\n";
}

void ItemWriter::EndLine() {
  bytes_ += "\r\n";
  lineStarted_ = false;
}

void ItemWriter::Commit(const Platform& platform, const std::string& path) const {
  ReplaceFileAtomically(platform, path, bytes_);
}

}  // namespace s2q
