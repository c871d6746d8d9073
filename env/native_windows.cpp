// The native services on Windows, through the wide-character API only:
// every path is UTF-16, every file is opened in binary mode.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "env/native.h"
#include "env/winapi.h"

namespace s2q {

namespace fs = std::filesystem;

namespace win {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD n = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                           reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (n == 0) {
    n = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  const std::string number = "エラー " + std::to_string(code);
  return text.empty() ? "システムの" + number : Utf8(text) + " (" + number + ")";
}

}  // namespace win

std::string SystemErrorText(int err) {
  std::string text = ErrnoText(err);
  if (!text.empty()) return text;
  return "システムエラー " + std::to_string(err) + " (" + std::strerror(err) + ")";
}

std::string ErrorCodeText(const std::error_code& ec) {
  if (ec.category() == std::system_category()) return win::ErrorText(static_cast<DWORD>(ec.value()));
  return SystemErrorText(ec.value());
}

namespace {

[[noreturn]] void FailLast() { throw SystemFailure(win::ErrorText(GetLastError())); }

bool IsAbsent(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
         code == ERROR_BAD_NETPATH;
}

// Closes a handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  // Closes now; false when the close failed.
  bool Close() {
    bool closed = true;
    if (h_ != INVALID_HANDLE_VALUE) closed = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A file opened for reading; a folder, a device or a pipe is refused.
Handle OpenForReading(const fs::path& path) {
  Handle h(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr));
  if (!h.ok()) FailLast();
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw SystemFailure("通常のファイルではありません");
  }
  return h;
}

EntryFacts FactsOf(DWORD attributes, std::uintmax_t size) {
  EntryFacts facts;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    facts.kind = EntryFacts::Kind::Folder;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    facts.kind = EntryFacts::Kind::Other;
    facts.what = "デバイス";
  } else {
    facts.kind = EntryFacts::Kind::File;
    facts.size = size;
  }
  return facts;
}

// Windows drops blanks and dots at the end of a name, so a path with such a
// name would find another entry ("x\  \f" is "x\f"): nothing is there.
bool HasNameWindowsTrims(const fs::path& path) {
  for (const fs::path& part : path.relative_path()) {
    const std::wstring& name = part.native();
    if (name == L"." || name == L"..") continue;
    if (!name.empty() && (name.back() == L' ' || name.back() == L'.')) return true;
  }
  return false;
}

}  // namespace

EntryFacts EntryAt(const fs::path& path) {
  if (HasNameWindowsTrims(path)) return {};
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD code = GetLastError();
    if (IsAbsent(code)) return {};
    throw SystemFailure(win::ErrorText(code));
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {EntryFacts::Kind::Link, 0, {}};
  return FactsOf(data.dwFileAttributes, (std::uintmax_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

EntryFacts EntryBehind(const fs::path& path) {
  EntryFacts facts = EntryAt(path);
  if (facts.kind != EntryFacts::Kind::Link) return facts;
  Handle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.ok()) {
    if (IsAbsent(GetLastError())) return {};
    FailLast();
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h.get(), &info)) FailLast();
  return FactsOf(info.dwFileAttributes, (std::uintmax_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
}

std::string ReadWholeFile(const fs::path& path) {
  Handle h = OpenForReading(path);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr)) FailLast();
    if (n == 0) break;
    bytes.append(buffer, n);
  }
  return bytes;
}

std::string ReadFileHead(const fs::path& path, size_t limit) {
  Handle h(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr));
  if (!h.ok() || GetFileType(h.get()) != FILE_TYPE_DISK) return {};
  std::string head(limit, '\0');
  size_t got = 0;
  while (got < head.size()) {
    DWORD n = 0;
    if (!ReadFile(h.get(), head.data() + got, static_cast<DWORD>(head.size() - got), &n, nullptr) || n == 0) break;
    got += n;
  }
  head.resize(got);
  return head;
}

void WriteNewFile(const fs::path& path, std::string_view bytes, const fs::path&) {
  Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) FailLast();
  auto failAndRemove = [&](DWORD code) {
    h.Close();
    DeleteFileW(path.c_str());
    throw SystemFailure(win::ErrorText(code));
  };
  size_t written = 0;
  while (written < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h.get(), bytes.data() + written, chunk, &n, nullptr)) failAndRemove(GetLastError());
    written += n;
  }
  if (!FlushFileBuffers(h.get())) failAndRemove(GetLastError());
  if (!h.Close()) {
    const DWORD code = GetLastError();
    DeleteFileW(path.c_str());
    throw SystemFailure(win::ErrorText(code));
  }
}

void MoveReplacing(const fs::path& from, const fs::path& to) {
  win::LetGoOfHeld(from);
  win::LetGoOfHeld(to);
  const BOOL moved = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  const DWORD code = moved ? 0 : GetLastError();
  win::TakeHeldAgain(from);
  win::TakeHeldAgain(to);
  if (moved) return;
  std::string reason = win::ErrorText(code);
  if ((code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) &&
      EntryAt(to).kind == EntryFacts::Kind::File) {
    reason += "。他のプログラムがファイル " + NativeText(to.filename()) + " を開いていると置き換えられません";
  }
  throw SystemFailure(reason);
}

bool RemoveFile(const fs::path& path) {
  if (DeleteFileW(path.c_str())) return true;
  const DWORD code = GetLastError();
  if (IsAbsent(code)) return false;
  throw SystemFailure(win::ErrorText(code));
}

// The read-only attribute of a folder does not keep files from being made in
// it (_access tests only that attribute), and the rights of a folder such as
// C:\Program Files are not attributes: only making a file tells.
bool CanWriteFolder(const fs::path& folder) {
  for (unsigned n = 0; n < 100; ++n) {
    const fs::path probe = folder / NativePath(".s2q-write-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                               std::to_string(GetTickCount64()) + "-" + std::to_string(n));
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool CanWriteFile(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  // Open elsewhere (or held by our own lock) is no lack of rights.
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

// Jet keeps its lock file open while it uses the database, without letting
// it be deleted: a lock file that can be deleted is held by no program.
LeftLockFile RemoveUnheldLockFile(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return LeftLockFile::Unknown;
  if (DeleteFileW(path.c_str())) return LeftLockFile::Removed;
  const DWORD code = GetLastError();
  if (IsAbsent(code)) return LeftLockFile::Removed;
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION) {
    return LeftLockFile::Held;
  }
  return LeftLockFile::Unknown;
}

std::int64_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessRuns(std::int64_t pid) {
  if (pid <= 0 || pid > 0xffffffffLL) return false;
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!h) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to look at
  DWORD code = 0;
  const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

}  // namespace s2q
