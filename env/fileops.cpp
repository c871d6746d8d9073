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

}  // namespace

void AddBackslash(std::string& folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
}

std::string JoinPath(std::string& folder, const std::string& name) {
  AddBackslash(folder);
  return folder + name;
}

bool IsFileMissing(const Platform& platform, const std::string& path) {
  fs::path native = platform.ToNative(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) {
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
  if (S_ISDIR(st.st_mode)) {
    throw Error(path + " はファイルではなくフォルダです");
  }
  Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw Error("ファイル " + path + " を開けません: " + SystemErrorText(errno));
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
  fs::path native = platform.ToNative(path);
  Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw Error("ファイル " + path + " を開けません: " + SystemErrorText(errno));
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
  fs::path target = platform.ToNative(path);
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
