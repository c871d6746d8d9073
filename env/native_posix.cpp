// The native services on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "env/native.h"
#include "env/posixfd.h"

namespace s2q {

namespace fs = std::filesystem;

std::string SystemErrorText(int err) {
  if (err == EDQUOT) return "ディスクの割り当てを超えました";
  std::string text = ErrnoText(err);
  if (!text.empty()) return text;
  return "システムエラー " + std::to_string(err) + " (" + std::strerror(err) + ")";
}

std::string ErrorCodeText(const std::error_code& ec) { return SystemErrorText(ec.value()); }

namespace {

[[noreturn]] void FailErrno(int err) { throw SystemFailure(SystemErrorText(err)); }

EntryFacts FactsOf(const struct stat& st) {
  EntryFacts facts;
  if (S_ISREG(st.st_mode)) {
    facts.kind = EntryFacts::Kind::File;
    facts.size = static_cast<std::uintmax_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    facts.kind = EntryFacts::Kind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    facts.kind = EntryFacts::Kind::Link;
  } else {
    facts.kind = EntryFacts::Kind::Other;
    facts.what = S_ISFIFO(st.st_mode)                       ? "名前付きパイプ"
                 : S_ISSOCK(st.st_mode)                     ? "ソケット"
                 : (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ? "デバイス"
                                                            : "特殊なファイル";
  }
  return facts;
}

EntryFacts Look(const fs::path& path, bool follow) {
  struct stat st;
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    FailErrno(errno);
  }
  return FactsOf(st);
}

// Opens a regular file for reading. O_NONBLOCK keeps the open from waiting
// should a named pipe stand at the path; the descriptor must be a regular
// file, and reads block again as for any regular file.
int OpenRegularForReading(const fs::path& path) {
  const int raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) FailErrno(errno);
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) FailErrno(errno);
  if (!S_ISREG(st.st_mode)) throw SystemFailure("通常のファイルではありません");
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd.Release();
}

}  // namespace

EntryFacts EntryAt(const fs::path& path) { return Look(path, false); }
EntryFacts EntryBehind(const fs::path& path) { return Look(path, true); }

std::string ReadWholeFile(const fs::path& path) {
  Fd fd(OpenRegularForReading(path));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailErrno(errno);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

std::string ReadFileHead(const fs::path& path, size_t limit) {
  const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (raw < 0) return {};
  Fd fd(raw);
  std::string head(limit, '\0');
  size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = ::read(fd.get(), head.data() + got, head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  head.resize(got);
  return head;
}

void WriteNewFile(const fs::path& path, std::string_view bytes, const fs::path& like) {
  const int raw = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (raw < 0) FailErrno(errno);
  Fd fd(raw);
  auto failAndRemove = [&](int err) {
    fd.Close();
    ::unlink(path.c_str());
    FailErrno(err);
  };
  struct stat old {};
  if (!like.empty() && ::stat(like.c_str(), &old) == 0 && ::fchmod(fd.get(), old.st_mode & 07777) != 0) {
    failAndRemove(errno);
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      failAndRemove(errno);
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) failAndRemove(errno);
  if (const int err = fd.Close(); err != 0) {
    ::unlink(path.c_str());
    FailErrno(err);
  }
}

void MoveReplacing(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) FailErrno(errno);
  // Make the rename itself durable.
  const fs::path dir = to.has_parent_path() ? to.parent_path() : fs::path(".");
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
    throw SystemFailure("名前は変えましたが、フォルダへの反映を確定できません: " + SystemErrorText(errno));
  }
}

bool RemoveFile(const fs::path& path) {
  if (::unlink(path.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  FailErrno(errno);
}

bool CanWriteFolder(const fs::path& folder) { return ::access(folder.c_str(), W_OK) == 0; }

bool CanWriteFile(const fs::path& path) { return ::access(path.c_str(), W_OK) == 0; }

// A Jet engine that holds the file runs on another machine, if at all (this
// system has none): there is no telling whether the file is held.
LeftLockFile RemoveUnheldLockFile(const fs::path&) { return LeftLockFile::Unknown; }

std::int64_t CurrentProcessId() { return ::getpid(); }

bool ProcessRuns(std::int64_t pid) {
  if (pid <= 0 || pid > 0x7fffffff) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace s2q
