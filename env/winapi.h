#pragma once
// What the Windows implementations of the platform services share: the
// system's error texts and the files that the database lock holds open.
#include <windows.h>

#include <filesystem>
#include <string>

namespace s2q::win {

// The system's own text of a Windows error code (FormatMessageW), Japanese
// where the system has it, with the code: "アクセスが拒否されました。 (エラー 5)".
std::string ErrorText(DWORD code);

// UTF-16 to UTF-8 and back.
std::string Utf8(const std::wstring& wide);
std::wstring Wide(const std::string& utf8);

// The database lock holds the database file itself open with a share mode
// that lets no other program write it (filelock_windows.cpp). Windows
// cannot rename a file over one that is open, so a replacement lets go of
// such a file and takes it again on the file that is then at the path.
void LetGoOfHeld(const std::filesystem::path& path);
void TakeHeldAgain(const std::filesystem::path& path);

}  // namespace s2q::win
