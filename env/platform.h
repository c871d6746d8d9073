#pragma once
// The platform model the system runs on: drive letters, each mapped to a native
// root folder, a current drive, and a current folder per drive. Paths inside
// the system are in drive form ("C:\work\holes\"); only this service turns
// them into native paths. Every platform fact is injected so that tests can run
// on temporary folders.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace s2q {

struct PlatformFacts {
  // Drive letter (upper case) to native root folder. A drive whose root does
  // not exist is "not ready".
  std::map<char, std::filesystem::path> drives;
  // Volume labels shown beside the letters; a drive without one shows its
  // native root.
  std::map<char, std::string> labels;
  // Native folders of the settings file PatdatV5.ini and of TitleDb.TXT.
  std::filesystem::path systemFolder;
  std::filesystem::path programFolder;
  // The current folder of each drive at start, where the system keeps one
  // per drive (Windows); a drive not named here starts at its root.
  std::map<char, std::filesystem::path> currentFolders;
  // The drive that is current at start; 0 picks the drive that holds the
  // process's working folder, or else the first drive of the table.
  char startDrive = 0;
};

// The facts of the machine the program runs on (platform_posix.cpp,
// platform_windows.cpp). On Linux: one drive C: rooted at "/", the system
// folder $XDG_CONFIG_HOME (or ~/.config). On Windows: its drives with their
// volume labels and current folders, the system folder as the 32-bit
// boring-log product sees it (SysWOW64 on 64-bit Windows). The program
// folder is the folder of the running executable.
PlatformFacts HostPlatformFacts();

class Platform {
 public:
  explicit Platform(PlatformFacts facts);

  std::vector<char> DriveLetters() const;  // upper case, in letter order
  bool HasDrive(char letter) const;        // either case
  bool IsDriveReady(char letter) const;    // in the table and its root exists
  std::filesystem::path DriveRoot(char letter) const;  // throws Error if absent
  std::string DriveLabel(char letter) const;  // label, or the native root

  // Native path of a drive-form path. Accepts "\" and "/" as separators and
  // resolves the platform's relative forms against the current folders:
  // "D:" and "D:x" (D's current folder), "\x" (root of the current drive),
  // "x" (current folder). A drive is one letter A to Z and ":"; a path with
  // any other text before a colon is refused. Throws Error for a drive that is
  // not in the table.
  //
  // Each name is looked up on disk as the platform finds names: the entry of
  // that very name first; else the entry whose name, decoded as a native name
  // is (see DecodeNativeName), is that text; else the entry whose name differs
  // only in the case of A to Z. Two entries that fit equally well are refused
  // with an Error naming both. A name that fits nothing stays as written.
  std::filesystem::path ToNative(const std::string& path) const;
  // As ToNative for the path of a file: its own name must fit one entry of
  // its folder only, exact or not, so a folder holding both "TITL01.TXT" and
  // "titl01.txt" is refused with an Error naming both.
  std::filesystem::path ToNativeFile(const std::string& path) const;
  // Drive form of a native path, or nothing when no drive holds it. Names
  // are decoded as DecodeNativeName does, and one that cannot be raises its
  // Error.
  std::optional<std::string> ToDriveForm(const std::filesystem::path& native) const;

  // Absolute drive form of a folder path with "." and ".." resolved, without
  // a closing "\" except for a root ("C:\"). Throws Error like ToNative.
  std::string AbsoluteFolder(const std::string& path) const;

  char CurrentDrive() const;
  // Makes the drive named by the first character current (either case), and
  // moves the process's working folder to that drive's current folder.
  // Throws Error for a drive that is not in the table or not ready.
  void ChangeDrive(const std::string& drive);
  // Current folder of a drive, in drive form ("C:\work" or "C:\").
  std::string CurrentFolder(char letter) const;
  // Sets the current folder of the path's drive; when that drive is current
  // the process's working folder follows. Throws Error when the folder does
  // not exist.
  void ChangeFolder(const std::string& path);

  bool FolderExists(const std::string& path) const;
  bool EntryExists(const std::string& path) const;  // a file or a folder
  // Names of the sub-folders of a folder: no "." or "..", no files, in natural
  // order (digit runs compared as numbers), decoded as DecodeNativeName does.
  // Throws Error when unreadable. A sub-folder whose name is neither UTF-8 nor
  // code page 932 is left out and its name, bytes escaped, added to
  // `refused`; without `refused` it raises an Error naming it.
  std::vector<std::string> ListSubfolders(const std::string& folder,
                                          std::vector<std::string>* refused = nullptr) const;

  std::string SystemFolder() const;   // drive form
  std::string ProgramFolder() const;  // drive form

 private:
  std::filesystem::path NativeOf(const std::string& path, bool file) const;

  PlatformFacts facts_;
  char current_ = 'C';
  std::map<char, std::string> currentFolders_;  // drive form, per drive
};

}  // namespace s2q
