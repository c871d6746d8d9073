#pragma once
// Small file operations shared by the conversion and the target database.
// Paths are in drive form and go through the platform service.
#include <string>
#include <string_view>

namespace s2q {

class Platform;

// Appends "\" to the folder unless it already ends with one ("" becomes "\").
void AddBackslash(std::string& folder);
// Gives the caller's folder its closing "\" and returns folder + name.
std::string JoinPath(std::string& folder, const std::string& name);
// True when no file is at the path or the file is 0 bytes long; a 0-byte file
// is deleted. A file that exists but cannot be opened raises an Error. Only a
// regular file is a file: a named pipe, socket, device or folder, or a
// symbolic link to one of them, to an empty file or to nothing, raises an
// Error naming the path, and is neither opened nor deleted.
//
// Here and below a file is found by its name whatever the case of A to Z
// (Platform::ToNativeFile): "titl01.txt" is the file TITL01.TXT, and a folder
// holding both is refused.
bool IsFileMissing(const Platform& platform, const std::string& path);

// Reads a whole file. Throws Error naming the file when it cannot be read or
// is no regular file (see IsFileMissing).
std::string ReadFileBytes(const Platform& platform, const std::string& path);
// Replaces a file atomically: the bytes go to a temporary file in the same
// folder, are flushed to disk and renamed over the target, so the target is
// never cut or empty. Throws Error naming the file on failure.
void ReplaceFileAtomically(const Platform& platform, const std::string& path,
                           std::string_view bytes);

}  // namespace s2q
