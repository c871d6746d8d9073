#pragma once
// The operating system's file and process services that the core needs, one
// implementation per platform (native_posix.cpp, native_windows.cpp). Paths
// here are native; texts are UTF-8. Every failure is reported as a
// SystemFailure whose message is the reason in Japanese, for the end of a
// message that names what failed.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "env/errors.h"

namespace s2q {

class SystemFailure : public Error {
 public:
  using Error::Error;
};

// The one way a native path is made from text and a text from a native path
// or name, on every platform: UTF-8 both ways (std::filesystem::path made
// from a std::string reads the ANSI code page on Windows). On POSIX systems
// the bytes are taken as they are, so a name in code page 932 bytes keeps them.
std::filesystem::path NativePath(std::string_view utf8);
std::string NativeText(const std::filesystem::path& path);
// `path` with an ASCII suffix added to its last name ("x.MDB" + ".lock").
std::filesystem::path WithSuffix(const std::filesystem::path& path, std::string_view asciiSuffix);

// What lies at a path, without following a symbolic link at its end.
struct EntryFacts {
  enum class Kind { None, File, Folder, Link, Other } kind = Kind::None;
  std::uintmax_t size = 0;  // File only
  std::string what;         // Other: what it is ("名前付きパイプ", "デバイス", ...)
};
// Kind::None when nothing is there; a failure to look is a SystemFailure.
EntryFacts EntryAt(const std::filesystem::path& path);
// As EntryAt, following symbolic links (a link to nothing is None).
EntryFacts EntryBehind(const std::filesystem::path& path);

// The whole content of a regular file, opened in binary mode for reading.
std::string ReadWholeFile(const std::filesystem::path& path);
// Up to `limit` first bytes of a regular file; "" when it cannot be read.
std::string ReadFileHead(const std::filesystem::path& path, size_t limit);
// Creates `path`, which must not exist yet, with `bytes`, in binary mode,
// flushed to the disk. A file it leaves after a failure is removed. With
// `like`, the new file gets the permissions of that file where it exists.
void WriteNewFile(const std::filesystem::path& path, std::string_view bytes,
                  const std::filesystem::path& like = {});
// Renames `from` to `to` in one step, replacing a file there, and makes the
// change durable before it returns.
void MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// Removes a file; true when it was there.
bool RemoveFile(const std::filesystem::path& path);

// Whether this process may create files in the folder, found by trying it.
bool CanWriteFolder(const std::filesystem::path& folder);
// Whether this process may write the file.
bool CanWriteFile(const std::filesystem::path& path);

// A lock file that another program (the map application's Jet engine) keeps
// beside a database, and what could be learnt of it.
enum class LeftLockFile {
  Removed,  // no program held it any more: it is gone
  Held,     // a program holds it open now
  Unknown,  // this system cannot tell whether a program holds it; left alone
};
LeftLockFile RemoveUnheldLockFile(const std::filesystem::path& path);

// The current process, and whether another process still runs.
std::int64_t CurrentProcessId();
bool ProcessRuns(std::int64_t pid);

// The local time of `t`.
std::tm LocalTime(std::time_t t);

}  // namespace s2q
