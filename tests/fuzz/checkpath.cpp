// The path check and the drive mapping on arbitrary text, on a platform with
// the drives C: and D: (ready) and E: (not ready).
// Properties: an accepted path is in normal form ("X:\name\...\"), is
// accepted again unchanged, and its native path maps back to its drive form;
// a rejection shows at most the one message; the absolute form of any path
// is its own absolute form and what its native path maps back to. Names are
// found on disk whatever their A-Z case, so mapping back may give an entry's
// own case: the forms are compared ignoring it.
#include <string>

#include "env/checkpath.h"
#include "env/errors.h"
#include "env/platform.h"
#include "env/text.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

using namespace s2q;
using fuzz::CountingUi;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the folder part holds a name the mapping resolves or splits:
// ".", ".." or a "/" inside a name.
bool HasSpecialNames(const std::string& path) {
  if (path.find('/') != std::string::npos) return true;
  size_t start = 3;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name == "." || name == "..") return true;
    start = end + 1;
  }
  return false;
}

void CheckAccepted(const std::string& path, Platform& platform) {
  S2Q_REQUIRE(path.size() >= 3);
  const char letter = Upper(path[0]);
  S2Q_REQUIRE(letter == 'C' || letter == 'D');
  S2Q_REQUIRE(path[1] == ':' && path[2] == '\\' && path.back() == '\\');
  S2Q_REQUIRE(path.find_first_of("*?") == std::string::npos);
  S2Q_REQUIRE(path.size() == 3 || path.find("\\\\") == std::string::npos);
  S2Q_REQUIRE(path.front() != ' ' && path.back() != ' ');
  S2Q_REQUIRE(platform.CurrentDrive() == letter);

  std::string again = path;
  CountingUi ui;
  S2Q_REQUIRE(CheckPath(again, platform, ui));
  S2Q_REQUIRE(again == path);
  S2Q_REQUIRE(ui.boxes == 0);

  const auto back = platform.ToDriveForm(platform.ToNative(path));
  S2Q_REQUIRE(back.has_value());
  std::string expected = path.size() == 3 ? path : path.substr(0, path.size() - 1);
  expected[0] = letter;
  if (!HasSpecialNames(path)) S2Q_REQUIRE(EqualsIgnoringAsciiCase(*back, expected));
  S2Q_REQUIRE(EqualsIgnoringAsciiCase(*back, platform.AbsoluteFolder(path)));
}

void CheckMapping(const std::string& text, const Platform& platform) {
  std::string absolute;
  try {
    absolute = platform.AbsoluteFolder(text);
  } catch (const Error&) {
    return;  // a drive that is not in the table
  }
  S2Q_REQUIRE(absolute.size() >= 3 && absolute[1] == ':' && absolute[2] == '\\');
  S2Q_REQUIRE(platform.AbsoluteFolder(absolute) == absolute);
  const auto back = platform.ToDriveForm(platform.ToNative(text));
  S2Q_REQUIRE(back.has_value() && EqualsIgnoringAsciiCase(*back, absolute));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Outside every drive, so that each input starts at the root of C:.
  std::filesystem::current_path(fuzz::ScratchRoot());
  Platform platform(fuzz::ScratchFacts());

  CheckMapping(text, platform);

  std::string path = text;
  CountingUi ui;
  if (CheckPath(path, platform, ui)) {
    S2Q_REQUIRE(ui.boxes == 0);
    CheckAccepted(path, platform);
  } else {
    S2Q_REQUIRE(ui.boxes <= 1);
  }
  return 0;
}
