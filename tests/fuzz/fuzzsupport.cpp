#include "tests/fuzz/fuzzsupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace s2q::fuzz {

namespace fs = std::filesystem;

void Require(bool ok, const char* property, const char* file, int line) {
  if (ok) return;
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, property);
  std::abort();
}

namespace {

// In memory where the machine has /dev/shm: the targets write files on every
// input, and the code under test flushes what it replaces to disk.
fs::path MakeScratch() {
  std::error_code ec;
  const fs::path base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                            ? fs::path("/dev/shm")
                            : fs::temp_directory_path();
  std::string pattern = (base / "s2q-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  return fs::canonical(pattern);
}

void RemoveScratch() {
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(), ec);
  fs::remove_all(ScratchRoot(), ec);
}

}  // namespace

const fs::path& ScratchRoot() {
  // Never destroyed: the exit handler that removes the folder runs after
  // the destructors of statics made before it was registered.
  static const fs::path* root = [] {
    auto* p = new fs::path(MakeScratch());
    std::atexit(RemoveScratch);
    return p;
  }();
  return *root;
}

PlatformFacts ScratchFacts() {
  const fs::path& root = ScratchRoot();
  PlatformFacts facts;
  facts.drives['C'] = root / "C";
  facts.drives['D'] = root / "D";
  facts.drives['E'] = root / "E";
  facts.systemFolder = root / "C" / "sys";
  facts.programFolder = root / "C" / "prog";
  fs::create_directories(facts.systemFolder);
  fs::create_directories(facts.programFolder);
  fs::create_directories(root / "D");
  facts.startDrive = 'C';
  return facts;
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

}  // namespace s2q::fuzz
