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
// is deleted. A file that exists but cannot be opened raises an Error.
bool IsFileMissing(const Platform& platform, const std::string& path);

// Reads a whole file. Throws Error naming the file when it cannot be read.
std::string ReadFileBytes(const Platform& platform, const std::string& path);
// Replaces a file atomically: the bytes go to a temporary file in the same
// folder, are flushed to disk and renamed over the target, so the target is
// never cut or empty. Throws Error naming the file on failure.
void ReplaceFileAtomically(const Platform& platform, const std::string& path,
                           std::string_view bytes);

}  // namespace s2q
