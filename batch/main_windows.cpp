// stolvik2quarnix-batch on Windows: the arguments as the system gives them
// (UTF-16), the output shown right in a console (WriteConsoleW) and, when
// redirected to a file or a pipe, written in code page 932 as Japanese
// Windows tools write it.
#include <windows.h>

#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "batch/batchcommand.h"
#include "env/winapi.h"

namespace {

// Collects UTF-8 text and hands it to the console or the file whole lines at
// a time, so that no character is cut between two writes.
class ConsoleBuf : public std::streambuf {
 public:
  explicit ConsoleBuf(DWORD which) : handle_(GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = handle_ != INVALID_HANDLE_VALUE && handle_ && GetConsoleMode(handle_, &mode);
  }
  ~ConsoleBuf() override { Flush(); }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    text_ += static_cast<char>(c);
    if (c == '\n') Flush();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text_.append(s, static_cast<size_t>(n));
    if (text_.find('\n') != std::string::npos) Flush();
    return n;
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  void Flush() {
    if (text_.empty() || !handle_ || handle_ == INVALID_HANDLE_VALUE) return;
    std::wstring wide = s2q::win::Wide(text_);
    text_.clear();
    DWORD written = 0;
    if (console_) {
      WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
    // Lines end in CR LF in a file, as every text file this program writes.
    std::wstring lines;
    for (wchar_t c : wide) {
      if (c == L'\n') lines += L'\r';
      lines += c;
    }
    const int n = WideCharToMultiByte(932, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, lines.data(), static_cast<int>(lines.size()), bytes.data(), n, nullptr, nullptr);
    WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }

  HANDLE handle_;
  bool console_ = false;
  std::string text_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ConsoleBuf outBuf(STD_OUTPUT_HANDLE), errBuf(STD_ERROR_HANDLE);
  std::ostream out(&outBuf), err(&errBuf);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(s2q::win::Utf8(argv[i]));
  int status;
  try {
    status = s2q::RunBatch(args, s2q::HostPlatformFacts(), out, err);
  } catch (const std::exception& e) {
    err << "stolvik2quarnix-batch: " << e.what() << '\n';
    status = s2q::kExitFailed;
  }
  out.flush();
  err.flush();
  return status;
}
