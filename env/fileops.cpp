#include "env/fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

#include "env/errors.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

// Closes a file descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Release() { fd_ = -1; }
  // Closes now and reports the error close() gives, 0 when none.
  int Close() {
    int err = 0;
    if (fd_ >= 0 && ::close(fd_) != 0) err = errno;
    fd_ = -1;
    return err;
  }

 private:
  int fd_;
};

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "フォルダ";
  if (S_ISFIFO(mode)) return "名前付きパイプ";
  if (S_ISSOCK(mode)) return "ソケット";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "デバイス";
  return "特殊なファイル";
}

// Fills `st` with the facts of the file at `native` (drive form `path`) after
// making sure that it is a regular file: a named pipe, socket, device or
// folder, or a symbolic link to one of them, to an empty file or to nothing,
// raises an Error without being opened. False when nothing is at the path;
// errno then holds the reason.
bool StatRegularFile(const fs::path& native, const std::string& path, struct stat& st) {
  if (::lstat(native.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    if (::stat(native.c_str(), &st) != 0) {
      throw Error("ファイル " + path + " はシンボリックリンクで、リンク先を調べられません: " +
                  SystemErrorText(errno));
    }
    if (!S_ISREG(st.st_mode)) {
      throw Error("ファイル " + path + " は" + KindOf(st.st_mode) +
                  "へのシンボリックリンクで、通常のファイルではありません");
    }
    if (st.st_size == 0) {
      throw Error("ファイル " + path + " は空のファイルへのシンボリックリンクです (リンクもリンク先も削除しません)");
    }
  } else if (!S_ISREG(st.st_mode)) {
    throw Error("ファイル " + path + " は通常のファイルではなく" + KindOf(st.st_mode) + "です");
  }
  return true;
}

// Opens a file that StatRegularFile has accepted, for reading. O_NONBLOCK
// keeps the open from waiting should a named pipe have taken the file's place
// since; the descriptor must still be that same regular file.
int OpenCheckedFile(const fs::path& native, const std::string& path, const struct stat& checked) {
  int raw = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) throw Error("ファイル " + path + " を開けません: " + SystemErrorText(errno));
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    throw Error("ファイル " + path + " を調べられません: " + SystemErrorText(errno));
  }
  if (st.st_dev != checked.st_dev || st.st_ino != checked.st_ino || !S_ISREG(st.st_mode)) {
    throw Error("ファイル " + path + " は調べている間に別のものに置き換えられました");
  }
  // Reads block again, as for any regular file.
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  int out = fd.get();
  fd.Release();
  return out;
}

}  // namespace

void AddBackslash(std::string& folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
}

std::string JoinPath(std::string& folder, const std::string& name) {
  AddBackslash(folder);
  return folder + name;
}

bool IsFileMissing(const Platform& platform, const std::string& path) {
  fs::path native = platform.ToNativeFile(path);
  struct stat st;
  if (!StatRegularFile(native, path, st)) {
    int err = errno;
    if (err == ENOENT) {
      // An absent file is missing only where its folder exists; a path into
      // a folder that is not there is an error, as opening it would be.
      struct stat folder;
      if (::stat(native.parent_path().c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)) {
        return true;
      }
      throw Error("ファイル " + path + " のフォルダがありません");
    }
    throw Error("ファイル " + path + " を調べられません: " + SystemErrorText(err));
  }
  // Opened once, as a file that cannot be opened is an error, not missing.
  Fd fd(OpenCheckedFile(native, path, st));
  if (::fstat(fd.get(), &st) != 0) {
    throw Error("ファイル " + path + " の長さを調べられません: " + SystemErrorText(errno));
  }
  fd.Close();
  if (st.st_size > 0) return false;
  if (::unlink(native.c_str()) != 0) {
    throw Error("空のファイル " + path + " を削除できません: " + SystemErrorText(errno));
  }
  return true;
}

std::string ReadFileBytes(const Platform& platform, const std::string& path) {
  fs::path native = platform.ToNativeFile(path);
  struct stat st;
  if (!StatRegularFile(native, path, st)) {
    throw Error("ファイル " + path + " を開けません: " + SystemErrorText(errno));
  }
  Fd fd(OpenCheckedFile(native, path, st));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error("ファイル " + path + " を読めません: " + SystemErrorText(errno));
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

void ReplaceFileAtomically(const Platform& platform, const std::string& path,
                           std::string_view bytes) {
  fs::path target = platform.ToNativeFile(path);
  fs::path folder = target.parent_path();
  auto fail = [&](const std::string& why) -> Error {
    return Error("ファイル " + path + " を書けません: " + why);
  };

  struct stat old;
  bool hadTarget = ::stat(target.c_str(), &old) == 0;
  if (hadTarget && S_ISDIR(old.st_mode)) throw fail("同じ名前のフォルダがあります");

  // A temporary file of a fresh name beside the target.
  std::random_device rd;
  fs::path temp;
  int tempFd = -1;
  for (int attempt = 0; attempt < 100 && tempFd < 0; ++attempt) {
    temp = folder / ("." + target.filename().string() + ".tmp" + std::to_string(rd()));
    tempFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (tempFd < 0 && errno != EEXIST) throw fail(SystemErrorText(errno));
  }
  if (tempFd < 0) throw fail("一時ファイルを作れません");
  Fd fd(tempFd);

  auto failAndRemove = [&](const std::string& why) -> Error {
    fd.Close();
    ::unlink(temp.c_str());
    return fail(why);
  };

  if (hadTarget && ::fchmod(fd.get(), old.st_mode & 07777) != 0) {
    throw failAndRemove(SystemErrorText(errno));
  }
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw failAndRemove(SystemErrorText(errno));
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) throw failAndRemove(SystemErrorText(errno));
  if (int err = fd.Close(); err != 0) throw failAndRemove(SystemErrorText(err));
  if (::rename(temp.c_str(), target.c_str()) != 0) throw failAndRemove(SystemErrorText(errno));

  // Make the rename itself durable.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) {
    throw Error("ファイル " + path + " は書きましたが、フォルダへの反映を確定できません: " +
                SystemErrorText(errno));
  }
}

}  // namespace s2q
