// Reading files on POSIX systems: only regular files, never through a
// symbolic link to anything else, checked again on the open descriptor.
#include "env/fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "env/errors.h"
#include "env/posixfd.h"
#include "env/platform.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

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

}  // namespace s2q
