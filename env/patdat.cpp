#include "env/patdat.h"

#include "env/fileops.h"
#include "env/platform.h"
#include "env/seqfile.h"
#include "env/text.h"

namespace s2q {

namespace {

std::string SettingsPath(const Platform& platform) {
  std::string folder = platform.SystemFolder();
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder + "\\PatdatV5.ini";
}

}  // namespace

std::string ReadPatdatSetting(const Platform& platform) {
  // Without a system folder there is no settings file either.
  if (!platform.FolderExists(platform.SystemFolder())) return {};
  const std::string path = SettingsPath(platform);
  if (IsFileMissing(platform, path)) return {};

  ItemReader reader(platform, path);
  if (reader.AtEnd()) return {};
  reader.ReadLine();
  // Blank lines before the value are skipped; the value is the first item
  // of the next line that holds anything, and the rest of that line is
  // ignored.
  if (reader.AtEnd()) return {};
  std::string value = reader.ReadLineItems().front();
  value = TrimSpaces(value);
  return value;
}

bool PatdatFolderExists(const Platform& platform, const std::string& setting) {
  if (setting.empty()) return false;
  size_t last = setting.size() - 1;
  while (last > 0 && (static_cast<unsigned char>(setting[last]) & 0xC0) == 0x80) --last;
  if (last == 0) return false;
  return platform.FolderExists(setting.substr(0, last));
}

}  // namespace s2q
