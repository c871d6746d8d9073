#include "targetdb/storage.h"

#include "env/text.h"

namespace s2q {

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string AsciiUpperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::optional<size_t> TableLayout::Position(std::string_view fieldName) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (EqualsIgnoringAsciiCase(fields[i].Name, fieldName)) return i;
  }
  return std::nullopt;
}

}  // namespace s2q

// ---- Backends -------------------------------------------------------------

#include "targetdb/jet/jetbackend.h"
#include "env/native.h"
#include "targetdb/sqlite/sqlitebackend.h"

namespace s2q {

namespace fs = std::filesystem;

fs::path TemporaryPathFor(const fs::path& native) {
  const std::string stem = "." + std::to_string(CurrentProcessId()) + "-";
  for (int n = 0;; ++n) {
    fs::path candidate = WithSuffix(native, stem + std::to_string(n) + ".tmp");
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
}

void RemoveStaleTemporaries(const fs::path& native) {
  const std::string prefix = NativeText(native.filename()) + ".";
  std::error_code ec;
  for (fs::directory_iterator it(native.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = NativeText(it->path().filename());
    if (!name.starts_with(prefix)) continue;
    // "<pid>-<n>.tmp", then possibly a companion suffix.
    std::string_view rest = std::string_view(name).substr(prefix.size());
    size_t dash = rest.find('-');
    size_t tmp = rest.find(".tmp");
    if (dash == 0 || dash == std::string_view::npos || tmp == std::string_view::npos || tmp < dash + 2) {
      continue;
    }
    std::string_view pidText = rest.substr(0, dash), number = rest.substr(dash + 1, tmp - dash - 1);
    if (pidText.find_first_not_of("0123456789") != std::string_view::npos ||
        number.find_first_not_of("0123456789") != std::string_view::npos || pidText.size() > 9) {
      continue;
    }
    const std::int64_t pid = std::stoll(std::string(pidText));
    if (pid == CurrentProcessId() || ProcessRuns(pid)) continue;
    std::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(it->path(), ignored))) fs::remove(it->path(), ignored);
  }
}

const std::vector<const StorageBackend*>& AllBackends() {
  // Jet 4 first: new databases are what the map application reads through Jet.
  static const std::vector<const StorageBackend*> backends = {&JetBackend(), &SqliteBackend()};
  return backends;
}

const StorageBackend& Backend(StorageFormat format) {
  for (const StorageBackend* backend : AllBackends()) {
    if (backend->Format() == format) return *backend;
  }
  return *AllBackends().front();
}

const StorageBackend* BackendForHeader(std::string_view head) {
  for (const StorageBackend* backend : AllBackends()) {
    if (backend->Recognises(head)) return backend;
  }
  return nullptr;
}

const StorageBackend* BackendNamed(std::string_view name) {
  for (const StorageBackend* backend : AllBackends()) {
    if (name == backend->Name()) return backend;
  }
  return nullptr;
}

std::vector<std::string> AllCompanionSuffixes() {
  std::vector<std::string> suffixes;
  for (const StorageBackend* backend : AllBackends()) {
    for (const std::string& s : backend->CompanionSuffixes()) suffixes.push_back(s);
  }
  return suffixes;
}

}  // namespace s2q
