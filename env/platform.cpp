#include "env/platform.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/native.h"
#include "env/text.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string DriveName(char letter) { return std::string(1, letter) + ":"; }

std::string Reason(const std::error_code& ec) { return ErrorCodeText(ec); }

// Splits the folder part of a drive-form path at "\" and "/" into its names,
// resolving "." and ".." on the way ("..", at the root, stays at the root).
void AppendNames(std::vector<std::string>& names, const std::string& text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\\/", start);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
}

std::string JoinDriveForm(char letter, const std::vector<std::string>& names) {
  std::string out = DriveName(letter) + "\\";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += '\\';
    out += names[i];
  }
  return out;
}

// Natural order: runs of digits compare by their numeric value, everything
// else byte by byte with ASCII letters folded to upper case. Names that are
// equal under these rules fall back to plain byte order so the order is total.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t ie = i, je = j;
      while (ie < a.size() && IsDigit(a[ie])) ++ie;
      while (je < b.size() && IsDigit(b[je])) ++je;
      size_t iz = i, jz = j;
      while (iz + 1 < ie && a[iz] == '0') ++iz;
      while (jz + 1 < je && b[jz] == '0') ++jz;
      std::string_view da(a.data() + iz, ie - iz), db(b.data() + jz, je - jz);
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      i = ie;
      j = je;
      continue;
    }
    unsigned char ca = static_cast<unsigned char>(Upper(a[i]));
    unsigned char cb = static_cast<unsigned char>(Upper(b[j]));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;
}

// A colon before the first separator can only follow a drive letter:
// "C\x80:\data" or "あ:\data" names no drive, and is no name relative to the
// current folder either.
bool HasBadDriveName(const std::string& path) {
  const size_t colon = path.find(':');
  return colon != std::string::npos && colon < path.find_first_of("\\/") &&
         (colon != 1 || !IsAsciiLetter(path[0]));
}

// A drive-form path parsed into its drive letter and folder names, resolved
// against the current drive and the per-drive current folders.
struct Resolved {
  char letter;
  std::vector<std::string> names;
};

Resolved Resolve(const Platform& platform, char currentDrive, const std::string& path) {
  Resolved r{currentDrive, {}};
  // Drive-form paths are text; bytes that are no UTF-8 would map to a native
  // name that reads back as some other text, or as none.
  if (!IsValidUtf8(path)) {
    throw Error("パス " + EscapeNonAscii(path) + " に UTF-8 の文字でないバイトがあります");
  }
  std::string rest = path;
  if (HasBadDriveName(path)) {
    throw Error("パス " + path + " のドライブ名が正しくありません (ドライブ名は A から Z の1文字と \":\" です)");
  }
  if (path.size() >= 2 && path[1] == ':') {
    r.letter = Upper(path[0]);
    if (!IsAsciiLetter(path[0]) || !platform.HasDrive(r.letter)) {
      throw Error("パス " + path + " のドライブ " + path.substr(0, 2) + " はありません");
    }
    rest = path.substr(2);
  } else if (!platform.HasDrive(r.letter)) {
    throw Error("パス " + path + " のドライブ " + DriveName(r.letter) + " はありません");
  }
  if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
    // Relative to the drive's current folder.
    AppendNames(r.names, platform.CurrentFolder(r.letter).substr(2));
  }
  AppendNames(r.names, rest);
  return r;
}

// An entry of a native folder that fits a wanted name.
struct Fit {
  std::string native;  // the entry's name on disk
  std::string shown;   // its name as text
  bool exact;          // the text is the wanted name itself
};

std::vector<Fit> FitsIn(const fs::path& folder, const std::string& name) {
  std::vector<Fit> fits;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return fits;  // no folder, or unreadable: nothing to find
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    std::string native = NativeText(it->path().filename());
    std::string shown;
    if (!TryDecodeNativeName(native, shown)) continue;  // no text can name it
    if (shown == name) {
      fits.push_back({native, shown, true});
    } else if (EqualsIgnoringAsciiCase(shown, name)) {
      fits.push_back({native, shown, false});
    }
  }
  return fits;
}

// How an entry is named in a message: its text, and where that text is
// decoded from code page 932 bytes, the bytes too.
std::string Describe(const Fit& fit) {
  if (IsValidUtf8(fit.native)) return fit.shown;
  return fit.shown + " (" + EscapeNonAscii(fit.native) + ")";
}

// The native name of the entry of `folder` that names[index] stands for, or
// that name itself when nothing fits. `whole` asks that the name fit one entry
// only, an exact one included; otherwise an entry of the very name is taken at
// once. The folder is names[0..index) on the drive `letter`.
std::string NativeName(const fs::path& folder, char letter, const std::vector<std::string>& names,
                       size_t index, bool whole) {
  const std::string& name = names[index];
  if (!whole) {
    try {
      if (EntryAt(folder / NativePath(name)).kind != EntryFacts::Kind::None) return name;
    } catch (const SystemFailure&) {
      // Cannot be looked at: looked for among the folder's entries.
    }
  }
  std::vector<Fit> fits = FitsIn(folder, name);
  if (!whole && std::any_of(fits.begin(), fits.end(), [](const Fit& f) { return f.exact; })) {
    std::erase_if(fits, [](const Fit& f) { return !f.exact; });
  }
  if (fits.empty()) return name;
  if (fits.size() == 1) return fits[0].native;
  std::sort(fits.begin(), fits.end(), [](const Fit& a, const Fit& b) { return a.native < b.native; });
  std::string found;
  for (size_t i = 0; i < fits.size(); ++i) found += (i ? " と " : "") + Describe(fits[i]);
  const std::vector<std::string> above(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(index));
  throw Error("フォルダ " + JoinDriveForm(letter, above) + " に " + found + " があり、" + name +
              " がどれか決められません (名前の違いが英字の大文字と小文字または文字コードだけです)");
}

}  // namespace

Platform::Platform(PlatformFacts facts) {
  for (auto& [letter, root] : facts.drives) {
    fs::path normal = root.lexically_normal();
    if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
    facts_.drives[Upper(letter)] = normal;
  }
  for (const auto& [letter, label] : facts.labels) facts_.labels[Upper(letter)] = label;
  facts_.systemFolder = facts.systemFolder;
  facts_.programFolder = facts.programFolder;
  for (const auto& entry : facts_.drives) {
    currentFolders_[entry.first] = DriveName(entry.first) + "\\";
  }

  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  std::optional<std::string> cwdForm;
  if (!ec) {
    try {
      cwdForm = ToDriveForm(cwd);
    } catch (const Error&) {
      // A working folder whose name is no text: start at the drive's root.
    }
  }

  if (facts.startDrive != 0) {
    current_ = Upper(facts.startDrive);
  } else if (cwdForm) {
    current_ = (*cwdForm)[0];
  } else if (!facts_.drives.empty()) {
    current_ = facts_.drives.begin()->first;
  }
  facts_.startDrive = current_;

  // The current folders the system keeps per drive, where it keeps them.
  for (const auto& [letter, folder] : facts.currentFolders) {
    if (!HasDrive(letter)) continue;
    try {
      std::optional<std::string> form = ToDriveForm(folder);
      if (form && (*form)[0] == Upper(letter) && fs::is_directory(folder, ec)) {
        currentFolders_[Upper(letter)] = AbsoluteFolder(*form);
      }
    } catch (const Error&) {
      // A folder whose name is no text: the drive starts at its root.
    }
  }

  if (cwdForm && (*cwdForm)[0] == current_) {
    currentFolders_[current_] = AbsoluteFolder(*cwdForm);
  } else if (IsDriveReady(current_)) {
    // The start drive does not hold the working folder: make the process
    // follow the drive's current folder, its root.
    fs::current_path(DriveRoot(current_), ec);
    if (ec) {
      throw Error("作業フォルダを " + CurrentFolder(current_) + " に移せません: " + Reason(ec));
    }
  }
}

std::vector<char> Platform::DriveLetters() const {
  std::vector<char> letters;
  for (const auto& entry : facts_.drives) letters.push_back(entry.first);
  return letters;
}

bool Platform::HasDrive(char letter) const { return facts_.drives.count(Upper(letter)) > 0; }

bool Platform::IsDriveReady(char letter) const {
  auto it = facts_.drives.find(Upper(letter));
  if (it == facts_.drives.end()) return false;
  std::error_code ec;
  return fs::is_directory(it->second, ec);
}

fs::path Platform::DriveRoot(char letter) const {
  auto it = facts_.drives.find(Upper(letter));
  if (it == facts_.drives.end()) {
    throw Error("ドライブ " + DriveName(letter) + " はありません");
  }
  return it->second;
}

std::string Platform::DriveLabel(char letter) const {
  auto it = facts_.labels.find(Upper(letter));
  if (it != facts_.labels.end()) return it->second;
  const std::string root = NativeText(DriveRoot(letter));
  std::string text;
  return TryDecodeNativeName(root, text) ? text : EscapeNonAscii(root);
}

fs::path Platform::ToNative(const std::string& path) const { return NativeOf(path, false); }

fs::path Platform::ToNativeFile(const std::string& path) const { return NativeOf(path, true); }

fs::path Platform::NativeOf(const std::string& path, bool file) const {
  Resolved r = Resolve(*this, current_, path);
  fs::path native = DriveRoot(r.letter);
  for (size_t i = 0; i < r.names.size(); ++i) {
    const bool whole = file && i + 1 == r.names.size();
    native /= NativePath(NativeName(native, r.letter, r.names, i, whole));
  }
  return native;
}

std::optional<std::string> Platform::ToDriveForm(const fs::path& native) const {
  fs::path abs = native.is_absolute() ? native : fs::absolute(native);
  abs = abs.lexically_normal();
  std::optional<std::string> best;
  size_t bestLength = 0;
  for (const auto& [letter, root] : facts_.drives) {
    fs::path rel = abs.lexically_relative(root);
    if (rel.empty()) continue;
    auto first = rel.begin();
    if (first != rel.end() && *first == "..") continue;
    size_t length = root.native().size();
    if (best && length <= bestLength) continue;
    std::vector<std::string> names;
    for (const auto& part : rel) {
      if (part != "." && !part.empty()) names.push_back(DecodeNativeName(NativeText(part)));
    }
    best = JoinDriveForm(letter, names);
    bestLength = length;
  }
  return best;
}

std::string Platform::AbsoluteFolder(const std::string& path) const {
  Resolved r = Resolve(*this, current_, path);
  return JoinDriveForm(r.letter, r.names);
}

char Platform::CurrentDrive() const { return current_; }

void Platform::ChangeDrive(const std::string& drive) {
  if (drive.empty()) throw Error("ドライブ名が空です");
  char letter = Upper(drive[0]);
  if (!IsAsciiLetter(drive[0]) || (drive.size() > 1 && drive[1] != ':')) {
    throw Error("ドライブ名 " + drive + " が正しくありません (ドライブ名は A から Z の1文字と \":\" です)");
  }
  if (!HasDrive(letter)) {
    throw Error("ドライブ " + drive.substr(0, 1) + ": はありません");
  }
  if (!IsDriveReady(letter)) {
    throw Error("ドライブ " + DriveName(letter) + " は使用できません (" +
                NativeText(DriveRoot(letter)) + " がありません)");
  }
  std::error_code ec;
  fs::current_path(ToNative(CurrentFolder(letter)), ec);
  if (ec) {
    // The drive's current folder has gone since it was set: fall back to
    // the drive's root, as the drive itself is there.
    currentFolders_[letter] = DriveName(letter) + "\\";
    fs::current_path(DriveRoot(letter), ec);
    if (ec) {
      throw Error("ドライブ " + DriveName(letter) + " に移れません: " + Reason(ec));
    }
  }
  current_ = letter;
}

std::string Platform::CurrentFolder(char letter) const {
  auto it = currentFolders_.find(Upper(letter));
  if (it == currentFolders_.end()) {
    throw Error("ドライブ " + DriveName(letter) + " はありません");
  }
  return it->second;
}

void Platform::ChangeFolder(const std::string& path) {
  Resolved r = Resolve(*this, current_, path);
  std::string form = JoinDriveForm(r.letter, r.names);
  fs::path native = ToNative(form);
  std::error_code ec;
  if (!fs::is_directory(native, ec)) {
    throw Error("フォルダ " + form + " がありません");
  }
  if (r.letter == current_) {
    fs::current_path(native, ec);
    if (ec) throw Error("フォルダ " + form + " に移れません: " + Reason(ec));
  }
  currentFolders_[r.letter] = form;
}

bool Platform::FolderExists(const std::string& path) const {
  if (HasBadDriveName(path)) return false;
  if (!HasDrive(path.size() >= 2 && path[1] == ':' ? path[0] : current_)) return false;
  std::error_code ec;
  return fs::is_directory(ToNative(path), ec);
}

bool Platform::EntryExists(const std::string& path) const {
  if (HasBadDriveName(path)) return false;
  if (!HasDrive(path.size() >= 2 && path[1] == ':' ? path[0] : current_)) return false;
  std::error_code ec;
  return fs::exists(ToNative(path), ec);
}

std::vector<std::string> Platform::ListSubfolders(const std::string& folder,
                                                  std::vector<std::string>* refused) const {
  fs::path native = ToNative(folder);
  std::error_code ec;
  fs::directory_iterator it(native, ec);
  if (ec) throw Error("フォルダ " + folder + " の中を読めません: " + Reason(ec));
  std::vector<std::string> names;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!fs::is_directory(it->path(), typeError)) continue;
    const std::string native = NativeText(it->path().filename());
    std::string name;
    if (TryDecodeNativeName(native, name)) {
      names.push_back(std::move(name));
    } else if (refused) {
      refused->push_back(EscapeNonAscii(native));
    } else {
      throw Error("フォルダ " + folder + " の中の" + UndecodableNameText(native));
    }
  }
  if (ec) throw Error("フォルダ " + folder + " の中を読めません: " + Reason(ec));
  std::sort(names.begin(), names.end(), NaturalLess);
  return names;
}

std::string Platform::SystemFolder() const {
  auto form = ToDriveForm(facts_.systemFolder);
  if (!form) {
    throw Error("システムフォルダ " + NativeText(facts_.systemFolder) + " はどのドライブにもありません");
  }
  return *form;
}

std::string Platform::ProgramFolder() const {
  auto form = ToDriveForm(facts_.programFolder);
  if (!form) {
    throw Error("プログラムのフォルダ " + NativeText(facts_.programFolder) + " はどのドライブにもありません");
  }
  return *form;
}

}  // namespace s2q
