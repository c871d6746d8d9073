#pragma once
// Sequential item files: hole title files, code lists, PatdatV5.ini and
// TitleDb.TXT. Items are separated by commas or line ends, texts may stand in
// double quotes, the bytes are code page 932 with CR LF line ends.
#include <string>
#include <vector>

namespace s2q {

class Platform;

class ItemReader {
 public:
  // Reads and decodes the whole file at once; throws Error naming the file
  // when it cannot be read or holds bytes that are not code page 932.
  ItemReader(const Platform& platform, const std::string& path);
  // A reader over bytes already in memory; `fileName` is used in errors.
  static ItemReader FromBytes(std::string bytes, std::string fileName);

  // True when nothing but blanks and line ends remains.
  bool AtEnd() const;
  // Next item. Throws Error naming the file when the file has ended.
  std::string ReadItem();
  // Rest of the current line, whole (for a line that is skipped unread).
  // Throws Error naming the file when the file has ended.
  std::string ReadLine();
  // All items of the next line that holds any; `raw` receives that line's
  // bytes as they stand in the file, without the line end. Throws at the end.
  std::vector<std::string> ReadLineItems(std::string* raw = nullptr);
  // 1-based line number of the line the next item is read from.
  int LineNumber() const;
  const std::string& FileName() const { return fileName_; }

 private:
  ItemReader() = default;
  void Load(std::string bytes);
  struct Line {
    std::string raw;   // bytes as in the file
    std::string text;  // decoded
  };
  std::string fileName_;
  std::vector<Line> lines_;
  size_t line_ = 0;  // current line
  size_t pos_ = 0;   // byte position in lines_[line_].text
  size_t end_ = 0;   // number of lines that hold anything (trailing blank lines dropped)
};

// Builds a sequential item file line by line and writes it in one go.
class ItemWriter {
 public:
  explicit ItemWriter(std::string fileName) : fileName_(std::move(fileName)) {}
  // Items of one line are separated by single commas. A text that code page
  // 932 cannot hold raises an Error naming the file.
  void WriteQuoted(const std::string& text);  // "text"
  void WriteNumber(long value);
  // A whole line kept as read (code page 932 bytes), then CR LF.
  void WriteRawLine(const std::string& cp932Bytes);
  void EndLine();                                   // CR LF
  const std::string& Bytes() const { return bytes_; }
  // Replaces the file atomically with the bytes.
  void Commit(const Platform& platform, const std::string& path) const;

 private:
  std::string fileName_;
  std::string bytes_;
  bool lineStarted_ = false;
};

}  // namespace s2q
