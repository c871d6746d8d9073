#include "targetdb/storage.h"

namespace s2q {

namespace {
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool AsciiIEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string AsciiUpperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::optional<size_t> TableLayout::Position(std::string_view fieldName) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (AsciiIEquals(fields[i].Name, fieldName)) return i;
  }
  return std::nullopt;
}

}  // namespace s2q

// ---- Backends -------------------------------------------------------------

#include "targetdb/sqlite/sqlitebackend.h"

namespace s2q {

const std::vector<const StorageBackend*>& AllBackends() {
  static const std::vector<const StorageBackend*> backends = {&SqliteBackend()};
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
